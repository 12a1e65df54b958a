// The order and the view of a data set: indexes, the rows a filter or a key range lets
// through, the look-up of an equality filter's range, and locate.
#include "core/dataset/DataSet.h"
#include "core/dataset/DataSet_p.h"

#include <tuple>

namespace fw {

int DataSet::Impl::viewPos(const RowData* r) const
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

void DataSet::Impl::computeRange()
{
    if (hasKeyTexts() && textKeys(rangeKey.size())) {
        QString prefix;
        for (const QVariant& v : rangeKey)
            appendKeyText(prefix, v);
        const size_t k = rangeKey.size();
        const bool desc = keyDesc;
        auto cmp = [&](size_t i) {
            const QStringView rowKey = sortedKeys.at(i);
            const int c = rowKey.left(prefixLength(rowKey, k)).compare(prefix);
            return desc ? -c : c;
        };
        // The first place from `from` where pred stops holding (it holds on a prefix).
        auto partition = [&](size_t from, auto pred) {
            size_t a = from, b = sortedKeys.size();
            while (a < b) {
                const size_t m = a + (b - a) / 2;
                if (pred(m))
                    a = m + 1;
                else
                    b = m;
            }
            return a;
        };
        lo = int(partition(0, [&](size_t i) { return cmp(i) < 0; }));
        hi = int(partition(size_t(lo), [&](size_t i) { return cmp(i) <= 0; }));
        return;
    }
    auto b = sorted.begin(), e = sorted.end();
    lo = int(std::lower_bound(b, e, rangeKey,
                              [this](const RowData* r, const std::vector<QVariant>& k) { return cmpKey(r, k) < 0; }) -
             b);
    hi = int(std::upper_bound(b + lo, e, rangeKey,
                              [this](const std::vector<QVariant>& k, const RowData* r) { return cmpKey(r, k) > 0; }) -
             b);
}

void DataSet::Impl::computeView()
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
        const auto it = std::find_if(eqs.begin(), eqs.end(), [&](const auto& e) { return e.field == keyFields[k]; });
        // A null key on a non-text field never matches an equality; leave it to the scan.
        if (it == eqs.end() || (!isTextType(keyTypes[k]) && isNullOrEmpty(it->value)))
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
            if (matches(sorted[size_t(i)]))
                list.push_back(sorted[size_t(i)]);
        rangeKey.clear();
        return;
    }
    mode = Mode::List;
    for (RowData* r : sorted)
        if (matches(r))
            list.push_back(r);
}

// Text keys: the key fields' values written one after the other so that comparing
// the texts compares the fields one by one (each ends with a 0, and the characters 0
// and 1 are escaped so the end mark sorts first). Sorting and grouping on one
// contiguous text per row is several times faster than comparing variants.
bool DataSet::Impl::textKeys(size_t k) const
{
    if (keyCi || k == 0 || k > keyFields.size())
        return false;
    for (size_t i = 0; i < k; ++i)
        if (!isTextType(keyTypes[i]))
            return false;
    return true;
}

void DataSet::Impl::appendKeyText(QString& out, const QVariant& v)
{
    if (isNullOrEmpty(v)) {
        out += QChar(0);
        return;
    }
    QString tmp;
    const QString& s = textOf(v, tmp);
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

// The same of a row's field; a packed text in plain ASCII goes in without a QString.
void DataSet::Impl::appendKeyText(QString& out, const RowData* r, int field) const
{
    QByteArrayView text;
    if (r->packed >= 0 && packed->utf8(r->packed, field, &text) && !text.isEmpty() &&
        std::all_of(text.begin(), text.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u > 1 && u < 0x80;
        })) {
        out += QLatin1StringView(text.data(), text.size());
        out += QChar(0);
        return;
    }
    QVariant tmp;
    appendKeyText(out, value(r, field, tmp));
}

QString DataSet::Impl::keyText(const RowData* r, size_t k) const
{
    QString out;
    for (size_t i = 0; i < k; ++i)
        appendKeyText(out, r, keyFields[i]);
    return out;
}

// Length of the first k fields of a key text (up to and with the k-th end mark).
qsizetype DataSet::Impl::prefixLength(QStringView key, size_t k)
{
    const QChar* p = key.constData();
    const qsizetype n = key.size();
    qsizetype i = 0;
    for (size_t f = 0; f < k && i < n; ++i)
        if (p[i].unicode() == 0)
            ++f;
    return i;
}

