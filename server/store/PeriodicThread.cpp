#include "server/store/PeriodicThread.h"

#include <QThread>

namespace srv {

PeriodicThread::PeriodicThread() = default;

PeriodicThread::~PeriodicThread() { stop(); }

void PeriodicThread::start(std::chrono::milliseconds every, std::function<void()> work)
{
    m_thread.reset(QThread::create([this, every, work = std::move(work)] {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stopping) {
            lock.unlock();
            work();
            lock.lock();
            m_wake.wait_for(lock, every, [this] { return m_stopping; });
        }
    }));
    m_thread->start();
}

void PeriodicThread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread) {
        m_thread->wait();
        m_thread.reset();
    }
}

} // namespace srv
