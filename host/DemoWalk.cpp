#include "host/DemoWalk.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QWidget>
#include <functional>
#include <stdexcept>

#include "core/dataset/DataSet.h"
#include "core/errors/Dispatch.h"
#include "core/errors/Errors.h"
#include "core/values/Value.h"
#include "widgets/controls/Edits.h"
#include "widgets/services/ScriptedUiServices.h"

namespace host {

namespace {

// The walk's own failure: a step that could not be taken at all.
struct WalkFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

template <class T>
T* need(QObject* root, const char* name)
{
    T* o = root ? root->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    if (!o)
        throw WalkFailure(std::string("the screen has no ") + name);
    return o;
}

class Walk {
public:
    Walk(QWidget* main, QString* out, QString outDir) : m_main(main), m_out(out), m_outDir(std::move(outDir)) {}

    int run()
    {
        fw::ScriptedUiServices::Install installed(m_ui);
        try {
            open();
            filter();
            if (!writeLetter())
                return finish(1);
            mark();
            if (!transmit())
                return finish(1);
            email();
            print();
            return finish(0);
        } catch (const WalkFailure& e) {
            say(QStringLiteral("stopped: %1").arg(QString::fromUtf8(e.what())));
            return finish(1);
        } catch (const fw::Error& e) {
            say(QStringLiteral("stopped: %1").arg(e.message()));
            return finish(1);
        }
    }

private:
    void say(const QString& line) { *m_out += line + QLatin1Char('\n'); }
    int finish(int rc)
    {
        say(rc == 0 ? QStringLiteral("done.") : QStringLiteral("the walk did not reach its end."));
        return rc;
    }

    // Runs fn as the event loop would run a user's action; the messages it showed are told.
    bool act(const std::function<void()>& fn)
    {
        const int before = int(m_ui.messages().size());
        const bool ok = fw::dispatch(fn);
        for (int i = before; i < m_ui.messages().size(); ++i)
            say(QStringLiteral("    message: %1").arg(m_ui.messages().at(i).text.simplified()));
        QApplication::processEvents();
        return ok;
    }

    // Runs a handler by name as the event loop would; the messages it showed are told.
    bool invoke(QObject* target, const char* slot)
    {
        const int before = int(m_ui.messages().size());
        bool found = false;
        const bool ok = fw::dispatch(
            [&] { found = QMetaObject::invokeMethod(target, slot, Qt::DirectConnection, Q_ARG(QObject*, nullptr)); });
        if (!found && ok)
            throw WalkFailure(std::string("no handler ") + slot);
        for (int i = before; i < m_ui.messages().size(); ++i)
            say(QStringLiteral("    message: %1").arg(m_ui.messages().at(i).text.simplified()));
        QApplication::processEvents();
        return ok;
    }

    void open()
    {
        m_screen = need<QWidget>(m_main, "frmTransmissaoCCe");
        m_notas = need<fw::DataSet>(m_screen, "cdsNotaFiscal");
        m_cartas = need<fw::DataSet>(m_screen, "cdsCCe");
        say(QStringLiteral("1. The CC-e screen is open."));
    }

    void filter()
    {
        fw::TMaskEdit* empresa = need<fw::TMaskEdit>(m_screen, "medCdEmpresa");
        act([empresa] { empresa->setText(QStringLiteral("01")); });
        m_ui.expectModal([this](QWidget* dlg) {
            // Every departure date of the demo: its invoices fall in the months before today.
            need<fw::TDateEditPlus>(dlg, "depSaidIni")->SetDate(QDate::currentDate().addYears(-2));
            need<fw::TDateEditPlus>(dlg, "depSaidFim")->SetDate(QDate::currentDate().addDays(1));
            invoke(dlg, "sbtConfirmaClick");
        });
        invoke(m_screen, "sbtFiltroClick");
        if (!m_notas->active() || m_notas->isEmpty())
            throw WalkFailure("the filter listed no invoice");
        say(QStringLiteral("2. Filter confirmed for company 01: %1 invoices listed.").arg(m_notas->recordCount()));
    }

    QString nf(const char* field) const { return m_notas->fieldByName(QString::fromLatin1(field))->asString(); }

