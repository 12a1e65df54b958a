#pragma once
// JSON-RPC over HTTP/1.1 on a Qt socket. While a request runs, a local event loop keeps
// the screen painting and timers running but holds back the user's input (mouse,
// keyboard), so nothing on the screen can start another operation meanwhile. The answer
// is read no faster than the connection's reader takes it (RpcRequest::onBody): the
// rest of a large list waits in the network, not in the screen's memory.
#include "core/net/RpcTransport.h"

#include "core/CoreExport.h"

namespace fw {

class FW_CORE_EXPORT HttpTransport : public RpcTransport {
public:
    HttpTransport();
    ~HttpTransport() override;

    QString probe(const RpcRequest& request) override;
    RpcReply post(const RpcRequest& request) override;

    // The longest wait for a TCP connection at connect time.
    static constexpr int kProbeTimeoutMs = 15000;
    // The most of an answer read ahead of the one reading it piece by piece.
    static constexpr qint64 kReadAhead = 1024 * 1024;
    // Over TLS, pieces smaller than this wait to be read together.
    static constexpr qint64 kGatherBytes = 256 * 1024;

    // Answers come gzipped when asked for: worth it over a branch office's link, pure cost
    // on the same machine, where compressing and inflating a whole company's list takes
    // longer than sending it. Auto asks for gzip unless the server is a loopback address.
    enum class Compression { Auto, Always, Never };
    void setCompression(Compression c) { m_compression = c; }

private:
    Compression m_compression = Compression::Auto;
};

} // namespace fw
