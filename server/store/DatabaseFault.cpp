#include "server/store/DatabaseFault.h"

#include "server/store/Store.h"

namespace srv {

DatabaseFault::DatabaseFault()
    : m_message(QStringLiteral("Falha no acesso ao banco de dados do servidor. Tente novamente; se o problema "
                               "persistir, avise o suporte.")),
      m_utf8(m_message.toUtf8())
{}

void databaseFault(Store& store, const QSqlError& error, const char* where)
{
    qWarning("cce server: database failure in %s: %s", where, qPrintable(error.text()));
    if (error.type() == QSqlError::ConnectionError)
        store.dropConnection();
    throw DatabaseFault();
}

QSqlDatabase openConnection(Store& store)
{
    QSqlDatabase db = store.connection();
    if (!db.isOpen()) {
        // The handle of a failed connection only knows "Driver not loaded"; the store
        // kept the reason.
        qWarning("cce server: database connection failed: %s", qPrintable(store.lastOpenError()));
        throw DatabaseFault();
    }
    return db;
}

} // namespace srv
