#include "server/store/BatchStore.h"

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

// What the audit trail says of a letter's outcome.
// What the letter's observation says of an outcome: the authority's words and the advice.
QString observationOf(const LetterOutcome& o)
{
    return (!o.observation.isEmpty() ? o.observation
            : o.cStat.isEmpty()      ? o.xMotivo
                                     : o.cStat + QStringLiteral(" - ") + o.xMotivo)
        .left(255);
}

QString outcomeText(const LetterOutcome& o, const QString& obs, const QString& type, const QString& batchReason)
{
    switch (o.kind) {
    case LetterOutcome::Kind::Accepted: return QStringLiteral("aceita: ") + obs;
    case LetterOutcome::Kind::Rejected: return QStringLiteral("rejeitada: ") + obs;
    case LetterOutcome::Kind::InDoubt:
        return type == QLatin1String("D") ? QStringLiteral("em dúvida: ") + batchReason
                                          : QStringLiteral("em dúvida: a SEFAZ não respondeu por este evento");
    case LetterOutcome::Kind::Released: return QStringLiteral("não enviada: ") + batchReason;
    }
    return obs;
}

} // namespace

QList<LetterToSend> BatchStore::latestLetters(const QString& company, const QList<QPair<QString, QString>>& invoices)
{
    QSqlDatabase db = openConnection(m_store);
    ReadTransaction read(m_store, db);
    QList<LetterToSend> out;
    for (const auto& [filial, lancto] : invoices) {
        Query q(m_store, db, "transmission");
        q.run(
            QStringLiteral(
                "SELECT N.CDFILIAL, N.NRLANCTONF, N.NRNOTAFISCALELE, N.CDEMPRESA, L.NRSEQCCE, L.DSCORRECAONFE, "
                "L.IDTRANSMCCE, L.CDSTATUSCCE, L.NRVERSAOREG, L.DSXMLEVENTO, N.NRACESSONFE, N.IDTPAMBNFE, "
                "I.SGESTADO, I.NRSERIECERTIFIC, I.NRINSJURIEST, N.IDSITUACAONFE, L.DTHRALTERACAO, "
                "(SELECT T.DSMOTIVOLOTE FROM LOTECCE T WHERE T.NRLOTE = (SELECT MAX(B.NRLOTE) FROM LOTECCENF B "
                "WHERE B.CDFILIAL = L.CDFILIAL AND B.NRLANCTONF = L.NRLANCTONF AND B.NRSEQCCE = L.NRSEQCCE)), "
                "(SELECT COUNT(*) FROM LOTECCENF B WHERE B.CDFILIAL = L.CDFILIAL AND B.NRLANCTONF = L.NRLANCTONF "
                "AND B.NRSEQCCE = L.NRSEQCCE), "
                "(SELECT COUNT(*) FROM CONSULTACCE C WHERE C.CDFILIAL = N.CDFILIAL AND C.NRLANCTONF = N.NRLANCTONF) + "
                "(SELECT COUNT(*) FROM CARTACORRECAO A WHERE A.CDFILIAL = N.CDFILIAL AND A.NRLANCTONF = N.NRLANCTONF "
                "AND A.CDSTATUSCCE IS NOT NULL), N.IDTIPOEMISNFE "
                "FROM NOTAFISCAL N JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
                "LEFT JOIN INSCRESTAD I ON I.CDEMPRESA = N.CDEMPRESA AND I.CDINSCESTA = N.CDINSCESTA "
                "WHERE N.CDFILIAL = ? AND N.NRLANCTONF = ? AND N.CDEMPRESA = ? AND L.NRSEQCCE = "
                "(SELECT MAX(NRSEQCCE) FROM CARTACORRECAO WHERE CDFILIAL = N.CDFILIAL AND NRLANCTONF = N.NRLANCTONF)"),
            {filial, lancto, company});
        if (!q.next())
            continue;
        LetterToSend l;
        l.cdFilial = text(q.value(0));
        l.nrLanctoNF = text(q.value(1));
        l.nrNotaFiscal = text(q.value(2));
        l.cdEmpresa = text(q.value(3));
        l.seq = text(q.value(4));
        l.text = text(q.value(5));
        l.transmission = text(q.value(6));
        l.status = text(q.value(7));
        l.version = q.value(8).toInt();
        l.signedEvent = text(q.value(9));
        l.chNFe = text(q.value(10));
        l.tpAmb = text(q.value(11));
        l.uf = text(q.value(12));
        l.certificate = text(q.value(13));
        l.issuerDocument = text(q.value(14));
        l.situacao = text(q.value(15));
        l.changedAt = column::toDateTime(q.value(16));
        // A send whose call recorded no ending (no reason on its batch) may still be under way.
        l.callEnded = q.value(18).toInt() == 0 || !text(q.value(17)).isEmpty();
        l.answerSeen = q.value(19).toInt() > 0;
        l.tpEmis = text(q.value(20));
        out << l;
    }
    read.finish();
    return out;
}

