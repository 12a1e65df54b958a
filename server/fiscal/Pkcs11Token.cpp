#include "server/fiscal/Pkcs11Token.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QMutexLocker>
#include <QStringList>
#include <cstring>
#include <dlfcn.h>
#include <libp11.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/ui.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <p11-kit/pkcs11.h>

namespace srv::fiscal {

namespace {

// The PKCS#11 return code libp11 left in OpenSSL's error queue (its own error library), or
// 0; the queue is emptied.
unsigned long lastCkr()
{
    unsigned long found = 0;
    const int lib = ERR_get_CKR_code();
    for (unsigned long e = ERR_get_error(); e != 0; e = ERR_get_error())
        if (ERR_GET_LIB(e) == lib)
            found = ERR_GET_REASON(e);
    return found;
}

QByteArray derOf(X509* cert)
{
    unsigned char* buf = nullptr;
    const int len = cert ? i2d_X509(cert, &buf) : -1;
    const QByteArray out = len > 0 ? QByteArray(reinterpret_cast<const char*>(buf), len) : QByteArray();
    OPENSSL_free(buf);
    return out;
}

// A key that asks for the PIN at each use (CKA_ALWAYS_AUTHENTICATE) gets the one the token
// accepted at login; nobody is ever asked at a terminal.
int answerPin(UI* ui, UI_STRING* uis)
{
    const auto* pin = static_cast<const QByteArray*>(UI_get0_user_data(ui));
    if (pin && !pin->isEmpty() && (UI_get_string_type(uis) == UIT_PROMPT || UI_get_string_type(uis) == UIT_VERIFY))
        return UI_set_result(ui, uis, pin->constData()) == 0 ? 1 : 0;
    return 0;
}

UI_METHOD* pinAnswerer()
{
    static UI_METHOD* method = [] {
        UI_METHOD* m = UI_create_method("cce-server");
        UI_method_set_reader(m, answerPin);
        return m;
    }();
    return method;
}

// What libp11 keeps to itself: the token's flags as they are now and how many sessions it allows.
bool tokenInfo(const QString& module, unsigned long slotId, CK_TOKEN_INFO* info)
{
    void* lib = ::dlopen(QFile::encodeName(module).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (!lib)
        return false;
    CK_C_GetFunctionList getList = nullptr;
    void* symbol = ::dlsym(lib, "C_GetFunctionList");
    static_assert(sizeof symbol == sizeof getList, "a function's address fits a data pointer here");
    std::memcpy(&getList, &symbol, sizeof getList);
    CK_FUNCTION_LIST_PTR functions = nullptr;
    const bool ok =
        getList && getList(&functions) == CKR_OK && functions && functions->C_GetTokenInfo(slotId, info) == CKR_OK;
    ::dlclose(lib);
    return ok;
}

} // namespace

struct Pkcs11Token::Session {
    PKCS11_CTX* ctx = nullptr;
    bool loaded = false;
    PKCS11_SLOT* slotList = nullptr;
    unsigned int slotCount = 0;
    PKCS11_SLOT* slot = nullptr;
    PKCS11_CERT* certs = nullptr; // owned by the slots
    unsigned int certCount = 0;
    QList<std::shared_ptr<const nfe::Certificate>> listed; // read, for lists and choices
    bool loggedIn = false;
    bool single = false; // the token allows one session at a time
    QHash<QByteArray, EVP_PKEY*> keys; // by their certificate's DER: references, never the key

