#include "widgets/controls/TBtnPesquisa.h"

#include "core/host/HostFunctions.h"
#include "core/ui/UiServices.h"

namespace fw {

TBtnPesquisa::TBtnPesquisa(QWidget* parent, const QString& name)
    : TSpeedButton(parent, name, QStringLiteral("Pesquisar"))
{
    setText(QStringLiteral("…"));
}

void TBtnPesquisa::setDataSource(TDataSource* ds) { m_dataSource = ds; }

bool TBtnPesquisa::Pesquisa()
{
    bool cancel = false;
    if (OnBeforePesq)
        OnBeforePesq(this, cancel);
    if (cancel)
        return false;
    DataSet* ds = m_dataSource ? m_dataSource->dataSet() : nullptr;
    if (!ds || !ds->active() || ds->isEmpty())
        MensErro(EmptyError.isEmpty() ? QStringLiteral("Não há registros para pesquisar.") : EmptyError, true);
    QStringList fields;
    for (Field* f : ds->fields())
        if (f->visible())
            fields << f->fieldName();
    const int rec = ui().pickList(Title, ds, fields);
    const bool picked = rec > 0 && rec <= ds->recordCount();
    if (picked) {
        if (ds->recNo() != rec)
            ds->setRecNo(rec);
        if (OnAfterPesq)
            OnAfterPesq(this);
    }
    if (m_associate && m_associate->isEnabled() && m_associate->isVisible())
        moveFocus(m_associate);
    return picked;
}

void TBtnPesquisa::doClick()
{
    if (OnClick)
        OnClick(this);
    else
        Pesquisa();
}

} // namespace fw
