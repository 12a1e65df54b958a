#include "server/store/Store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <atomic>

#include "db/DemoData.h"

namespace srv {

namespace {

std::atomic<quint64> g_storeSerial{0};
std::atomic<quint64> g_threadSerial{0};

quint64 threadSerial()
{
    // Unique for the life of the process, unlike thread ids, which the system reuses.
    thread_local const quint64 serial = ++g_threadSerial;
    return serial;
}

} // namespace

std::unique_ptr<Store> Store::open(const QString& url, QString* error, bool connectNow)
{
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return std::unique_ptr<Store>();
    };
    std::unique_ptr<Store> s(new Store);
    s->m_prefix = QStringLiteral("cce_store_%1").arg(++g_storeSerial);
    if (url.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        QString path = url.mid(7);
        if (path.startsWith(QLatin1String("//")))
            path = path.mid(2);
        if (path.isEmpty())
            return fail(QStringLiteral("O endereço do banco de dados não indica o arquivo: %1").arg(url));
        if (path != QLatin1String(":memory:")) {
            const QFileInfo info(path);
            if (!QDir().mkpath(info.absolutePath()))
                return fail(
                    QStringLiteral("Não foi possível criar a pasta do arquivo de banco de dados %1.").arg(path));
            path = info.absoluteFilePath();
        }
        s->m_engine = db::Engine::SQLite;
        s->m_driver = QStringLiteral("QSQLITE");
        s->m_database = path;
    } else if (url.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
               url.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive)) {
        const QUrl u(url);
        if (!u.isValid() || u.host().isEmpty() || u.path().size() < 2)
            return fail(QStringLiteral("Endereço PostgreSQL inválido (use postgresql://USUARIO@HOST:PORTA/BANCO)."));
        s->m_engine = db::Engine::PostgreSQL;
        s->m_driver = QStringLiteral("QPSQL");
        s->m_host = u.host();
        s->m_port = u.port(5432);
        s->m_user = u.userName();
        s->m_database = u.path().mid(1);
        s->m_password = u.password();
        if (s->m_password.isEmpty())
            s->m_password = qEnvironmentVariable("PGPASSWORD");
    } else {
        return fail(QStringLiteral(
            "Endereço de banco de dados desconhecido (use sqlite:ARQUIVO ou postgresql://USUARIO@HOST:PORTA/BANCO)."));
    }
    if (!QSqlDatabase::isDriverAvailable(s->m_driver))
        return fail(QStringLiteral("O driver Qt SQL %1 não está instalado.").arg(s->m_driver));
    // Open the calling thread's connection now, so a bad URL shows at once.
    QString err;
    if (connectNow && !s->openConnection(s->threadConnectionName(), &err))
        return fail(err);
    return s;
}

namespace {
void closeConnection(const QString& name)
{
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(name);
}
} // namespace

Store::~Store()
{
    QMutexLocker lock(&m_connections->mutex);
    m_connections->alive = false;
    // Other threads' connections: looking them up from here would warn, and removal
    // closes them anyway.
    for (const QString& name : std::as_const(m_connections->names))
        QSqlDatabase::removeDatabase(name);
    m_connections->names.clear();
}

QStringList Store::connectionNames() const
{
    QMutexLocker lock(&m_connections->mutex);
    return m_connections->names;
}

QString Store::threadConnectionName() const { return m_prefix + QLatin1Char('_') + QString::number(threadSerial()); }

bool Store::openConnection(const QString& name, QString* error)
{
    {
        QSqlDatabase db = addConnection(name);
        bool ok = db.open();
        QString err = ok ? QString() : db.lastError().text();
        if (ok && !db::configureConnection(db, &err))
            ok = false;
        if (ok) {
            QMutexLocker lock(&m_connections->mutex);
            m_connections->names.append(name);
            QThread* thread = QThread::currentThread();
            if (!QCoreApplication::instance() || thread != QCoreApplication::instance()->thread()) {
                // Runs in the ending thread itself, the only one allowed to close it.
                QObject::connect(thread, &QThread::finished, [shared = m_connections, name]() {
                    QMutexLocker l(&shared->mutex);
                    if (!shared->alive || !shared->names.removeOne(name))
                        return;
                    closeConnection(name);
                });
            }
            return true;
        }
        const QString why = ok ? err : describeOpenFailure(err);
        {
            QMutexLocker lock(&m_connections->mutex);
            m_connections->lastOpenError = why;
        }
        if (error)
            *error = QStringLiteral("Não foi possível abrir o banco de dados: %1").arg(why);
    }
    QSqlDatabase::removeDatabase(name);
    return false;
}

