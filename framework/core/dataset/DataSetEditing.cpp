// Editing a data set: edit, insert, post, cancel and delete with their events.
#include "core/dataset/DataSet.h"
#include "core/dataset/DataSet_p.h"

namespace fw {

void DataSet::Impl::beginInsert(bool append)
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
    d->buffer = d->rowValues(d->editRow);
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
        if (f->required() && isNullOrEmpty(d->buffer.at(f->index())))
            throw DataSetError(QStringLiteral("Campo '%1' deve ser informado.").arg(f->displayLabel()));

    const int sizeBefore = d->viewSize();
    const int oldCur = d->cur;
    RowData* r = nullptr;
    int oldPos = -1;
    if (d->state == DataSetState::Insert) {
        r = d->addRow();
        r->values = d->buffer;
        r->st = RowData::St::Inserted;
        size_t at = d->natural.size();
        if (d->insertAnchor) {
            const RowData* anchor = d->findRow(d->insertAnchor);
            if (anchor && anchor->st != RowData::St::Deleted)
                at = size_t(anchor->nat);
        }
        d->natural.insert(d->natural.begin() + qptrdiff(at), r);
        d->renumber(at);
        d->logChange(r);
    } else {
        r = d->editRow;
        bool changed = false;
        QVariant tmp;
        for (int i = 0; i < d->fields.size() && !changed; ++i)
            changed = !sameValue(d->value(r, i, tmp), d->buffer.at(i));
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
                r->original = d->rowValues(r);
                r->st = RowData::St::Modified;
                d->logChange(r);
            }
            r->values = d->buffer;
            r->packed = -1;
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
        if (d->mode == Impl::Mode::List && d->matches(r)) {
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
        d->forget(r);
    } else {
        if (r->st == RowData::St::Unchanged) {
            r->original = d->rowValues(r);
            r->values = r->original;
            r->packed = -1;
        }
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

} // namespace fw
