#pragma once
// The data set engine shared by the client data set and the SQL query component:
// typed fields, a cursor over the rows an index orders and a filter lets through,
// browse/edit/insert states with before/after events, a change log and packets.
//
// Event handlers are plain callbacks (one per event, like the host's event
// properties) so that an exception thrown by a handler, the silent abort included,
// reaches the caller of the operation. Views (models, data-aware controls) follow
// through the Qt signals, which never throw.
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

#include "core/values/Packet.h"

#include "core/CoreExport.h"

namespace fw {

class DataSet;

class FW_CORE_EXPORT Field : public QObject {
    Q_OBJECT
public:
    using GetTextHandler = std::function<void(Field* sender, QString& text, bool displayText)>;

    Field(DataSet* owner, const FieldDef& def, int index);

    DataSet* dataSet() const;
    const FieldDef& def() const { return m_def; }
    QString fieldName() const { return m_def.name; }
    FieldType dataType() const { return m_def.type; }
    int size() const { return m_def.size; }
    int index() const { return m_index; }

    QString displayLabel() const { return m_label.isEmpty() ? m_def.name : m_label; }
    void setDisplayLabel(const QString& label) { m_label = label; }
    bool visible() const { return m_visible; }
    void setVisible(bool v) { m_visible = v; }
    bool required() const { return m_def.required; }
    void setRequired(bool r) { m_def.required = r; }
    QString displayFormat() const { return m_displayFormat; } // e.g. "###,##0.00"
    void setDisplayFormat(const QString& f) { m_displayFormat = f; }
    QString editMask() const { return m_editMask; }
    void setEditMask(const QString& m) { m_editMask = m; }
    int displayWidth() const { return m_displayWidth; } // characters; 0 = from the size
    void setDisplayWidth(int w) { m_displayWidth = w; }

    // Value of the current row (the record being edited while in edit or insert state).
    QVariant value() const;
    void setValue(const QVariant& v); // requires edit or insert state; strings cut to size
    bool isNull() const;
    void clear();
    QString asString() const; // null gives ""
    void setAsString(const QString& s);
    qlonglong asInteger() const;
    double asFloat() const;
    bool asBoolean() const;
    QDateTime asDateTime() const;

    // The text shown for the field: the OnGetText handler when set, else the value
    // formatted with the display format (float) or as "dd/MM/yyyy hh:mm:ss" (date-time).
    QString displayText() const;
    QString text() const; // the same through OnGetText with displayText false
    GetTextHandler OnGetText;

    // Formats v as this field would show it, without OnGetText (used by views for other rows).
    QString formatValue(const QVariant& v) const;

private:
    DataSet* m_owner;
    FieldDef m_def;
    int m_index;
    QString m_label;
    QString m_displayFormat;
    QString m_editMask;
    int m_displayWidth = 0;
    bool m_visible = true;
};

enum class DataSetState { Inactive, Browse, Edit, Insert };

struct FW_CORE_EXPORT LocateOptions {
    bool caseInsensitive = false;
    bool partialKey = false;
};

class FW_CORE_EXPORT DataSet : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(DataSet*)>;

    explicit DataSet(QObject* parent = nullptr);
    ~DataSet() override;

    // --- structure --------------------------------------------------------------
    // Persistent fields. Their object names are the data set's object name followed
    // by the field name (cdsNotaFiscalIDSTATUSCCE), so automation finds them.
    Field* addField(const FieldDef& def, const QString& displayLabel = {}, bool visible = true);
    QList<Field*> fields() const;
    int fieldCount() const;
    Field* field(int index) const;
    Field* findField(const QString& name) const; // case-insensitive; nullptr when absent
    Field* fieldByName(const QString& name) const; // throws DataSetError when absent
    FieldDefs fieldDefs() const;

    // --- opening ----------------------------------------------------------------
    bool active() const;
    virtual void open(); // opens empty with the defined fields ("CreateDataSet")
    void close(); // discards rows and change log
    // Loads a packet as the whole content: fields are matched by name when defined
    // (missing ones become null), created from the packet otherwise. Opens the data
    // set (BeforeOpen, AfterOpen, AfterScroll when not empty) and clears the change log.
    void setData(const DataPacket& packet);
    // Every row, whatever filter is set, with pending changes applied.
    DataPacket data() const;
    // Convenience for packets held in a QVariant (a server's answer).
    void setDataVariant(const QVariant& packet);
    QVariant dataVariant() const;

    // --- cursor (over the rows the active index orders and the filter lets through)
    void first();
    void last();
    void next();
    void prior();
    int moveBy(int distance);
    bool bof() const;
    bool eof() const;
    bool isEmpty() const;
    int recordCount() const; // rows visible through the filter
    int recNo() const; // 1-based position in the view; 0 when empty
    void setRecNo(int recNo);
    // A stable reference to the current row, valid until the row is deleted or the data set closed.
    qint64 bookmark() const;
    bool bookmarkValid(qint64 bookmark) const;
    void gotoBookmark(qint64 bookmark);

