// The data source and what it is told of its data set's states and data.
#include "core/dataset/DataSet.h"
#include "core/dataset/DataSet_p.h"

namespace fw {

void DataSet::Impl::sourcesData(Field* f)
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
void DataSet::Impl::sourcesState()
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
