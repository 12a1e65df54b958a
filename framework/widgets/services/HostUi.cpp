#include "widgets/services/HostUi.h"

#include <QApplication>
#include <QSet>
#include <QWidget>

#include "core/dataset/DataSet.h"
#include "core/ui/UiServices.h"

void ActiveShowAvi(QWidget* form, int kind, const QString& text) { fw::ui().showBusy(form, kind, text); }

void DeactiveShowAvi()
{
    if (fw::uiServicesInstalled())
        fw::ui().hideBusy();
}

void SetChildEnabled(QWidget* container, bool enabled)
{
    if (!container)
        return;
    for (QWidget* child : container->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        child->setEnabled(enabled);
}

bool PesquisaLista(fw::TDataSource* source, const QString& keyField, const QString& title, bool singleRow,
                   QString& selection)
{
    fw::DataSet* ds = source ? source->dataSet() : nullptr;
    if (!ds || !ds->active() || ds->isEmpty())
        return false;
    fw::Field* key = ds->fieldByName(keyField);
    QStringList fields;
    for (fw::Field* f : ds->fields())
        if (f->visible())
            fields << f->fieldName();

    const QStringList wanted = selection.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const QSet<QString> wantedSet(wanted.begin(), wanted.end());
    const int count = ds->recordCount();
    auto keyAt = [&](int viewRow) { return ds->valueAt(viewRow, key->index()).toString(); };

    if (singleRow) {
        // Start on the row already chosen, when there is one.
        if (!wanted.isEmpty())
            ds->locate(keyField, wanted.first());
        const int rec = fw::ui().pickList(title, ds, fields);
        if (rec <= 0 || rec > count)
            return false;
        if (ds->recNo() != rec)
            ds->setRecNo(rec);
        selection = keyAt(rec - 1);
        return true;
    }

    QList<int> preselected;
    for (int r = 0; r < count && !wantedSet.isEmpty(); ++r)
        if (wantedSet.contains(keyAt(r)))
            preselected << r + 1;
    QList<int> picked = fw::ui().pickMany(title, ds, fields, preselected);
    std::sort(picked.begin(), picked.end());
    picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
    QStringList keys;
    for (int rec : picked)
        if (rec >= 1 && rec <= count)
            keys << keyAt(rec - 1);
    if (keys.isEmpty())
        return false;
    ds->setRecNo(picked.first());
    selection = keys.join(QLatin1Char(';'));
    return true;
}

bool Procura(fw::DataSet* ds)
{
    if (!ds || !ds->active())
        return false;
    return fw::ui().search(ds, QApplication::activeWindow());
}