QSqlDatabase Store::addConnection(const QString& name) const
{
    QSqlDatabase db = QSqlDatabase::addDatabase(m_driver, name);
    db.setDatabaseName(m_database);
    if (m_engine == db::Engine::PostgreSQL) {
        db.setHostName(m_host);
        db.setPort(m_port);
        db.setUserName(m_user);
        if (!m_password.isEmpty())
            db.setPassword(m_password);
        db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    } else {
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
    }
    return db;
}

QSqlDatabase Store::newConnection(const QString& name, QString* error)
{
    QSqlDatabase db = addConnection(name);
    if (!db.open() && error)
        *error = describeOpenFailure(db.lastError().text());
    return db;
}

QString Store::describeOpenFailure(const QString& driverText) const
{
    const QString text = driverText.simplified();
    auto has = [&](const char* fragment) { return text.contains(QLatin1String(fragment), Qt::CaseInsensitive); };
    if (m_engine == db::Engine::SQLite)
        return QStringLiteral("o arquivo %1 não pôde ser aberto ou criado (a pasta existe e o servidor pode "
                              "escrever nela?) [%2]")
            .arg(m_database, text);
    const QString where = QStringLiteral("%1:%2").arg(m_host).arg(m_port);
    QString why;
    if (has("Connection refused"))
        why = QStringLiteral("o servidor PostgreSQL em %1 recusou a conexão: ele não está em execução ou não "
                             "escuta nesse endereço e porta")
                  .arg(where);
    else if (has("could not translate host name") || has("Name or service not known"))
        why = QStringLiteral("o nome do servidor PostgreSQL %1 não foi encontrado").arg(m_host);
    else if (has("timeout expired") || has("timed out"))
        why = QStringLiteral("o servidor PostgreSQL em %1 não respondeu a tempo").arg(where);
    else if (has("password authentication failed") || has("no password supplied"))
        why = QStringLiteral("o PostgreSQL em %1 recusou a senha do usuário %2 (veja PGPASSWORD)").arg(where, m_user);
    else if (has("no pg_hba.conf entry"))
        why = QStringLiteral("o PostgreSQL em %1 não aceita conexões deste computador para o usuário %2 "
                             "(pg_hba.conf)")
                  .arg(where, m_user);
    else if (has("database") && has("does not exist"))
        why = QStringLiteral("o banco %1 não existe no servidor PostgreSQL em %2").arg(m_database, where);
    else if (has("role") && has("does not exist"))
        why = QStringLiteral("o usuário %1 não existe no servidor PostgreSQL em %2").arg(m_user, where);
    else
        why = QStringLiteral("o PostgreSQL em %1 recusou a conexão").arg(where);
    // The driver's own words follow, for whoever needs to look further.
    return QStringLiteral("%1 [%2]").arg(why, text);
}

QString Store::lastOpenError() const
{
    QMutexLocker lock(&m_connections->mutex);
    return m_connections->lastOpenError.isEmpty() ? QStringLiteral("motivo desconhecido")
                                                  : m_connections->lastOpenError;
}

QSqlDatabase Store::connection(bool warn)
{
    const QString name = threadConnectionName();
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen())
            return db;
        if (db.open()) {
            QString err;
            db::configureConnection(db, &err);
            return db;
        }
        const QString why = describeOpenFailure(db.lastError().text());
        QMutexLocker lock(&m_connections->mutex);
        m_connections->lastOpenError = why;
        return db;
    }
    QString err;
    if (!openConnection(name, &err) && warn)
        qWarning("cce store: %s", qPrintable(err));
    return QSqlDatabase::database(name, false);
}

void Store::dropConnection()
{
    const QString name = threadConnectionName();
    if (!QSqlDatabase::contains(name))
        return;
    QSqlDatabase db = QSqlDatabase::database(name, false);
    db.close();
}

bool Store::migrate(QString* error)
{
    QSqlDatabase db = connection();
    if (!db.isOpen()) {
        if (error)
            *error = QStringLiteral("Não foi possível abrir o banco de dados.");
        return false;
    }
    return db::migrate(db, error);
}

bool Store::fillDemo(int invoices, QString* error)
{
    QSqlDatabase db = connection();
    if (!db.isOpen()) {
        if (error)
            *error = QStringLiteral("Não foi possível abrir o banco de dados.");
        return false;
    }
    // Demo data goes only into an empty database; running the initialisation again on a
    // database that already holds companies leaves it as it is.
    {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT COUNT(*) FROM EMPRESA")) && q.next() && q.value(0).toInt() > 0) {
            qInfo("cce store: the database already holds companies; demo data not added");
            return true;
        }
    }
    db::DemoOptions o;
    o.invoices = invoices;
    return db::fillDemo(db, o, error);
}

} // namespace srv
