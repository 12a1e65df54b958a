#include "core/dataset/DataSet.h"

#include <QHash>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "core/dataset/FilterExpression.h"
#include "core/errors/Errors.h"
#include "core/values/Value.h"

namespace fw {

namespace {

inline bool nullish(const QVariant& v) { return !v.isValid() || v.metaType().id() == QMetaType::Nullptr; }

inline bool isText(FieldType t) { return t == FieldType::String || t == FieldType::Blob; }

// Cuts s to n characters (code points, so a surrogate pair is never split).
QString cutToSize(const QString& s, int n)
{
    if (n <= 0 || s.size() <= n)
        return s;
    int chars = 0, i = 0;
    while (i < s.size() && chars < n) {
        i += (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) ? 2 : 1;
        ++chars;
    }
    return s.left(i);
}

const QLocale& brLocale()
{
    static const QLocale l(QLocale::Portuguese, QLocale::Brazil);
    return l;
}

// Numbers with a display format such as "###,##0.00" (',' groups, '.' marks the
// decimals, '0' a digit always shown, '#' one shown when significant), written with
// Brazilian separators. Text around the pattern is kept ("R$ #,##0.00").
QString formatNumber(double v, const QString& format, bool integral)
{
    QString fmt = format.section(QLatin1Char(';'), 0, 0);
    if (fmt.isEmpty()) {
        if (integral)
            return QString::number(static_cast<qlonglong>(v));
        QLocale l = brLocale();
        l.setNumberOptions(QLocale::OmitGroupSeparator);
        return l.toString(v, 'g', QLocale::FloatingPointShortest);
    }
    auto isPat = [](QChar c) {
        return c == QLatin1Char('#') || c == QLatin1Char('0') || c == QLatin1Char(',') || c == QLatin1Char('.');
    };
    int first = -1, last = -1;
    for (int i = 0; i < fmt.size(); ++i)
        if (isPat(fmt[i])) {
            if (first < 0)
                first = i;
            last = i;
        }
    if (first < 0)
        return fmt;
    const QString prefix = fmt.left(first), suffix = fmt.mid(last + 1);
    const QString pat = fmt.mid(first, last - first + 1);
    const bool grouping = pat.contains(QLatin1Char(','));
    const int dot = pat.indexOf(QLatin1Char('.'));
    int minDec = 0, maxDec = 0;
    if (dot >= 0)
        for (QChar c : pat.mid(dot + 1)) {
            if (c == QLatin1Char('0')) {
                ++minDec;
                ++maxDec;
            } else if (c == QLatin1Char('#')) {
                ++maxDec;
            }
        }
    const QString intPat = dot >= 0 ? pat.left(dot) : pat;
    const int minInt = int(intPat.count(QLatin1Char('0')));
    QLocale l = brLocale();
    if (!grouping)
        l.setNumberOptions(QLocale::OmitGroupSeparator);
    // Rounded to zero shows without a minus sign.
    const double scale = std::pow(10.0, maxDec);
    if (std::round(std::fabs(v) * scale) == 0)
        v = 0;
    QString s = l.toString(v, 'f', maxDec);
    const QString dec = l.decimalPoint();
    if (maxDec > minDec) {
        int decimals = maxDec;
        while (decimals > minDec && s.endsWith(QLatin1Char('0'))) {
            s.chop(1);
            --decimals;
        }
        if (decimals == 0 && s.endsWith(dec))
            s.chop(dec.size());
    }
    if (minInt == 0) {
        if (s.startsWith(QLatin1String("0") + dec))
            s.remove(0, 1);
        else if (s.startsWith(QLatin1String("-0") + dec))
            s.remove(1, 1);
        else if (s == QLatin1String("0"))
            s.clear();
    }
    return prefix + s + suffix;
}

struct RowData {
    enum class St { Unchanged, Inserted, Modified, Deleted };
    Row values;
    Row original; // as loaded, for modified and deleted rows
    qint64 id = 0;
    int nat = 0; // position in the natural (load) order
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

QString closedMessage()
{
    return QStringLiteral("Não é possível executar esta operação em um conjunto de dados fechado.");
}

} // namespace

struct DataSet::Impl {
    DataSet* q;
    explicit Impl(DataSet* owner) : q(owner) {}

    QList<Field*> fields;
    bool dynamicFields = false;
    bool active = false;
    DataSetState state = DataSetState::Inactive;

    std::unordered_map<qint64, std::unique_ptr<RowData>> rows; // live and deleted-but-logged rows
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
    std::vector<QString> sortedKeys; // key texts of the sorted rows, when every key field is text
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

    // --- helpers -------------------------------------------------------------------
    bool editing() const { return state == DataSetState::Edit || state == DataSetState::Insert; }

    void checkActive() const
    {
        if (!active)
            throw DataSetError(closedMessage());
    }

    void fire(const Handler& h)
    {
        if (h)
            h(q);
    }

    int cmpRows(const RowData* a, const RowData* b) const
    {
        for (size_t i = 0; i < keyFields.size(); ++i) {
            const int f = keyFields[i];
            const int c = FilterExpression::compareValues(a->values.at(f), b->values.at(f), keyTypes[i], keyCi);
            if (c)
                return keyDesc ? -c : c;
        }
        return a->nat < b->nat ? -1 : (a->nat > b->nat ? 1 : 0);
    }

