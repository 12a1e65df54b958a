#pragma once
// An A3 certificate's token (smart card, USB token, network HSM) through its PKCS#11 library,
// with libp11: the token's certificates are read without the PIN; its keys are used where
// they are, never read nor copied (a key marked not extractable signs as any other).
//
// The session is opened when first needed and kept: one login for the life of the process.
// A token that fails (removed, no longer answering) is closed and opened again by the next
// one who needs it. A PIN the token refused (or a blocked one) is not presented again until
// the pin file's contents change: tokens lock after a few wrong tries. A token that allows
// one session at a time serves one user at a time (a signature, a TLS call). The PIN never
// reaches a log, an answer or an error text.
#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QWaitCondition>
#include <memory>

#include "nfe/Signer.h"
#include "server/fiscal/FiscalConfig.h"

namespace srv::fiscal {

class Pkcs11Token;

// A certificate of the token with its key, as long as the token stays open; another is
// handed out once it was opened again.
class TokenCertificate {
public:
    std::shared_ptr<const nfe::Certificate> certificate; // signs through the token

    // Held while a TLS call may use the key: the token is not closed meanwhile, and one that
    // allows a single session serves nobody else. Empty (false) with the reason when the
    // token is no longer the one this certificate came from.
    class Hold {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept = default;
        Hold& operator=(Hold&&) = delete;
        ~Hold();
        explicit operator bool() const { return m_token != nullptr; }

    private:
        friend class TokenCertificate;
        std::shared_ptr<Pkcs11Token> m_token;
    };
    Hold hold(QString* error) const;
    // Puts the certificate, the chain the token holds above it and the key into an OpenSSL
    // SSL_CTX (given as void*: the TLS client's own); under a hold.
    bool install(void* sslCtx, QString* error) const;
    // Whether the key still signs (after a failed handshake: was it the token?); false with
    // the reason, and the token is opened again at its next use.
    bool stillSigns(QString* error) const;

private:
    friend class Pkcs11Token;
    std::weak_ptr<Pkcs11Token> m_token;
    quint64 m_generation = 0;
    QByteArray m_der;
};

class Pkcs11Token : public std::enable_shared_from_this<Pkcs11Token> {
public:
    // The token of these settings in this process: the transmissions, the reconciler and
    // the health page share one module context and one session.
    static std::shared_ptr<Pkcs11Token> shared(const TokenSettings& settings);
    explicit Pkcs11Token(TokenSettings settings);
    ~Pkcs11Token();
    Pkcs11Token(const Pkcs11Token&) = delete;
    Pkcs11Token& operator=(const Pkcs11Token&) = delete;

    const TokenSettings& settings() const { return m_settings; }
    // "token "LABEL"", as messages name it.
    QString name() const;
    // What the operator reads of a blocked PIN and of a PIN at its last try.
    QString pinLockedReason() const;
    QString pinFinalTryReason() const;

    struct Listing {
        QList<std::shared_ptr<const nfe::Certificate>> certificates; // read only: they do not sign
        bool pinLocked = false, pinCountLow = false, pinFinalTry = false;
    };
    // Opens the token if needed (no PIN asked) and lists it; false with the reason.
    bool list(Listing* out, QString* error);

    // The certificate (DER, one of list()'s) with its key: logs in first when needed.
    // nullptr with the reason.
    std::shared_ptr<const TokenCertificate> withKey(const QByteArray& der, QString* error);

private:
    friend class TokenCertificate;
    struct Session;
    bool openLocked(QString* error);
    bool loginLocked(QString* error);
    void closeLocked();
    bool acquire(quint64 generation, QString* error);
    void release();
    QByteArray sign(quint64 generation, const QByteArray& der, const QByteArray& data, QString* error);
    bool install(quint64 generation, const QByteArray& der, void* sslCtx, QString* error);
    QString fault(unsigned long ckr) const;

    const TokenSettings m_settings;
    QMutex m_mutex; // guards what follows; held through every signature of events
    QWaitCondition m_idle;
    int m_users = 0; // TLS calls under way with one of the keys
    std::unique_ptr<Session> m_session;
    quint64 m_generation = 0;
    bool m_broken = false; // a key failed: closed and opened again at the next use
    QByteArray m_refused; // fingerprint of the settings and the PIN the token refused
    QByteArray m_pin; // the PIN the token accepted, for keys that ask for it at each use
    QList<std::shared_ptr<const TokenCertificate>> m_handed; // of this generation
};

} // namespace srv::fiscal
