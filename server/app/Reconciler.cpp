#include "server/app/Reconciler.h"

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
    m_schedule.start(std::chrono::seconds(m_everySeconds), [this] { runOnce(); });
}

void Reconciler::stop() { m_schedule.stop(); }

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
