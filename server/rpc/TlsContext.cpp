#include "server/rpc/TlsContext.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <QFileInfo>

namespace srv {

namespace {

QString lastOpenSslError()
{
    const unsigned long e = ERR_peek_last_error();
    ERR_clear_error();
    if (!e)
        return QStringLiteral("erro desconhecido");
    char text[256];
    ERR_error_string_n(e, text, sizeof(text));
    return QString::fromLatin1(text);
}

QDateTime utc(const ASN1_TIME* t)
{
    struct tm tm {};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1)
        return QDateTime();
    return QDateTime(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday), QTime(tm.tm_hour, tm.tm_min, tm.tm_sec),
                     Qt::UTC);
}

bool readable(const QString& path, const char* what, QString* error)
{
    if (QFileInfo(path).isReadable())
        return true;
    *error = QStringLiteral("%1 TLS não encontrado ou sem permissão de leitura: %2.").arg(QLatin1String(what), path);
    return false;
}

} // namespace

QString subjectOf(const X509* certificate)
{
    BIO* bio = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(bio, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    const QString text = QString::fromUtf8(data, int(n));
    BIO_free(bio);
    return text;
}

TlsContext::~TlsContext() { SSL_CTX_free(m_ctx); }

std::shared_ptr<TlsContext> TlsContext::load(const TlsSettings& s, QString* error)
{
    if (s.certificate.isEmpty() || s.key.isEmpty()) {
        *error = QStringLiteral("[server] tls_certificate e tls_key vão juntos: configure os dois.");
        return nullptr;
    }
    if (!readable(s.certificate, "Certificado", error) || !readable(s.key, "Arquivo da chave", error) ||
        (!s.clientCa.isEmpty() && !readable(s.clientCa, "Certificado da autoridade dos clientes", error)))
        return nullptr;
    struct stat st {};
    if (::stat(QFile::encodeName(s.key).constData(), &st) == 0 && (st.st_mode & 077)) {
        *error = QStringLiteral("A chave TLS %1 pode ser lida por outros usuários (permissões %2): deixe-a legível "
                                "só pelo usuário do serviço (chmod 600).")
                     .arg(s.key)
                     .arg(st.st_mode & 0777, 3, 8, QLatin1Char('0'));
        return nullptr;
    }

    std::shared_ptr<TlsContext> t(new TlsContext);
    ERR_clear_error();
    t->m_ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX* ctx = t->m_ctx;
    if (!ctx) {
        *error = QStringLiteral("Não foi possível preparar o TLS: %1.").arg(lastOpenSslError());
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_security_level(ctx, 2);
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    // The loop writes from buffers that may move between two tries, and takes what a write
    // could send.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Clients resume their sessions (a call is a connection); with client certificates
    // OpenSSL refuses a resumption unless the context is named.
    static const unsigned char kSessionContext[] = "cce-server";
    SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof(kSessionContext) - 1);
    const QByteArray cert = QFile::encodeName(s.certificate), key = QFile::encodeName(s.key);
    if (SSL_CTX_use_certificate_chain_file(ctx, cert.constData()) != 1) {
        *error =
            QStringLiteral("Certificado TLS ilegível (PEM esperado) em %1: %2.").arg(s.certificate, lastOpenSslError());
        return nullptr;
    }
    EVP_PKEY* privateKey = nullptr;
    if (BIO* in = BIO_new_file(key.constData(), "r")) {
        privateKey = PEM_read_bio_PrivateKey(in, nullptr, nullptr, const_cast<char*>(""));
        BIO_free(in);
    }
    if (!privateKey) {
        *error =
            QStringLiteral("Chave TLS ilegível (PEM sem senha esperado) em %1: %2.").arg(s.key, lastOpenSslError());
        return nullptr;
    }
    // A key of another pair is refused here already.
    const bool taken = SSL_CTX_use_PrivateKey(ctx, privateKey) == 1;
    EVP_PKEY_free(privateKey);
    if (!taken || SSL_CTX_check_private_key(ctx) != 1) {
        ERR_clear_error();
        *error = QStringLiteral("A chave TLS %1 não corresponde ao certificado %2.").arg(s.key, s.certificate);
        return nullptr;
    }
    if (!s.clientCa.isEmpty()) {
        const QByteArray ca = QFile::encodeName(s.clientCa);
        STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(ca.constData());
        if (!names || SSL_CTX_load_verify_locations(ctx, ca.constData(), nullptr) != 1) {
            if (names)
                sk_X509_NAME_pop_free(names, X509_NAME_free);
            *error = QStringLiteral("Autoridade dos certificados de cliente ilegível (PEM esperado) em %1: %2.")
                         .arg(s.clientCa, lastOpenSslError());
            return nullptr;
        }
        SSL_CTX_set_client_CA_list(ctx, names);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        t->m_mutual = true;
    }
    const X509* leaf = SSL_CTX_get0_certificate(ctx);
    t->m_notBefore = utc(X509_get0_notBefore(leaf));
    t->m_notAfter = utc(X509_get0_notAfter(leaf));
    t->m_subject = subjectOf(leaf);
    return t;
}

} // namespace srv
