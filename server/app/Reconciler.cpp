#include "server/app/Reconciler.h"

#include <QThread>

#include "server/rpc/LogLine.h"
#include "server/store/AuditTrail.h"
#include "server/store/ExclusiveJob.h"

namespace srv {

Reconciler::Reconciler(Store& store, int everySeconds, Round round)
    : m_store(store), m_everySeconds(everySeconds), m_round(std::move(round))
{}

Reconciler::~Reconciler() { stop(); }

void Reconciler::start()
{
    m_thread.reset(QThread::create([this] {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stopping) {
            lock.unlock();
            runOnce();
            lock.lock();
            m_wake.wait_for(lock, std::chrono::seconds(m_everySeconds), [this] { return m_stopping; });
        }
    }));
    m_thread->start();
}

void Reconciler::stop()
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

bool Reconciler::runOnce()
{
    QString why;
    const std::unique_ptr<ExclusiveJob> turn = ExclusiveJob::tryTake(m_store, ExclusiveJob::kReconcile, &why);
    if (!turn) {
        if (!why.isEmpty())
            logline::write(logline::Level::Warning,
                           QStringLiteral("Conciliação das cartas em dúvida adiada: %1.").arg(why));
        return false;
    }
    int round = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        round = ++m_rounds;
    }
    const AuditActorGuard actor(AuditActor{QStringLiteral("cce-server"), QString(), QString(),
                                           QStringLiteral("conciliacao-%1").arg(round), QString()});
    try {
        const QString done = m_round();
        if (!done.isEmpty())
            logline::write(logline::Level::Info, QStringLiteral("Conciliação das cartas em dúvida: %1").arg(done));
    } catch (...) {
        // The database or the authority failed under it: the next round tries again.
        logline::write(
            logline::Level::Warning,
            QStringLiteral("Conciliação das cartas em dúvida interrompida; tentada de novo na próxima vez."));
    }
    return true;
}

} // namespace srv
