#include "nfe/XmlTree.h"

#include <libxml/parser.h>

namespace nfe::xml {

namespace {
const xmlChar* x(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
} // namespace

DocPtr parse(const QByteArray& xml, bool large)
{
    const int options =
        XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOWARNING | XML_PARSE_NOERROR | (large ? XML_PARSE_HUGE : 0);
    return DocPtr(xmlReadMemory(xml.constData(), int(xml.size()), nullptr, "UTF-8", options), &xmlFreeDoc);
}

bool named(xmlNodePtr node, const char* name)
{
    return node && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, x(name));
}

xmlNodePtr firstChild(xmlNodePtr parent, const char* name)
{
    for (xmlNodePtr n = parent ? parent->children : nullptr; n; n = n->next)
        if (named(n, name))
            return n;
    return nullptr;
}

QList<xmlNodePtr> children(xmlNodePtr parent, const char* name)
{
    QList<xmlNodePtr> out;
    for (xmlNodePtr n = parent ? parent->children : nullptr; n; n = n->next)
        if (named(n, name))
            out << n;
    return out;
}

xmlNodePtr find(xmlNodePtr first, const char* name, const char* ns)
{
    for (xmlNodePtr n = first; n; n = n->next) {
        if (named(n, name) && (!ns || (n->ns && xmlStrEqual(n->ns->href, x(ns)))))
            return n;
        if (n->type == XML_ELEMENT_NODE)
            if (xmlNodePtr inner = find(n->children, name, ns))
                return inner;
    }
    return nullptr;
}

QString childText(xmlNodePtr parent, const char* name)
{
    xmlNodePtr n = firstChild(parent, name);
    if (!n)
        return QString();
    xmlChar* c = xmlNodeGetContent(n);
    const QString s = QString::fromUtf8(reinterpret_cast<const char*>(c));
    xmlFree(c);
    return s;
}

QByteArray dump(xmlNodePtr node)
{
    std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buf(xmlBufferCreate(), &xmlBufferFree);
    xmlNodeDump(buf.get(), node->doc, node, 0, 0);
    return QByteArray(reinterpret_cast<const char*>(xmlBufferContent(buf.get())), xmlBufferLength(buf.get()));
}

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

} // namespace nfe::xml
