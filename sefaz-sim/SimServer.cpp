#include "sefaz-sim/SimServer.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include "nfe/Status.h"

namespace sim {

struct SimServer::Impl {
    std::unique_ptr<httplib::SSLServer> server;
};

namespace {

bool loopback(const std::string& addr)
{
    return addr == "127.0.0.1" || addr == "::1" || addr.rfind("::ffff:127.", 0) == 0 || addr.rfind("127.", 0) == 0;
}

void json(httplib::Response& res, int status, const QJsonDocument& doc)
{
    res.status = status;
    res.set_content(doc.toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void fault(httplib::Response& res, int status, const QString& message)
{
    json(res, status, QJsonDocument(QJsonObject{{QStringLiteral("error"), message}}));
}

// The client presented a certificate that the configured authority signed.
bool verifiedClient(const httplib::Request& req)
{
    if (!req.ssl)
        return false;
    X509* peer = SSL_get_peer_certificate(req.ssl);
    const bool ok = peer && SSL_get_verify_result(req.ssl) == X509_V_OK;
    X509_free(peer);
    return ok;
}

} // namespace

SimServer::SimServer(Rules& rules, ServerOptions options)
    : m_impl(std::make_unique<Impl>()), m_rules(rules), m_options(std::move(options))
{}

SimServer::~SimServer() = default;

bool SimServer::bind(const QString& host, int port, QString* error)
{
    const QByteArray cert = m_options.certFile.toLocal8Bit(), key = m_options.keyFile.toLocal8Bit(),
                     ca = m_options.clientCaFile.toLocal8Bit();
    QString setupError;
    m_impl->server = std::make_unique<httplib::SSLServer>([&](SSL_CTX& ctx) {
        if (SSL_CTX_use_certificate_chain_file(&ctx, cert.constData()) != 1 ||
            SSL_CTX_use_PrivateKey_file(&ctx, key.constData(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(&ctx) != 1) {
            setupError = QStringLiteral("Certificado ou chave do servidor inválidos: %1, %2")
                             .arg(m_options.certFile, m_options.keyFile);
            return false;
        }
        SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
        if (!ca.isEmpty()) {
            if (SSL_CTX_load_verify_locations(&ctx, ca.constData(), nullptr) != 1) {
                setupError =
                    QStringLiteral("Autoridade certificadora dos clientes inválida: %1").arg(m_options.clientCaFile);
                return false;
            }
            SSL_CTX_set_client_CA_list(&ctx, SSL_load_client_CA_file(ca.constData()));
            // Asked for, judged per request: the services demand it, the control does not.
            SSL_CTX_set_verify(&ctx, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
        }
        return true;
    });
    ERR_clear_error();
    if (!m_impl->server->is_valid()) {
        *error = setupError.isEmpty() ? QStringLiteral("Não foi possível iniciar o TLS do servidor.") : setupError;
        return false;
    }
    httplib::SSLServer& srv = *m_impl->server;
    srv.set_read_timeout(30, 0);
    srv.set_write_timeout(30, 0);
    srv.set_payload_max_length(8 * 1024 * 1024);

    auto service = [this](bool batch) {
        return [this, batch](const httplib::Request& req, httplib::Response& res) {
            if (!m_options.clientCaFile.isEmpty() && !verifiedClient(req)) {
                res.status = 403;
                res.set_content("Certificado digital do cliente ausente ou não reconhecido.",
                                "text/plain; charset=utf-8");
                return;
            }
            const std::string type = req.get_header_value("Content-Type");
            if (type.rfind("application/soap+xml", 0) != 0) {
                res.status = 415;
                res.set_content("SOAP 1.2 esperado (application/soap+xml).", "text/plain; charset=utf-8");
                return;
            }
            const QByteArray body = QByteArray::fromStdString(req.body);
            int received = 0;
            const QByteArray answer =
                batch ? m_rules.receiveBatch(body, m_control.reversed.load(), &received) : m_rules.consult(body);
            if (batch) {
                ++m_control.batches;
                m_control.events += received;
            } else {
                ++m_control.queries;
            }
            if (const int delay = m_control.delayMs.load(); delay > 0)
                QThread::msleep(static_cast<unsigned long>(delay));
            if (batch && m_control.dropAfterReceive.load() && req.ssl) {
                // Registered, then the line goes dead: the client never learns the outcome.
                ::shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
                return;
            }
            res.status = 200;
            res.set_content(answer.toStdString(), "application/soap+xml; charset=utf-8");
        };
    };
    srv.Post("/ws/NFeRecepcaoEvento4", service(true));
    srv.Post("/ws/NFeConsultaProtocolo4", service(false));

    srv.Post("/control", [this](const httplib::Request& req, httplib::Response& res) {
        if (!loopback(req.remote_addr))
            return fault(res, 403, QStringLiteral("Controle aceito apenas de loopback."));
        QJsonParseError perr{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &perr);
        if (!doc.isObject())
            return fault(res, 400, QStringLiteral("Esperado um objeto JSON."));
        const QJsonObject o = doc.object();
        for (auto it = o.begin(); it != o.end(); ++it) {
            const QString k = it.key();
            const QJsonValue v = it.value();
            if (k == QLatin1String("delay_ms") && v.isDouble() && v.toDouble() >= 0 && v.toDouble() <= 600000)
                m_control.delayMs = v.toInt();
            else if (k == QLatin1String("drop") && (v.isNull() || v.toString() == QLatin1String("after_receive") ||
                                                    v.toString() == QLatin1String("none")))
                m_control.dropAfterReceive = v.toString() == QLatin1String("after_receive");
            else if (k == QLatin1String("order") &&
                     (v.toString() == QLatin1String("reversed") || v.toString() == QLatin1String("own")))
                m_control.reversed = v.toString() == QLatin1String("reversed");
            else if (k == QLatin1String("answer") && (v.isNull() || v.isObject())) {
                const QString cStat = v.toObject().value(QStringLiteral("cStat")).toString();
                if (!v.isNull() && !nfe::status::wellFormedCode(cStat))
                    return fault(res, 400, QStringLiteral("answer.cStat deve ter 3 ou 4 dígitos."));
                m_rules.answerEventsWith(cStat, v.toObject().value(QStringLiteral("xMotivo")).toString());
            } else if (k == QLatin1String("reset") && v.isBool()) {
                if (v.toBool()) {
                    m_control.delayMs = 0;
                    m_control.dropAfterReceive = false;
                    m_control.reversed = false;
                    m_control.batches = 0;
                    m_control.events = 0;
                    m_control.queries = 0;
                    m_rules.reset();
                }
            } else
                return fault(res, 400, QStringLiteral("Controle desconhecido ou valor inválido: %1").arg(k));
        }
        json(res, 200,
             QJsonDocument(QJsonObject{{QStringLiteral("delay_ms"), m_control.delayMs.load()},
                                       {QStringLiteral("drop"), m_control.dropAfterReceive.load()
                                                                    ? QStringLiteral("after_receive")
                                                                    : QStringLiteral("none")},
                                       {QStringLiteral("order"), m_control.reversed.load() ? QStringLiteral("reversed")
                                                                                           : QStringLiteral("own")}}));
    });
    // What arrived, registered or not: a letter sent twice shows here even when the second was refused.
    srv.Get("/control/received", [this](const httplib::Request& req, httplib::Response& res) {
        if (!loopback(req.remote_addr))
            return fault(res, 403, QStringLiteral("Controle aceito apenas de loopback."));
        json(res, 200,
             QJsonDocument(QJsonObject{{QStringLiteral("batches"), m_control.batches.load()},
                                       {QStringLiteral("events"), m_control.events.load()},
                                       {QStringLiteral("queries"), m_control.queries.load()}}));
    });
    srv.Get("/control/events", [this](const httplib::Request& req, httplib::Response& res) {
        if (!loopback(req.remote_addr))
            return fault(res, 403, QStringLiteral("Controle aceito apenas de loopback."));
        QJsonArray out;
        for (const RegisteredEvent& e : m_rules.registry().events())
            out.append(QJsonObject{{QStringLiteral("chNFe"), e.chNFe},
                                   {QStringLiteral("nSeqEvento"), e.nSeqEvento},
                                   {QStringLiteral("nProt"), e.nProt},
                                   {QStringLiteral("cStat"), e.cStat}});
        json(res, 200, QJsonDocument(out));
    });

    const QByteArray h = host.toLatin1();
    if (port == 0) {
        m_port = srv.bind_to_any_port(h.constData());
        if (m_port <= 0) {
            *error = QStringLiteral("Não foi possível escutar em %1.").arg(host);
            return false;
        }
    } else {
        if (!srv.bind_to_port(h.constData(), port)) {
            *error = QStringLiteral("Não foi possível escutar em %1:%2.").arg(host).arg(port);
            return false;
        }
        m_port = port;
    }
    return true;
}

void SimServer::serve() { m_impl->server->listen_after_bind(); }

void SimServer::stop()
{
    if (m_impl->server)
        m_impl->server->stop();
}

} // namespace sim
