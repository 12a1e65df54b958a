#include "server/store/RegistryStore.h"

#include <QDateTime>

#include "server/store/AuditTrail.h"
#include "server/store/ColumnValues.h"
#include "server/store/DatabaseFault.h"
#include "server/store/Query.h"
#include "server/store/Transactions.h"
#include "vocabulary/Flags.h"

namespace srv {

using column::nullIfEmpty;
using column::text;

namespace {

struct Conflict {};

} // namespace

QList<LocalLetter> RegistryStore::letters(const QString& filial, const QString& lancto)
{
    Query q(m_store, openConnection(m_store), "registry");
    q.run(QStringLiteral("SELECT NRSEQCCE, DSCORRECAONFE, IDTRANSMCCE, CDSTATUSCCE, NRPROTOCOLCCE, IDORIGEMCCE, "
                         "NRVERSAOREG FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ? ORDER BY NRSEQCCE"),
          {filial, lancto});
    QList<LocalLetter> out;
    while (q.next())
        out << LocalLetter{text(q.value(0)), text(q.value(1)), text(q.value(2)),  text(q.value(3)),
                           text(q.value(4)), text(q.value(5)), q.value(6).toInt()};
    return out;
}

bool RegistryStore::apply(const RegistryChanges& c)
{
    QSqlDatabase db = openConnection(m_store);
    WriteTransaction tx(m_store, db);
    try {
        Query lock(m_store, db, "registry");
        QString sql = QStringLiteral("SELECT NRINSJURTRAN FROM NOTAFISCAL WHERE CDFILIAL = ? AND NRLANCTONF = ?");
        if (m_store.engine() == db::Engine::PostgreSQL)
            sql += QStringLiteral(" FOR UPDATE");
        lock.run(sql, {c.filial, c.lancto});
        if (!lock.next())
            throw Conflict{};
        const bool hasCarrier = !text(lock.value(0)).trimmed().isEmpty();
        const QDateTime now = QDateTime::currentDateTime();
        // Who did what to each letter: the registry's reading is a reconciliation.
        AuditTrail trail(m_store);

        auto atVersion = [&](const QString& seq, int version) {
            Query v(m_store, db, "registry");
            v.run(QStringLiteral("SELECT NRVERSAOREG FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                                 "AND NRSEQCCE = ?"),
                  {c.filial, c.lancto, seq});
            if (!v.next() || v.value(0).toInt() != version)
                throw Conflict{};
        };
        if (c.move) {
            atVersion(c.move->from, c.move->version);
            Query taken(m_store, db, "registry");
            taken.run(QStringLiteral("SELECT COUNT(*) FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                                     "AND NRSEQCCE = ?"),
                      {c.filial, c.lancto, c.move->to});
            if (!taken.next() || taken.value(0).toInt() != 0)
                throw Conflict{};
            Query m(m_store, db, "registry");
            m.run(QStringLiteral("UPDATE CARTACORRECAO SET NRSEQCCE = ?, IDTRANSMCCE = ?, CDSTATUSCCE = NULL, "
                                 "DSOBSSTATUSCCE = ?, NRPROTOCOLCCE = NULL, DTHRPROTOCOLCCE = NULL, "
                                 "DSDHREGEVENTO = NULL, DSXMLEVENTO = NULL, DSXMLPROCEVENTO = NULL, "
                                 "NRVERSAOREG = NRVERSAOREG + 1, DTHRALTERACAO = ? "
                                 "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ?"),
                  {c.move->to, QString(cce::transm::kNotSent), c.move->observation.left(255), now, c.filial, c.lancto,
                   c.move->from});
            trail.record(db, {c.filial, c.lancto, c.move->to, audit::kReconciled,
                              QStringLiteral("movida da sequência %1: %2").arg(c.move->from, c.move->observation)});
        }
        if (c.ours) {
            atVersion(c.ours->seq, c.oursVersion);
            BatchStore::writeOutcome(m_store, db, *c.ours);
            trail.record(db, {c.filial, c.lancto, c.ours->seq, audit::kReconciled,
                              QStringLiteral("conferida na SEFAZ: %1 - %2").arg(c.ours->cStat, c.ours->xMotivo)});
        }
        for (const ImportedLetter& i : c.imports) {
            Query ins(m_store, db, "registry");
            ins.run(QStringLiteral("INSERT INTO CARTACORRECAO (CDFILIAL, NRLANCTONF, NRSEQCCE, DSCORRECAONFE, "
                                   "CDSTATUSCCE, DSOBSSTATUSCCE, DTHRPROTOCOLCCE, NRPROTOCOLCCE, DSDHREGEVENTO, "
                                   "IDEMAILCCE, IDEMAILCCETRANS, IDTRANSMCCE, DSXMLEVENTO, DSXMLPROCEVENTO, "
                                   "NRVERSAOREG, DTHRALTERACAO, IDORIGEMCCE) "
                                   "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1, ?, ?)"),
                    {c.filial, c.lancto, i.seq, i.text.left(1000), i.cStat, i.observation.left(255),
                     nullIfEmpty(i.registeredAt), i.nProt, nullIfEmpty(i.dhRegEvento), QString(cce::email::kPending),
                     QString(hasCarrier ? cce::email::kPending : cce::email::kNone), QString(cce::transm::kAnswered),
                     QString::fromUtf8(i.signedEvent), QString::fromUtf8(i.procEvento), now,
                     QString(cce::origin::kElsewhere)});
            trail.record(db,
                         {c.filial, c.lancto, i.seq, audit::kReconciled,
                          QStringLiteral("registrada por outro sistema, trazida da SEFAZ: protocolo %1").arg(i.nProt)});
        }
        Query del(m_store, db, "registry");
        del.run(QStringLiteral("DELETE FROM CONSULTACCE WHERE CDFILIAL = ? AND NRLANCTONF = ?"), {c.filial, c.lancto});
        Query rec(m_store, db, "registry");
        rec.run(QStringLiteral("INSERT INTO CONSULTACCE (CDFILIAL, NRLANCTONF, DTHRCONSULTA, CDSTATUSNFE, QTEVENTOS) "
                               "VALUES (?, ?, ?, ?, ?)"),
                {c.filial, c.lancto, QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")),
                 nullIfEmpty(c.nfeStatus.left(4)), c.events});
    } catch (const Conflict&) {
        return false; // rolled back
    }
    tx.commit();
    return true;
}

QList<RegistryInvoice> RegistryStore::syncInvoices(const QString& company, const QDate& since, const QString& filial,
                                                   const QString& lancto, const QString& readSinceUtc)
{
    QString sql =
        QStringLiteral("SELECT N.CDFILIAL, N.NRLANCTONF, N.NRNOTAFISCALELE, N.NRACESSONFE, N.IDTPAMBNFE, I.SGESTADO, "
                       "I.NRSERIECERTIFIC, I.NRINSJURIEST, N.IDSITUACAONFE FROM NOTAFISCAL N "
                       "LEFT JOIN INSCRESTAD I ON I.CDEMPRESA = N.CDEMPRESA AND I.CDINSCESTA = N.CDINSCESTA "
                       "WHERE N.CDEMPRESA = ? AND N.IDSITUACAONFE IN ('A', 'C') AND N.NRACESSONFE IS NOT NULL "
                       "AND N.IDTPAMBNFE IN ('1', '2')");
    QVariantList binds{company};
    if (!filial.isEmpty()) {
        sql += QStringLiteral(" AND N.CDFILIAL = ? AND N.NRLANCTONF = ?");
        binds << filial << lancto;
    } else {
        if (since.isValid()) {
            sql += QStringLiteral(" AND N.DTEMISSAO >= ?");
            binds << since.toString(Qt::ISODate) + QStringLiteral("T00:00:00");
        } else {
            sql += QStringLiteral(" AND EXISTS (SELECT 1 FROM CARTACORRECAO L WHERE L.CDFILIAL = N.CDFILIAL "
                                  "AND L.NRLANCTONF = N.NRLANCTONF)");
        }
        // In step: read recently, and nothing left in doubt since.
        sql += QStringLiteral(" AND (NOT EXISTS (SELECT 1 FROM CONSULTACCE C WHERE C.CDFILIAL = N.CDFILIAL "
                              "AND C.NRLANCTONF = N.NRLANCTONF AND C.DTHRCONSULTA >= ?) OR EXISTS (SELECT 1 FROM "
                              "CARTACORRECAO D WHERE D.CDFILIAL = N.CDFILIAL AND D.NRLANCTONF = N.NRLANCTONF "
                              "AND D.IDTRANSMCCE = ?))");
        binds << readSinceUtc << QString(cce::transm::kInDoubt);
    }
    Query q(m_store, openConnection(m_store), "registry");
    q.run(sql + QStringLiteral(" ORDER BY N.CDFILIAL, N.NRLANCTONF"), binds);
    QList<RegistryInvoice> out;
    while (q.next()) {
        RegistryInvoice r;
        r.filial = text(q.value(0));
        r.lancto = text(q.value(1));
        r.nrNotaFiscal = text(q.value(2));
        r.chNFe = text(q.value(3));
        r.tpAmb = text(q.value(4));
        r.uf = text(q.value(5));
        r.certificate = text(q.value(6));
        r.issuerDocument = text(q.value(7));
        r.situacao = text(q.value(8));
        out << r;
    }
    return out;
}

} // namespace srv
