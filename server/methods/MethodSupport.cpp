#include "server/methods/MethodSupport.h"

#include <QSqlQuery>

#include <QHash>
#include <QStringList>

#include "core/values/Value.h"
#include "server/methods/Messages.h"
#include "server/rpc/CompanyScope.h"
#include "server/rpc/MethodRegistry.h"

namespace srv::methods {

namespace {
[[noreturn]] void throwDatabaseFault()
{
    throw RpcFault(fault::InternalError,
                   QStringLiteral("Falha no acesso ao banco de dados do servidor. Tente novamente; se o problema "
                                  "persistir, avise o suporte."));
}
} // namespace

void databaseFault(Store& store, const QSqlError& error, const char* where)
{
    qWarning("cce server: database failure in %s: %s", where, qPrintable(error.text()));
    if (error.type() == QSqlError::ConnectionError)
        store.dropConnection();
    throwDatabaseFault();
}

QSqlDatabase openConnection(Store& store)
{
    QSqlDatabase db = store.connection();
    if (!db.isOpen()) {
        // The handle of a failed connection only knows "Driver not loaded"; the store
        // kept the reason.
        qWarning("cce server: database connection failed: %s", qPrintable(store.lastOpenError()));
        throwDatabaseFault();
    }
    return db;
}

WriteTransaction::WriteTransaction(Store& store, QSqlDatabase db) : m_store(store), m_db(std::move(db))
{
    if (m_store.engine() == db::Engine::SQLite) {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
            databaseFault(m_store, q.lastError(), "begin");
    } else if (!m_db.transaction()) {
        databaseFault(m_store, m_db.lastError(), "begin");
    }
    m_open = true;
}

WriteTransaction::~WriteTransaction()
{
    if (!m_open)
        return;
    if (m_store.engine() == db::Engine::SQLite) {
        QSqlQuery q(m_db);
        q.exec(QStringLiteral("ROLLBACK"));
    } else {
        m_db.rollback();
    }
}

void WriteTransaction::commit()
{
    if (m_store.engine() == db::Engine::SQLite) {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("COMMIT")))
            databaseFault(m_store, q.lastError(), "commit");
    } else if (!m_db.commit()) {
        databaseFault(m_store, m_db.lastError(), "commit");
    }
    m_open = false;
}

ReadTransaction::ReadTransaction(Store& store, QSqlDatabase db) : m_store(store), m_db(std::move(db))
{
    if (!m_db.transaction())
        databaseFault(m_store, m_db.lastError(), "begin read");
    m_open = true;
    if (m_store.engine() == db::Engine::PostgreSQL) {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY")))
            databaseFault(m_store, q.lastError(), "begin read");
    }
}

ReadTransaction::~ReadTransaction()
{
    if (m_open)
        m_db.rollback();
}

void ReadTransaction::finish()
{
    m_open = false;
    m_db.rollback(); // nothing was written; releases the snapshot
}

QString companyScopeRefusal(const QString& company)
{
    return CompanyScope::current().allows(company) ? QString() : msg::acessoEmpresa(company.trimmed());
}

namespace {
// The first company the statement gives that the caller may not reach.
QString firstOutside(Store& store, QSqlQuery& q, const char* where)
{
    if (!q.exec())
        databaseFault(store, q.lastError(), where);
    while (q.next()) {
        const QString refusal = companyScopeRefusal(q.value(0).toString());
        if (!refusal.isEmpty())
            return refusal;
    }
    if (q.lastError().isValid())
        databaseFault(store, q.lastError(), where);
    return QString();
}
} // namespace

QString branchScopeRefusal(Store& store, QSqlDatabase db, const QString& filial)
{
    if (CompanyScope::current().everyCompany())
        return QString();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT CDEMPRESA FROM FILIAL WHERE CDFILIAL = ?")))
        databaseFault(store, q.lastError(), "company scope");
    q.bindValue(0, filial);
    return firstOutside(store, q, "company scope");
}

