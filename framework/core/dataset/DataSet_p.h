#pragma once
// The data set's private parts, shared by the files the engine is written in; not part of
// the framework's interface (Qt's _p.h convention).
//
//   DataSet.cpp         structure, opening and loading, the cursor and its scroll events
//   DataSetEditing.cpp  edit, insert, post, cancel and delete with their events
//   DataSetIndex.cpp    indexes and the view: filters, key ranges and their look-up, locate
//   DataSetChanges.cpp  the change log and the delta
//   Field.cpp           the field class
//   TDataSource.cpp     the data source and what it is told
//   NumberFormat.cpp    numbers as a display format shows them
//
// What the cursor, the sort and the painting of a grid call for every row stays inline here.
#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QStringView>
#include <algorithm>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/dataset/DataSet.h"
#include "core/dataset/FilterExpression.h"
#include "core/dataset/KeyTexts_p.h"
#include "core/errors/Errors.h"
#include "core/values/FieldValue.h"
#include "core/values/PackedRows.h"

namespace fw {

// A row. One loaded from a packet kept compact is read in place (packed is its row there)
// until it changes; values then holds them all.
struct RowData {
    enum class St { Unchanged, Inserted, Modified, Deleted };
    Row values;
    Row original; // as loaded, for modified and deleted rows
    qint64 id = 0;
    int nat = 0; // position in the natural (load) order
    int packed = -1;
    St st = St::Unchanged;
    bool logged = false;
};

struct IndexDef {
    QString name;
    QStringList fieldNames;
    bool descending = false;
    bool caseInsensitive = false;
};

struct SourceRef {
    QPointer<TDataSource> src;
    DataSetState reported = DataSetState::Inactive;
};

struct DataSet::Impl {
    DataSet* q;
    explicit Impl(DataSet* owner) : q(owner) {}

    QList<Field*> fields;
    bool dynamicFields = false;
    bool active = false;
    DataSetState state = DataSetState::Inactive;

    // Live and deleted-but-logged rows by id: the loaded ones in one piece, the inserted
    // ones apart; byId holds row id firstId + i at i (null once forgotten).
    std::unique_ptr<RowData[]> loadedRows;
    std::vector<std::unique_ptr<RowData>> addedRows;
    std::vector<RowData*> byId;
    qint64 firstId = 1;
    std::shared_ptr<const PackedRows> packed; // where the loaded rows are read in place
    std::vector<RowData*> natural;
    std::vector<RowData*> sorted; // every live row in the active index's order
    std::vector<RowData*> changes; // rows with a pending change, in the order first changed
    qint64 nextId = 1;

    QList<IndexDef> indexes;
    QString indexName;
    std::vector<int> keyFields;
    std::vector<FieldType> keyTypes;
    bool keyDesc = false, keyCi = false;

    QString filterText;
    FilterExpression filterExpr;
    bool filtered = false;

    // The view: every sorted row, a range of them (an equality filter on an index
    // prefix) or an explicit list (any other filter), always in index order.
    enum class Mode { All, Range, List } mode = Mode::All;
    int lo = 0, hi = 0;
    std::vector<RowData*> list;
    std::vector<QVariant> rangeKey;
    KeyTexts sortedKeys; // key texts of the sorted rows, when every key field is text
    QHash<QStringView, std::pair<int, int>> groups; // prefix of a key text -> sorted range
    size_t groupK = 0;
    bool groupsValid = false;
    int lookupsSinceChange = 0;

    int cur = -1;
    bool bof = true, eof = true;

    Row buffer;
    RowData* editRow = nullptr;
    qint64 insertAnchor = 0; // row the insert goes before in the natural order; 0 = at the end

    std::vector<int> displayStack;
    int disableCount = 0;
    std::vector<SourceRef> sources;

    // --- state and events (DataSet.cpp) ------------------------------------------------
    bool editing() const { return state == DataSetState::Edit || state == DataSetState::Insert; }

    RowData* findRow(qint64 id) const
    {
        const qint64 i = id - firstId;
        return i >= 0 && i < qint64(byId.size()) ? byId[size_t(i)] : nullptr;
    }
    void forget(const RowData* r) { byId[size_t(r->id - firstId)] = nullptr; }
    RowData* addRow()
    {
        addedRows.push_back(std::make_unique<RowData>());
        RowData* r = addedRows.back().get();
        r->id = nextId++;
        byId.push_back(r);
        return r;
    }

    void checkActive() const
    {
        if (!active)
            throw DataSetError(
                QStringLiteral("Não é possível executar esta operação em um conjunto de dados fechado."));
    }

    void fire(const Handler& h)
    {
        if (h)
            h(q);
    }

    void sigLayout()
    {
        if (!disableCount)
            emit q->layoutReset();
    }
    void sigRow(int r)
    {
        if (!disableCount)
            emit q->rowChanged(r);
    }
    void sigCurrent()
    {
        if (!disableCount)
            emit q->currentChanged(cur);
    }

