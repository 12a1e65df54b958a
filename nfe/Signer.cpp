#include "nfe/Signer.h"

#include "nfe/HeldKeySignature.h"
#include "nfe/Pkcs12.h"
#include "nfe/XmlTree.h"

#include <QList>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <mutex>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <xmlsec/base64.h>
#include <xmlsec/crypto.h>
#include <xmlsec/errors.h>
#include <xmlsec/templates.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/xmltree.h>

namespace nfe {

namespace {

const xmlChar* x(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
constexpr const char* kDsig = "http://www.w3.org/2000/09/xmldsig#";

bool g_ready = false;

// xmlsec and its OpenSSL back end, once per process.
bool ensureXmlSec()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        if (xmlSecInit() < 0 || xmlSecCheckVersion() != 1 || xmlSecCryptoAppInit(nullptr) < 0 || xmlSecCryptoInit() < 0)
            return;
        // Base64 on one line: the authority reads the values as they are.
        xmlSecBase64SetDefaultLineSize(0);
        // Failures come back as results with a Portuguese reason; the library's own lines would only be noise.
        xmlSecErrorsSetCallback([](const char*, int, const char*, const char*, const char*, int, const char*) {});
        g_ready = true;
    });
    return g_ready;
}

QDateTime fromAsn1(const ASN1_TIME* t)
{
    struct tm tm {};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1)
        return QDateTime();
    return QDateTime(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday), QTime(tm.tm_hour, tm.tm_min, tm.tm_sec),
                     Qt::UTC);
}

QString digitsOnly(const QString& s)
{
    QString out;
    for (const QChar c : s)
        if (c.isDigit())
            out.append(c);
    return out;
}

// ICP-Brasil puts the holder's CNPJ in an otherName of the alternative names.
QString cnpjFromAltNames(X509* cert)
{
    QString found;
    auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    if (!names)
        return found;
    ASN1_OBJECT* oid = OBJ_txt2obj("2.16.76.1.3.3", 1);
    for (int i = 0; i < sk_GENERAL_NAME_num(names) && found.isEmpty(); ++i) {
        GENERAL_NAME* gn = sk_GENERAL_NAME_value(names, i);
        if (gn->type != GEN_OTHERNAME || OBJ_cmp(gn->d.otherName->type_id, oid) != 0)
            continue;
        const ASN1_TYPE* v = gn->d.otherName->value;
        if (v && (v->type == V_ASN1_OCTET_STRING || v->type == V_ASN1_PRINTABLESTRING || v->type == V_ASN1_UTF8STRING ||
                  v->type == V_ASN1_IA5STRING))
            found = digitsOnly(
                QString::fromLatin1(reinterpret_cast<const char*>(ASN1_STRING_get0_data(v->value.asn1_string)),
                                    ASN1_STRING_length(v->value.asn1_string)));
    }
    ASN1_OBJECT_free(oid);
    GENERAL_NAMES_free(names);
    return found.size() == 14 ? found : QString();
}

QString commonName(X509* cert)
{
    char buf[512] = {0};
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, buf, sizeof buf - 1);
    return QString::fromUtf8(buf);
}

// The holder's CNPJ: the ICP-Brasil alternative name, else the digits after the common name's last ":".
QString holderCnpj(X509* cert)
{
    QString cnpj = cnpjFromAltNames(cert);
    if (cnpj.isEmpty()) {
        const QString tail = digitsOnly(commonName(cert).section(QLatin1Char(':'), -1));
        cnpj = tail.size() == 14 ? tail : QString();
    }
    return cnpj;
}

QString holderCnpjFromDer(const QByteArray& der)
{
    const auto* p = reinterpret_cast<const unsigned char*>(der.constData());
    X509* cert = d2i_X509(nullptr, &p, long(der.size()));
    const QString cnpj = cert ? holderCnpj(cert) : QString();
    X509_free(cert);
    ERR_clear_error();
    return cnpj;
}

using xml::DocPtr;

DocPtr parse(const QByteArray& text) { return xml::parse(text); }

xmlNodePtr firstElement(xmlNodePtr parent, const char* name) { return xml::firstChild(parent, name); }

