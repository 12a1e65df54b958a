#pragma once
// The [mail] section of cce-server.ini: the SMTP server the letters leave through, or,
// with no host, the outbox folder each message is written to as an .eml file.
#include <QString>

namespace srv::mail {

struct MailConfig {
    enum class Security { None, StartTls, Tls };

    QString host; // empty: no SMTP server, messages go to the outbox
    int port = 0; // 0: the usual port of the security (25, 587, 465)
    Security security = Security::StartTls;
    QString user, password; // AUTH only when user is set
    QString from; // the sender's address
    QString outbox = QStringLiteral("var/outbox");
    QString trustStore; // CA certificates to verify the SMTP server with; empty: the system's
    int timeoutMs = 30000; // one SMTP conversation
    // The pending e-mails of one call start within this time; with the last one's timeout
    // the call still answers before the screen gives up (120 s).
    int batchTimeMs = 75000;

    bool smtp() const { return !host.isEmpty(); }
    int effectivePort() const;
    // "smtp://host:port" or "smtps://host:port"
    QString url() const;

    // Reads [mail]; keys missing from the file keep their value. Relative paths are taken
    // from the file's folder. False with *error (in Portuguese) on a value it cannot use.
    bool loadFile(const QString& iniPath, QString* error);
    bool check(QString* error) const;
};

// A plain mailbox address ("local@domain"), the only kind put in an envelope or header.
bool isMailAddress(const QString& address);

} // namespace srv::mail