QString invoiceScopeRefusal(Store& store, QSqlDatabase db, const QString& filial, const QString& lancto)
{
    return invoicesScopeRefusal(store, db, {{filial, lancto}});
}

QString invoicesScopeRefusal(Store& store, QSqlDatabase db, const QList<QPair<QString, QString>>& invoices)
{
    if (CompanyScope::current().everyCompany() || invoices.isEmpty())
        return QString();
    // By branch, many entries per statement: the primary key answers each.
    constexpr int kPerStatement = 200;
    QHash<QString, QStringList> byBranch;
    for (const auto& [filial, lancto] : invoices)
        byBranch[filial].append(lancto);
    for (auto it = byBranch.cbegin(); it != byBranch.cend(); ++it) {
        const QStringList& entries = it.value();
        for (qsizetype from = 0; from < entries.size(); from += kPerStatement) {
            const qsizetype n = qMin<qsizetype>(kPerStatement, entries.size() - from);
            QStringList marks;
            for (qsizetype i = 0; i < n; ++i)
                marks << QStringLiteral("?");
            QSqlQuery q(db);
            q.setForwardOnly(true);
            if (!q.prepare(QStringLiteral("SELECT DISTINCT CDEMPRESA FROM NOTAFISCAL WHERE CDFILIAL = ? AND "
                                          "NRLANCTONF IN (%1)")
                               .arg(marks.join(QLatin1Char(',')))))
                databaseFault(store, q.lastError(), "company scope");
            q.bindValue(0, it.key());
            for (qsizetype i = 0; i < n; ++i)
                q.bindValue(int(i + 1), entries[from + i]);
            const QString refusal = firstOutside(store, q, "company scope");
            if (!refusal.isEmpty())
                return refusal;
        }
    }
    return QString();
}

QVariant stringOrNull(const QVariant& v)
{
    if (v.isNull())
        return fw::nullValue();
    return v.toString();
}

QString text(const QVariant& v) { return v.isNull() ? QString() : v.toString(); }

namespace {
int num(const QString& s, int pos, int len, bool* ok)
{
    int n = 0;
    for (int i = pos; i < pos + len; ++i) {
        const ushort c = s[i].unicode();
        if (c < '0' || c > '9') {
            *ok = false;
            return 0;
        }
        n = n * 10 + (c - '0');
    }
    return n;
}
} // namespace

QDateTime toDateTime(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return QDateTime();
    if (v.metaType().id() == QMetaType::QDateTime)
        return v.toDateTime();
    if (v.metaType().id() == QMetaType::QDate)
        return QDateTime(v.toDate(), QTime(0, 0));
    // SQLite keeps "yyyy-MM-ddTHH:mm:ss[.zzz]" (or a blank for the T, or the date alone).
    const QString s = v.toString();
    bool ok = s.size() >= 10;
    if (!ok)
        return QDateTime();
    const QDate d(num(s, 0, 4, &ok), num(s, 5, 2, &ok), num(s, 8, 2, &ok));
    QTime t(0, 0);
    if (s.size() >= 19)
        t = QTime(num(s, 11, 2, &ok), num(s, 14, 2, &ok), num(s, 17, 2, &ok));
    if (!ok || !d.isValid() || !t.isValid())
        return fw::dateTimeFromText(s.left(19));
    return QDateTime(d, t);
}

QString brazilianDate(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return QString();
    if (v.metaType().id() == QMetaType::QString) {
        const QString s = v.toString();
        if (s.size() >= 10 && s[4] == QLatin1Char('-') && s[7] == QLatin1Char('-'))
            return s.mid(8, 2) + QLatin1Char('/') + s.mid(5, 2) + QLatin1Char('/') + s.left(4);
    }
    const QDateTime dt = toDateTime(v);
    return dt.isValid() ? dt.toString(QStringLiteral("dd/MM/yyyy")) : QString();
}

int characterCount(const QString& s)
{
    int n = 0;
    for (int i = 0; i < s.size(); ++i) {
        if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate())
            ++i;
        ++n;
    }
    return n;
}

} // namespace srv::methods