qint64 BatchStore::claim(const QString& company, const QList<LetterToSend>& letters,
                         const std::function<BuiltBatch(qint64, const QList<LetterToSend>&)>& build,
                         QList<LetterToSend>* claimed, BuiltBatch* built)
{
    QSqlDatabase db = openConnection(m_store);
    WriteTransaction tx(m_store, db);
    Query q(m_store, db, "transmission");
    // Batch numbers come from the database, never a clock; PostgreSQL serialises their
    // allocation across server processes with a transaction lock.
    if (m_store.engine() == db::Engine::PostgreSQL)
        q.run(QStringLiteral("SELECT pg_advisory_xact_lock(59000)"), {});
    q.run(QStringLiteral("SELECT COALESCE(MAX(NRLOTE), 0) + 1 FROM LOTECCE"), {});
    const qint64 batch = q.next() ? q.value(0).toLongLong() : 1;

    claimed->clear();
    const QDateTime now = QDateTime::currentDateTime();
    for (const LetterToSend& l : letters) {
        Query u(m_store, db, "transmission");
        // Only a letter nobody claimed or changed since it was read: a second server, or a
        // second call, that meets it claimed leaves it alone.
        u.run(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = ?, NRVERSAOREG = NRVERSAOREG + 1, "
                             "DTHRALTERACAO = ? WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ? "
                             "AND NRVERSAOREG = ? AND IDTRANSMCCE = ?"),
              {QString(cce::transm::kInDoubt), now, l.cdFilial, l.nrLanctoNF, l.seq, l.version, l.transmission});
        if (u.rowsAffected() == 1) {
            LetterToSend c = l;
            c.version = l.version + 1;
            *claimed << c;
        }
    }
    if (claimed->isEmpty())
        return 0; // rolled back: nothing changed

    *built = build(batch, *claimed);
    const bool refused = !built->schemaError.isEmpty();
    q.run(QStringLiteral("INSERT INTO LOTECCE (NRLOTE, CDEMPRESA, DTHRENVIO, IDTIPOARQXML, CDSTATUSLOTE, DSMOTIVOLOTE, "
                         "DSXMLENVIO, DSXMLRETORNO) VALUES (?, ?, ?, ?, NULL, ?, ?, NULL)"),
          {batch, company, now, refused ? QStringLiteral("S") : QStringLiteral("D"),
           refused ? QVariant(built->schemaError.left(255)) : QVariant(QMetaType(QMetaType::QString)),
           QString::fromUtf8(built->xml)});
    for (int i = 0; i < claimed->size(); ++i) {
        const LetterToSend& l = claimed->at(i);
        q.run(QStringLiteral("INSERT INTO LOTECCENF (NRLOTE, CDFILIAL, NRLANCTONF, NRSEQCCE) VALUES (?, ?, ?, ?)"),
              {batch, l.cdFilial, l.nrLanctoNF, l.seq});
        Query u(m_store, db, "transmission");
        if (refused)
            u.run(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = ?, CDSTATUSCCE = NULL, DSOBSSTATUSCCE = ?, "
                                 "DSXMLEVENTO = NULL, NRVERSAOREG = NRVERSAOREG + 1 "
                                 "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ?"),
                  {QString(cce::transm::kAnswered),
                   (QStringLiteral("Rejeitada na validação do esquema: ") + built->schemaError).left(255), l.cdFilial,
                   l.nrLanctoNF, l.seq});
        else
            u.run(QStringLiteral("UPDATE CARTACORRECAO SET DSXMLEVENTO = ? WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                                 "AND NRSEQCCE = ?"),
                  {QString::fromUtf8(built->signedEvents.value(i)), l.cdFilial, l.nrLanctoNF, l.seq});
        AuditTrail(m_store).record(db, {l.cdFilial, l.nrLanctoNF, l.seq, audit::kTransmitted,
                                        refused ? QStringLiteral("lote %1 rejeitado na validação do esquema").arg(batch)
                                                : QStringLiteral("enviada no lote %1").arg(batch)});
    }
    tx.commit();
    return batch;
}

