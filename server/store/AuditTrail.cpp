#include "server/store/AuditTrail.h"

#include <algorithm>
#include <mutex>

#include "server/store/ColumnValues.h"
#include "server/store/DatabaseFault.h"
#include "server/store/Query.h"
#include "server/store/Transactions.h"

namespace srv {

namespace {

thread_local const AuditActor* t_actor = nullptr;

QVariant bounded(const QString& text, int size) { return column::nullIfEmpty(text.simplified().left(size)); }

// The trail reads in the order of its times: two rows this process writes within one
// millisecond (a letter e-mailed to its recipient, then refused for its carrier) get
// times one millisecond apart, so they never read in the other order.
QDateTime nextStamp()
{
    static std::mutex mutex;
    static qint64 last = 0;
    const std::lock_guard<std::mutex> lock(mutex);
    last = std::max(last + 1, QDateTime::currentMSecsSinceEpoch());
    return QDateTime::fromMSecsSinceEpoch(last);
}

} // namespace

const AuditActor& AuditActor::current()
{
    static const AuditActor nobody;
    return t_actor ? *t_actor : nobody;
}

AuditActorGuard::AuditActorGuard(AuditActor actor) : m_actor(std::move(actor)), m_previous(t_actor)
{
    t_actor = &m_actor;
}

AuditActorGuard::~AuditActorGuard() { t_actor = m_previous; }

void AuditTrail::record(const QSqlDatabase& db, const AuditEntry& e)
{
    const AuditActor& a = AuditActor::current();
    Query q(m_store, db, "audit");
    // Nobody reads what it answers: it leaves with the transaction's next statement or its
    // commit, and fails them when it fails.
    q.runLater(
        QStringLiteral("INSERT INTO AUDITORIA (DTHRAUDITORIA, CDEMPRESA, CDFILIAL, NRLANCTONF, NRSEQCCE, IDACAO, "
                       "DSRESULTADO, NMUSUARIO, NMTOKEN, DSENDERECO, DSREQUISICAO, DSCERTIFICADO) "
                       "VALUES (?, (SELECT CDEMPRESA FROM NOTAFISCAL WHERE CDFILIAL = ? AND NRLANCTONF = ?), "
                       "?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {nextStamp(), e.filial, e.lancto, e.filial, e.lancto, column::nullIfEmpty(e.seq), e.action,
         bounded(e.outcome, 255), bounded(a.user, 60), bounded(a.token, 60), bounded(a.address, 64),
         bounded(a.request, 40), bounded(a.certificate, 255)});
}

void AuditTrail::recordAlone(const AuditEntry& entry)
{
    QSqlDatabase db = openConnection(m_store);
    WriteTransaction tx(m_store, db);
    record(db, entry);
    tx.commit();
}

QList<AuditRow> AuditTrail::rows(const QString& company, const QDate& since, const QString& filial,
                                 const QString& lancto)
{
    QString sql = QStringLiteral("SELECT DTHRAUDITORIA, NMUSUARIO, NMTOKEN, DSENDERECO, DSREQUISICAO, CDEMPRESA, "
                                 "CDFILIAL, NRLANCTONF, NRSEQCCE, IDACAO, DSRESULTADO, DSCERTIFICADO FROM AUDITORIA "
                                 "WHERE CDEMPRESA = ?");
    QVariantList binds{company};
    if (since.isValid()) {
        sql += QStringLiteral(" AND DTHRAUDITORIA >= ?");
        binds << QDateTime(since, QTime(0, 0));
    }
    if (!filial.isEmpty()) {
        sql += QStringLiteral(" AND CDFILIAL = ? AND NRLANCTONF = ?");
        binds << filial << lancto;
    }
    Query q(m_store, openConnection(m_store), "audit");
    q.run(sql + QStringLiteral(" ORDER BY DTHRAUDITORIA, CDFILIAL, NRLANCTONF, NRSEQCCE"), binds);
    QList<AuditRow> out;
    while (q.next()) {
        AuditRow r;
        r.when = column::toDateTime(q.value(0));
        r.actor = AuditActor{column::text(q.value(1)), column::text(q.value(2)), column::text(q.value(3)),
                             column::text(q.value(4)), column::text(q.value(11))};
        r.company = column::text(q.value(5));
        r.filial = column::text(q.value(6));
        r.lancto = column::text(q.value(7));
        r.seq = column::text(q.value(8));
        r.action = column::text(q.value(9));
        r.outcome = column::text(q.value(10));
        out << r;
    }
    return out;
}

} // namespace srv