    ~Session()
    {
        for (EVP_PKEY* k : std::as_const(keys))
            EVP_PKEY_free(k);
        if (slotList)
            PKCS11_release_all_slots(ctx, slotList, slotCount);
        if (loaded)
            PKCS11_CTX_unload(ctx);
        if (ctx)
            PKCS11_CTX_free(ctx);
        ERR_clear_error();
    }
    X509* x509(const QByteArray& der) const
    {
        for (unsigned int i = 0; i < certCount; ++i)
            if (derOf(certs[i].x509) == der)
                return certs[i].x509;
        return nullptr;
    }
    unsigned long slotId() const { return PKCS11_get_slotid_from_slot(slot); }
};

std::shared_ptr<Pkcs11Token> Pkcs11Token::shared(const TokenSettings& settings)
{
    static QMutex mutex;
    static QList<std::weak_ptr<Pkcs11Token>> live;
    QMutexLocker lock(&mutex);
    for (auto it = live.begin(); it != live.end();) {
        std::shared_ptr<Pkcs11Token> t = it->lock();
        if (!t) {
            it = live.erase(it);
            continue;
        }
        if (t->settings() == settings)
            return t;
        ++it;
    }
    auto t = std::make_shared<Pkcs11Token>(settings);
    live << t;
    return t;
}

Pkcs11Token::Pkcs11Token(TokenSettings settings) : m_settings(std::move(settings)) {}

Pkcs11Token::~Pkcs11Token()
{
    QMutexLocker lock(&m_mutex);
    closeLocked();
}

QString Pkcs11Token::name() const { return QStringLiteral("token \"%1\"").arg(m_settings.label); }

QString Pkcs11Token::pinLockedReason() const
{
    return QStringLiteral("O PIN do %1 está bloqueado: desbloqueie-o com o PIN de administração (PUK) na ferramenta "
                          "do fabricante.")
        .arg(name());
}

QString Pkcs11Token::pinFinalTryReason() const
{
    return QStringLiteral("O %1 está na última tentativa do PIN: o servidor não o apresenta; confirme o PIN na "
                          "ferramenta do fabricante e corrija [fiscal] pkcs11_pin_file.")
        .arg(name());
}

void Pkcs11Token::closeLocked()
{
    while (m_users > 0)
        m_idle.wait(&m_mutex);
    m_handed.clear();
    m_session.reset();
    if (!m_pin.isEmpty())
        OPENSSL_cleanse(m_pin.data(), size_t(m_pin.size()));
    m_pin.clear();
}

bool Pkcs11Token::openLocked(QString* error)
{
    if (m_session && !m_broken)
        return true;
    closeLocked();
    auto s = std::make_unique<Session>();
    s->ctx = PKCS11_CTX_new();
    if (s->ctx)
        PKCS11_set_ui_method(s->ctx, pinAnswerer(), &m_pin);
    s->loaded = s->ctx && PKCS11_CTX_load(s->ctx, QFile::encodeName(m_settings.module).constData()) == 0;
    if (!s->loaded) {
        ERR_clear_error();
        *error = QStringLiteral("A biblioteca PKCS#11 %1 não pôde ser carregada ou iniciada: confira [fiscal] "
                                "pkcs11_module.")
                     .arg(m_settings.module);
        return false;
    }
    if (PKCS11_enumerate_slots(s->ctx, &s->slotList, &s->slotCount) != 0) {
        *error = QStringLiteral("A biblioteca PKCS#11 %1 não listou suas leitoras (%2).")
                     .arg(m_settings.module, fault(lastCkr()));
        return false;
    }
    QStringList present;
    for (unsigned int i = 0; i < s->slotCount && !s->slot; ++i) {
        const PKCS11_TOKEN* t = s->slotList[i].token;
        if (!t || !t->initialized)
            continue;
        if (QString::fromUtf8(t->label) == m_settings.label)
            s->slot = &s->slotList[i];
        else
            present << QStringLiteral("\"%1\"").arg(QString::fromUtf8(t->label));
    }
    if (!s->slot) {
        *error = QStringLiteral("O %1 não está presente: conecte-o (ou confira [fiscal] pkcs11_token)%2.")
                     .arg(name(), present.isEmpty()
                                      ? QString()
                                      : QStringLiteral("; presentes: %1").arg(present.join(QStringLiteral(", "))));
        return false;
    }
    if (PKCS11_enumerate_certs(s->slot->token, &s->certs, &s->certCount) != 0) {
        *error = QStringLiteral("Os certificados do %1 não puderam ser lidos (%2).").arg(name(), fault(lastCkr()));
        return false;
    }
    for (unsigned int i = 0; i < s->certCount; ++i) {
        QString why;
        if (auto c = nfe::Certificate::withHeldKey(derOf(s->certs[i].x509), {}, {}, &why))
            s->listed << c;
    }
    CK_TOKEN_INFO info{};
    s->single = tokenInfo(m_settings.module, s->slotId(), &info) && info.ulMaxSessionCount == 1;
    ERR_clear_error();
    m_session = std::move(s);
    ++m_generation;
    m_broken = false;
    return true;
}

bool Pkcs11Token::loginLocked(QString* error)
{
    if (m_session->loggedIn)
        return true;
    CK_TOKEN_INFO info{};
    if (tokenInfo(m_settings.module, m_session->slotId(), &info)) {
        if (info.flags & CKF_USER_PIN_LOCKED) {
            *error = pinLockedReason();
            return false;
        }
        // One more wrong PIN would block it: not risked on the token's owner's behalf.
        if (info.flags & CKF_USER_PIN_FINAL_TRY) {
            *error = pinFinalTryReason();
            return false;
        }
        if (!(info.flags & CKF_LOGIN_REQUIRED)) {
            m_session->loggedIn = true;
            return true;
        }
    }
    QByteArray pin;
    if (!readPinFile(m_settings.pinFile, &pin, error))
        return false;
    QCryptographicHash print(QCryptographicHash::Sha256);
    print.addData(QFile::encodeName(m_settings.module) + '\0' + m_settings.label.toUtf8() + '\0');
    print.addData(pin);
    const QByteArray fingerprint = print.result();
    if (fingerprint == m_refused) {
        OPENSSL_cleanse(pin.data(), size_t(pin.size()));
        *error = QStringLiteral("O %1 já recusou o PIN de %2: o servidor não o apresenta de novo (o token se "
                                "bloquearia); corrija o arquivo do PIN.")
                     .arg(name(), m_settings.pinFile);
        return false;
    }
    const bool ok = PKCS11_login(m_session->slot, 0, pin.constData()) == 0;
    const unsigned long ckr = ok ? 0 : lastCkr();
    if (!ok) {
        OPENSSL_cleanse(pin.data(), size_t(pin.size()));
        switch (ckr) {
        case CKR_PIN_INCORRECT:
        case CKR_PIN_INVALID:
        case CKR_PIN_LEN_RANGE:
            m_refused = fingerprint;
            *error = QStringLiteral("O %1 recusou o PIN de %2 (PIN incorreto): o servidor não o apresenta de novo "
                                    "até que o arquivo do PIN mude.")
                         .arg(name(), m_settings.pinFile);
            break;
        case CKR_PIN_LOCKED:
            m_refused = fingerprint;
            *error = pinLockedReason();
            break;
        case CKR_PIN_EXPIRED:
            *error = QStringLiteral("O PIN do %1 expirou: troque-o na ferramenta do fabricante.").arg(name());
            break;
        default: m_broken = true; *error = fault(ckr);
        }
        return false;
    }
    m_pin = pin;
    m_refused.clear();
    m_session->loggedIn = true;
    return true;
}

bool Pkcs11Token::list(Listing* out, QString* error)
{
    QMutexLocker lock(&m_mutex);
    if (!openLocked(error))
        return false;
    out->certificates = m_session->listed;
    CK_TOKEN_INFO info{};
    if (tokenInfo(m_settings.module, m_session->slotId(), &info)) {
        out->pinLocked = info.flags & CKF_USER_PIN_LOCKED;
        out->pinCountLow = info.flags & CKF_USER_PIN_COUNT_LOW;
        out->pinFinalTry = info.flags & CKF_USER_PIN_FINAL_TRY;
    }
    return true;
}

std::shared_ptr<const TokenCertificate> Pkcs11Token::withKey(const QByteArray& der, QString* error)
{
    QMutexLocker lock(&m_mutex);
    if (!openLocked(error) || !loginLocked(error))
        return nullptr;
    for (const auto& handed : std::as_const(m_handed))
        if (handed->m_der == der)
            return handed;
    PKCS11_CERT* cert = nullptr;
    for (unsigned int i = 0; i < m_session->certCount && !cert; ++i)
        if (derOf(m_session->certs[i].x509) == der)
            cert = &m_session->certs[i];
    PKCS11_KEY* key = cert ? PKCS11_find_key(cert) : nullptr;
    EVP_PKEY* pkey = key ? PKCS11_get_private_key(key) : nullptr;
    ERR_clear_error();
    if (!pkey) {
        *error = QStringLiteral("O %1 não tem a chave privada do certificado.").arg(name());
        return nullptr;
    }
    if (EVP_PKEY* before = m_session->keys.value(der))
        EVP_PKEY_free(before);
    m_session->keys.insert(der, pkey);

    // The authorities above it that the token holds too travel with it in TLS.
    QList<QByteArray> chain;
    X509* current = cert->x509;
    for (int depth = 0; depth < 8 && X509_check_issued(current, current) != X509_V_OK; ++depth) {
        X509* issuer = nullptr;
        for (unsigned int i = 0; i < m_session->certCount && !issuer; ++i)
            if (m_session->certs[i].x509 != current &&
                X509_check_issued(m_session->certs[i].x509, current) == X509_V_OK)
                issuer = m_session->certs[i].x509;
        if (!issuer)
            break;
        chain << derOf(issuer);
        current = issuer;
    }
    auto handed = std::make_shared<TokenCertificate>();
    handed->m_token = weak_from_this();
    handed->m_generation = m_generation;
    handed->m_der = der;
    const std::weak_ptr<Pkcs11Token> token = weak_from_this();
    const quint64 generation = m_generation;
    handed->certificate = nfe::Certificate::withHeldKey(
        der, chain,
        [token, generation, der](const QByteArray& data, QString* why) {
            const std::shared_ptr<Pkcs11Token> t = token.lock();
            if (!t) {
                *why = QStringLiteral("O token foi fechado.");
                return QByteArray();
            }
            return t->sign(generation, der, data, why);
        },
        error);
    if (!handed->certificate)
        return nullptr;
    m_handed << handed;
    return handed;
}

bool Pkcs11Token::acquire(quint64 generation, QString* error)
{
    QMutexLocker lock(&m_mutex);
    while (m_session && m_session->single && m_users > 0)
        m_idle.wait(&m_mutex);
    if (!m_session || m_broken || generation != m_generation) {
        *error = QStringLiteral("O %1 foi aberto de novo depois de uma falha: transmita novamente.").arg(name());
        return false;
    }
    ++m_users;
    return true;
}

void Pkcs11Token::release()
{
    QMutexLocker lock(&m_mutex);
    --m_users;
    m_idle.wakeAll();
}

QByteArray Pkcs11Token::sign(quint64 generation, const QByteArray& der, const QByteArray& data, QString* error)
{
    // One signature of events at a time; none while a single-session token serves a call.
    QMutexLocker lock(&m_mutex);
    while (m_session && m_session->single && m_users > 0)
        m_idle.wait(&m_mutex);
    EVP_PKEY* key = m_session && !m_broken && generation == m_generation ? m_session->keys.value(der) : nullptr;
    if (!key) {
        *error = QStringLiteral("O %1 foi aberto de novo depois de uma falha: transmita novamente.").arg(name());
        return {};
    }
    QByteArray signature(EVP_PKEY_get_size(key), '\0');
    size_t length = size_t(signature.size());
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    const bool ok = md && EVP_DigestSignInit(md, nullptr, EVP_sha1(), nullptr, key) == 1 &&
                    EVP_DigestSign(md, reinterpret_cast<unsigned char*>(signature.data()), &length,
                                   reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size())) == 1;
    EVP_MD_CTX_free(md);
    if (!ok) {
        // Opened again by the next one who needs it: a token put back works at once.
        m_broken = true;
        *error = fault(lastCkr());
        return {};
    }
    ERR_clear_error();
    signature.truncate(qsizetype(length));
    return signature;
}

bool Pkcs11Token::install(quint64 generation, const QByteArray& der, void* sslCtx, QString* error)
{
    QMutexLocker lock(&m_mutex);
    EVP_PKEY* key = m_session && !m_broken && generation == m_generation ? m_session->keys.value(der) : nullptr;
    X509* leaf = key ? m_session->x509(der) : nullptr;
    auto* ctx = static_cast<SSL_CTX*>(sslCtx);
    bool ok = leaf && SSL_CTX_use_certificate(ctx, leaf) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
    if (ok)
        for (const auto& handed : std::as_const(m_handed))
            if (handed->m_der == der)
                for (const QByteArray& above : handed->certificate->chain())
                    if (X509* c = m_session->x509(above))
                        ok = ok && SSL_CTX_add1_chain_cert(ctx, c) == 1;
    // Many smart cards sign with PKCS#1 v1.5 only, and TLS 1.3 asks the client's proof in
    // RSA-PSS: a key on a token speaks TLS 1.2 with PKCS#1 signatures, which every
    // authority's service takes.
    if (ok && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA)
        ok = SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION) == 1 &&
             SSL_CTX_set1_client_sigalgs_list(ctx, "RSA+SHA256:RSA+SHA384:RSA+SHA512") == 1;
    ERR_clear_error();
    if (!ok)
        *error = QStringLiteral("O certificado do %1 não pôde ser usado na conexão com a SEFAZ.").arg(name());
    return ok;
}