void BatchStore::record(qint64 batch, const QString& type, const QString& cStat, const QString& xMotivo,
                        const QByteArray& answer, const QList<LetterOutcome>& outcomes)
{
    QSqlDatabase db = openConnection(m_store);
    WriteTransaction tx(m_store, db);
    Query q(m_store, db, "transmission");
    if (batch > 0)
        q.run(
            QStringLiteral("UPDATE LOTECCE SET IDTIPOARQXML = ?, CDSTATUSLOTE = ?, DSMOTIVOLOTE = ?, DSXMLRETORNO = ? "
                           "WHERE NRLOTE = ?"),
            {type, nullIfEmpty(cStat), nullIfEmpty(xMotivo.left(255)),
             answer.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(QString::fromUtf8(answer)), batch});
    AuditTrail trail(m_store);
    const QString action = batch > 0 ? audit::kAnswered : audit::kReconciled;
    for (const LetterOutcome& o : outcomes) {
        trail.record(db, {o.cdFilial, o.nrLanctoNF, o.seq, action, outcomeText(o, observationOf(o), type, xMotivo)});
        writeOutcome(m_store, db, o);
    }
    tx.commit();
}

void BatchStore::writeOutcome(Store& store, const QSqlDatabase& db, const LetterOutcome& o)
{
    const QDateTime now = QDateTime::currentDateTime();
    Query u(store, db, "transmission");
    const QString obs = observationOf(o);
    switch (o.kind) {
    case LetterOutcome::Kind::Accepted:
        // The registration's time is bound as the text of the issuer's clock: neither this
        // machine's zone nor the database session's moves it.
        u.run(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = ?, CDSTATUSCCE = ?, DSOBSSTATUSCCE = ?, "
                             "NRPROTOCOLCCE = ?, DTHRPROTOCOLCCE = ?, DSDHREGEVENTO = ?, DSXMLPROCEVENTO = ?, "
                             "NRVERSAOREG = NRVERSAOREG + 1, DTHRALTERACAO = ? "
                             "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ?"),
              {QString(cce::transm::kAnswered), o.cStat, obs, o.nProt, nullIfEmpty(o.registeredAt),
               nullIfEmpty(o.dhRegEvento), QString::fromUtf8(o.procEvento), now, o.cdFilial, o.nrLanctoNF, o.seq});
        break;
    case LetterOutcome::Kind::Rejected:
        u.run(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = ?, CDSTATUSCCE = ?, DSOBSSTATUSCCE = ?, "
                             "NRVERSAOREG = NRVERSAOREG + 1, DTHRALTERACAO = ? "
                             "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ?"),
              {QString(cce::transm::kAnswered), nullIfEmpty(o.cStat), obs, now, o.cdFilial, o.nrLanctoNF, o.seq});
        break;
    case LetterOutcome::Kind::InDoubt:
        break; // stays claimed, in doubt: reconciled with the authority before any new send
    case LetterOutcome::Kind::Released:
        // Nothing reached the authority: the letter is as it was before the claim.
        u.run(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = ?, NRVERSAOREG = NRVERSAOREG + 1, "
                             "DTHRALTERACAO = ? WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ?"),
              {o.restore.isEmpty() ? QString(cce::transm::kNotSent) : o.restore, now, o.cdFilial, o.nrLanctoNF, o.seq});
        break;
    }
}

QList<QByteArray> BatchStore::sentXml(const QString& filial, const QString& lancto, const QString& seq)
{
    QSqlDatabase db = openConnection(m_store);
    ReadTransaction read(m_store, db);
    Query q(m_store, db, "transmission");
    q.run(QStringLiteral("SELECT B.DSXMLENVIO FROM LOTECCE B JOIN LOTECCENF K ON K.NRLOTE = B.NRLOTE "
                         "WHERE K.CDFILIAL = ? AND K.NRLANCTONF = ? AND K.NRSEQCCE = ? AND B.DSXMLENVIO IS NOT NULL "
                         "ORDER BY B.NRLOTE"),
          {filial, lancto, seq});
    QList<QByteArray> out;
    while (q.next())
        out << text(q.value(0)).toUtf8();
    Query e(m_store, db, "transmission");
    e.run(QStringLiteral("SELECT DSXMLEVENTO FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ? "
                         "AND DSXMLEVENTO IS NOT NULL"),
          {filial, lancto, seq});
    if (e.next())
        out << text(e.value(0)).toUtf8();
    read.finish();
    return out;
}

