#pragma once
// The lookup button: lists the rows of a data source for the user to pick one.
//
// Click: OnBeforePesq (may cancel, may open the query); an empty (or closed) data set
// shows EmptyError through MensErro with abort; otherwise a pick list (UI services) of
// the data set's visible fields, under their labels, titled Title. On a pick the data
// set is positioned on the row and OnAfterPesq runs. In every case but an abort the
// focus then goes to Associate (through fw::moveFocus).
#include <QPointer>

#include "core/dataset/DataSet.h"
#include "widgets/controls/StdCtrls.h"

#include "widgets/WidgetsExport.h"

namespace fw {

class DataSet;
class TDataSource;

class FW_WIDGETS_EXPORT TBtnPesquisa : public TSpeedButton {
    Q_OBJECT
public:
    explicit TBtnPesquisa(QWidget* parent = nullptr, const QString& name = {});

    QString Title;
    QString EmptyError;
    TDataSource* DataSource() const { return m_dataSource; }
    void setDataSource(TDataSource* ds);
    QWidget* Associate() const { return m_associate; }
    void setAssociate(QWidget* w) { m_associate = w; }

    std::function<void(QObject* sender, bool& cancel)> OnBeforePesq;
    TNotifyEvent OnAfterPesq;

    // The lookup itself (what a click does when no OnClick replaces it); exceptions,
    // the silent abort included, reach the caller. Returns whether a row was picked.
    bool Pesquisa();

protected:
    void doClick() override; // OnClick when set (the screen handles the click), else Pesquisa()

private:
    QPointer<TDataSource> m_dataSource;
    QPointer<QWidget> m_associate;
};

} // namespace fw
