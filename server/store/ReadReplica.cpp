#include "server/store/ReadReplica.h"

#include <thread>

#include "server/store/DatabaseFault.h"
#include "server/store/PgSession.h"
#include "server/store/Query.h"
#include "server/store/Store.h"

namespace srv {

namespace {

// The first row of a statement on store, as texts; false when the database did not answer.
// A connection lost since its last use (a standby restarted) is made again once.
bool ask(Store& store, const char* sql, QList<QByteArray>* values)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QSqlDatabase db = store.connection(false);
        if (!db.isOpen())
            return false;
        try {
            Query q(store, db, "standby");
            q.run(QString::fromLatin1(sql));
            if (!q.next())
                return false;
            values->clear();
            for (int c = 0; c < q.columnCount(); ++c)
                *values << q.value(c).toString().toLatin1();
            return true;
        } catch (const DatabaseFault&) {}
    }
    return false;
}

} // namespace

ReadReplica::ReadReplica(Store& primary, std::unique_ptr<Store> standby, Settings settings, Say say)
    : m_primary(primary), m_standby(std::move(standby)), m_settings(settings), m_say(std::move(say))
{}

ReadReplica::~ReadReplica() { stop(); }

void ReadReplica::start()
{
    m_watch.start(std::chrono::milliseconds(m_settings.lookEveryMs), [this] { look(); });
}

void ReadReplica::stop() { m_watch.stop(); }

void ReadReplica::use(bool inUse, const QString& why)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool was = m_inUse.exchange(inUse);
    if (was && !inUse)
        ++m_setAside;
    if (was == inUse && m_said)
        return;
    m_said = true;
    if (m_say)
        m_say(inUse, inUse ? QStringLiteral("réplica de leitura em uso: as listas de notas são lidas nela")
                           : QStringLiteral("réplica de leitura deixada de lado (%1): as listas de notas vão ao "
                                            "banco principal até ela se pôr em dia")
                                 .arg(why));
}

void ReadReplica::failed(const QString& why) { use(false, why); }

bool ReadReplica::look()
{
    QList<QByteArray> standby, primary;
    if (!ask(*m_standby, "SELECT pg_is_in_recovery(), pg_last_wal_replay_lsn()", &standby)) {
        use(false, QStringLiteral("não responde"));
        return false;
    }
    quint64 replayed = 0;
    if (standby.value(0) != "true" || !parseLogPosition(standby.value(1), &replayed)) {
        use(false, QStringLiteral("não é uma réplica em recuperação"));
        return false;
    }
    quint64 at = 0;
    if (!ask(m_primary, "SELECT pg_current_wal_lsn()", &primary) || !parseLogPosition(primary.value(0), &at))
        return m_inUse; // the primary's trouble is no standby's: nothing to compare with now
    const Clock::time_point now = Clock::now();
    qint64 lagMs = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_primaryAt.emplace_back(now, at);
        // The standby is at least as far behind as the oldest look at which the primary
        // had already written past what the standby has replayed now.
        for (const auto& [when, position] : m_primaryAt)
            if (position > replayed) {
                lagMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - when).count();
                break;
            }
        const auto keep = std::chrono::milliseconds(2 * m_settings.maxLagMs + m_settings.lookEveryMs);
        while (m_primaryAt.size() > 1 && now - m_primaryAt.front().first > keep)
            m_primaryAt.pop_front();
    }
    m_lagMs = lagMs;
    if (lagMs > m_settings.maxLagMs)
        use(false, QStringLiteral("%1 s atrás do banco principal").arg(double(lagMs) / 1000.0, 0, 'f', 1));
    else if (!m_inUse && lagMs <= m_settings.lookEveryMs)
        use(true, QString()); // caught up: it has replayed what the primary had at the last look
    return m_inUse;
}

Store& ReadReplica::forList(const QByteArray& position)
{
    if (!m_inUse) {
        count(Road::PrimaryAside);
        return m_primary;
    }
    quint64 wanted = 0;
    if (!parseLogPosition(position, &wanted)) {
        count(Road::Standby);
        return *m_standby;
    }
    // Asked on the connection the list is then read on: whatever stands between, that
    // one has replayed the client's writes.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_settings.waitMs);
    int pauseMs = 1;
    for (;;) {
        QList<QByteArray> replay;
        quint64 replayed = 0;
        if (!ask(*m_standby, "SELECT pg_last_wal_replay_lsn()", &replay) ||
            !parseLogPosition(replay.value(0), &replayed)) {
            failed(QStringLiteral("não respondeu a uma lista"));
            count(Road::PrimaryAside);
            return m_primary;
        }
        if (replayed >= wanted) {
            count(Road::Standby);
            return *m_standby;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            count(Road::PrimaryNotReplayed);
            return m_primary;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(pauseMs), deadline - now));
        pauseMs = std::min(pauseMs * 2, 16);
    }
}

} // namespace srv
