#pragma once
// Work done on a thread of its own: once at start, then once every interval until stopped.
// stop() wakes the sleep at once and waits for a run under way to end.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace srv {

class PeriodicThread {
public:
    PeriodicThread();
    ~PeriodicThread(); // stops
    PeriodicThread(const PeriodicThread&) = delete;
    PeriodicThread& operator=(const PeriodicThread&) = delete;

    void start(std::chrono::milliseconds every, std::function<void()> work);
    void stop();

private:
    std::unique_ptr<QThread> m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
};

} // namespace srv
