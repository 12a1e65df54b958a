#include "nfe/HeldKeySignature.h"

#include "nfe/XmlTree.h"

#include <QCryptographicHash>
#include <libxml/c14n.h>
#include <libxml/xmlIO.h>

namespace nfe {

namespace {

bool within(xmlNodePtr node, xmlNodePtr top)
{
    for (; node; node = node->parent)
        if (node == top)
            return true;
    return false;
}

// The node set of "#Id" (and of SignedInfo): the element, its attributes, the namespaces in
// scope on each of its elements and every descendant but comments.
int visible(void* top, xmlNodePtr node, xmlNodePtr parent)
{
    auto* root = static_cast<xmlNodePtr>(top);
    if (node->type == XML_NAMESPACE_DECL || node->type == XML_ATTRIBUTE_NODE)
        return within(parent, root) ? 1 : 0;
    return node->type != XML_COMMENT_NODE && within(node, root) ? 1 : 0;
}

// C14N 1.0 without comments of the subtree at top, in its document's context.
QByteArray canonical(xmlNodePtr top)
{
    xmlOutputBufferPtr out = xmlAllocOutputBuffer(nullptr);
    if (!out)
        return {};
    const int rc = xmlC14NExecute(top->doc, visible, top, XML_C14N_1_0, nullptr, 0, out);
    QByteArray bytes;
    if (rc >= 0)
        bytes = QByteArray(reinterpret_cast<const char*>(xmlOutputBufferGetContent(out)),
                           qsizetype(xmlOutputBufferGetSize(out)));
    xmlOutputBufferClose(out);
    return bytes;
}

void setText(xmlNodePtr node, const QByteArray& text)
{
    xmlNodeSetContent(node, reinterpret_cast<const xmlChar*>(text.constData()));
}

} // namespace

bool completeSignature(xmlNodePtr sig, xmlNodePtr referenced, const HeldKey& key, QString* error)
{
    xmlNodePtr signedInfo = xml::firstChild(sig, "SignedInfo");
    xmlNodePtr digest = xml::firstChild(xml::firstChild(signedInfo, "Reference"), "DigestValue");
    xmlNodePtr value = xml::firstChild(sig, "SignatureValue");
    if (!digest || !value) {
        *error = QStringLiteral("O modelo da assinatura está incompleto.");
        return false;
    }
    // The signature is a sibling of the referenced element: the enveloped-signature transform
    // takes nothing out of it.
    const QByteArray content = canonical(referenced);
    if (content.isEmpty()) {
        *error = QStringLiteral("O evento não pôde ser canonicalizado para a assinatura.");
        return false;
    }
    setText(digest, QCryptographicHash::hash(content, QCryptographicHash::Sha1).toBase64());
    const QByteArray info = canonical(signedInfo);
    const QByteArray signature = info.isEmpty() ? QByteArray() : key(info, error);
    if (signature.isEmpty()) {
        if (error->isEmpty())
            *error = QStringLiteral("O evento não pôde ser assinado com o certificado digital.");
        return false;
    }
    setText(value, signature.toBase64());
    return true;
}

} // namespace nfe
