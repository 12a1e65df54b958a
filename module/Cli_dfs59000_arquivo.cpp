// CC-e screen: the XML of the invoice's batch that failed the schema check or was
// rejected, written to a text file where the user keeps files and shown for reading; and
// the print of the invoice's letters.
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

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
    const QString cdFilial = cdsNotaFiscalCDFILIAL->asString();
    const QVariant result = AppServer::getXmlEnvLote(*netTransmissao, cdFilial, cdsNotaFiscalNRLANCTONF->asString());
    cdsValdXMLSchema->setDataVariant(CheckResultServ(result, true, 0));
    cdsValdXMLSchema->first();

    // The name comes from the server: it may only name a plain file here.
    if (cdsValdXMLSchema->isEmpty() || cdsValdXMLSchemaNRLANCTONF->asString().isEmpty())
        MensErro(msgPadrao->Msg(QStringLiteral("XML_SEM_LANCTO")), true);
    const QString nrLancto = cdsValdXMLSchemaNRLANCTONF->asString();
    if (!isPlainName(nrLancto) || !isPlainName(cdFilial))
        MensErro(msgPadrao->Msg(QStringLiteral("XML_NOME_INVALIDO")), true);
    const QString xml = cdsValdXMLSchemaDSARQXMLNFE->asString();

    // Where the user finds it again: the host's folder for files, else the documents
    // folder; one folder a branch, since entry numbers repeat across branches.
    QString base = fw::hostContext().filesFolder;
    if (base.isEmpty())
        base =
            QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(QStringLiteral("CC-e"));
    const QString fileName = QDir(QDir(base).filePath(cdFilial)).filePath(nrLancto + QStringLiteral(".txt"));
    const QString written = gravaXml(fileName, xml);
    // Read where the desktop opens it, else here, with what the authority said.
    if (!written.isEmpty() && fw::ui().openFile(QStringLiteral("notepad.exe"), written))
        return;
    fw::ui().showText(sbtArquivoXml->toolTip(), cabecalhoXml(written.isEmpty() ? fileName : written),
                      xml + QLatin1Char('\n'), written.isEmpty() ? fileName : written);
}

QString TfrmTransmissaoCCe::gravaXml(const QString& fileName, const QString& xml)
{
    const QFileInfo existing(fileName);
    // A link would send the text elsewhere; a folder cannot take it.
    if (existing.isSymLink() || (existing.exists() && !existing.isFile())) {
        MensErro(withValue(msgPadrao->Msg(QStringLiteral("XML_ARQ_INVALIDO")), fileName), false);
        return QString();
    }
    // Written whole or not at all: a failure leaves an earlier copy as it was.
    QSaveFile file(fileName);
    const QByteArray text = (xml + QLatin1Char('\n')).toUtf8();
    if (!QDir().mkpath(existing.absolutePath()) || !file.open(QIODevice::WriteOnly | QIODevice::Text) ||
        file.write(text) != text.size() || !file.commit()) {
        const QString why = file.errorString().isEmpty() ? QStringLiteral("pasta inacessível") : file.errorString();
        MensErro(withValue(withValue(msgPadrao->Msg(QStringLiteral("XML_ERRO_GRAVACAO")), fileName), why), false);
        return QString();
    }
    return existing.absoluteFilePath();
}

QString TfrmTransmissaoCCe::cabecalhoXml(const QString& fileName) const
{
    // The latest letter's observation holds the authority's reason.
    QString obs;
    const QString seq = cdsNotaFiscalNRSEQCCE->asString();
    const int seqCol = cdsCCeNRSEQCCE->index(), obsCol = cdsCCeDSOBSSTATUSCCE->index();
    for (int row = 0, n = cdsCCe->active() ? cdsCCe->recordCount() : 0; row < n; ++row)
        if (cdsCCe->valueAt(row, seqCol).toString() == seq)
            obs = cdsCCe->valueAt(row, obsCol).toString();
    const QString tipo = cdsValdXMLSchemaIDTIPOARQXML->asString() == QLatin1String("S")
                             ? msgPadrao->Msg(QStringLiteral("XML_FALHA_SCHEMA"))
                             : msgPadrao->Msg(QStringLiteral("XML_REJEITADO"));
    return QStringLiteral("NF %1 (%2/%3), CC-e %4: %5\n%6\n%7")
        .arg(cdsNotaFiscalNRNOTAFISCALELE->asString(), cdsNotaFiscalCDFILIAL->asString(),
             cdsNotaFiscalNRLANCTONF->asString(), seq, tipo, obs,
             withValue(msgPadrao->Msg(QStringLiteral("XML_ARQUIVO")), fileName));
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