QList<BatchStore::AcceptedEvent> BatchStore::acceptedEvents(const QString& company, const QDate& from, const QDate& to)
{
    QSqlDatabase db = openConnection(m_store);
    Query q(m_store, db, "transmission");
    QString sql =
        QStringLiteral("SELECT N.NRACESSONFE, L.NRSEQCCE, L.DSXMLPROCEVENTO FROM CARTACORRECAO L JOIN NOTAFISCAL N "
                       "ON N.CDFILIAL = L.CDFILIAL AND N.NRLANCTONF = L.NRLANCTONF WHERE N.CDEMPRESA = ? "
                       "AND L.CDSTATUSCCE IN ('135', '136') AND L.DSXMLPROCEVENTO IS NOT NULL");
    QVariantList binds{company};
    // The bounds are texts of the issuer's calendar, as the registrations are kept.
    if (from.isValid()) {
        sql += QStringLiteral(" AND L.DTHRPROTOCOLCCE >= ?");
        binds << from.toString(Qt::ISODate) + QStringLiteral("T00:00:00");
    }
    if (to.isValid()) {
        sql += QStringLiteral(" AND L.DTHRPROTOCOLCCE < ?");
        binds << to.addDays(1).toString(Qt::ISODate) + QStringLiteral("T00:00:00");
    }
    q.run(sql + QStringLiteral(" ORDER BY N.NRACESSONFE, L.NRSEQCCE"), binds);
    QList<AcceptedEvent> out;
    while (q.next())
        out << AcceptedEvent{text(q.value(0)), text(q.value(1)).toInt(), text(q.value(2)).toUtf8()};
    return out;
}

std::optional<BatchStore::FailedBatch> BatchStore::latestFailedBatch(const QString& filial, const QString& lancto)
{
    Query q(m_store, openConnection(m_store), "getXmlEnvLote");
    q.run(QStringLiteral("SELECT B.IDTIPOARQXML, B.DSXMLENVIO, B.DSXMLRETORNO FROM LOTECCE B "
                         "JOIN LOTECCENF K ON K.NRLOTE = B.NRLOTE "
                         "WHERE K.CDFILIAL = ? AND K.NRLANCTONF = ? AND B.IDTIPOARQXML IN ('S', 'R') "
                         "ORDER BY B.DTHRENVIO DESC, B.NRLOTE DESC"),
          {filial, lancto});
    if (!q.next())
        return std::nullopt;
    return FailedBatch{text(q.value(0)), text(q.value(1)), text(q.value(2))};
}

QHash<QString, QList<QPair<QString, QString>>> BatchStore::inDoubt(int limit)
{
    Query q(m_store, openConnection(m_store), "reconciliation");
    q.run(QStringLiteral("SELECT N.CDEMPRESA, L.CDFILIAL, L.NRLANCTONF FROM CARTACORRECAO L JOIN NOTAFISCAL N "
                         "ON N.CDFILIAL = L.CDFILIAL AND N.NRLANCTONF = L.NRLANCTONF WHERE L.IDTRANSMCCE = ? "
                         "AND L.NRSEQCCE = (SELECT MAX(NRSEQCCE) FROM CARTACORRECAO C WHERE C.CDFILIAL = L.CDFILIAL "
                         "AND C.NRLANCTONF = L.NRLANCTONF) ORDER BY L.DTHRALTERACAO, L.CDFILIAL, L.NRLANCTONF"),
          {QString(cce::transm::kInDoubt)});
    QHash<QString, QList<QPair<QString, QString>>> out;
    for (int n = 0; n < limit && q.next(); ++n)
        out[text(q.value(0))] << QPair<QString, QString>{text(q.value(1)), text(q.value(2))};
    return out;
}

bool BatchStore::releaseInDoubt(const LetterToSend& letter, const QString& observation)
{
    QSqlDatabase db = openConnection(m_store);
    WriteTransaction tx(m_store, db);
    Query q(m_store, db, "reconciliation");
    q.run(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = ?, DSOBSSTATUSCCE = ?, NRVERSAOREG = NRVERSAOREG + 1, "
                         "DTHRALTERACAO = ? WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ? "
                         "AND NRVERSAOREG = ? AND IDTRANSMCCE = ?"),
          {QString(cce::transm::kNotSent), observation.left(255), QDateTime::currentDateTime(), letter.cdFilial,
           letter.nrLanctoNF, letter.seq, letter.version, QString(cce::transm::kInDoubt)});
    if (q.rowsAffected() != 1)
        return false;
    AuditTrail(m_store).record(db, {letter.cdFilial, letter.nrLanctoNF, letter.seq, audit::kReconciled,
                                    QStringLiteral("não registrada na SEFAZ: pendente de nova transmissão")});
    tx.commit();
    return true;
}

} // namespace srv
