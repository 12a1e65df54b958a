#pragma once
// The configuration, read and checked: cce-server --check-config prints the findings, one
// line each in Portuguese (what is wrong and which key to change), and the server runs the
// same checks at start and refuses to start on an error. Checked: the file's values, the
// database (it opens, at this server's schema), every certificate of the folder (it reads
// with the password; days to expiry), the trust stores, the names of the authorities' and
// the SMTP server's addresses (they resolve), and the outbox folder (it can be written).
#include <QList>
#include <QString>

#include "server/app/ServerConfig.h"
#include "server/fiscal/FiscalConfig.h"
#include "server/mail/MailConfig.h"

namespace srv {

struct Finding {
    enum class Level { Ok, Warning, Error };
    Level level = Level::Ok;
    QString text;
};

struct Configuration {
    QString file; // empty: the defaults and the command line only
    ServerConfig server;
    fiscal::FiscalConfig fiscal;
    mail::MailConfig mail;
};

// Reads file (when given), then the command line over it, and checks the values alone.
QList<Finding> readConfiguration(const QString& file, const CommandLine& cl, Configuration* out);

// The checks against the world (the database, files, names). A certificate that expires
// within 30 days or has expired is a warning: the others still transmit.
QList<Finding> checkConfiguration(const Configuration& c);

bool hasError(const QList<Finding>& findings);

// Names resolved at once, each within timeoutMs: the names that did not, with the reason.
QHash<QString, QString> unresolvedNames(const QStringList& names, int timeoutMs);

} // namespace srv