// Registers infEvento's Id as an XML ID, so "#Id" resolves to it.
bool registerId(xmlDocPtr doc, xmlNodePtr infEvento)
{
    xmlAttrPtr attr = xmlHasProp(infEvento, x("Id"));
    if (!attr)
        return false;
    xmlChar* id = xmlNodeListGetString(doc, attr->children, 1);
    if (!id)
        return false;
    if (!xmlGetID(doc, id))
        xmlAddID(nullptr, doc, id, attr);
    xmlFree(id);
    return true;
}

QByteArray attribute(xmlNodePtr node, const char* name)
{
    xmlChar* v = node ? xmlGetProp(node, x(name)) : nullptr;
    const QByteArray out = v ? QByteArray(reinterpret_cast<const char*>(v)) : QByteArray();
    xmlFree(v);
    return out;
}

// The one form the standard accepts: C14N 1.0 and RSA-SHA1 in SignedInfo, one reference with
// enveloped-signature then C14N 1.0 and a SHA-1 digest, one X509Certificate.
bool standardForm(xmlNodePtr sig)
{
    static const QByteArray c14n = QByteArrayLiteral("http://www.w3.org/TR/2001/REC-xml-c14n-20010315");
    xmlNodePtr signedInfo = firstElement(sig, "SignedInfo");
    if (!signedInfo || xml::children(signedInfo, "Reference").size() != 1)
        return false;
    if (attribute(firstElement(signedInfo, "CanonicalizationMethod"), "Algorithm") != c14n ||
        attribute(firstElement(signedInfo, "SignatureMethod"), "Algorithm") !=
            QByteArrayLiteral("http://www.w3.org/2000/09/xmldsig#rsa-sha1"))
        return false;
    xmlNodePtr ref = firstElement(signedInfo, "Reference");
    if (attribute(firstElement(ref, "DigestMethod"), "Algorithm") !=
        QByteArrayLiteral("http://www.w3.org/2000/09/xmldsig#sha1"))
        return false;
    QList<QByteArray> transforms;
    for (xmlNodePtr t = firstElement(ref, "Transforms") ? firstElement(ref, "Transforms")->children : nullptr; t;
         t = t->next)
        if (t->type == XML_ELEMENT_NODE)
            transforms << attribute(t, "Algorithm");
    if (transforms !=
        QList<QByteArray>{QByteArrayLiteral("http://www.w3.org/2000/09/xmldsig#enveloped-signature"), c14n})
        return false;
    xmlNodePtr x509 = firstElement(firstElement(sig, "KeyInfo"), "X509Data");
    return xml::children(x509, "X509Certificate").size() == 1;
}

void dropBlanks(xmlNodePtr node)
{
    for (xmlNodePtr c = node->children; c;) {
        xmlNodePtr next = c->next;
        if (c->type == XML_TEXT_NODE && xmlIsBlankNode(c)) {
            xmlUnlinkNode(c);
            xmlFreeNode(c);
        } else if (c->type == XML_ELEMENT_NODE) {
            dropBlanks(c);
        }
        c = next;
    }
}

} // namespace

struct Certificate::Impl {
    xmlSecKeyPtr key = nullptr; // with the certificate; duplicated for each signature
    HeldKey held; // or the key kept elsewhere
    ~Impl()
    {
        if (key)
            xmlSecKeyDestroy(key);
    }
};

Certificate::Certificate() : m_impl(std::make_unique<Impl>()) {}
Certificate::~Certificate() = default;

std::shared_ptr<const Certificate> Certificate::fromPkcs12(const QByteArray& pkcs12, const QString& password,
                                                           QString* error, const QString& name)
{
    const QString who =
        name.isEmpty() ? QStringLiteral("O certificado digital") : QStringLiteral("O certificado digital %1").arg(name);
    if (!ensureXmlSec()) {
        *error = QStringLiteral("A biblioteca de assinatura digital não pôde ser iniciada.");
        return nullptr;
    }
    Pkcs12 file;
    QString reason;
    if (!readPkcs12(pkcs12, password, &file, &reason)) {
        *error = QStringLiteral("%1 não pôde ser lido: %2.").arg(who, reason);
        return nullptr;
    }
    std::shared_ptr<Certificate> cert(new Certificate);
    if (!cert->readLeaf(file.leaf)) {
        *error = QStringLiteral("%1 não pôde ser lido: certificado do titular ilegível.").arg(who);
        return nullptr;
    }
    cert->m_chain = file.chain;
    cert->m_pkcs12 = file.modern;
    cert->m_legacy = file.legacy;

    const QByteArray pwd = password.toUtf8();
    cert->m_impl->key =
        xmlSecCryptoAppPkcs12LoadMemory(reinterpret_cast<const xmlSecByte*>(file.modern.constData()),
                                        static_cast<xmlSecSize>(file.modern.size()), pwd.constData(), nullptr, nullptr);
    if (!cert->m_impl->key) {
        *error = QStringLiteral("%1 não pôde ser lido: a chave privada não pôde ser carregada.").arg(who);
        return nullptr;
    }
    return cert;
}

