#pragma once
// The slow checks of hashed tokens, on a thread of their own so the connection loop never
// waits for one: the loop hands a connection's presented token over, goes on serving the
// others, and takes the outcome back once wake() told it. Requests presenting the same
// token at once share one check. The queue is bounded: past it, the caller refuses.
#include <QByteArray>
#include <QtGlobal>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/rpc/AccessTokens.h"

namespace srv {

class TokenChecks {
public:
    struct Done {
        quint64 id = 0; // the connection's
        const AccessTokens::Grant* grant = nullptr; // null: refused
    };

    // tokens must outlive this; wake is called from the checking thread after each check.
    TokenChecks(const AccessTokens& tokens, std::function<void()> wake, int queueLimit = 64);
    ~TokenChecks();
    TokenChecks(const TokenChecks&) = delete;
    TokenChecks& operator=(const TokenChecks&) = delete;

    // False when the queue is full (the request is then refused with 503).
    bool submit(quint64 id, const QByteArray& presented);
    std::vector<Done> takeDone();
    void stop();

private:
    void run();

    const AccessTokens& m_tokens;
    std::function<void()> m_wake;
    const int m_queueLimit;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<QByteArray> m_queue; // distinct tokens waiting
    std::unordered_map<std::string, std::vector<quint64>> m_waiting; // token -> connections
    std::vector<Done> m_done;
    bool m_quit = false;
    std::thread m_thread;
};

} // namespace srv
