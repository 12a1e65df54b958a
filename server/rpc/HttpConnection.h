#pragma once
// One client's connection as the connection loop keeps it: where its request stands,
// what arrived and what is still to be written, and when it is due.
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "server/rpc/AccessTokens.h"
#include "server/rpc/AnswerStream.h"
#include "server/rpc/HttpRequestParser.h"
#include "server/rpc/HttpRpcServer.h"
#include "server/rpc/TlsChannel.h"

namespace srv::http {

using Clock = std::chrono::steady_clock;

struct Connection {
    enum class State {
        Handshake, // TLS: the handshake has not ended
        Head, // reading the request line and headers
        Verify, // head accepted but for its hashed token, being checked (TokenChecks)
        Body, // head accepted, reading the body
        Queued, // complete, waiting for or running on a worker
        Write, // writing the answer
        Stream, // writing an answer a worker is still making (outbox)
        Drain, // answered early; discarding what the client still sends, then closing
    };
    int fd = -1;
    std::string address;
    bool counted = false; // in its address's count of connections not yet past a complete request
    bool probation = false; // beyond that bound: refused at probationUntil unless its request came
    Clock::time_point probationUntil;
    QByteArray requestId;
    State state = State::Head;
    Clock::time_point start;
    QByteArray in;
    RequestHead head;
    BodyReader body;
    QString serverName;
    const AccessTokens::Grant* grant = nullptr; // the caller's, from its token
    std::unique_ptr<TlsChannel> tls; // null: in clear
    short tlsWants = 0; // the poll event a TLS call waits for before it is tried again (0: none)
    QString clientCertificate; // mutual TLS: the subject of the certificate the client presented
    QString user; // the user the client program acts for (X-CCE-User)
    std::string forwardedFor; // the client behind a trusted balancer, as it says
    QByteArray operatorPath; // a GET for an operators' page
    bool gzip = false; // the client takes a gzip answer
    QByteArray interim; // "100 Continue" still to send
    QByteArray out;
    qsizetype outPos = 0;
    std::shared_ptr<Outbox> outbox; // Stream: where the worker puts the answer's pieces
    bool callEnded = false; // Stream: the worker is done with the call (its log is in)
    bool cutShort = false; // Stream: the call failed after its first piece; TLS ends without close_notify
    Clock::time_point lastProgress;
    bool drainAfter = false;
    Clock::time_point drainUntil;
    QByteArray target; // for the log: "<server>/<method>" or "METHOD path"
    QByteArray outcome;
    QByteArray metricMethod = "-"; // for the metrics: a registered name or a page's path
    int httpStatus = 0;
    int faultCode = 0;

    // When the state it is in times out; never while a worker has it.
    Clock::time_point deadline(const HttpServerOptions& o) const
    {
        switch (state) {
        case State::Handshake:
        case State::Head:
        case State::Verify: return arriving(start + std::chrono::milliseconds(o.headerTimeoutMs));
        case State::Body: return arriving(start + std::chrono::milliseconds(o.bodyTimeoutMs));
        case State::Write:
        case State::Stream: return lastProgress + std::chrono::milliseconds(o.writeIdleTimeoutMs);
        case State::Drain: return drainUntil;
        case State::Queued: break;
        }
        return Clock::time_point::max();
    }

private:
    Clock::time_point arriving(Clock::time_point due) const { return probation ? std::min(due, probationUntil) : due; }
};

} // namespace srv::http
