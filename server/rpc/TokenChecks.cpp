#include "server/rpc/TokenChecks.h"

namespace srv {

TokenChecks::TokenChecks(const AccessTokens& tokens, std::function<void()> wake, int queueLimit)
    : m_tokens(tokens), m_wake(std::move(wake)), m_queueLimit(queueLimit)
{}

TokenChecks::~TokenChecks() { stop(); }

bool TokenChecks::submit(quint64 id, const QByteArray& presented)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string key = presented.toStdString();
    auto it = m_waiting.find(key);
    if (it != m_waiting.end()) {
        it->second.push_back(id);
        return true;
    }
    if (int(m_queue.size()) >= m_queueLimit || m_quit)
        return false;
    m_waiting.emplace(key, std::vector<quint64>{id});
    m_queue.push_back(presented);
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    m_cv.notify_one();
    return true;
}

std::vector<TokenChecks::Done> TokenChecks::takeDone()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Done> out;
    out.swap(m_done);
    return out;
}

void TokenChecks::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_cv.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
    // Ready to serve again, as the server may listen again.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = false;
    m_queue.clear();
    m_waiting.clear();
    m_done.clear();
}

void TokenChecks::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_quit || !m_queue.empty(); });
        if (m_quit)
            return;
        const QByteArray presented = m_queue.front();
        m_queue.pop_front();
        lock.unlock();
        const AccessTokens::Grant* grant = m_tokens.check(presented);
        lock.lock();
        const auto it = m_waiting.find(presented.toStdString());
        if (it != m_waiting.end()) {
            for (quint64 id : it->second)
                m_done.push_back(Done{id, grant});
            m_waiting.erase(it);
        }
        lock.unlock();
        m_wake();
        lock.lock();
    }
}

} // namespace srv