    // Values of the view's row at position (0-based), for views; no cursor move.
    QVariant valueAt(int viewRow, int fieldIndex) const;
    int currentViewRow() const; // 0-based, -1 when empty

    // While a view paints a row, the fields read that row (as the host's grids do for
    // display-text handlers), without moving the cursor or running events. Nests.
    void pushDisplayRow(int viewRow);
    void popDisplayRow();

    // --- editing ----------------------------------------------------------------
    DataSetState state() const;
    void edit(); // on an empty data set behaves as insert
    void insert(); // new row before the current one (its place is decided by the index on post)
    void append();
    void post(); // checks required fields; BeforePost may abort
    void cancel();
    void deleteRecord();
    void checkBrowseMode(); // posts a pending edit or insert

    // --- indexes ------------------------------------------------------------------
    // fields: "A;B;C". descending: every field descending. caseInsensitive: strings compared ignoring case.
    void addIndex(const QString& name, const QString& fields, bool descending = false, bool caseInsensitive = false);
    void setIndexName(const QString& name); // "" = the rows' natural (load) order
    QString indexName() const;
    QString indexFieldNames() const;

    // --- filter ---------------------------------------------------------------------
    // Expressions: field = 'text', field <> 'text', numbers, AND, OR, NOT, parentheses,
    // quotes doubled inside strings. Applied only while filtered. Setting the filter or
    // switching it moves to the first row it lets through. An invalid expression throws.
    void setFilter(const QString& expression);
    QString filter() const;
    void setFiltered(bool filtered);
    bool filtered() const;

    // --- locate -----------------------------------------------------------------
    // keyFields "A;B", one value per field; moves to the first matching row of the view.
    bool locate(const QString& keyFields, const QVariantList& values, LocateOptions options = {});
    bool locate(const QString& keyField, const QVariant& value, LocateOptions options = {});

    // --- change log ---------------------------------------------------------------
    int changeCount() const;
    DeltaPacket delta() const;
    QVariant deltaVariant() const;
    void mergeChangeLog(); // keeps the rows as they are, forgets the changes
    void cancelUpdates(); // returns every row to its loaded value

    // --- controls ----------------------------------------------------------------
    void disableControls(); // nests; views stop following until the matching enable
    void enableControls();
    bool controlsDisabled() const;

    // Event handlers, run in the order the host's data sets run them:
    // open: BeforeOpen, AfterOpen, AfterScroll (when not empty);
    // insert/append: BeforeInsert, BeforeScroll, OnNewRecord, AfterInsert, AfterScroll;
    // edit: BeforeEdit, AfterEdit; post: BeforePost, AfterPost; cancel: BeforeCancel, AfterCancel;
    // delete: BeforeDelete, BeforeScroll, AfterDelete, AfterScroll;
    // moves (first/next/locate/filter/index): BeforeScroll, AfterScroll when the row changes
    // or the view is rebuilt; close: BeforeClose, AfterClose.
    Handler BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    Handler BeforeInsert, AfterInsert, OnNewRecord;
    Handler BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel;
    Handler BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;

signals:
    void stateChanged(fw::DataSetState state);
    // The rows of the view changed (load, filter, index, insert, delete, post that moved a row).
    void layoutReset();
    // One view row's values changed in place.
    void rowChanged(int viewRow);
    // The cursor moved (or the current record's values changed while editing).
    void currentChanged(int viewRow);

protected:
    // Opens with the rows a loader produces: BeforeOpen runs before the loader, so a
    // handler may still set what the loader reads. The packet is matched to the
    // defined fields as setData does.
    void openWith(const std::function<DataPacket()>& loader);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    friend class Field;
    friend class TDataSource;
};

class FW_CORE_EXPORT DisplayRowScope {
public:
    DisplayRowScope(DataSet* ds, int viewRow) : m_ds(ds) { m_ds->pushDisplayRow(viewRow); }
    ~DisplayRowScope() { m_ds->popDisplayRow(); }
    DisplayRowScope(const DisplayRowScope&) = delete;
    DisplayRowScope& operator=(const DisplayRowScope&) = delete;

private:
    DataSet* m_ds;
};

// A data source: binds controls to a data set and reports its state changes.
class FW_CORE_EXPORT TDataSource : public QObject {
    Q_OBJECT
public:
    explicit TDataSource(QObject* parent = nullptr);
    DataSet* dataSet() const { return m_dataSet; }
    void setDataSet(DataSet* ds);
    DataSetState state() const;
    bool enabled() const { return m_enabled; }
    void setEnabled(bool e) { m_enabled = e; }

    std::function<void(QObject* sender)> OnStateChange;
    std::function<void(QObject* sender, Field* field)> OnDataChange;

signals:
    void dataSetChanged();

private:
    QPointer<DataSet> m_dataSet;
    QMetaObject::Connection m_conn, m_conn2;
    bool m_enabled = true;
};

} // namespace fw
