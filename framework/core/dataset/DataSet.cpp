// The data set: its structure, opening and loading, the cursor and its scroll events.
#include "core/dataset/DataSet.h"
#include "core/dataset/DataSet_p.h"

namespace fw {

void DataSet::Impl::setState(DataSetState s)
{
    if (state == s)
        return;
    state = s;
    emit q->stateChanged(s);
    sourcesState();
}

void DataSet::Impl::moved()
{
    sigCurrent();
    sourcesData(nullptr);
}

void DataSet::Impl::scrollTo(int target, bool newBof, bool newEof)
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

void DataSet::Impl::renumber(size_t from)
{
    for (size_t i = from; i < natural.size(); ++i)
        natural[i]->nat = int(i);
}

void DataSet::Impl::clearRows()
{
    sortedChanged();
    groups.clear();
    sortedKeys.clear();
    byId.clear();
    addedRows.clear();
    loadedRows.reset();
    firstId = nextId;
    packed.reset();
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

void DataSet::Impl::setupFields(const FieldDefs& defs)
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

void DataSet::Impl::load(const DataPacket& p)
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
    // A compact packet whose fields are the data set's is read in place.
    const bool inPlace = direct && p.packed && p.packed->columns() == n;
    const int count = p.rowCount();
    auto loaded = std::make_unique<RowData[]>(size_t(count));
    for (int k = 0; k < count; ++k) {
        RowData* r = &loaded[size_t(k)];
        if (inPlace) {
            r->packed = k;
            continue;
        }
        const Row src = p.row(k);
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
                r->values[i] = convertValue(src[j], t, &ok);
                if (!ok)
                    throw DataSetError(QStringLiteral("Valor '%1' inválido para o campo '%2'.")
                                           .arg(src[j].toString(), fields[i]->fieldName()));
            }
        }
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
    if (inPlace)
        packed = p.packed;
    natural.reserve(size_t(count));
    byId.reserve(size_t(count));
    for (int k = 0; k < count; ++k) {
        RowData* r = &loaded[size_t(k)];
        r->id = nextId++;
        r->nat = k;
        natural.push_back(r);
        byId.push_back(r);
    }
    loadedRows = std::move(loaded);
    sortAll();
    computeView();
}

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
        p.rows.append(d->rowValues(r));
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
    const RowData* r = d->findRow(bookmark);
    return r && r->st != RowData::St::Deleted;
}

void DataSet::gotoBookmark(qint64 bookmark)
{
    d->checkActive();
    checkBrowseMode();
    const RowData* r = d->findRow(bookmark);
    const int p = (!r || r->st == RowData::St::Deleted) ? -1 : d->viewPos(r);
    if (p < 0)
        throw DataSetError(QStringLiteral("Registro não encontrado."));
    d->scrollTo(p, false, false);
}

QVariant DataSet::valueAt(int viewRow, int fieldIndex) const
{
    if (!d->active || viewRow < 0 || viewRow >= d->viewSize() || fieldIndex < 0 || fieldIndex >= d->fields.size())
        return {};
    QVariant tmp;
    const QVariant& v = (viewRow == d->cur && d->state == DataSetState::Edit)
                            ? d->buffer.at(fieldIndex)
                            : d->value(d->viewAt(viewRow), fieldIndex, tmp);
    return isNullOrEmpty(v) ? nullValue() : v;
}

int DataSet::currentViewRow() const { return d->active ? d->cur : -1; }

void DataSet::pushDisplayRow(int viewRow) { d->displayStack.push_back(viewRow); }

void DataSet::popDisplayRow()
{
    if (!d->displayStack.empty())
        d->displayStack.pop_back();
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

} // namespace fw
