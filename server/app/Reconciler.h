#pragma once
// The letters left in doubt, settled on the server's own schedule ([fiscal] reconcile_every):
// a round at start, then one every interval, each by one server of those sharing the
// database at a time (the others skip theirs). The audit trail names the server as who did it.
#include <QString>
#include <functional>
#include <mutex>

#include "server/store/PeriodicThread.h"

namespace srv {

class Store;

class Reconciler {
public:
    // round settles what it can and says what it did ("" when there was nothing to do).
    using Round = std::function<QString()>;
    Reconciler(Store& store, int everySeconds, Round round);
    ~Reconciler();
    Reconciler(const Reconciler&) = delete;
    Reconciler& operator=(const Reconciler&) = delete;

    void start();
    void stop(); // waits for a round under way to end

    // One round now, unless another server (or thread) runs one: then false, nothing done.
    bool runOnce();

private:
    Store& m_store;
    const int m_everySeconds;
    Round m_round;
    PeriodicThread m_schedule;
    std::mutex m_mutex; // m_rounds
    int m_rounds = 0;
};

} // namespace srv