std::shared_ptr<const Certificate> Certificate::withHeldKey(const QByteArray& der, const QList<QByteArray>& chain,
                                                            HeldKey key, QString* error)
{
    if (!ensureXmlSec()) {
        *error = QStringLiteral("A biblioteca de assinatura digital não pôde ser iniciada.");
        return nullptr;
    }
    std::shared_ptr<Certificate> cert(new Certificate);
    if (!cert->readLeaf(der)) {
        *error = QStringLiteral("O certificado digital não pôde ser lido: certificado do titular ilegível.");
        return nullptr;
    }
    cert->m_chain = chain;
    cert->m_impl->held = std::move(key);
    return cert;
}

bool Certificate::readLeaf(const QByteArray& der)
{
    const auto* p = reinterpret_cast<const unsigned char*>(der.constData());
    X509* leaf = d2i_X509(nullptr, &p, long(der.size()));
    ERR_clear_error();
    if (!leaf)
        return false;
    m_subject = commonName(leaf);
    m_cnpj = holderCnpj(leaf);
    m_notBefore = fromAsn1(X509_get0_notBefore(leaf));
    m_notAfter = fromAsn1(X509_get0_notAfter(leaf));
    BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(leaf), nullptr);
    char* hex = serial ? BN_bn2hex(serial) : nullptr;
    m_serial = hex ? QString::fromLatin1(hex) : QString();
    OPENSSL_free(hex);
    BN_free(serial);
    X509_free(leaf);
    m_der = der;
    return true;
}

QByteArray signEvento(const QByteArray& evento, const Certificate& certificate, QString* error)
{
    if (!ensureXmlSec()) {
        *error = QStringLiteral("A biblioteca de assinatura digital não pôde ser iniciada.");
        return {};
    }
    DocPtr doc = parse(evento);
    xmlNodePtr root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    xmlNodePtr inf = firstElement(root, "infEvento");
    if (!inf || !registerId(doc.get(), inf)) {
        *error = QStringLiteral("O evento a assinar não tem infEvento com Id.");
        return {};
    }
    xmlChar* idValue = xmlGetProp(inf, x("Id"));
    const QByteArray uri = QByteArray("#") + reinterpret_cast<const char*>(idValue);
    xmlFree(idValue);

    xmlNodePtr sig = xmlSecTmplSignatureCreate(doc.get(), xmlSecTransformInclC14NId, xmlSecTransformRsaSha1Id, nullptr);
    xmlAddChild(root, sig); // after infEvento
    xmlNodePtr ref = xmlSecTmplSignatureAddReference(sig, xmlSecTransformSha1Id, nullptr, x(uri.constData()), nullptr);
    xmlSecTmplReferenceAddTransform(ref, xmlSecTransformEnvelopedId);
    xmlSecTmplReferenceAddTransform(ref, xmlSecTransformInclC14NId);
    dropBlanks(sig); // what is signed is exactly what travels

    if (certificate.impl().held) {
        if (!completeSignature(sig, inf, certificate.impl().held, error))
            return {};
    } else {
        xmlSecDSigCtxPtr ctx = xmlSecDSigCtxCreate(nullptr);
        ctx->signKey = xmlSecKeyDuplicate(certificate.impl().key);
        const int rc = ctx->signKey ? xmlSecDSigCtxSign(ctx, sig) : -1;
        xmlSecDSigCtxDestroy(ctx);
        if (rc < 0) {
            *error = QStringLiteral("O evento não pôde ser assinado com o certificado digital.");
            return {};
        }
    }
    // The signer's certificate alone, whatever chain the file holds; the key info is not signed.
    xmlNsPtr dsig = xmlSearchNsByHref(doc.get(), sig, x(kDsig));
    xmlNodePtr keyInfo = xmlNewChild(sig, dsig, x("KeyInfo"), nullptr);
    xmlNodePtr x509 = xmlNewChild(keyInfo, dsig, x("X509Data"), nullptr);
    xmlNewChild(x509, dsig, x("X509Certificate"), x(certificate.der().toBase64().constData()));
    return xml::dump(root);
}

