#include "nfe/EventFacts.h"

#include "nfe/XmlTree.h"

#include <functional>

namespace nfe {

namespace {

QByteArray withoutBlanks(const QString& s)
{
    QByteArray out;
    for (const QChar c : s)
        if (!c.isSpace())
            out.append(char(c.toLatin1()));
    return out;
}

QString text(xmlNodePtr parent, const char* name) { return xml::childText(parent, name).trimmed(); }

} // namespace

QList<EventFacts> readEvents(const QByteArray& xml)
{
    QList<EventFacts> out;
    xml::DocPtr doc = xml::parse(xml, true);
    if (!doc)
        return out;
    const QList<QByteArray> raw = xml::rawElements(xml, QByteArrayLiteral("evento"));
    // Document order: each evento, wherever it stands (a batch, an answer, alone).
    QList<xmlNodePtr> found;
    std::function<void(xmlNodePtr)> walk = [&](xmlNodePtr n) {
        for (; n; n = n->next) {
            if (xml::named(n, "evento"))
                found << n;
            else if (n->type == XML_ELEMENT_NODE)
                walk(n->children);
        }
    };
    walk(xmlDocGetRootElement(doc.get()));
    for (int i = 0; i < found.size(); ++i) {
        xmlNodePtr inf = xml::firstChild(found.at(i), "infEvento");
        EventFacts f;
        if (inf) {
            xmlChar* id = xmlGetProp(inf, reinterpret_cast<const xmlChar*>("Id"));
            f.id = QString::fromUtf8(reinterpret_cast<const char*>(id));
            xmlFree(id);
            f.chNFe = text(inf, "chNFe");
            f.tpEvento = text(inf, "tpEvento");
            f.nSeqEvento = text(inf, "nSeqEvento").toInt();
            f.author = text(inf, "CNPJ").isEmpty() ? text(inf, "CPF") : text(inf, "CNPJ");
            f.dhEvento = text(inf, "dhEvento");
            f.xCorrecao = xml::childText(xml::firstChild(inf, "detEvento"), "xCorrecao");
        }
        xmlNodePtr sig = xml::firstChild(found.at(i), "Signature");
        xmlNodePtr ref = xml::firstChild(xml::firstChild(sig, "SignedInfo"), "Reference");
        f.digest = withoutBlanks(xml::childText(ref, "DigestValue"));
        f.signature = withoutBlanks(xml::childText(sig, "SignatureValue"));
        f.bytes = raw.size() == found.size() ? raw.at(i) : xml::dump(found.at(i));
        out << f;
    }
    return out;
}

bool sameSignedEvent(const EventFacts& a, const EventFacts& b)
{
    return !a.signature.isEmpty() && !a.digest.isEmpty() && a.signature == b.signature && a.digest == b.digest;
}

} // namespace nfe
