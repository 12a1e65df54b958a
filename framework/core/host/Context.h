#pragma once
// The user's working context, as the host application sets it from its configuration.
// Modules read it through the context functions below.
#include <QDate>
#include <QHash>
#include <QString>

#include "core/net/TlsPolicy.h"

#include "core/CoreExport.h"

namespace fw {

struct FW_CORE_EXPORT HostContext {
    QString user; // the user's login, sent with each server call for the audit trail
    QString company; // EmprProc, two digits
    QString branch; // FiliProc, four characters
    QString billingBranch; // FiliProcFat
    QDate processingDate; // DataProc (the same for every branch unless set per branch)
    int module = 0; // ModuloAtiv
    bool branchMode = false; // ModuFili: the user works bound to one branch
    QString serverHost = QStringLiteral("127.0.0.1"); // WebURL
    int serverPort = 0; // WebPort
    QString serverToken; // bearer token for the application server, empty for none
    TlsPolicy serverTls; // how the connection to it is secured
    QString dbDriver = QStringLiteral("QSQLITE"); // Qt SQL driver of the company database
    QString dbName; // database name (SQLite file) or connection string
    QString dbHost;
    int dbPort = 0;
    QString dbUser;
    QString dbPassword;
    QHash<QString, QDate> branchProcessingDates; // per-branch processing dates, by branch code
    int serverTimeoutSeconds = 120; // longest wait for one application server call
    QString filesFolder; // where screens write files for the user; empty: the documents folder
};

FW_CORE_EXPORT HostContext& hostContext();
FW_CORE_EXPORT void setHostContext(const HostContext& context);

} // namespace fw

// The host's context functions, under the names modules call them by.
FW_CORE_EXPORT QString EmprProc();
FW_CORE_EXPORT QString FiliProc();
FW_CORE_EXPORT QString FiliProcFat(); // the current branch when no billing branch is set
FW_CORE_EXPORT bool ModuFili();
FW_CORE_EXPORT int ModuloAtiv();
// The branch's own processing date when set, else the user's; today when none is set.
FW_CORE_EXPORT QDate DataProc(const QString& branch = QString());
FW_CORE_EXPORT QString WebURL();
FW_CORE_EXPORT int WebPort();