    void setState(DataSetState s);
    void moved();
    void scrollTo(int target, bool newBof, bool newEof);
    void renumber(size_t from);
    void clearRows();
    void setupFields(const FieldDefs& defs);
    void load(const DataPacket& p);
    void beginInsert(bool append); // DataSetEditing.cpp

    // --- a row's values -----------------------------------------------------------------
    // Field f of r: the value held, or the one made from the packed row in tmp.
    const QVariant& value(const RowData* r, int f, QVariant& tmp) const
    {
        if (r->packed < 0)
            return r->values.at(f);
        tmp = packed->value(r->packed, f);
        return tmp;
    }
    Row rowValues(const RowData* r) const { return r->packed < 0 ? r->values : packed->row(r->packed); }
    bool matches(const RowData* r) const
    {
        return r->packed < 0 ? filterExpr.matches(r->values) : filterExpr.matches(*packed, r->packed);
    }

    // --- order and view (DataSetIndex.cpp) ------------------------------------------------
    int cmpRows(const RowData* a, const RowData* b) const
    {
        if (a->packed < 0 && b->packed < 0)
            return cmpRows(a, b, [](const RowData* r, int f) -> const QVariant& { return r->values.at(f); });
        return cmpRows(a, b, [this](const RowData* r, int f) {
            QVariant tmp;
            return QVariant(value(r, f, tmp));
        });
    }
    template <class Value>
    int cmpRows(const RowData* a, const RowData* b, const Value& valueOf) const
    {
        for (size_t i = 0; i < keyFields.size(); ++i) {
            const int f = keyFields[i];
            const int c = compareValues(valueOf(a, f), valueOf(b, f), keyTypes[i], keyCi);
            if (c)
                return keyDesc ? -c : c;
        }
        return a->nat < b->nat ? -1 : (a->nat > b->nat ? 1 : 0);
    }

    int cmpKey(const RowData* r, const std::vector<QVariant>& key) const
    {
        for (size_t i = 0; i < key.size(); ++i) {
            QVariant tmp;
            const int c = compareValues(r->packed < 0 ? r->values.at(keyFields[i]) : value(r, keyFields[i], tmp),
                                        key[i], keyTypes[i], keyCi);
            if (c)
                return keyDesc ? -c : c;
        }
        return 0;
    }

    auto lessRows() const
    {
        return [this](const RowData* a, const RowData* b) { return cmpRows(a, b) < 0; };
    }

    int posIn(const std::vector<RowData*>& v, const RowData* r) const
    {
        auto it = std::lower_bound(v.begin(), v.end(), r, lessRows());
        if (it != v.end() && *it == r)
            return int(it - v.begin());
        return -1;
    }

    int viewSize() const
    {
        switch (mode) {
        case Mode::All: return int(sorted.size());
        case Mode::Range: return hi - lo;
        case Mode::List: return int(list.size());
        }
        return 0;
    }

    RowData* viewAt(int i) const
    {
        switch (mode) {
        case Mode::All: return sorted[size_t(i)];
        case Mode::Range: return sorted[size_t(lo + i)];
        case Mode::List: return list[size_t(i)];
        }
        return nullptr;
    }

    RowData* currentRow() const { return cur >= 0 && cur < viewSize() ? viewAt(cur) : nullptr; }

    // The row values fields read: the painted row, the edit buffer or the current row
    // (a packed row's made in tmp).
    const QVariant* valueRef(int field, QVariant& tmp) const
    {
        if (!displayStack.empty()) {
            const int r = displayStack.back();
            if (r < 0 || r >= viewSize())
                return nullptr;
            if (r == cur && state == DataSetState::Edit)
                return &buffer.at(field);
            return &value(viewAt(r), field, tmp);
        }
        if (editing())
            return &buffer.at(field);
        const RowData* row = currentRow();
        return row ? &value(row, field, tmp) : nullptr;
    }

    int viewPos(const RowData* r) const;
    void computeRange();
    void computeView();
    bool textKeys(size_t k) const;
    static void appendKeyText(QString& out, const QVariant& v);
    void appendKeyText(QString& out, const RowData* r, int field) const;
    QString keyText(const RowData* r, size_t k) const;
    static qsizetype prefixLength(QStringView key, size_t k);
    bool hasKeyTexts() const { return !sortedKeys.empty() && sortedKeys.size() == sorted.size(); }
    void sortAll();
    void keyInserted(size_t pos, const RowData* r);
    void keyErased(size_t pos);
    bool lookupRange();
    void sortedChanged();
    void resolveIndex();
    // A filter or index change: the view is rebuilt between the scroll events.
    template <typename Change>
    void rebuild(Change change, bool keepCurrent);

    // --- change log (DataSetChanges.cpp) ----------------------------------------------
    void logChange(RowData* r);
    void unlog(RowData* r);

    // --- data sources (TDataSource.cpp) -----------------------------------------------
    void sourcesData(Field* f);
    void sourcesState();
};

} // namespace fw
