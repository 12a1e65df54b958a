#pragma once
// Lists read from a streaming standby of the PostgreSQL primary ([database] read_url);
// every write, and every read that decides one, stays on the primary. A client that brings
// the primary's position its own writes reached (CommitPosition.h) has its list read on the
// standby only once the standby has replayed that far, waiting for it at most a bound;
// else the list is read on the primary. A standby that does not answer, is not in recovery
// or lags further behind than a bound is left aside (said in the log, counted) until a
// later look finds it answering and caught up.
#include <QByteArray>
#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "server/store/PeriodicThread.h"

namespace srv {

class Store;

class ReadReplica {
public:
    struct Settings {
        int waitMs = 250; // for the standby to replay a client's own writes
        int maxLagMs = 5000; // behind the primary before it is left aside
        int lookEveryMs = 1000; // how often the watch looks at it
    };
    // Where a list went, and why.
    enum class Road { Standby, PrimaryNotReplayed, PrimaryAside };
    // A line for the operator's log: good when the standby is taken (back), else why it is
    // left aside.
    using Say = std::function<void(bool good, const QString& line)>;

    ReadReplica(Store& primary, std::unique_ptr<Store> standby, Settings settings, Say say);
    ~ReadReplica();
    ReadReplica(const ReadReplica&) = delete;
    ReadReplica& operator=(const ReadReplica&) = delete;

    // The watch, on a thread of its own: a look at once, then one every lookEveryMs.
    void start();
    void stop();

    // The store the list of a client whose writes reached position ("" when it brought
    // none) is read from.
    Store& forList(const QByteArray& position);
    // A read on the standby failed: left aside now, until the watch finds it well.
    void failed(const QString& why);
    Store& primary() { return m_primary; }

    // One look at the standby and the primary; whether the standby is in use after it.
    bool look();

    bool inUse() const { return m_inUse; }
    double lagSeconds() const { return m_lagMs / 1000.0; }
    quint64 lists(Road road) const { return m_lists[size_t(road)]; }
    quint64 timesSetAside() const { return m_setAside; }

private:
    using Clock = std::chrono::steady_clock;
    void use(bool inUse, const QString& why);
    void count(Road road) { ++m_lists[size_t(road)]; }

    Store& m_primary;
    std::unique_ptr<Store> m_standby;
    const Settings m_settings;
    Say m_say;
    std::atomic<bool> m_inUse{false};
    std::atomic<qint64> m_lagMs{0};
    std::array<std::atomic<quint64>, 3> m_lists{};
    std::atomic<quint64> m_setAside{0};

    std::mutex m_mutex; // the state below
    bool m_said = false; // the log has heard of the standby once
    // The primary's positions at the last looks, oldest first.
    std::deque<std::pair<Clock::time_point, quint64>> m_primaryAt;
    PeriodicThread m_watch; // last: it stops before the state it reads goes
};

} // namespace srv