void DataSet::Impl::sortAll()
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
    // The texts in the natural order, then their places sorted: the natural order breaks ties.
    // Each text's first characters, when all of them are below 256, also go into two
    // integers that compare as the characters do: most comparisons end there, without
    // walking the texts.
    struct Head {
        quint64 hi = 0, lo = 0;
        bool wide = false; // a character past 255 among them: the texts are compared
    };
    std::vector<Head> heads(natural.size());
    QString key;
    for (size_t i = 0; i < natural.size(); ++i) {
        key.clear();
        for (const int f : keyFields)
            appendKeyText(key, natural[i], f);
        if (i == 0)
            sortedKeys.reserve(natural.size(), (key.size() + 4) * qsizetype(natural.size()));
        sortedKeys.append(key);
        Head& h = heads[i];
        for (int k = 0; k < 16; ++k) {
            const char16_t c = k < key.size() ? key[k].unicode() : u'\0';
            h.wide = h.wide || c > 0xff;
            (k < 8 ? h.hi : h.lo) |= quint64(c & 0xff) << (8 * (7 - k % 8));
        }
    }
    std::vector<size_t> order(natural.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const bool desc = keyDesc;
    std::sort(order.begin(), order.end(), [this, desc, &heads](size_t a, size_t b) {
        const Head &x = heads[a], &y = heads[b];
        int c = 0;
        if (!x.wide && !y.wide && (x.hi != y.hi || x.lo != y.lo))
            c = x.hi != y.hi ? (x.hi < y.hi ? -1 : 1) : (x.lo < y.lo ? -1 : 1);
        else
            c = sortedKeys.at(a).compare(sortedKeys.at(b));
        if (c)
            return desc ? c > 0 : c < 0;
        return a < b;
    });
    for (size_t i = 0; i < order.size(); ++i)
        sorted[i] = natural[order[i]];
    sortedKeys.reorder(order);
}

// Keeps the key texts beside the sorted rows when a row goes in or out.
void DataSet::Impl::keyInserted(size_t pos, const RowData* r)
{
    if (textKeys(keyFields.size()) && sortedKeys.size() + 1 == sorted.size())
        sortedKeys.insert(pos, keyText(r, keyFields.size()));
    else
        sortedKeys.clear();
}

void DataSet::Impl::keyErased(size_t pos)
{
    if (sortedKeys.size() == sorted.size() + 1)
        sortedKeys.erase(pos);
    else
        sortedKeys.clear();
}

// Equality filters on a text index prefix, switched on every move of another data
// set, find their rows through a table of the prefix's groups: one hash lookup
// instead of two binary searches that miss the cache at every step. The table is
// built once the same prefix has been asked for often enough since the last change;
// its keys are views into the key texts, so building it allocates no strings.
bool DataSet::Impl::lookupRange()
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
            const QStringView key = sortedKeys.at(i).left(prefixLength(sortedKeys.at(i), k));
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

void DataSet::Impl::sortedChanged()
{
    groupsValid = false;
    lookupsSinceChange = 0;
    if (!groups.isEmpty())
        groups.clear(); // its keys point into the key texts
}

void DataSet::Impl::resolveIndex()
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

template <typename Change>
void DataSet::Impl::rebuild(Change change, bool keepCurrent)
{
    fire(q->BeforeScroll);
    const qint64 keep = currentRow() ? currentRow()->id : 0;
    change();
    computeView();
    const int n = viewSize();
    int p = -1;
    if (keepCurrent && keep)
        p = viewPos(findRow(keep));
    cur = p >= 0 ? p : (n ? 0 : -1);
    bof = p < 0;
    eof = n == 0;
    sigLayout();
    moved();
    fire(q->AfterScroll);
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
        QVariant v = convertValue(values[i], f->dataType(), &ok);
        if (!ok)
            return false; // a value the field cannot hold matches no row
        idx.push_back(f->index());
        types.push_back(f->dataType());
        key.push_back(v);
    }
    const int n = d->viewSize();
    auto rowMatches = [&](const RowData* r) {
        QVariant tmp;
        for (size_t i = 0; i < idx.size(); ++i) {
            const QVariant& v = d->value(r, idx[i], tmp);
            if (isTextType(types[i]) && options.partialKey) {
                if (isNullOrEmpty(key[i]))
                    continue;
                if (!v.toString().startsWith(key[i].toString(),
                                             options.caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive))
                    return false;
                continue;
            }
            if (!isTextType(types[i]) && (isNullOrEmpty(v) || isNullOrEmpty(key[i]))) {
                if (isNullOrEmpty(v) != isNullOrEmpty(key[i]))
                    return false;
                continue;
            }
            if (compareValues(v, key[i], types[i], options.caseInsensitive) != 0)
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

} // namespace fw
