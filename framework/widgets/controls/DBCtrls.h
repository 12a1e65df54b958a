#pragma once
// Data-aware controls bound to a data source and a field name. They show the field of
// the current row and follow the cursor. Typing in an edit or memo writes the field
// while the data set is in edit or insert state; in browse state, with AutoEdit (true
// by default; a data source whose dynamic property "AutoEdit" is false turns it off),
// typing first starts edit. When the data set cannot be edited (closed, empty with no
// AutoEdit, an edit refused) the typed text is undone.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>

#include "core/dataset/DataSet.h"
#include "widgets/controls/ControlEvents.h"

#include "widgets/WidgetsExport.h"

class QToolButton;

namespace fw {

class DataSet;
class Field;
class TDataSource;

// The binding of one control to one field.
class FW_WIDGETS_EXPORT FieldLink : public QObject {
    Q_OBJECT
public:
    explicit FieldLink(QObject* parent);
    TDataSource* dataSource() const { return m_source; }
    void setDataSource(TDataSource* ds);
    QString fieldName() const { return m_fieldName; }
    void setFieldName(const QString& name);
    DataSet* dataSet() const;
    Field* field() const; // nullptr when unbound, closed or no such field
    bool canModify() const; // the data set is open and the field exists
    // Puts the data set in edit state when needed (AutoEdit). False when refused.
    bool startEdit(bool autoEdit);
    // Writes text into the field; exceptions reach the caller.
    void write(const QString& text);
    bool writing() const { return m_writing; }

signals:
    void refresh(); // the shown value may have changed

private:
    void rebind();
    QPointer<TDataSource> m_source;
    QString m_fieldName;
    QList<QMetaObject::Connection> m_conns;
    bool m_writing = false;
};

class FW_WIDGETS_EXPORT TDBEdit : public QLineEdit, public TControlEvents {
    Q_OBJECT
public:
    explicit TDBEdit(QWidget* parent = nullptr, const QString& name = {});
    TDataSource* DataSource() const { return m_link->dataSource(); }
    void setDataSource(TDataSource* ds) { m_link->setDataSource(ds); }
    QString DataField() const { return m_link->fieldName(); }
    void setDataField(const QString& f) { m_link->setFieldName(f); }
    Field* field() const { return m_link->field(); }
    bool ReadOnly() const { return isReadOnly(); }
    void setReadOnly(bool r) { QLineEdit::setReadOnly(r); }
    bool AutoEdit = true;
    TNotifyEvent OnChange; // the user changed the text

private:
    void showField();
    void edited(const QString& text);
    FieldLink* m_link;
};

class FW_WIDGETS_EXPORT TDBMemo : public QPlainTextEdit, public TControlEvents {
    Q_OBJECT
public:
    explicit TDBMemo(QWidget* parent = nullptr, const QString& name = {});
    TDataSource* DataSource() const { return m_link->dataSource(); }
    void setDataSource(TDataSource* ds) { m_link->setDataSource(ds); }
    QString DataField() const { return m_link->fieldName(); }
    void setDataField(const QString& f) { m_link->setFieldName(f); }
    Field* field() const { return m_link->field(); }
    QString Text() const { return toPlainText(); }
    void setText(const QString& t); // writes the field as typing does when bound and editing
    bool ReadOnly() const { return isReadOnly(); }
    void setReadOnly(bool r);
    int MaxLength() const { return m_maxLength; }
    void setMaxLength(int n) { m_maxLength = n; } // 0: no limit (the field cuts what it stores)
    bool AutoEdit = true;
    TNotifyEvent OnChange; // the user changed the text

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void showField();
    void edited();
    int limit() const;
    FieldLink* m_link;
    int m_maxLength = 0;
    bool m_showing = false;
};

// A label showing the field's display text (OnGetText honoured).
class FW_WIDGETS_EXPORT TDBText : public QLabel, public TControlEvents {
    Q_OBJECT
public:
    explicit TDBText(QWidget* parent = nullptr, const QString& name = {});
    TDataSource* DataSource() const { return m_link->dataSource(); }
    void setDataSource(TDataSource* ds) { m_link->setDataSource(ds); }
    QString DataField() const { return m_link->fieldName(); }
    void setDataField(const QString& f) { m_link->setFieldName(f); }
    QString Caption() const { return text(); }

private:
    void showField();
    FieldLink* m_link;
};

// First, prior, next, last over the data source's data set (buttons nbFirst, nbPrior,
// nbNext, nbLast), enabled by the cursor's marks.
class FW_WIDGETS_EXPORT TDBNavigator : public QWidget, public TControlEvents {
    Q_OBJECT
public:
    explicit TDBNavigator(QWidget* parent = nullptr, const QString& name = {});
    TDataSource* DataSource() const { return m_link->dataSource(); }
    void setDataSource(TDataSource* ds) { m_link->setDataSource(ds); }
    enum Button { nbFirst, nbPrior, nbNext, nbLast };
    void BtnClick(Button b); // moves; exceptions reach the caller
    QToolButton* button(Button b) const { return m_buttons[b]; }

private:
    void updateButtons();
    FieldLink* m_link;
    QToolButton* m_buttons[4];
};

} // namespace fw
