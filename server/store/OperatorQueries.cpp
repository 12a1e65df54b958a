#include "server/store/OperatorQueries.h"

#include <QSqlDatabase>

#include "db/Schema.h"
#include "server/store/DatabaseFault.h"
#include "server/store/Query.h"
#include "server/store/Store.h"
#include "vocabulary/Flags.h"

namespace srv {

QString OperatorQueries::databaseProblem()
{
    QSqlDatabase db = m_store.connection();
    if (!db.isOpen())
        return QStringLiteral("o banco de dados não responde: %1").arg(m_store.lastOpenError());
    QString error;
    const int version = db::schemaVersion(db, &error);
    if (version < 0) {
        // A link lost since the last call: the next one reconnects.
        m_store.dropConnection();
        return QStringLiteral("o banco de dados não respondeu à consulta do esquema");
    }
    if (version < db::latestSchemaVersion())
        return QStringLiteral("o esquema do banco está na versão %1 e este servidor precisa da %2: rode "
                              "cce-server --init com o mesmo banco")
            .arg(version)
            .arg(db::latestSchemaVersion());
    return QString();
}

LetterCounts OperatorQueries::letterCounts()
{
    Query q(m_store, openConnection(m_store), "operators");
    q.run(QStringLiteral("SELECT IDTRANSMCCE, CASE WHEN CDSTATUSCCE IN ('135', '136') THEN 1 ELSE 0 END, COUNT(*) "
                         "FROM CARTACORRECAO GROUP BY IDTRANSMCCE, CASE WHEN CDSTATUSCCE IN ('135', '136') THEN 1 "
                         "ELSE 0 END"));
    LetterCounts c;
    while (q.next()) {
        const QString transmission = q.value(0).toString();
        const qint64 n = q.value(2).toLongLong();
        if (transmission == cce::transm::kInDoubt)
            c.inDoubt += n;
        else if (transmission == cce::transm::kAnswered)
            (q.value(1).toInt() == 1 ? c.accepted : c.rejected) += n;
        else
            c.pending += n;
    }
    return c;
}

QList<RegistrationCertificate> OperatorQueries::registrationCertificates()
{
    Query q(m_store, openConnection(m_store), "operators");
    q.run(QStringLiteral("SELECT CDEMPRESA, CDINSCESTA, SGESTADO, NRSERIECERTIFIC, NRINSJURIEST FROM INSCRESTAD "
                         "ORDER BY CDEMPRESA, CDINSCESTA"));
    QList<RegistrationCertificate> out;
    while (q.next())
        out << RegistrationCertificate{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                                       q.value(3).toString().trimmed(), q.value(4).toString().trimmed()};
    return out;
}

} // namespace srv
