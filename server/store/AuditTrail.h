#pragma once
// The audit trail of the letters: who wrote, changed, deleted, transmitted and e-mailed
// each one, when, from which address, under which token and with what outcome. The
// stores write a row inside the very transaction of the change it records, so a change
// and its record stand or fall together; who acts is this thread's AuditActor, which
// the application sets around each call (and the server's own jobs around theirs).
#include <QDateTime>
#include <QLatin1String>
#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace srv {

class Store;

struct AuditActor {
    QString user; // as the client program says (the host's user)
    QString token; // the token's name, never the token
    QString address;
    QString request; // the request's id, as in the server's log
    QString certificate; // mutual TLS: the subject of the client's certificate

    static const AuditActor& current(); // outside a call: every field empty
};

// Makes an actor the current one of this thread for as long as it lives.
class AuditActorGuard {
public:
    explicit AuditActorGuard(AuditActor actor);
    ~AuditActorGuard();
    AuditActorGuard(const AuditActorGuard&) = delete;
    AuditActorGuard& operator=(const AuditActorGuard&) = delete;

private:
    AuditActor m_actor;
    const AuditActor* m_previous;
};

namespace audit {
// IDACAO
inline constexpr QLatin1String kWritten{"gravacao"};
inline constexpr QLatin1String kChanged{"alteracao"};
inline constexpr QLatin1String kDeleted{"exclusao"};
inline constexpr QLatin1String kTransmitted{"transmissao"};
inline constexpr QLatin1String kAnswered{"resultado"};
inline constexpr QLatin1String kReconciled{"conciliacao"};
inline constexpr QLatin1String kEmailed{"email"};
} // namespace audit

struct AuditEntry {
    QString filial, lancto, seq;
    QString action; // one of audit::
    QString outcome;
};

struct AuditRow {
    QDateTime when;
    AuditActor actor;
    QString company, filial, lancto, seq, action, outcome;
};

class AuditTrail {
public:
    explicit AuditTrail(Store& store) : m_store(store) {}

    // One row by the current actor, on db inside the caller's open transaction; the company
    // is the invoice's.
    void record(const QSqlDatabase& db, const AuditEntry& entry);
    // In a transaction of its own: what changed nothing (a failed e-mail) is recorded too.
    void recordAlone(const AuditEntry& entry);

    // The company's rows from since (a day; invalid: from the start), of one invoice when
    // filial is given, oldest first.
    QList<AuditRow> rows(const QString& company, const QDate& since, const QString& filial = {},
                         const QString& lancto = {});

private:
    Store& m_store;
};

} // namespace srv
