#pragma once
// The workers of the HTTP server and the lanes they take work from. Only a request that
// arrived whole is queued here, so a slow or idle client never costs a worker; workers
// run methods and never touch a socket: each answer goes back by finished(), and wake()
// tells the connection loop.
//
// Requests wait in one first-come queue. Besides the workers that run anything, a few run
// only quick calls (MethodLane::Quick), so a letter save never waits behind lists or
// transmissions; they read a request and hand it on when it is not quick. Only some
// workers at a time run heavy calls (Method::heavy, whole-company lists), so a narrow
// list never waits for them all.
#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "server/rpc/Caller.h"
#include "server/rpc/CompanyScope.h"
#include "server/rpc/RpcDispatcher.h"

namespace srv {

struct HttpServerOptions;
struct Outbox;

class WorkLanes {
public:
    struct Job {
        quint64 id = 0; // the connection's
        QString serverName;
        QByteArray body;
        const CompanyScope* scope = nullptr;
        Caller caller;
        QByteArray operatorPath; // not empty: a GET of an operators' page, no call
        bool gzip = false; // the client takes a gzip answer
        bool prepared = false; // read: call holds the method and arguments, or the fault
        bool heavy = false; // counted among the heavy calls running
        RpcCall call;
    };
    struct Finished {
        quint64 id = 0;
        QByteArray response; // the whole HTTP answer
        QByteArray target; // for the log: "<server>/<method>"
        QByteArray outcome;
        QByteArray method = "-"; // for the metrics: the registered method or the page's path
        int httpStatus = 200;
        int faultCode = 0;
        // A call whose answer goes out as it is made: first the connection is told where
        // the pieces come (outbox), then, once the call has ended, its log (streamed).
        std::shared_ptr<Outbox> outbox;
        bool streamed = false;
    };

    // options must outlive the lanes; wake is called from a worker after each answer.
    WorkLanes(const RpcDispatcher& dispatcher, const HttpServerOptions& options, std::function<void()> wake);
    ~WorkLanes();

    void start();
    void submit(Job job);
    // Takes no more work: returns the ids of the requests still waiting, which the caller
    // answers 503. Those running finish and answer in full.
    std::vector<quint64> close();
    std::vector<Finished> takeFinished();
    // Once nothing runs any more (the connection loop has ended): ends the workers.
    void stop();

private:
    void work(bool quickOnly);
    bool hasWork(bool quickOnly) const; // with m_mutex held
    bool takeWork(bool quickOnly, Job* job); // with m_mutex held
    int heavyLimit() const; // 0: no bound
    bool heavyRoom() const;
    Finished serve(Job& job);
    Finished servePage(const Job& job);

    const RpcDispatcher& m_dispatcher;
    const HttpServerOptions& m_options;
    std::function<void()> m_wake;
    std::vector<std::thread> m_workers;

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Job> m_jobs; // as they arrived, not read yet
    std::deque<Job> m_generalWaiting; // read by a quick worker, for the others to run
    std::deque<Job> m_heavyWaiting; // read, heavy, waiting for a heavy call to end
    int m_heavyRunning = 0;
    bool m_closed = false; // stopping: nothing more waits
    bool m_quit = false;
    std::vector<Finished> m_finished;
};

} // namespace srv