    // A new letter on the first homologation invoice without letters that takes one.
    bool writeLetter()
    {
        const QString text = QStringLiteral("Endereço do destinatário: Rua das Acácias, 120 - São José");
        invoke(m_screen, "mnuFormularioClick");
        for (m_notas->first(); !m_notas->eof(); m_notas->next()) {
            if (nf("IDSTATUSCCE") != QLatin1String("0") || nf("IDTPAMBNFE") != QLatin1String("2"))
                continue;
            const QString invoice = nf("NRNOTAFISCALELE");
            invoke(m_screen, "sbtIncluirClick");
            QPlainTextEdit* memo = need<QPlainTextEdit>(m_screen, "dbmCorrecao");
            act([memo, &text] { memo->setPlainText(text); });
            if (!invoke(m_screen, "sbtGravarClick")) {
                say(QStringLiteral("3. Invoice %1 takes no letter (the server refused it); the next one is tried.")
                        .arg(invoice));
                // The refused letter stays pending on the screen only: drop it before the next try.
                m_cartas->cancelUpdates();
                continue;
            }
            m_invoice = invoice;
            m_branch = nf("CDFILIAL");
            m_entry = nf("NRLANCTONF");
            say(QStringLiteral("3. Letter %1 written on invoice %2 (homologation) and saved: %3.")
                    .arg(nf("NRSEQCCE"), invoice, statusText(nf("IDSTATUSCCE"))));
            return true;
        }
        say(QStringLiteral("3. No homologation invoice without letters takes a new one."));
        return false;
    }

    static QString statusText(const QString& st)
    {
        if (st == QLatin1String("1"))
            return QStringLiteral("pending");
        if (st == QLatin1String("2"))
            return QStringLiteral("accepted");
        if (st == QLatin1String("3"))
            return QStringLiteral("rejected");
        return QStringLiteral("no letter");
    }

    void mark()
    {
        invoke(m_screen, "mnuFolhaDadosClick");
        invoke(m_screen, "dbgPadraoDblClick");
        say(QStringLiteral("4. Invoice %1 marked for transmission (%2).")
                .arg(m_invoice,
                     nf("IDCHECK") == QLatin1String("S") ? QStringLiteral("marked") : QStringLiteral("NOT marked")));
    }

    bool transmit()
    {
        m_ui.expectMessage(QString(), fw::mbYes); // the condition of use
        say(QStringLiteral("5. Transmission asked; the condition of use is confirmed."));
        invoke(m_screen, "sbtTransmiteClick");
        // Invoice numbers repeat across branches and series: the entry names it.
        for (m_notas->first(); !m_notas->eof(); m_notas->next())
            if (nf("CDFILIAL") == m_branch && nf("NRLANCTONF") == m_entry)
                break;
        say(QStringLiteral("6. After the refresh invoice %1's letter is %2 (status %3).")
                .arg(m_invoice, statusText(nf("IDSTATUSCCE")),
                     nf("CDSTATUSCCE").isEmpty() ? QStringLiteral("none") : nf("CDSTATUSCCE")));
        return nf("IDSTATUSCCE") == QLatin1String("2");
    }

    // Positions the list on the walk's invoice again (a refresh may have moved it).
    void locate()
    {
        for (m_notas->first(); !m_notas->eof(); m_notas->next())
            if (nf("CDFILIAL") == m_branch && nf("NRLANCTONF") == m_entry)
                return;
        throw WalkFailure("the walk's invoice left the list");
    }

    void email()
    {
        locate();
        say(QStringLiteral("7. The accepted letter is e-mailed to the recipient (E-mail > recipient):"));
        invoke(m_screen, "mnuEmailSelecClick");
        locate();
        say(QStringLiteral("   the letter's recipient e-mail is now %1.")
                .arg(nf("IDEMAILCCE") == QLatin1String("E") ? QStringLiteral("sent") : QStringLiteral("NOT sent")));
    }

    void print()
    {
        locate();
        const QString pdf = QDir(m_outDir).absoluteFilePath(QStringLiteral("demo-letter.pdf"));
        QFile::remove(pdf);
        bool saved = false;
        QString why;
        m_ui.expectModal([&](QWidget* form) {
            QMetaObject::invokeMethod(form, "savePdf", Qt::DirectConnection, Q_RETURN_ARG(bool, saved),
                                      Q_ARG(QString, pdf));
            QMetaObject::invokeMethod(form, "pdfError", Qt::DirectConnection, Q_RETURN_ARG(QString, why));
            form->close();
        });
        invoke(m_screen, "sbtImprimirClick");
        say(saved ? QStringLiteral("8. The letter printed to %1.").arg(pdf)
                  : QStringLiteral("8. The letter did not print: %1")
                        .arg(why.isEmpty() ? QStringLiteral("no report form opened") : why));
    }

    QWidget* m_main;
    QString* m_out;
    QString m_outDir;
    fw::ScriptedUiServices m_ui;
    QWidget* m_screen = nullptr;
    fw::DataSet* m_notas = nullptr;
    fw::DataSet* m_cartas = nullptr;
    QString m_invoice, m_branch, m_entry;
};

} // namespace

int walkOneLetter(QWidget* mainWindow, QString* out, const QString& outDir)
{
    return Walk(mainWindow, out, outDir).run();
}

} // namespace host