    int cmpKey(const RowData* r, const std::vector<QVariant>& key) const
    {
        for (size_t i = 0; i < key.size(); ++i) {
            const int c = FilterExpression::compareValues(r->values.at(keyFields[i]), key[i], keyTypes[i], keyCi);
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

    int viewPos(const RowData* r) const
    {
        if (!r)
            return -1;
        switch (mode) {
        case Mode::All: return posIn(sorted, r);
        case Mode::Range: {
            const int p = posIn(sorted, r);
            return p >= lo && p < hi ? p - lo : -1;
        }
        case Mode::List: return posIn(list, r);
        }
        return -1;
    }

    RowData* currentRow() const { return cur >= 0 && cur < viewSize() ? viewAt(cur) : nullptr; }

    // The row values fields read: the painted row, the edit buffer or the current row.
    const QVariant* valueRef(int field) const
    {
        if (!displayStack.empty()) {
            const int r = displayStack.back();
            if (r < 0 || r >= viewSize())
                return nullptr;
            if (r == cur && state == DataSetState::Edit)
                return &buffer.at(field);
            return &viewAt(r)->values.at(field);
        }
        if (editing())
            return &buffer.at(field);
        const RowData* row = currentRow();
        return row ? &row->values.at(field) : nullptr;
    }

    void computeRange()
    {
        if (hasKeyTexts() && textKeys(rangeKey.size())) {
            QString prefix;
            for (const QVariant& v : rangeKey)
                appendKeyText(prefix, v);
            const size_t k = rangeKey.size();
            const bool desc = keyDesc;
            auto cmp = [&](const QString& rowKey) {
                const int c = QStringView(rowKey).left(prefixLength(rowKey, k)).compare(prefix);
                return desc ? -c : c;
            };
            auto kb = sortedKeys.begin(), ke = sortedKeys.end();
            lo = int(std::partition_point(kb, ke, [&](const QString& x) { return cmp(x) < 0; }) - kb);
            hi = int(std::partition_point(kb + lo, ke, [&](const QString& x) { return cmp(x) <= 0; }) - kb);
            return;
        }
        auto b = sorted.begin(), e = sorted.end();
        lo = int(
            std::lower_bound(b, e, rangeKey,
                             [this](const RowData* r, const std::vector<QVariant>& k) { return cmpKey(r, k) < 0; }) -
            b);
        hi = int(
            std::upper_bound(b + lo, e, rangeKey,
                             [this](const std::vector<QVariant>& k, const RowData* r) { return cmpKey(r, k) > 0; }) -
            b);
    }

    void computeView()
    {
        list.clear();
        rangeKey.clear();
        if (!filtered || filterExpr.isEmpty()) {
            mode = Mode::All;
            return;
        }
        bool only = false;
        const auto eqs = filterExpr.equalities(&only);
        std::vector<QVariant> key;
        for (size_t k = 0; k < keyFields.size(); ++k) {
            const auto it =
                std::find_if(eqs.begin(), eqs.end(), [&](const auto& e) { return e.field == keyFields[k]; });
            // A null key on a non-text field never matches an equality; leave it to the scan.
            if (it == eqs.end() || (!isText(keyTypes[k]) && nullish(it->value)))
                break;
            key.push_back(it->value);
        }
        if (!key.empty()) {
            rangeKey = key;
            if (only && !keyCi && eqs.size() == key.size()) {
                mode = Mode::Range;
                if (!lookupRange())
                    computeRange();
                return;
            }
            computeRange();
            mode = Mode::List;
            for (int i = lo; i < hi; ++i)
                if (filterExpr.matches(sorted[size_t(i)]->values))
                    list.push_back(sorted[size_t(i)]);
            rangeKey.clear();
            return;
        }
        mode = Mode::List;
        for (RowData* r : sorted)
            if (filterExpr.matches(r->values))
                list.push_back(r);
    }

    void renumber(size_t from)
    {
        for (size_t i = from; i < natural.size(); ++i)
            natural[i]->nat = int(i);
    }

    // Text keys: the key fields' values written one after the other so that comparing
    // the texts compares the fields one by one (each ends with a 0, and the characters 0
    // and 1 are escaped so the end mark sorts first). Sorting and grouping on one
    // contiguous text per row is several times faster than comparing variants.
    bool textKeys(size_t k) const
    {
        if (keyCi || k == 0 || k > keyFields.size())
            return false;
        for (size_t i = 0; i < k; ++i)
            if (!isText(keyTypes[i]))
                return false;
        return true;
    }

    static void appendKeyText(QString& out, const QVariant& v)
    {
        if (nullish(v)) {
            out += QChar(0);
            return;
        }
        QString tmp;
        const QString& s = v.metaType().id() == QMetaType::QString ? *static_cast<const QString*>(v.constData())
                                                                   : (tmp = v.toString());
        for (QChar c : s) {
            const ushort u = c.unicode();
            if (u <= 1) {
                out += QChar(1);
                out += QChar(ushort(u + 1));
            } else {
                out += c;
            }
        }
        out += QChar(0);
    }

    QString keyText(const RowData* r, size_t k) const
    {
        QString out;
        for (size_t i = 0; i < k; ++i)
            appendKeyText(out, r->values.at(keyFields[i]));
        return out;
    }

    // Length of the first k fields of a key text (up to and with the k-th end mark).
    static qsizetype prefixLength(const QString& key, size_t k)
    {
        const QChar* p = key.constData();
        const qsizetype n = key.size();
        qsizetype i = 0;
        for (size_t f = 0; f < k && i < n; ++i)
            if (p[i].unicode() == 0)
                ++f;
        return i;
    }

    bool hasKeyTexts() const { return !sortedKeys.empty() && sortedKeys.size() == sorted.size(); }

    void sortAll()
    {
        sorted = natural;
        sortedKeys.clear();
        groupsValid = false;
        lookupsSinceChange = 0;
        if (keyFields.empty())
            return;
        if (!textKeys(keyFields.size())) {
            std::sort(sorted.begin(), sorted.end(), lessRows());
            return;
        }
        std::vector<std::pair<QString, RowData*>> keyed;
        keyed.reserve(natural.size());
        for (RowData* r : natural)
            keyed.emplace_back(keyText(r, keyFields.size()), r);
        const bool desc = keyDesc;
        std::sort(keyed.begin(), keyed.end(), [desc](const auto& a, const auto& b) {
            const int c = QString::compare(a.first, b.first);
            if (c)
                return desc ? c > 0 : c < 0;
            return a.second->nat < b.second->nat;
        });
        sortedKeys.reserve(keyed.size());
        for (size_t i = 0; i < keyed.size(); ++i) {
            sorted[i] = keyed[i].second;
            sortedKeys.push_back(std::move(keyed[i].first));
        }
    }

    // Keeps the key texts beside the sorted rows when a row goes in or out.
    void keyInserted(size_t pos, const RowData* r)
    {
        if (textKeys(keyFields.size()) && sortedKeys.size() + 1 == sorted.size())
            sortedKeys.insert(sortedKeys.begin() + qptrdiff(pos), keyText(r, keyFields.size()));
        else
            sortedKeys.clear();
    }
    void keyErased(size_t pos)
    {
        if (sortedKeys.size() == sorted.size() + 1)
            sortedKeys.erase(sortedKeys.begin() + qptrdiff(pos));
        else
            sortedKeys.clear();
    }

    // Equality filters on a text index prefix, switched on every move of another data
    // set, find their rows through a table of the prefix's groups: one hash lookup
    // instead of two binary searches that miss the cache at every step. The table is
    // built once the same prefix has been asked for often enough since the last change;
    // its keys are views into the key texts, so building it allocates no strings.
    bool lookupRange()
    {
        const size_t k = rangeKey.size();
        if (!textKeys(k) || !hasKeyTexts())
            return false;
        if (!groupsValid || groupK != k) {
            if (++lookupsSinceChange < 16 + int(sorted.size() / 1024))
                return false;
            groups.clear();
            groups.reserve(qsizetype(sorted.size() / 2 + 1));
            QStringView prev;
            int start = 0;
            for (size_t i = 0; i < sortedKeys.size(); ++i) {
                const QStringView key = QStringView(sortedKeys[i]).left(prefixLength(sortedKeys[i], k));
                if (i > 0 && key != prev) {
                    groups.insert(prev, {start, int(i)});
                    start = int(i);
                }
                prev = key;
            }
            if (!sortedKeys.empty())
                groups.insert(prev, {start, int(sortedKeys.size())});
            groupK = k;
            groupsValid = true;
        }
        QString key;
        for (const QVariant& v : rangeKey)
            appendKeyText(key, v);
        const auto it = groups.constFind(QStringView(key));
        if (it == groups.cend())
            lo = hi = 0;
        else
            std::tie(lo, hi) = *it;
        return true;
    }

    void sortedChanged()
    {
        groupsValid = false;
        lookupsSinceChange = 0;
        if (!groups.isEmpty())
            groups.clear(); // its keys point into the key texts
    }

    void resolveIndex()
    {
        keyFields.clear();
        keyTypes.clear();
        keyDesc = keyCi = false;
        if (indexName.isEmpty())
            return;
        const auto it = std::find_if(indexes.begin(), indexes.end(), [&](const IndexDef& i) {
            return i.name.compare(indexName, Qt::CaseInsensitive) == 0;
        });
        if (it == indexes.end())
            throw DataSetError(QStringLiteral("Índice '%1' não encontrado.").arg(indexName));
        for (const QString& name : it->fieldNames) {
            Field* f = q->findField(name);
            if (!f) {
                keyFields.clear();
                keyTypes.clear();
                throw DataSetError(QStringLiteral("Campo '%1' do índice '%2' não encontrado.").arg(name, it->name));
            }
            keyFields.push_back(f->index());
            keyTypes.push_back(f->dataType());
        }
        keyDesc = it->descending;
        keyCi = it->caseInsensitive;
    }

    void logChange(RowData* r)
    {
        if (!r->logged) {
            r->logged = true;
            changes.push_back(r);
        }
    }

    void unlog(RowData* r)
    {
        if (r->logged) {
            changes.erase(std::find(changes.begin(), changes.end(), r));
            r->logged = false;
        }
    }

    // --- notifications -------------------------------------------------------------
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

    void sourcesData(Field* f)
    {
        if (disableCount)
            return;
        const auto copy = sources;
        for (const auto& ref : copy) {
            TDataSource* s = ref.src;
            if (s && s->enabled() && s->OnDataChange)
                s->OnDataChange(s, f);
        }
    }

    // State changes reach the data sources even while controls are disabled: screens
    // enable their commands from them, and a frozen grid must not hide an edit state.
    void sourcesState()
    {
        const auto copy = sources;
        for (const auto& ref : copy) {
            TDataSource* s = ref.src;
            if (!s)
                continue;
            const DataSetState st = s->enabled() ? state : DataSetState::Inactive;
            auto it = std::find_if(sources.begin(), sources.end(), [&](const SourceRef& x) { return x.src == s; });
            if (it == sources.end() || it->reported == st)
                continue;
            it->reported = st;
            if (s->OnStateChange)
                s->OnStateChange(s);
        }
    }

    void setState(DataSetState s)
    {
        if (state == s)
            return;
        state = s;
        emit q->stateChanged(s);
        sourcesState();
    }

    void moved()
    {
        sigCurrent();
        sourcesData(nullptr);
    }

    void scrollTo(int target, bool newBof, bool newEof)
    {
        if (target == cur) {
            bof = newBof;
            eof = newEof;
            return;
        }
        fire(q->BeforeScroll);
        cur = target;
        bof = newBof;
        eof = newEof;
        moved();
        fire(q->AfterScroll);
    }

    // A filter or index change: the view is rebuilt between the scroll events.
    template <typename Change>
    void rebuild(Change change, bool keepCurrent)
    {
        fire(q->BeforeScroll);
        const qint64 keep = currentRow() ? currentRow()->id : 0;
        change();
        computeView();
        const int n = viewSize();
        int p = -1;
        if (keepCurrent && keep) {
            auto it = rows.find(keep);
            if (it != rows.end())
                p = viewPos(it->second.get());
        }
        cur = p >= 0 ? p : (n ? 0 : -1);
        bof = p < 0;
        eof = n == 0;
        sigLayout();
        moved();
        fire(q->AfterScroll);
    }

    void clearRows()
    {
        sortedChanged();
        groups.clear();
        sortedKeys.clear();
        rows.clear();
        natural.clear();
        sorted.clear();
        changes.clear();
        list.clear();
        rangeKey.clear();
        mode = Mode::All;
        cur = -1;
        bof = eof = true;
        buffer.clear();
        editRow = nullptr;
    }

    void setupFields(const FieldDefs& defs)
    {
        if (!fields.isEmpty() && !dynamicFields)
            return;
        if (!fields.isEmpty() && q->fieldDefs() == defs)
            return;
        for (Field* f : fields)
            delete f;
        fields.clear();
        for (const FieldDef& def : defs)
            q->addField(def);
        dynamicFields = true;
    }

    void load(const DataPacket& p)
    {
        setupFields(p.fields);
        const int n = int(fields.size());
        std::vector<int> map(size_t(n), -1);
        bool direct = p.fields.size() == n;
        for (int i = 0; i < n; ++i) {
            map[size_t(i)] = p.fieldIndex(fields[i]->fieldName());
            if (map[size_t(i)] != i || p.fields[i].type != fields[i]->dataType())
                direct = false;
        }
        std::vector<std::unique_ptr<RowData>> loaded;
        loaded.reserve(size_t(p.rows.size()));
        for (const Row& src : p.rows) {
            auto r = std::make_unique<RowData>();
            if (direct && src.size() == n) {
                r->values = src; // shared, no copy
            } else {
                r->values.resize(n);
                for (int i = 0; i < n; ++i) {
                    const int j = map[size_t(i)];
                    if (j < 0 || j >= src.size())
                        continue;
                    const FieldType t = fields[i]->dataType();
                    if (j < p.fields.size() && p.fields[j].type == t) {
                        r->values[i] = src[j];
                        continue;
                    }
                    bool ok = false;
                    r->values[i] = FilterExpression::convert(src[j], t, &ok);
                    if (!ok)
                        throw DataSetError(QStringLiteral("Valor '%1' inválido para o campo '%2'.")
                                               .arg(src[j].toString(), fields[i]->fieldName()));
                }
            }
            loaded.push_back(std::move(r));
        }
        // Everything that can fail is checked before the data set changes.
        FilterExpression fe;
        if (!filterText.trimmed().isEmpty()) {
            fe = FilterExpression::parse(filterText);
            fe.bind(q->fieldDefs());
        }
        resolveIndex();
        clearRows();
        filterExpr = fe;
        natural.reserve(loaded.size());
        for (auto& r : loaded) {
            r->id = nextId++;
            r->nat = int(natural.size());
            natural.push_back(r.get());
            const qint64 id = r->id;
            rows.emplace(id, std::move(r));
        }
        sortAll();
        computeView();
    }

    void beginInsert(bool append)
    {
        checkActive();
        q->checkBrowseMode();
        fire(q->BeforeInsert);
        fire(q->BeforeScroll);
        const RowData* anchor = append ? nullptr : currentRow();
        insertAnchor = anchor ? anchor->id : 0;
        buffer = Row(qsizetype(fields.size()));
        editRow = nullptr;
        setState(DataSetState::Insert);
        try {
            fire(q->OnNewRecord);
        } catch (...) {
            buffer.clear();
            setState(DataSetState::Browse);
            throw;
        }
        moved();
        fire(q->AfterInsert);
        fire(q->AfterScroll);
    }
};

// ---------------------------------------------------------------------------------
// Field

Field::Field(DataSet* owner, const FieldDef& def, int index)
    : QObject(owner), m_owner(owner), m_def(def), m_index(index)
{}

DataSet* Field::dataSet() const { return m_owner; }

QVariant Field::value() const
{
    const QVariant* v = m_owner->d->valueRef(m_index);
    return (!v || nullish(*v)) ? nullValue() : *v;
}

void Field::setValue(const QVariant& v)
{
    auto* d = m_owner->d.get();
    if (!d->editing())
        throw DataSetError(QStringLiteral("O conjunto de dados %1 não está em modo de edição ou inserção.")
                               .arg(m_owner->objectName()));
    bool ok = false;
    QVariant c = FilterExpression::convert(v, m_def.type, &ok);
    if (!ok)
        throw DataSetError(
            QStringLiteral("'%1' não é um valor válido para o campo '%2'.").arg(v.toString(), m_def.name));
    if (m_def.type == FieldType::String && c.isValid()) {
        const QString s = cutToSize(c.toString(), m_def.size);
        c = s.isEmpty() ? QVariant() : QVariant(s);
    }
    d->buffer[m_index] = c;
    d->sigCurrent();
    d->sourcesData(this);
}

bool Field::isNull() const
{
    const QVariant* v = m_owner->d->valueRef(m_index);
    return !v || nullish(*v);
}

void Field::clear() { setValue(QVariant()); }

QString Field::asString() const
{
    const QVariant* v = m_owner->d->valueRef(m_index);
    if (!v || nullish(*v))
        return {};
    switch (m_def.type) {
    case FieldType::String:
    case FieldType::Blob: return v->toString();
    case FieldType::Integer: return QString::number(v->toLongLong());
    case FieldType::Float: return formatNumber(v->toDouble(), QString(), false);
    case FieldType::Boolean: return v->toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case FieldType::DateTime: return v->toDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    }
    return v->toString();
}

void Field::setAsString(const QString& s) { setValue(s); }

qlonglong Field::asInteger() const
{
    const QVariant* v = m_owner->d->valueRef(m_index);
    if (!v || nullish(*v))
        return 0;
    if (m_def.type == FieldType::Float)
        return qRound64(v->toDouble());
    bool ok = false;
    const QVariant c = FilterExpression::convert(*v, FieldType::Integer, &ok);
    if (!ok)
        throw DataSetError(QStringLiteral("'%1' não é um valor inteiro válido.").arg(v->toString()));
    return c.toLongLong();
}

double Field::asFloat() const
{
    const QVariant* v = m_owner->d->valueRef(m_index);
    if (!v || nullish(*v))
        return 0;
    bool ok = false;
    const QVariant c = FilterExpression::convert(*v, FieldType::Float, &ok);
    if (!ok)
        throw DataSetError(QStringLiteral("'%1' não é um valor numérico válido.").arg(v->toString()));
    return c.toDouble();
}

bool Field::asBoolean() const
{
    const QVariant* v = m_owner->d->valueRef(m_index);
    if (!v || nullish(*v))
        return false;
    bool ok = false;
    const QVariant c = FilterExpression::convert(*v, FieldType::Boolean, &ok);
    return ok && c.toBool();
}

QDateTime Field::asDateTime() const
{
    const QVariant* v = m_owner->d->valueRef(m_index);
    if (!v || nullish(*v))
        return {};
    bool ok = false;
    const QVariant c = FilterExpression::convert(*v, FieldType::DateTime, &ok);
    return ok ? c.toDateTime() : QDateTime();
}

QString Field::formatValue(const QVariant& v) const
{
    if (nullish(v))
        return {};
    switch (m_def.type) {
    case FieldType::String:
    case FieldType::Blob: return v.toString();
    case FieldType::Integer: return formatNumber(double(v.toLongLong()), m_displayFormat, true);
    case FieldType::Float: return formatNumber(v.toDouble(), m_displayFormat, false);
    case FieldType::Boolean: return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case FieldType::DateTime: {
        bool ok = false;
        const QDateTime dt = FilterExpression::convert(v, FieldType::DateTime, &ok).toDateTime();
        if (!ok)
            return v.toString();
        return dt.toString(m_displayFormat.isEmpty() ? QStringLiteral("dd/MM/yyyy HH:mm:ss") : m_displayFormat);
    }
    }
    return v.toString();
}

QString Field::displayText() const
{
    if (OnGetText) {
        QString text;
        OnGetText(const_cast<Field*>(this), text, true);
        return text;
    }
    const QVariant* v = m_owner->d->valueRef(m_index);
    return v ? formatValue(*v) : QString();
}

QString Field::text() const
{
    if (OnGetText) {
        QString text;
        OnGetText(const_cast<Field*>(this), text, false);
        return text;
    }
    return asString();
}

// ---------------------------------------------------------------------------------
// DataSet: structure

DataSet::DataSet(QObject* parent) : QObject(parent), d(std::make_unique<Impl>(this))
{
    connect(this, &QObject::objectNameChanged, this, [this](const QString& name) {
        for (Field* f : d->fields)
            f->setObjectName(name + f->fieldName().toUpper());
    });
}

DataSet::~DataSet()
{
    // Views may still ask for rows while the children go away.
    d->clearRows();
    d->active = false;
}

Field* DataSet::addField(const FieldDef& def, const QString& displayLabel, bool visible)
{
    if (d->active)
        throw DataSetError(QStringLiteral("Não é possível incluir campos em um conjunto de dados aberto."));
    if (findField(def.name))
        throw DataSetError(QStringLiteral("Campo '%1' já definido.").arg(def.name));
    if (d->dynamicFields) {
        // Fields made from a packet give way to the ones the owner defines.
        for (Field* f : d->fields)
            delete f;
        d->fields.clear();
        d->dynamicFields = false;
    }
    auto* f = new Field(this, def, int(d->fields.size()));
    f->setDisplayLabel(displayLabel);
    f->setVisible(visible);
    f->setObjectName(objectName() + def.name.toUpper());
    d->fields.append(f);
    return f;
}

QList<Field*> DataSet::fields() const { return d->fields; }
int DataSet::fieldCount() const { return int(d->fields.size()); }
Field* DataSet::field(int index) const { return index >= 0 && index < d->fields.size() ? d->fields[index] : nullptr; }

Field* DataSet::findField(const QString& name) const
{
    for (Field* f : d->fields)
        if (f->fieldName().compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return f;
    return nullptr;
}

Field* DataSet::fieldByName(const QString& name) const
{
    Field* f = findField(name);
    if (!f)
        throw DataSetError(QStringLiteral("Campo '%1' não encontrado.").arg(name));
    return f;
}

FieldDefs DataSet::fieldDefs() const
{
    FieldDefs defs;
    for (Field* f : d->fields)
        defs.append(f->def());
    return defs;
}

// --- opening ----------------------------------------------------------------------

bool DataSet::active() const { return d->active; }

void DataSet::openWith(const std::function<DataPacket()>& loader)
{
    if (d->active)
        return;
    d->fire(BeforeOpen);
    const DataPacket p = loader();
    d->load(p);
    d->active = true;
    const int n = d->viewSize();
    d->cur = n ? 0 : -1;
    d->bof = true;
    d->eof = n == 0;
    d->setState(DataSetState::Browse);
    d->sigLayout();
    d->moved();
    d->fire(AfterOpen);
    if (n)
        d->fire(AfterScroll);
}

void DataSet::open()
{
    if (d->active)
        return;
    if (d->fields.isEmpty())
        throw DataSetError(QStringLiteral("Nenhum campo definido para o conjunto de dados %1.").arg(objectName()));
    openWith([this] {
        DataPacket p;
        p.fields = fieldDefs();
        return p;
    });
}

void DataSet::close()
{
    if (!d->active)
        return;
    d->fire(BeforeClose);
    d->clearRows();
    d->active = false;
    d->setState(DataSetState::Inactive);
    d->sigLayout();
    d->moved();
    d->fire(AfterClose);
}

void DataSet::setData(const DataPacket& packet)
{
    close();
    openWith([&packet] { return packet; });
}

DataPacket DataSet::data() const
{
    DataPacket p;
    p.fields = fieldDefs();
    p.rows.reserve(qsizetype(d->natural.size()));
    for (const RowData* r : d->natural)
        p.rows.append(r->values);
    return p;
}

void DataSet::setDataVariant(const QVariant& packet)
{
    if (packet.metaType() != QMetaType::fromType<DataPacket>())
        throw DataSetError(QStringLiteral("O valor recebido não é um pacote de dados."));
    setData(packet.value<DataPacket>());
}

QVariant DataSet::dataVariant() const { return QVariant::fromValue(data()); }

// --- cursor ---------------------------------------------------------------------------

void DataSet::first()
{
    d->checkActive();
    checkBrowseMode();
    const int n = d->viewSize();
    d->scrollTo(n ? 0 : -1, true, n == 0);
}

void DataSet::last()
{
    d->checkActive();
    checkBrowseMode();
    const int n = d->viewSize();
    d->scrollTo(n ? n - 1 : -1, n == 0, true);
}

void DataSet::next() { moveBy(1); }
void DataSet::prior() { moveBy(-1); }

int DataSet::moveBy(int distance)
{
    d->checkActive();
    checkBrowseMode();
    const int n = d->viewSize();
    if (n == 0) {
        d->bof = d->eof = true;
        return 0;
    }
    if (distance == 0)
        return 0;
    const int from = d->cur;
    if (distance > 0) {
        if (d->eof)
            return 0;
        const qint64 want = qint64(from) + distance;
        const int target = int(std::min<qint64>(want, n - 1));
        d->scrollTo(target, false, want > n - 1);
    } else {
        if (d->bof)
            return 0;
        const qint64 want = qint64(from) + distance;
        const int target = int(std::max<qint64>(want, 0));
        d->scrollTo(target, want < 0, false);
    }
    return d->cur - from;
}

bool DataSet::bof() const { return d->bof; }
bool DataSet::eof() const { return d->eof; }

bool DataSet::isEmpty() const { return !d->active || (d->viewSize() == 0 && d->state != DataSetState::Insert); }

int DataSet::recordCount() const { return d->active ? d->viewSize() : 0; }
int DataSet::recNo() const { return d->active && d->cur >= 0 ? d->cur + 1 : 0; }

void DataSet::setRecNo(int recNo)
{
    d->checkActive();
    checkBrowseMode();
    const int n = d->viewSize();
    if (n == 0)
        return;
    d->scrollTo(std::clamp(recNo, 1, n) - 1, false, false);
}

qint64 DataSet::bookmark() const
{
    const RowData* r = d->currentRow();
    return r ? r->id : 0;
}

bool DataSet::bookmarkValid(qint64 bookmark) const
{
    auto it = d->rows.find(bookmark);
    return it != d->rows.end() && it->second->st != RowData::St::Deleted;
}

void DataSet::gotoBookmark(qint64 bookmark)
{
    d->checkActive();
    checkBrowseMode();
    auto it = d->rows.find(bookmark);
    const int p = (it == d->rows.end() || it->second->st == RowData::St::Deleted) ? -1 : d->viewPos(it->second.get());
    if (p < 0)
        throw DataSetError(QStringLiteral("Registro não encontrado."));
    d->scrollTo(p, false, false);
}

QVariant DataSet::valueAt(int viewRow, int fieldIndex) const
{
    if (!d->active || viewRow < 0 || viewRow >= d->viewSize() || fieldIndex < 0 || fieldIndex >= d->fields.size())
        return {};
    const QVariant& v = (viewRow == d->cur && d->state == DataSetState::Edit)
                            ? d->buffer.at(fieldIndex)
                            : d->viewAt(viewRow)->values.at(fieldIndex);
    return nullish(v) ? nullValue() : v;
}

int DataSet::currentViewRow() const { return d->active ? d->cur : -1; }

void DataSet::pushDisplayRow(int viewRow) { d->displayStack.push_back(viewRow); }

void DataSet::popDisplayRow()
{
    if (!d->displayStack.empty())
        d->displayStack.pop_back();
}

// --- editing ---------------------------------------------------------------------------

DataSetState DataSet::state() const { return d->state; }

void DataSet::edit()
{
    if (d->editing())
        return;
    d->checkActive();
    if (d->viewSize() == 0) {
        insert();
        return;
    }
    d->fire(BeforeEdit);
    d->editRow = d->currentRow();
    d->buffer = d->editRow->values;
    d->setState(DataSetState::Edit);
    d->sigCurrent();
    d->fire(AfterEdit);
}

void DataSet::insert() { d->beginInsert(false); }
void DataSet::append() { d->beginInsert(true); }

void DataSet::post()
{
    if (!d->editing())
        return;
    d->fire(BeforePost);
    for (Field* f : d->fields)
        if (f->required() && nullish(d->buffer.at(f->index())))
            throw DataSetError(QStringLiteral("Campo '%1' deve ser informado.").arg(f->displayLabel()));

    const int sizeBefore = d->viewSize();
    const int oldCur = d->cur;
    RowData* r = nullptr;
    int oldPos = -1;
    if (d->state == DataSetState::Insert) {
        auto owned = std::make_unique<RowData>();
        r = owned.get();
        r->id = d->nextId++;
        r->values = d->buffer;
        r->st = RowData::St::Inserted;
        size_t at = d->natural.size();
        if (d->insertAnchor) {
            auto it = d->rows.find(d->insertAnchor);
            if (it != d->rows.end() && it->second->st != RowData::St::Deleted)
                at = size_t(it->second->nat);
        }
        d->natural.insert(d->natural.begin() + qptrdiff(at), r);
        d->renumber(at);
        d->rows.emplace(r->id, std::move(owned));
        d->logChange(r);
    } else {
        r = d->editRow;
        bool changed = false;
        for (int i = 0; i < r->values.size() && !changed; ++i)
            changed = !sameValue(r->values.at(i), d->buffer.at(i));
        if (changed) {
            oldPos = d->viewPos(r);
            const int sp = d->posIn(d->sorted, r);
            if (sp >= 0) {
                d->sorted.erase(d->sorted.begin() + sp);
                d->keyErased(size_t(sp));
            }
            if (d->mode == Impl::Mode::List) {
                const int lp = d->posIn(d->list, r);
                if (lp >= 0)
                    d->list.erase(d->list.begin() + lp);
            }
            if (r->st == RowData::St::Unchanged) {
                r->original = r->values;
                r->st = RowData::St::Modified;
                d->logChange(r);
            }
            r->values = d->buffer;
        } else {
            r = nullptr; // nothing to store
        }
    }
    if (r) {
        d->sortedChanged();
        auto it = std::lower_bound(d->sorted.begin(), d->sorted.end(), r, d->lessRows());
        const size_t pos = size_t(it - d->sorted.begin());
        d->sorted.insert(it, r);
        if (!d->keyFields.empty())
            d->keyInserted(pos, r);
        if (d->mode == Impl::Mode::List && d->filterExpr.matches(r->values)) {
            auto lt = std::lower_bound(d->list.begin(), d->list.end(), r, d->lessRows());
            d->list.insert(lt, r);
        } else if (d->mode == Impl::Mode::Range) {
            d->computeRange();
        }
    }
    const bool wasInsert = d->state == DataSetState::Insert;
    d->buffer.clear();
    d->editRow = nullptr;
    d->insertAnchor = 0;
    const int n = d->viewSize();
    if (r) {
        const int p = d->viewPos(r);
        d->cur = p >= 0 ? p : (n ? std::clamp(oldCur, 0, n - 1) : -1);
        d->bof = d->eof = n == 0;
    }
    d->setState(DataSetState::Browse);
    if (r && !wasInsert && oldPos >= 0 && oldPos == d->cur && n == sizeBefore)
        d->sigRow(d->cur);
    else if (r)
        d->sigLayout();
    d->moved();
    d->fire(AfterPost);
}

void DataSet::cancel()
{
    if (!d->editing())
        return;
    d->fire(BeforeCancel);
    d->buffer.clear();
    d->editRow = nullptr;
    d->insertAnchor = 0;
    d->setState(DataSetState::Browse);
    d->moved();
    d->fire(AfterCancel);
}

void DataSet::deleteRecord()
{
    d->checkActive();
    if (d->state == DataSetState::Insert) {
        cancel();
        return;
    }
    if (d->viewSize() == 0)
        throw DataSetError(QStringLiteral("Não é possível excluir: o conjunto de dados está vazio."));
    d->fire(BeforeDelete);
    d->fire(BeforeScroll);
    RowData* r = d->currentRow();
    const int at = d->cur;
    const int sp = d->posIn(d->sorted, r);
    if (d->mode == Impl::Mode::List) {
        const int lp = d->posIn(d->list, r);
        if (lp >= 0)
            d->list.erase(d->list.begin() + lp);
    }
    if (sp >= 0) {
        d->sorted.erase(d->sorted.begin() + sp);
        d->keyErased(size_t(sp));
    }
    d->sortedChanged();
    d->natural.erase(d->natural.begin() + r->nat);
    d->renumber(size_t(r->nat));
    if (d->mode == Impl::Mode::Range)
        d->computeRange();
    if (r->st == RowData::St::Inserted) {
        d->unlog(r);
        d->rows.erase(r->id);
    } else {
        if (r->st == RowData::St::Unchanged)
            r->original = r->values;
        r->st = RowData::St::Deleted;
        d->logChange(r);
    }
    d->buffer.clear();
    d->editRow = nullptr;
    const int n = d->viewSize();
    d->cur = n ? std::min(at, n - 1) : -1;
    d->bof = n == 0;
    d->eof = n == 0;
    d->setState(DataSetState::Browse);
    d->sigLayout();
    d->moved();
    d->fire(AfterDelete);
    d->fire(AfterScroll);
}

void DataSet::checkBrowseMode()
{
    if (d->editing())
        post();
}

// --- indexes ---------------------------------------------------------------------

void DataSet::addIndex(const QString& name, const QString& fields, bool descending, bool caseInsensitive)
{
    IndexDef def{name, {}, descending, caseInsensitive};
    for (const QString& f : fields.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        def.fieldNames.append(f.trimmed());
    if (def.fieldNames.isEmpty())
        throw DataSetError(QStringLiteral("Índice '%1' sem campos.").arg(name));
    auto it = std::find_if(d->indexes.begin(), d->indexes.end(),
                           [&](const IndexDef& i) { return i.name.compare(name, Qt::CaseInsensitive) == 0; });
    if (it != d->indexes.end())
        *it = def;
    else
        d->indexes.append(def);
    if (d->active && d->indexName.compare(name, Qt::CaseInsensitive) == 0) {
        checkBrowseMode();
        d->rebuild(
            [this] {
                d->resolveIndex();
                d->sortAll();
            },
            true);
    }
}

void DataSet::setIndexName(const QString& name)
{
    if (!name.isEmpty() && std::none_of(d->indexes.begin(), d->indexes.end(), [&](const IndexDef& i) {
            return i.name.compare(name, Qt::CaseInsensitive) == 0;
        }))
        throw DataSetError(QStringLiteral("Índice '%1' não encontrado.").arg(name));
    if (!d->active) {
        d->indexName = name;
        return;
    }
    checkBrowseMode();
    const QString previous = d->indexName;
    d->indexName = name;
    try {
        d->resolveIndex();
    } catch (...) {
        d->indexName = previous;
        d->resolveIndex();
        throw;
    }
    d->indexName = previous;
    d->resolveIndex();
    d->rebuild(
        [this, name] {
            d->indexName = name;
            d->resolveIndex();
            d->sortAll();
        },
        true);
}

QString DataSet::indexName() const { return d->indexName; }

QString DataSet::indexFieldNames() const
{
    for (const IndexDef& i : d->indexes)
        if (i.name.compare(d->indexName, Qt::CaseInsensitive) == 0)
            return i.fieldNames.join(QLatin1Char(';'));
    return {};
}

// --- filter ---------------------------------------------------------------------

void DataSet::setFilter(const QString& expression)
{
    FilterExpression e = FilterExpression::parse(expression);
    if (!d->fields.isEmpty())
        e.bind(fieldDefs());
    if (!d->active || !d->filtered) {
        d->filterText = expression;
        d->filterExpr = e;
        return;
    }
    checkBrowseMode();
    d->rebuild(
        [&] {
            d->filterText = expression;
            d->filterExpr = e;
        },
        false);
}

QString DataSet::filter() const { return d->filterText; }

void DataSet::setFiltered(bool filtered)
{
    if (d->filtered == filtered)
        return;
    if (!d->active) {
        d->filtered = filtered;
        return;
    }
    checkBrowseMode();
    d->rebuild([&] { d->filtered = filtered; }, false);
}

bool DataSet::filtered() const { return d->filtered; }

// --- locate -----------------------------------------------------------------------

bool DataSet::locate(const QString& keyFields, const QVariantList& values, LocateOptions options)
{
    d->checkActive();
    checkBrowseMode();
    const QStringList names = keyFields.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (names.isEmpty() || names.size() != values.size())
        throw DataSetError(QStringLiteral("Locate: número de campos e de valores diferentes."));
    std::vector<int> idx;
    std::vector<FieldType> types;
    std::vector<QVariant> key;
    for (int i = 0; i < names.size(); ++i) {
        Field* f = fieldByName(names[i]);
        bool ok = false;
        QVariant v = FilterExpression::convert(values[i], f->dataType(), &ok);
        if (!ok)
            return false; // a value the field cannot hold matches no row
        idx.push_back(f->index());
        types.push_back(f->dataType());
        key.push_back(v);
    }
    const int n = d->viewSize();
    auto rowMatches = [&](const RowData* r) {
        for (size_t i = 0; i < idx.size(); ++i) {
            const QVariant& v = r->values.at(idx[i]);
            if (isText(types[i]) && options.partialKey) {
                if (nullish(key[i]))
                    continue;
                if (!v.toString().startsWith(key[i].toString(),
                                             options.caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive))
                    return false;
                continue;
            }
            if (!isText(types[i]) && (nullish(v) || nullish(key[i]))) {
                if (nullish(v) != nullish(key[i]))
                    return false;
                continue;
            }
            if (FilterExpression::compareValues(v, key[i], types[i], options.caseInsensitive) != 0)
                return false;
        }
        return true;
    };
    int found = -1;
    // Exact keys over a prefix of the active index: binary search in the view.
    bool usesIndex = !options.caseInsensitive && !options.partialKey && !d->keyCi && idx.size() <= d->keyFields.size();
    std::vector<QVariant> ordered;
    if (usesIndex) {
        for (size_t k = 0; k < idx.size() && usesIndex; ++k) {
            auto it = std::find(idx.begin(), idx.end(), d->keyFields[k]);
            if (it == idx.end())
                usesIndex = false;
            else
                ordered.push_back(key[size_t(it - idx.begin())]);
        }
    }
    if (usesIndex) {
        int a = 0, b = n;
        while (a < b) {
            const int m = (a + b) / 2;
            if (d->cmpKey(d->viewAt(m), ordered) < 0)
                a = m + 1;
            else
                b = m;
        }
        if (a < n && rowMatches(d->viewAt(a)))
            found = a;
    } else {
        for (int i = 0; i < n; ++i)
            if (rowMatches(d->viewAt(i))) {
                found = i;
                break;
            }
    }
    if (found < 0)
        return false;
    d->scrollTo(found, false, false);
    return true;
}

bool DataSet::locate(const QString& keyField, const QVariant& value, LocateOptions options)
{
    return locate(keyField, QVariantList{value}, options);
}

// --- change log ---------------------------------------------------------------------

int DataSet::changeCount() const { return int(d->changes.size()); }

DeltaPacket DataSet::delta() const
{
    DeltaPacket p;
    p.fields = fieldDefs();
    for (const RowData* r : d->changes) {
        DeltaChange c;
        switch (r->st) {
        case RowData::St::Inserted:
            c.op = DeltaChange::Op::Insert;
            c.newRow = r->values;
            break;
        case RowData::St::Modified:
            c.op = DeltaChange::Op::Modify;
            c.oldRow = r->original;
            c.newRow = r->values;
            break;
        case RowData::St::Deleted:
            c.op = DeltaChange::Op::Delete;
            c.oldRow = r->original;
            break;
        case RowData::St::Unchanged: continue;
        }
        p.changes.append(c);
    }
    return p;
}

QVariant DataSet::deltaVariant() const { return QVariant::fromValue(delta()); }

void DataSet::mergeChangeLog()
{
    const auto changes = std::move(d->changes);
    d->changes.clear();
    for (RowData* r : changes) {
        r->logged = false;
        if (r->st == RowData::St::Deleted) {
            d->rows.erase(r->id);
            continue;
        }
        r->st = RowData::St::Unchanged;
        r->original.clear();
    }
}

void DataSet::cancelUpdates()
{
    if (!d->active)
        return;
    cancel();
    if (d->changes.empty())
        return;
    const qint64 keep = bookmark();
    const auto changes = std::move(d->changes);
    d->changes.clear();
    std::vector<RowData*> restored;
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        RowData* r = *it;
        r->logged = false;
        switch (r->st) {
        case RowData::St::Inserted:
            d->natural.erase(d->natural.begin() + r->nat);
            d->renumber(size_t(r->nat));
            d->rows.erase(r->id);
            break;
        case RowData::St::Modified:
            r->values = r->original;
            r->original.clear();
            r->st = RowData::St::Unchanged;
            break;
        case RowData::St::Deleted:
            r->values = r->original;
            r->original.clear();
            r->st = RowData::St::Unchanged;
            restored.push_back(r);
            break;
        case RowData::St::Unchanged: break;
        }
    }
    // Deleted rows come back at their place among the loaded rows.
    for (RowData* r : restored) {
        auto pos = std::find_if(d->natural.begin(), d->natural.end(), [&](const RowData* x) { return x->id > r->id; });
        d->natural.insert(pos, r);
    }
    d->renumber(0);
    d->sortAll();
    d->computeView();
    const int n = d->viewSize();
    auto it = d->rows.find(keep);
    const int p = it != d->rows.end() ? d->viewPos(it->second.get()) : -1;
    d->cur = p >= 0 ? p : (n ? 0 : -1);
    d->bof = p < 0;
    d->eof = n == 0;
    d->sigLayout();
    d->moved();
}

// --- controls -----------------------------------------------------------------------

void DataSet::disableControls() { ++d->disableCount; }

void DataSet::enableControls()
{
    if (d->disableCount == 0)
        return;
    if (--d->disableCount == 0) {
        d->sigLayout();
        d->sigCurrent();
        d->sourcesState();
        d->sourcesData(nullptr);
    }
}

bool DataSet::controlsDisabled() const { return d->disableCount > 0; }

// ---------------------------------------------------------------------------------
// TDataSource

TDataSource::TDataSource(QObject* parent) : QObject(parent) {}

void TDataSource::setDataSet(DataSet* ds)
{
    if (m_dataSet == ds)
        return;
    if (m_dataSet) {
        auto& v = m_dataSet->d->sources;
        v.erase(std::remove_if(v.begin(), v.end(), [this](const SourceRef& r) { return !r.src || r.src == this; }),
                v.end());
    }
    m_dataSet = ds;
    emit dataSetChanged();
    if (ds) {
        ds->d->sources.push_back({this, DataSetState::Inactive});
        ds->d->sourcesState();
    }
}

DataSetState TDataSource::state() const { return m_dataSet && m_enabled ? m_dataSet->state() : DataSetState::Inactive; }

} // namespace fw
