#include "server/rpc/WorkLanes.h"

#include <algorithm>

#include "server/rpc/AnswerStream.h"
#include "server/rpc/HttpResponse.h"
#include "server/rpc/HttpRpcServer.h"

namespace srv {

namespace {
// Quick workers read only bodies this small: a letter save is a few kilobytes, and a
// large packet must not keep them from the saves behind it.
constexpr qsizetype kQuickBodyLimit = 1024 * 1024;
} // namespace

WorkLanes::WorkLanes(const RpcDispatcher& dispatcher, const HttpServerOptions& options, std::function<void()> wake)
    : m_dispatcher(dispatcher), m_options(options), m_wake(std::move(wake))
{}

WorkLanes::~WorkLanes() { stop(); }

void WorkLanes::start()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = false;
        m_quit = false;
    }
    const int workers = qMax(1, m_options.workers);
    for (int i = 0; i < workers; ++i)
        m_workers.emplace_back([this] { work(false); });
    for (int i = 0; i < qMax(0, m_options.quickWorkers); ++i)
        m_workers.emplace_back([this] { work(true); });
}

void WorkLanes::submit(Job job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    // A quick worker may not take it: every worker looks.
    m_cv.notify_all();
}

std::vector<quint64> WorkLanes::close()
{
    std::vector<quint64> waiting;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    for (std::deque<Job>* queue : {&m_jobs, &m_generalWaiting, &m_heavyWaiting}) {
        for (const Job& job : *queue)
            waiting.push_back(job.id);
        queue->clear();
    }
    return waiting;
}

std::vector<WorkLanes::Finished> WorkLanes::takeFinished()
{
    std::vector<Finished> ready;
    std::lock_guard<std::mutex> lock(m_mutex);
    ready.swap(m_finished);
    return ready;
}

void WorkLanes::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_cv.notify_all();
    for (std::thread& t : m_workers)
        t.join();
    m_workers.clear();
    m_finished.clear();
    m_generalWaiting.clear();
    m_heavyWaiting.clear();
    m_heavyRunning = 0;
}

int WorkLanes::heavyLimit() const
{
    if (m_options.heavyWorkers >= 0)
        return m_options.heavyWorkers;
    return qMax(1, qMax(1, m_options.workers) - 1);
}

bool WorkLanes::heavyRoom() const { return heavyLimit() == 0 || m_heavyRunning < heavyLimit(); }

bool WorkLanes::hasWork(bool quickOnly) const
{
    if (!quickOnly)
        return (!m_heavyWaiting.empty() && heavyRoom()) || !m_generalWaiting.empty() || !m_jobs.empty();
    return std::any_of(m_jobs.begin(), m_jobs.end(), [](const Job& j) { return j.body.size() <= kQuickBodyLimit; });
}

bool WorkLanes::takeWork(bool quickOnly, Job* job)
{
    // A heavy call that waited goes first, as soon as there is room: it came before.
    if (!quickOnly && !m_heavyWaiting.empty() && heavyRoom()) {
        *job = std::move(m_heavyWaiting.front());
        m_heavyWaiting.pop_front();
        job->heavy = true;
        ++m_heavyRunning;
        return true;
    }
    if (!quickOnly && !m_generalWaiting.empty()) {
        *job = std::move(m_generalWaiting.front());
        m_generalWaiting.pop_front();
        return true;
    }
    for (auto it = m_jobs.begin(); it != m_jobs.end(); ++it) {
        if (quickOnly && it->body.size() > kQuickBodyLimit)
            continue;
        *job = std::move(*it);
        m_jobs.erase(it);
        return true;
    }
    return false;
}

