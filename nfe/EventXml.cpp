#include "nfe/EventXml.h"

#include <libxml/tree.h>
#include <memory>

namespace nfe {

namespace {

const xmlChar* x(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

xmlNodePtr child(xmlNodePtr parent, const char* name, const QString& text)
{
    // xmlNewTextChild escapes the text.
    return xmlNewTextChild(parent, nullptr, x(name), x(text.toUtf8().constData()));
}

QByteArray dump(xmlNodePtr node)
{
    std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buf(xmlBufferCreate(), &xmlBufferFree);
    xmlNodeDump(buf.get(), node->doc, node, 0, 0);
    return QByteArray(reinterpret_cast<const char*>(xmlBufferContent(buf.get())), xmlBufferLength(buf.get()));
}

} // namespace

QString eventId(const QString& chNFe, int nSeqEvento)
{
    return QStringLiteral("ID") + kTipoEventoCCe + chNFe +
           QStringLiteral("%1").arg(nSeqEvento, 2, 10, QLatin1Char('0'));
}

QByteArray buildEvento(const CceEvent& e)
{
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(xmlNewDoc(x("1.0")), &xmlFreeDoc);
    xmlNodePtr evento = xmlNewNode(nullptr, x("evento"));
    xmlDocSetRootElement(doc.get(), evento);
    xmlNsPtr ns = xmlNewNs(evento, x(kNamespace.constData()), nullptr);
    xmlSetNs(evento, ns);
    xmlNewProp(evento, x("versao"), x("1.00"));

    xmlNodePtr inf = xmlNewChild(evento, ns, x("infEvento"), nullptr);
    xmlNewProp(inf, x("Id"), x(eventId(e.chNFe, e.nSeqEvento).toUtf8().constData()));
    child(inf, "cOrgao", QString::number(e.cOrgao));
    child(inf, "tpAmb", QString::number(e.tpAmb));
    if (!e.cnpj.isEmpty())
        child(inf, "CNPJ", e.cnpj);
    else
        child(inf, "CPF", e.cpf);
    child(inf, "chNFe", e.chNFe);
    child(inf, "dhEvento", e.dhEvento);
    child(inf, "tpEvento", kTipoEventoCCe);
    child(inf, "nSeqEvento", QString::number(e.nSeqEvento));
    child(inf, "verEvento", QStringLiteral("1.00"));
    xmlNodePtr det = xmlNewChild(inf, ns, x("detEvento"), nullptr);
    xmlNewProp(det, x("versao"), x("1.00"));
    child(det, "descEvento", QStringLiteral("Carta de Correcao"));
    child(det, "xCorrecao", e.xCorrecao);
    child(det, "xCondUso", e.xCondUso);
    return dump(evento);
}

QByteArray buildEnvEvento(qint64 idLote, const QList<QByteArray>& signedEventos)
{
    QByteArray out;
    qsizetype size = 128;
    for (const QByteArray& e : signedEventos)
        size += e.size();
    out.reserve(size);
    out +=
        "<envEvento xmlns=\"" + kNamespace + "\" versao=\"1.00\"><idLote>" + QByteArray::number(idLote) + "</idLote>";
    for (const QByteArray& e : signedEventos)
        out += e;
    out += "</envEvento>";
    return out;
}

} // namespace nfe
