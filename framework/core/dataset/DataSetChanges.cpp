// The change log of a data set: the delta it sends, merging and cancelling changes.
#include "core/dataset/DataSet.h"
#include "core/dataset/DataSet_p.h"

namespace fw {

void DataSet::Impl::logChange(RowData* r)
{
    if (!r->logged) {
        r->logged = true;
        changes.push_back(r);
    }
}

void DataSet::Impl::unlog(RowData* r)
{
    if (r->logged) {
        changes.erase(std::find(changes.begin(), changes.end(), r));
        r->logged = false;
    }
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
            d->forget(r);
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
            d->forget(r);
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
    const int p = d->viewPos(d->findRow(keep));
    d->cur = p >= 0 ? p : (n ? 0 : -1);
    d->bof = p < 0;
    d->eof = n == 0;
    d->sigLayout();
    d->moved();
}

} // namespace fw