void WorkLanes::work(bool quickOnly)
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [&] { return m_quit || hasWork(quickOnly); });
            if (!takeWork(quickOnly, &job))
                return;
        }
        if (!job.operatorPath.isEmpty()) {
            Finished f = servePage(job);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_finished.push_back(std::move(f));
            }
            m_wake();
            continue;
        }
        if (!job.prepared) {
            job.call = m_dispatcher.prepare(job.serverName, job.body);
            job.body = QByteArray(); // the request's memory goes before the call runs
            job.prepared = true;
            if (quickOnly && job.call.method && job.call.method->lane != MethodLane::Quick) {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_closed) {
                    m_generalWaiting.push_back(std::move(job));
                    m_cv.notify_all();
                    continue;
                }
                // The server began to stop while the request was read: it waits no more.
                Finished refused;
                refused.id = job.id;
                refused.target = http::printable(job.serverName.toUtf8()) + "/-";
                refused.outcome = "http 503";
                refused.httpStatus = 503;
                refused.response = http::refusal(503, QString(), m_options.bodyLimit, job.caller.requestId.toLatin1());
                m_finished.push_back(std::move(refused));
                m_wake();
                continue;
            }
        }
        if (!job.heavy && job.call.method && job.call.method->heavy && job.call.method->heavy(job.call.args)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            // Stopping, nothing waits any more: what was read is answered in full.
            if (!heavyRoom() && !m_closed) {
                m_heavyWaiting.push_back(std::move(job));
                continue;
            }
            job.heavy = true;
            ++m_heavyRunning;
        }
        Finished f = serve(job);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished.push_back(std::move(f));
            if (job.heavy) {
                --m_heavyRunning;
                if (!m_heavyWaiting.empty())
                    m_cv.notify_all();
            }
        }
        m_wake();
    }
}

WorkLanes::Finished WorkLanes::serve(Job& job)
{
    Finished f;
    f.id = job.id;
    f.target = http::printable(job.serverName.toUtf8()) + "/-";
    http::Headers headers;
    headers.requestId = job.caller.requestId.toLatin1();
    if (job.call.named)
        f.method = job.call.named->name.toUtf8();
    // An answer its method writes as it reads goes out as it comes.
    ConnectionStream stream(
        job.gzip, headers.requestId,
        [this, id = job.id](std::shared_ptr<Outbox> outbox) {
            Finished started;
            started.id = id;
            started.outbox = std::move(outbox);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished.push_back(std::move(started));
        },
        m_wake);
    try {
        RpcReply reply = m_dispatcher.run(job.call, *job.scope, job.caller, &stream);
        f.target = http::printable(job.serverName.toUtf8()) + '/' + http::printable(reply.method.toUtf8());
        f.faultCode = reply.faultCode;
        f.outcome = reply.faultCode == 0 ? QByteArray("ok") : QByteArray::number(reply.faultCode).prepend("error ");
        if (reply.streamed) {
            f.streamed = true;
            return f;
        }
        headers.commitPosition = http::printable(reply.commitPosition);
        if (reply.commitPosition.isEmpty())
            headers.commitPosition.clear();
        QByteArray packed = job.gzip && reply.body.size() >= http::kGzipFrom ? http::gzip(reply.body) : QByteArray();
        if (!packed.isEmpty()) {
            reply.body = QByteArray();
            headers.gzipped = true;
            f.response = http::response(200, packed, headers);
        } else {
            f.response = http::response(200, reply.body, headers);
        }
    } catch (...) {
        f.faultCode = fault::InternalError;
        f.outcome = QByteArray::number(fault::InternalError).prepend("error ");
        if (stream.started()) {
            stream.abort();
            f.streamed = true;
            return f;
        }
        f.response = http::response(
            500, RpcDispatcher::faultEnvelope(fault::InternalError, QStringLiteral("Erro interno do servidor.")),
            headers);
        f.httpStatus = 500;
    }
    return f;
}

WorkLanes::Finished WorkLanes::servePage(const Job& job)
{
    Finished f;
    f.id = job.id;
    f.target = "GET " + http::printable(job.operatorPath);
    f.method = job.operatorPath;
    http::Headers headers;
    headers.requestId = job.caller.requestId.toLatin1();
    OperatorPage page;
    try {
        page = m_options.operatorPage(job.operatorPath);
    } catch (...) {
        page = OperatorPage{500, "text/plain; charset=utf-8", "Erro interno do servidor.\n"};
    }
    if (page.status == 404) {
        f.method = "-"; // a path nobody serves is no page of the metrics
        f.response = http::refusal(404, QString(), m_options.bodyLimit, headers.requestId);
    } else {
        headers.contentType = page.contentType;
        f.response = http::response(page.status, page.body, headers);
    }
    f.httpStatus = page.status;
    f.outcome = page.status == 200 ? QByteArray("ok") : "http " + QByteArray::number(page.status);
    return f;
}

} // namespace srv
