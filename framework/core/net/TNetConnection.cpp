#include "core/net/TNetConnection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <climits>
#include <cmath>

#include "core/errors/Errors.h"
#include "core/host/Context.h"
#include "core/values/JsonCodec.h"
#include "core/values/JsonReader.h"
#include "core/values/JsonStreamDecoder.h"

namespace {
constexpr int kAuthErrorCode = -32001;
// Answers nest a few levels (a list of packets of rows); anything far deeper is not one.
constexpr int kMaxAnswerDepth = 64;
} // namespace

TNetConnection::TNetConnection(QObject* parent) : QObject(parent)
{
    const fw::HostContext& c = fw::hostContext();
    m_host = c.serverHost;
    m_port = c.serverPort;
    m_token = c.serverToken;
    m_tls = c.serverTls;
    if (c.serverTimeoutSeconds > 0)
        m_timeoutMs = c.serverTimeoutSeconds * 1000;
}

TNetConnection::~TNetConnection() = default;

void TNetConnection::setToken(const QString& token)
{
    m_token = token;
    m_tokenSet = true;
}

void TNetConnection::setTlsPolicy(const fw::TlsPolicy& policy)
{
    m_tls = policy;
    m_tlsSet = true;
}

void TNetConnection::setConnected(bool on)
{
    if (on)
        Open();
    else
        Close();
}

std::shared_ptr<fw::RpcTransport> TNetConnection::transport()
{
    if (!m_transport)
        m_transport = fw::makeDefaultTransport(*this);
    return m_transport;
}

QString TNetConnection::describe() const { return QStringLiteral("%1 (%2:%3)").arg(m_serverName, m_host).arg(m_port); }

void TNetConnection::fail(const QString& message) const { throw fw::ConnectionError(message); }

fw::RpcRequest TNetConnection::makeRequest(const QByteArray& body) const
{
    fw::RpcRequest r;
    r.host = m_host;
    r.port = m_port;
    r.serverName = m_serverName;
    r.token = m_token;
    r.tls = m_tls;
    r.user = fw::hostContext().user;
    r.commitPosition = m_commitPosition;
    r.body = body;
    r.timeoutMs = m_timeoutMs;
    return r;
}

void TNetConnection::Open() { open(m_throwException); }

void TNetConnection::open(bool raise)
{
    if (m_connected)
        return;
    if (OnBeforeConnect)
        OnBeforeConnect(this);
    if (!m_tokenSet)
        m_token = fw::hostContext().serverToken;
    if (!m_tlsSet)
        m_tls = fw::hostContext().serverTls;

    QPointer<TNetConnection> self(this);
    std::shared_ptr<fw::RpcTransport> t = transport();
    QString why = m_serverName.trimmed().isEmpty() ? QStringLiteral("o nome do servidor não foi configurado")
                                                   : t->probe(makeRequest(QByteArray()));
    if (!self)
        throw fw::Abort();
    m_lastConnectError = why;
    if (!why.isEmpty()) {
        if (raise)
            fail(QStringLiteral("Não foi possível conectar ao servidor de aplicação %1: %2.").arg(describe(), why));
        return;
    }
    m_connected = true;
    emit connectedChanged(true);
    if (OnAfterConnect)
        OnAfterConnect(this);
}

void TNetConnection::Close()
{
    if (!m_connected)
        return;
    m_connected = false;
    emit connectedChanged(false);
    if (OnAfterDisconnect)
        OnAfterDisconnect(this);
}