Verification verifyEvento(const QByteArray& signedEvento)
{
    Verification v;
    if (!ensureXmlSec()) {
        v.error = QStringLiteral("A biblioteca de assinatura digital não pôde ser iniciada.");
        return v;
    }
    DocPtr doc = parse(signedEvento);
    xmlNodePtr root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    xmlNodePtr inf = firstElement(root, "infEvento");
    xmlNodePtr sig = root ? xmlSecFindNode(root, x("Signature"), x(kDsig)) : nullptr;
    if (!inf || !sig || !registerId(doc.get(), inf)) {
        v.error = QStringLiteral("Evento sem assinatura ou sem infEvento com Id.");
        return v;
    }
    // The form the standard fixes: one reference, to this infEvento, with its transforms.
    xmlNodePtr signedInfo = firstElement(sig, "SignedInfo");
    xmlNodePtr ref = firstElement(signedInfo, "Reference");
    xmlChar* uri = ref ? xmlGetProp(ref, x("URI")) : nullptr;
    xmlChar* id = xmlGetProp(inf, x("Id"));
    const bool sameId = uri && id && uri[0] == '#' && xmlStrEqual(uri + 1, id);
    xmlFree(uri);
    xmlFree(id);
    if (!sameId) {
        v.error = QStringLiteral("A assinatura não se refere ao Id do infEvento.");
        return v;
    }
    v.formValid = standardForm(sig);
    if (!v.formValid) {
        v.error =
            QStringLiteral("A assinatura não segue o padrão do sistema (algoritmos, transformações ou certificado).");
        return v;
    }
    xmlNodePtr cert = xmlSecFindNode(sig, x("X509Certificate"), x(kDsig));
    if (cert) {
        xmlChar* b64 = xmlNodeGetContent(cert);
        v.signer = QByteArray::fromBase64(reinterpret_cast<const char*>(b64));
        xmlFree(b64);
        v.signerCnpj = holderCnpjFromDer(v.signer);
    }

    // Setting up a keys manager reads the system's certificate authorities (tens of
    // milliseconds): one per thread, reused, since it holds no key of any signature.
    struct Manager {
        xmlSecKeysMngrPtr ptr = nullptr;
        Manager()
        {
            ptr = xmlSecKeysMngrCreate();
            if (ptr && xmlSecCryptoAppDefaultKeysMngrInit(ptr) < 0) {
                xmlSecKeysMngrDestroy(ptr);
                ptr = nullptr;
            }
        }
        ~Manager()
        {
            if (ptr)
                xmlSecKeysMngrDestroy(ptr);
        }
    };
    static thread_local Manager manager;
    if (!manager.ptr) {
        v.error = QStringLiteral("A biblioteca de assinatura digital não pôde ser iniciada.");
        return v;
    }
    xmlSecDSigCtxPtr ctx = xmlSecDSigCtxCreate(manager.ptr);
    // The certificate is the signer's own: its chain is the authority's concern, not the signature's.
    ctx->keyInfoReadCtx.flags |= XMLSEC_KEYINFO_FLAGS_X509DATA_DONT_VERIFY_CERTS;
    ctx->enabledReferenceUris = xmlSecTransformUriTypeSameDocument;
    const int rc = xmlSecDSigCtxVerify(ctx, sig);
    v.valid = rc >= 0 && ctx->status == xmlSecDSigStatusSucceeded;
    if (rc >= 0 && ctx->signedInfoReferences.use > 0) {
        auto* r = static_cast<xmlSecDSigReferenceCtxPtr>(xmlSecPtrListGetItem(&ctx->signedInfoReferences, 0));
        v.digestMatches = r && r->status == xmlSecDSigStatusSucceeded;
    }
    xmlSecDSigCtxDestroy(ctx);
    if (!v.valid)
        v.error = v.digestMatches ? QStringLiteral("A assinatura do evento não confere.")
                                  : QStringLiteral("O conteúdo assinado do evento foi alterado (digest não confere).");
    return v;
}

} // namespace nfe
