// CC-e screen: the XML of the invoice's batch that failed the schema check or was
// rejected, written to a text file for reading; and the print of the invoice's letters.
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59300.h"

namespace {

// Names Windows keeps for its devices, whatever the extension.
bool isDeviceName(const QString& name)
{
    static const QRegularExpression devices(QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return devices.match(name).hasMatch();
}

// The entry number names a file of the current directory: letters, digits, '-' and '_'
// only, so no path, no "..", no control character and no device can come of it.
bool isPlainName(const QString& name)
{
    if (name.isEmpty() || name.size() > 64 || isDeviceName(name))
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok =
            (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || u == u'-' || u == u'_';
        if (!ok)
            return false;
    }
    return true;
}

QString withValue(QString text, const QString& value)
{
    const int at = text.indexOf(QLatin1String("%s"));
    return at < 0 ? text : text.replace(at, 2, value);
}

} // namespace

void TfrmTransmissaoCCe::sbtArquivoXmlClick(QObject*)
{
    const QVariant result = AppServer::getXmlEnvLote(*netTransmissao, cdsNotaFiscalCDFILIAL->asString(),
                                                     cdsNotaFiscalNRLANCTONF->asString());
    cdsValdXMLSchema->setDataVariant(CheckResultServ(result, true, 0));
    cdsValdXMLSchema->first();

    // The name comes from the server: it may only name a plain file here.
    if (cdsValdXMLSchema->isEmpty() || cdsValdXMLSchemaNRLANCTONF->asString().isEmpty())
        MensErro(msgPadrao->Msg(QStringLiteral("XML_SEM_LANCTO")), true);
    const QString nrLancto = cdsValdXMLSchemaNRLANCTONF->asString();
    if (!isPlainName(nrLancto))
        MensErro(msgPadrao->Msg(QStringLiteral("XML_NOME_INVALIDO")), true);
    const QString fileName = nrLancto + QStringLiteral(".txt");
    const QFileInfo existing(fileName);
    // A link would send the text elsewhere; a folder cannot take it.
    if (existing.isSymLink() || (existing.exists() && !existing.isFile()))
        MensErro(withValue(msgPadrao->Msg(QStringLiteral("XML_ARQ_INVALIDO")), fileName), true);

    // Written whole or not at all: a failure leaves an earlier copy as it was.
    QSaveFile file(fileName);
    const QByteArray text = (cdsValdXMLSchemaDSARQXMLNFE->asString() + QLatin1Char('\n')).toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(text) != text.size() || !file.commit())
        throw fw::Error(
            withValue(withValue(msgPadrao->Msg(QStringLiteral("XML_ERRO_GRAVACAO")), fileName), file.errorString()));
    // Whether the viewer started is not the screen's business.
    fw::ui().openFile(QStringLiteral("notepad.exe"), fileName);
}

void TfrmTransmissaoCCe::sbtImprimirClick(QObject*)
{
    // The "Correção" page shows the current invoice's letters again however printing ends.
    struct FilterBack {
        fw::DataSet* ds;
        QString filter;
        bool filtered;
        ~FilterBack()
        {
            try {
                ds->setFiltered(false);
                ds->setFilter(filter);
                ds->setFiltered(filtered);
            } catch (...) {
                // The filter was valid when it was taken; nothing to report on the way out.
            }
        }
    } back{cdsCCe, cdsCCe->filter(), cdsCCe->filtered()};

    cdsCCe->setFiltered(false);
    cdsCCe->setFilter(QStringLiteral("CDFILIAL = ") + filterLiteral(cdsNotaFiscalCDFILIAL->asString()) +
                      QStringLiteral("AND NRLANCTONF = ") + filterLiteral(cdsNotaFiscalNRLANCTONF->asString()));
    cdsCCe->setFiltered(true);
    if (cdsCCe->recordCount() > 1 &&
        msgPadrao->ShowMsg(QStringLiteral("MCorr_Vinc"), fw::MsgKind::Confirmation, fw::mbYes | fw::mbNo) != fw::mbYes)
        throw fw::Abort();
    CriaCCe(cdsCCeCDFILIAL->asString(), cdsCCeNRLANCTONF->asString());
}
