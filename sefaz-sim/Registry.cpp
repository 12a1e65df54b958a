#include "sefaz-sim/Registry.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimeZone>
#include <QUrl>
#include <QVariant>

#include "nfe/AccessKey.h"
#include "nfe/States.h"

namespace sim {

namespace {

const char* const kTables[] = {
    "CREATE TABLE IF NOT EXISTS NFE (CHNFE TEXT PRIMARY KEY, TPAMB TEXT NOT NULL, CSTAT TEXT NOT NULL, "
    "NPROT TEXT, DHRECBTO TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS EVENTO (CHNFE TEXT NOT NULL, TPEVENTO TEXT NOT NULL, NSEQEVENTO INTEGER NOT NULL, "
    "CSTAT TEXT NOT NULL, NPROT TEXT NOT NULL UNIQUE, DHREGEVENTO TEXT NOT NULL, PROCEVENTO TEXT NOT NULL, "
    "PRIMARY KEY (CHNFE, TPEVENTO, NSEQEVENTO))",
    "CREATE TABLE IF NOT EXISTS PROTOCOLO (ID INTEGER PRIMARY KEY AUTOINCREMENT, EM TEXT)",
};

QString lastError(const QSqlQuery& q) { return q.lastError().text(); }

RegisteredEvent readEvent(const QSqlQuery& q)
{
    RegisteredEvent e;
    e.chNFe = q.value(0).toString();
    e.tpEvento = q.value(1).toString();
    e.nSeqEvento = q.value(2).toInt();
    e.cStat = q.value(3).toString();
    e.nProt = q.value(4).toString();
    e.dhRegEvento = q.value(5).toString();
    e.procEvento = q.value(6).toString().toUtf8();
    return e;
}

} // namespace

Registry::~Registry()
{
    QMutexLocker lock(&m_names);
    for (const QString& name : std::as_const(m_connections))
        QSqlDatabase::removeDatabase(name);
}

QString Registry::connection()
{
    const QString name = QStringLiteral("sim_registry_%1_%2")
                             .arg(quintptr(this), 0, 16)
                             .arg(quintptr(QThread::currentThreadId()), 0, 16);
    if (!QSqlDatabase::contains(name)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(m_path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open()) {
            QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
            // Durable across a crash of the program; an operating system crash is not what a stand-in guards.
            QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        }
        QMutexLocker lock(&m_names);
        m_connections << name;
    }
    return name;
}

bool Registry::open(QString* error)
{
    QSqlDatabase db = QSqlDatabase::database(connection());
    if (!db.isOpen()) {
        *error = QStringLiteral("Não foi possível abrir o registro %1: %2").arg(m_path, db.lastError().text());
        return false;
    }
    QSqlQuery q(db);
    for (const char* sql : kTables)
        if (!q.exec(QString::fromLatin1(sql))) {
            *error = QStringLiteral("Não foi possível criar o registro %1: %2").arg(m_path, lastError(q));
            return false;
        }
    return true;
}

int Registry::seedFrom(const QString& url, QString* error)
{
    const QString name = QStringLiteral("sim_seed_%1").arg(quintptr(this), 0, 16);
    int count = -1;
    {
        QSqlDatabase src;
        if (url.startsWith(QLatin1String("sqlite:"))) {
            QString path = url.mid(7);
            if (path.startsWith(QLatin1String("//")))
                path = path.mid(2);
            if (!QFileInfo::exists(path)) {
                *error = QStringLiteral("Banco de dados da empresa não encontrado: %1").arg(path);
                return -1;
            }
            src = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            src.setDatabaseName(path);
            src.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        } else if (url.startsWith(QLatin1String("postgresql://")) || url.startsWith(QLatin1String("postgres://"))) {
            const QUrl u(url);
            src = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            src.setHostName(u.host());
            src.setPort(u.port(5432));
            src.setUserName(u.userName());
            src.setPassword(u.password().isEmpty() ? qEnvironmentVariable("PGPASSWORD") : u.password());
            src.setDatabaseName(u.path().mid(1));
        } else {
            *error = QStringLiteral("Endereço de banco de dados desconhecido (use sqlite:ARQUIVO ou "
                                    "postgresql://USUARIO@HOST:PORTA/BANCO).");
            return -1;
        }
        if (!src.open()) {
            *error =
                QStringLiteral("Não foi possível abrir o banco de dados da empresa: %1").arg(src.lastError().text());
        } else {
            QSqlDatabase reg = QSqlDatabase::database(connection());
            QSqlQuery read(src), write(reg);
            read.setForwardOnly(true);
            write.prepare(QStringLiteral("INSERT OR REPLACE INTO NFE (CHNFE, TPAMB, CSTAT, NPROT, DHRECBTO) "
                                         "VALUES (?, ?, ?, ?, ?)"));
            if (!read.exec(QStringLiteral("SELECT NRACESSONFE, IDTPAMBNFE, IDSITUACAONFE, NRPROTOCOLONFE, "
                                          "DTHRPROTOCOLNFE FROM NOTAFISCAL WHERE NRPROTOCOLONFE IS NOT NULL "
                                          "AND IDSITUACAONFE IN ('A', 'C')"))) {
                *error = QStringLiteral("Não foi possível ler as notas fiscais: %1").arg(lastError(read));
            } else {
                reg.transaction();
                count = 0;
                while (read.next()) {
                    const QString key = read.value(0).toString();
                    const nfe::State* state = nfe::stateByIbge(key.left(2).toInt());
                    if (!nfe::validAccessKey(key) || !state)
                        continue;
                    // The company database keeps the issuer's wall time.
                    QDateTime at = read.value(4).toDateTime();
                    at.setTimeZone(QTimeZone(state->timeZone));
                    write.addBindValue(key);
                    write.addBindValue(read.value(1).toString());
                    write.addBindValue(read.value(2).toString() == QLatin1String("A") ? QStringLiteral("100")
                                                                                      : QStringLiteral("101"));
                    write.addBindValue(read.value(3).toString());
                    write.addBindValue(nfe::eventTime(at, *state));
                    if (!write.exec()) {
                        *error = QStringLiteral("Não foi possível gravar o registro: %1").arg(lastError(write));
                        reg.rollback();
                        count = -1;
                        break;
                    }
                    ++count;
                }
                if (count >= 0 && !reg.commit()) {
                    *error = QStringLiteral("Não foi possível gravar o registro: %1").arg(reg.lastError().text());
                    count = -1;
                }
            }
            src.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return count;
}

bool Registry::addNFe(const RegisteredNFe& n)
{
    QSqlQuery q(QSqlDatabase::database(connection()));
    q.prepare(
        QStringLiteral("INSERT OR REPLACE INTO NFE (CHNFE, TPAMB, CSTAT, NPROT, DHRECBTO) VALUES (?, ?, ?, ?, ?)"));
    for (const QString& v : {n.chNFe, n.tpAmb, n.cStat, n.nProt, n.dhRecbto})
        q.addBindValue(v);
    return q.exec();
}

std::optional<RegisteredNFe> Registry::nfe(const QString& chNFe)
{
    QSqlQuery q(QSqlDatabase::database(connection()));
    q.prepare(QStringLiteral("SELECT CHNFE, TPAMB, CSTAT, NPROT, DHRECBTO FROM NFE WHERE CHNFE = ?"));
    q.addBindValue(chNFe);
    if (!q.exec() || !q.next())
        return std::nullopt;
    return RegisteredNFe{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                         q.value(4).toString()};
}

std::optional<RegisteredEvent> Registry::event(const QString& chNFe, const QString& tpEvento, int nSeqEvento)
{
    QSqlQuery q(QSqlDatabase::database(connection()));
    q.prepare(QStringLiteral("SELECT CHNFE, TPEVENTO, NSEQEVENTO, CSTAT, NPROT, DHREGEVENTO, PROCEVENTO FROM EVENTO "
                             "WHERE CHNFE = ? AND TPEVENTO = ? AND NSEQEVENTO = ?"));
    q.addBindValue(chNFe);
    q.addBindValue(tpEvento);
    q.addBindValue(nSeqEvento);
    if (!q.exec() || !q.next())
        return std::nullopt;
    return readEvent(q);
}

QList<RegisteredEvent> Registry::events(const QString& chNFe)
{
    QSqlQuery q(QSqlDatabase::database(connection()));
    q.prepare(QStringLiteral("SELECT CHNFE, TPEVENTO, NSEQEVENTO, CSTAT, NPROT, DHREGEVENTO, PROCEVENTO FROM EVENTO "
                             "WHERE CHNFE = ? OR ? ORDER BY rowid"));
    q.addBindValue(chNFe);
    q.addBindValue(chNFe.isEmpty() ? 1 : 0);
    QList<RegisteredEvent> out;
    if (q.exec())
        while (q.next())
            out << readEvent(q);
    return out;
}

QString Registry::nextProtocol(int cUF, const QDateTime& at, int digits)
{
    QSqlQuery q(QSqlDatabase::database(connection()));
    q.prepare(QStringLiteral("INSERT INTO PROTOCOLO (EM) VALUES (?)"));
    q.addBindValue(at.toString(Qt::ISODate));
    if (!q.exec())
        return QString();
    const qint64 id = q.lastInsertId().toLongLong();
    return QStringLiteral("1%1%2%3")
        .arg(cUF, 2, 10, QLatin1Char('0'))
        .arg(at.date().year() % 100, 2, 10, QLatin1Char('0'))
        .arg(id, digits - 5, 10, QLatin1Char('0'));
}

bool Registry::add(const RegisteredEvent& e)
{
    QSqlQuery q(QSqlDatabase::database(connection()));
    q.prepare(QStringLiteral("INSERT INTO EVENTO (CHNFE, TPEVENTO, NSEQEVENTO, CSTAT, NPROT, DHREGEVENTO, PROCEVENTO) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(e.chNFe);
    q.addBindValue(e.tpEvento);
    q.addBindValue(e.nSeqEvento);
    q.addBindValue(e.cStat);
    q.addBindValue(e.nProt);
    q.addBindValue(e.dhRegEvento);
    q.addBindValue(QString::fromUtf8(e.procEvento));
    return q.exec();
}

bool Registry::clearEvents()
{
    QSqlQuery q(QSqlDatabase::database(connection()));
    return q.exec(QStringLiteral("DELETE FROM EVENTO"));
}

} // namespace sim