QVariant TNetConnection::Call(const QString& method, const QVariantList& args)
{
    // A call made while this one waits (a timer, a queued event) would interleave two
    // operations of the screen; refuse it instead.
    if (m_inCall)
        fail(QStringLiteral("O servidor de aplicação %1 ainda está processando a chamada anterior; "
                            "aguarde o término antes de chamar %2.")
                 .arg(describe(), method));
    if (!m_connected)
        open(true);

    QJsonArray params;
    for (const QVariant& a : args)
        params.append(fw::json::encode(a));
    const qint64 id = ++m_nextId;
    const QJsonObject request{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                              {QStringLiteral("id"), id},
                              {QStringLiteral("method"), method},
                              {QStringLiteral("params"), params}};
    fw::RpcRequest req = makeRequest(QJsonDocument(request).toJson(QJsonDocument::Compact));
    const QString server = describe();
    // The answer is read as it arrives: a whole company's list is tens of megabytes, and
    // its rows are packed while the rest is still on its way, the text read let go.
    fw::json::StreamDecoder answer(kMaxAnswerDepth);
    req.onBody = [&answer](QByteArrayView bytes) { answer.feed(bytes); };

    std::shared_ptr<fw::RpcTransport> t = transport();
    QPointer<TNetConnection> self(this);
    m_inCall = true;
    fw::RpcReply reply;
    try {
        reply = t->post(req);
    } catch (...) {
        if (self)
            m_inCall = false;
        throw;
    }
    if (!self)
        throw fw::Abort(); // the connection's owner went away while waiting
    m_inCall = false;
    if (!reply.commitPosition.isEmpty())
        m_commitPosition = reply.commitPosition;

    switch (reply.failure) {
    case fw::RpcReply::Failure::None: break;
    case fw::RpcReply::Failure::Unreachable:
        fail(QStringLiteral("Não foi possível conectar ao servidor de aplicação %1: %2.")
                 .arg(server, reply.failureText));
    case fw::RpcReply::Failure::Timeout:
        fail(QStringLiteral("O servidor de aplicação %1 não respondeu à chamada %2 em %3 segundos.")
                 .arg(server, method)
                 .arg((req.timeoutMs + 999) / 1000));
    case fw::RpcReply::Failure::Transport:
        fail(QStringLiteral("A comunicação com o servidor de aplicação %1 falhou na chamada %2: %3.")
                 .arg(server, method, reply.failureText));
    case fw::RpcReply::Failure::Insecure:
        fail(QStringLiteral("A conexão segura com o servidor de aplicação %1 foi recusada na chamada %2: %3.")
                 .arg(server, method, reply.failureText));
    }

    const QString deniedText =
        QStringLiteral("Acesso negado pelo servidor de aplicação %1: verifique o token de acesso configurado.")
            .arg(server);
    if (reply.httpStatus == 401)
        fail(deniedText);
    if (reply.httpStatus == 413)
        fail(QStringLiteral("A chamada %1 excede o tamanho aceito pelo servidor de aplicação %2.").arg(method, server));

    if (!reply.body.isEmpty())
        answer.feed(reply.body); // a transport that gives the whole body at once
    answer.finish();
    const bool isJson = answer.syntax().kind == fw::json::SyntaxError::Kind::None;
    const bool isObject = answer.isObject();
    const QByteArray versionText = answer.member(QLatin1StringView("jsonrpc"));
    const QByteArray idText = answer.member(QLatin1StringView("id"));
    const QByteArray errorText = answer.member(QLatin1StringView("error"));
    const auto malformed = [&](const QString& why) {
        fail(
            QStringLiteral("Resposta inválida do servidor de aplicação %1 à chamada %2: %3.").arg(server, method, why));
    };

    if (!errorText.isNull() && fw::json::Reader(errorText).peek() == fw::json::Type::Object) {
        int code = 0;
        QString text;
        fw::json::Reader(errorText).forEachMember([&](const QString& key, qsizetype at) {
            fw::json::Reader v(errorText, at);
            double d = 0;
            if (key == QLatin1String("code") && v.readNumber(&d) && std::floor(d) == d && d >= INT_MIN && d <= INT_MAX)
                code = int(d);
            else if (key == QLatin1String("message"))
                v.readString(&text);
        });
        if (code == kAuthErrorCode)
            fail(deniedText);
        text = text.trimmed();
        if (text.isEmpty())
            text = QStringLiteral("erro sem descrição");
        fail(QStringLiteral("O servidor de aplicação %1 recusou a chamada %2: %3 (código %4).")
                 .arg(server, method, text)
                 .arg(code));
    }
    if (reply.httpStatus != 200)
        fail(QStringLiteral("O servidor de aplicação %1 respondeu à chamada %2 com o erro HTTP %3.")
                 .arg(server, method)
                 .arg(reply.httpStatus));
    if (!isObject)
        malformed(!isJson ? QStringLiteral("o conteúdo não é JSON")
                          : QStringLiteral("o conteúdo não é um objeto JSON"));
    QString version;
    if (versionText.isNull() || !fw::json::Reader(versionText).readString(&version) || version != QLatin1String("2.0"))
        malformed(QStringLiteral("versão do protocolo ausente ou diferente de 2.0"));
    double replyId = 0;
    if (idText.isNull() || !fw::json::Reader(idText).readNumber(&replyId) || static_cast<qint64>(replyId) != id)
        malformed(QStringLiteral("o identificador da resposta não corresponde ao da chamada"));
    if (!answer.hasResult())
        malformed(QStringLiteral("a resposta não tem resultado"));

    QString decodeError;
    const QVariant result = answer.result(&decodeError);
    if (!result.isValid())
        malformed(decodeError.isEmpty() ? QStringLiteral("resultado ilegível") : decodeError);
    return result;
}
