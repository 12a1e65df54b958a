#pragma once
// Shared set-up of the widget tests: a small data set and the scripted UI installed.
#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

#include "core/dataset/DataSet.h"
#include "core/errors/Errors.h"
#include "widgets/services/ScriptedUiServices.h"

namespace wt {

// CODE (string 4, label "Código"), NAME (string 30, "Nome"), KIND (string 1, hidden).
// Rows: ("A001","Alfa","S"), ("B002","Beta","N"), ... count rows, names from the list.
inline fw::DataSet* makeDataSet(QObject* parent, int count = 5, const QString& name = QStringLiteral("cdsTeste"))
{
    auto* ds = new fw::DataSet(parent);
    ds->setObjectName(name);
    ds->addField({QStringLiteral("CODE"), fw::FieldType::String, 4}, QStringLiteral("Código"));
    ds->addField({QStringLiteral("NAME"), fw::FieldType::String, 30}, QStringLiteral("Nome"));
    ds->addField({QStringLiteral("KIND"), fw::FieldType::String, 1}, QString(), false);
    static const char* names[] = {"Alfa", "Beta", "Gama", "Delta", "Epsilon", "Zeta", "Eta", "Teta"};
    fw::DataPacket p;
    p.fields = ds->fieldDefs();
    for (int i = 0; i < count; ++i) {
        const QString code = QStringLiteral("%1%2").arg(QChar('A' + (i % 26))).arg(i + 1, 3, 10, QLatin1Char('0'));
        const QString nm = i < 8 ? QString::fromLatin1(names[i]) : QStringLiteral("Nome %1").arg(i + 1);
        p.rows.append(fw::Row{code, nm, i % 2 ? QStringLiteral("N") : QStringLiteral("S")});
    }
    ds->setData(p);
    return ds;
}

// Every test runs with the scripted UI installed and fails on anything nobody expected.
class UiTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(ui.unexpectedEvents().isEmpty()) << ui.report().toStdString(); }
    fw::ScriptedUiServices ui;
    fw::ScriptedUiServices::Install installed{ui};
};

// Shows a top-level window and makes it the active one, so that focus changes are real.
inline void showActive(QWidget* w)
{
    w->show();
    w->activateWindow();
    QApplication::setActiveWindow(w);
}

} // namespace wt
