#include "server/fiscal/Soap.h"

#include "nfe/XmlTree.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <memory>

namespace srv::fiscal {

namespace xml = nfe::xml;

namespace {

using xml::children;
using xml::DocPtr;
using xml::find;
using xml::rawElements;

DocPtr parse(const QByteArray& text) { return xml::parse(text, true); }

QString childText(xmlNodePtr parent, const char* name) { return xml::childText(parent, name).trimmed(); }

} // namespace

QByteArray envelope(const QByteArray& service, const QByteArray& message)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap12:Envelope xmlns:soap12=\"http://www.w3.org/2003/05/"
           "soap-envelope\"><soap12:Body><nfeDadosMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/" +
           service + "\">" + message + "</nfeDadosMsg></soap12:Body></soap12:Envelope>";
}

QByteArray contentType(const QByteArray& service)
{
    const QByteArray operation =
        service == kRecepcaoEvento ? QByteArrayLiteral("nfeRecepcaoEvento") : QByteArrayLiteral("nfeConsultaNF");
    return "application/soap+xml; charset=utf-8; action=\"http://www.portalfiscal.inf.br/nfe/wsdl/" + service + "/" +
           operation + "\"";
}

QDateTime parseAuthorityTime(const QString& text)
{
    const QDateTime t = QDateTime::fromString(text, Qt::ISODate);
    // Without an offset the instant is unknown: the text names no clock.
    return t.isValid() && t.timeSpec() != Qt::LocalTime ? t : QDateTime();
}

BatchAnswer readBatchAnswer(const QByteArray& soap)
{
    BatchAnswer a;
    DocPtr doc = parse(soap);
    xmlNodePtr ret = doc ? find(xmlDocGetRootElement(doc.get()), "retEnvEvento") : nullptr;
    if (!ret)
        return a;
    a.readable = true;
    a.cStat = childText(ret, "cStat");
    a.xMotivo = childText(ret, "xMotivo");
    const QList<QByteArray> raw = rawElements(soap, QByteArrayLiteral("retEvento"));
    const QList<xmlNodePtr> events = children(ret, "retEvento");
    for (int i = 0; i < events.size(); ++i) {
        xmlNodePtr inf = find(events.at(i)->children, "infEvento");
        EventAnswer e;
        e.cStat = childText(inf, "cStat");
        e.xMotivo = childText(inf, "xMotivo");
        e.chNFe = childText(inf, "chNFe");
        e.tpEvento = childText(inf, "tpEvento");
        e.nSeqEvento = childText(inf, "nSeqEvento").toInt();
        e.nProt = childText(inf, "nProt");
        e.dhRegEvento = childText(inf, "dhRegEvento");
        e.bytes = raw.value(i);
        a.events << e;
    }
    return a;
}

QByteArray consSitNFe(const QString& tpAmb, const QString& chNFe)
{
    return "<consSitNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>" + tpAmb.toUtf8() +
           "</tpAmb><xServ>CONSULTAR</xServ><chNFe>" + chNFe.toUtf8() + "</chNFe></consSitNFe>";
}

ProtocolAnswer readProtocolAnswer(const QByteArray& soap)
{
    ProtocolAnswer a;
    DocPtr doc = parse(soap);
    xmlNodePtr ret = doc ? find(xmlDocGetRootElement(doc.get()), "retConsSitNFe") : nullptr;
    if (!ret)
        return a;
    a.readable = true;
    a.cStat = childText(ret, "cStat");
    a.xMotivo = childText(ret, "xMotivo");
    const QList<QByteArray> raw = rawElements(soap, QByteArrayLiteral("procEventoNFe"));
    const QList<xmlNodePtr> procs = children(ret, "procEventoNFe");
    for (int i = 0; i < procs.size(); ++i) {
        xmlNodePtr ev = find(procs.at(i)->children, "evento");
        xmlNodePtr inf = ev ? find(ev->children, "infEvento") : nullptr;
        xmlNodePtr retEv = find(procs.at(i)->children, "retEvento");
        xmlNodePtr infRet = retEv ? find(retEv->children, "infEvento") : nullptr;
        RegisteredEvent r;
        r.chNFe = childText(inf, "chNFe");
        r.tpEvento = childText(inf, "tpEvento");
        r.nSeqEvento = childText(inf, "nSeqEvento").toInt();
        r.cStat = childText(infRet, "cStat");
        r.xMotivo = childText(infRet, "xMotivo");
        r.nProt = childText(infRet, "nProt");
        r.dhRegEvento = childText(infRet, "dhRegEvento");
        r.procEvento = raw.value(i);
        a.events << r;
    }
    return a;
}

bool registryRead(const ProtocolAnswer& answer)
{
    bool number = false;
    const int code = answer.cStat.toInt(&number);
    return answer.readable && number && (code < 200 || code == 217);
}

} // namespace srv::fiscal
