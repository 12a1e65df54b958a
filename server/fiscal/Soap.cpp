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

DocPtr parse(const QByteArray& text) { return xml::parse(text, true); }

QString childText(xmlNodePtr parent, const char* name) { return xml::childText(parent, name).trimmed(); }

// The elements named name, as their exact bytes in document order (they do not nest).
QList<QByteArray> rawElements(const QByteArray& text, const QByteArray& name)
{
    QList<QByteArray> out;
    qsizetype from = 0;
    while (true) {
        qsizetype open = text.indexOf("<" + name, from);
        while (open >= 0) {
            const char after = open + 1 + name.size() < text.size() ? text.at(open + 1 + name.size()) : '\0';
            if (after == ' ' || after == '>' || after == '\t' || after == '\n' || after == '\r')
                break;
            open = text.indexOf("<" + name, open + 1);
        }
        if (open < 0)
            break;
        const QByteArray closing = "</" + name + ">";
        const qsizetype close = text.indexOf(closing, open);
        if (close < 0)
            break;
        out << text.mid(open, close + closing.size() - open);
        from = close + closing.size();
    }
    return out;
}

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

QDateTime parseAuthorityTime(const QString& text) { return QDateTime::fromString(text, Qt::ISODate); }

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
        e.dhRegEvento = parseAuthorityTime(childText(inf, "dhRegEvento"));
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
        r.dhRegEvento = parseAuthorityTime(childText(infRet, "dhRegEvento"));
        r.procEvento = raw.value(i);
        a.events << r;
    }
    return a;
}

} // namespace srv::fiscal