QString Pkcs11Token::fault(unsigned long ckr) const
{
    switch (ckr) {
    case 0:
    case CKR_DEVICE_REMOVED:
    case CKR_DEVICE_ERROR:
    case CKR_TOKEN_NOT_PRESENT:
    case CKR_SESSION_CLOSED:
    case CKR_SESSION_HANDLE_INVALID:
    case CKR_OBJECT_HANDLE_INVALID:
    case CKR_KEY_HANDLE_INVALID:
    case CKR_CRYPTOKI_NOT_INITIALIZED:
        return QStringLiteral("O %1 foi removido ou deixou de responder: conecte-o e transmita novamente.").arg(name());
    case CKR_USER_NOT_LOGGED_IN: return QStringLiteral("O %1 encerrou a sessão: transmita novamente.").arg(name());
    default: return QStringLiteral("O %1 recusou a operação (código PKCS#11 0x%2).").arg(name()).arg(ckr, 0, 16);
    }
}

TokenCertificate::Hold::~Hold()
{
    if (m_token)
        m_token->release();
}

TokenCertificate::Hold TokenCertificate::hold(QString* error) const
{
    Hold h;
    std::shared_ptr<Pkcs11Token> t = m_token.lock();
    if (!t)
        *error = QStringLiteral("O token foi fechado.");
    else if (t->acquire(m_generation, error))
        h.m_token = std::move(t);
    return h;
}

bool TokenCertificate::install(void* sslCtx, QString* error) const
{
    const std::shared_ptr<Pkcs11Token> t = m_token.lock();
    if (!t) {
        *error = QStringLiteral("O token foi fechado.");
        return false;
    }
    return t->install(m_generation, m_der, sslCtx, error);
}

bool TokenCertificate::stillSigns(QString* error) const
{
    const std::shared_ptr<Pkcs11Token> t = m_token.lock();
    return t && !t->sign(m_generation, m_der, QByteArrayLiteral("cce-server"), error).isEmpty();
}

} // namespace srv::fiscal
