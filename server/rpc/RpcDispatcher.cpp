#include "server/rpc/RpcDispatcher.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "core/values/JsonCodec.h"
#include "core/values/JsonReader.h"
#include "core/values/Packet.h"
#include "core/values/Value.h"
#include "server/rpc/AnswerStream.h"
#include "server/rpc/ArgumentDecoder.h"

namespace srv {

namespace {

// No request needs more: the deepest is an argument's packet, its rows and their values.
constexpr int kMaxDepth = 32;

// What the client sent, as an error message may quote it: at most 200 characters.
QString quoted(const QString& text)
{
    constexpr int kQuoteLimit = 200;
    return text.size() <= kQuoteLimit ? text : text.left(kQuoteLimit) + QStringLiteral("…");
}

QString argLabel(const Method& m, int index)
{
    return QStringLiteral("argumento %1 (%2) de %3").arg(index + 1).arg(m.args[index].name, m.name);
}

// The arguments, counted first (nothing is built for a wrong count), then each decoded
// as its declaration says.
QVariantList readArgs(const Method& m, const QByteArray& body, qsizetype paramsAt)
{
    QList<qsizetype> offsets;
    if (paramsAt >= 0) {
        fw::json::Reader r(body, paramsAt);
        r.enterArray();
        const int limit = int(m.args.size());
        int given = 0;
        while (r.nextElement()) {
            if (given < limit)
                offsets.append(r.offset());
            ++given;
            r.skip();
        }
        if (given > limit)
            throw RpcFault(fault::InvalidParams,
                           QStringLiteral("%1 espera %2 argumentos e recebeu %3: o argumento %4 sobra.")
                               .arg(m.name)
                               .arg(limit)
                               .arg(given)
                               .arg(limit + 1));
    }
    const int expected = int(m.args.size());
    const int given = int(offsets.size());
    if (given < expected)
        throw RpcFault(fault::InvalidParams,
                       QStringLiteral("%1 espera %2 argumentos e recebeu %3: falta o argumento %4 (%5).")
                           .arg(m.name)
                           .arg(expected)
                           .arg(given)
                           .arg(given + 1)
                           .arg(m.args[given].name));
    QVariantList args;
    args.reserve(expected);
    for (int i = 0; i < expected; ++i)
        args.append(decodeArgument(body, offsets[i], m.args[i], argLabel(m, i)));
    return args;
}

QByteArray envelope(const QJsonValue& id, const QString& key, const QJsonValue& payload)
{
    QJsonObject reply{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                      {QStringLiteral("id"), id.isUndefined() ? QJsonValue(QJsonValue::Null) : id},
                      {key, payload}};
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

QJsonValue faultObject(int code, const QString& message)
{
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
}

const QString& internalErrorText()
{
    static const QString text = QStringLiteral("Erro interno do servidor.");
    return text;
}

} // namespace

QByteArray RpcDispatcher::faultEnvelope(int code, const QString& message)
{
    return envelope(QJsonValue(QJsonValue::Null), QStringLiteral("error"), faultObject(code, message));
}

RpcCall RpcDispatcher::prepare(const QString& serverName, const QByteArray& body) const
{
    RpcCall call;
    call.reply.method = QStringLiteral("-");
    auto fail = [&](int code, const QString& message) {
        call.method = nullptr;
        call.args.clear();
        call.reply.faultCode = code;
        call.reply.body = envelope(call.id, QStringLiteral("error"), faultObject(code, message));
        return std::move(call);
    };

    try {
        // The whole text is checked before anything of it is built.
        const fw::json::SyntaxError syntax = fw::json::validate(body, kMaxDepth);
        switch (syntax.kind) {
        case fw::json::SyntaxError::Kind::None: break;
        case fw::json::SyntaxError::Kind::Utf8:
            return fail(fault::ParseError, QStringLiteral("A requisição não está codificada em UTF-8 válido."));
        case fw::json::SyntaxError::Kind::ControlCharacter:
            return fail(
                fault::ParseError,
                QStringLiteral("A requisição não é JSON válido: caractere de controle sem escape dentro de um texto."));
        case fw::json::SyntaxError::Kind::TooDeep:
            return fail(fault::InvalidRequest,
                        QStringLiteral("A requisição aninha valores em mais de %1 níveis.").arg(kMaxDepth));
        case fw::json::SyntaxError::Kind::Syntax:
            return fail(fault::ParseError, QStringLiteral("A requisição não é JSON válido: %1 (posição %2).")
                                               .arg(syntax.message)
                                               .arg(syntax.offset));
        }
        fw::json::Reader top(body);
        if (top.peek() != fw::json::Type::Object)
            return fail(fault::InvalidRequest, QStringLiteral("A requisição JSON-RPC deve ser um objeto."));
        qsizetype idAt = -1, versionAt = -1, methodAt = -1, paramsAt = -1;
        top.forEachMember([&](const QString& key, qsizetype at) {
            if (key == QLatin1String("id"))
                idAt = at;
            else if (key == QLatin1String("jsonrpc"))
                versionAt = at;
            else if (key == QLatin1String("method"))
                methodAt = at;
            else if (key == QLatin1String("params"))
                paramsAt = at;
        });

        if (idAt >= 0) {
            const QJsonValue id = fw::json::Reader(body, idAt).readIdValue();
            if (id.isUndefined())
                return fail(fault::InvalidRequest,
                            QStringLiteral("O id da requisição deve ser texto, número ou nulo."));
            call.id = id;
        }
        QString version;
        if (versionAt < 0 || !fw::json::Reader(body, versionAt).readString(&version) || version != QLatin1String("2.0"))
            return fail(fault::InvalidRequest, QStringLiteral("A requisição deve ter \"jsonrpc\": \"2.0\"."));
        QString methodName;
        if (methodAt < 0 || !fw::json::Reader(body, methodAt).readString(&methodName) || methodName.isEmpty())
            return fail(fault::InvalidRequest, QStringLiteral("A requisição não indica o método."));
        call.reply.method = methodName;

        if (paramsAt >= 0 && fw::json::Reader(body, paramsAt).peek() != fw::json::Type::Array)
            return fail(fault::InvalidParams,
                        QStringLiteral("Os argumentos de %1 devem vir numa lista, em ordem.").arg(quoted(methodName)));

        if (!m_registry.hasServer(serverName))
            return fail(fault::MethodNotFound, QStringLiteral("Servidor desconhecido: %1.").arg(quoted(serverName)));
        const Method* method = m_registry.find(serverName, methodName);
        if (!method)
            return fail(fault::MethodNotFound,
                        QStringLiteral("Método desconhecido: %1 em %2.").arg(quoted(methodName), serverName));
        call.named = method;

        call.args = readArgs(*method, body, paramsAt);
        call.method = method;
        return call;
    } catch (const RpcFault& f) {
        return fail(f.code(), f.message());
    } catch (...) {
        return fail(fault::InternalError, internalErrorText());
    }
}

RpcReply RpcDispatcher::run(RpcCall& call, const CompanyScope& scope, const Caller& caller,
                            ConnectionStream* stream) const
{
    if (!call.method)
        return std::move(call.reply);
    RpcReply reply = std::move(call.reply);
    auto fail = [&](int code, const QString& message) {
        reply.faultCode = code;
        if (stream && stream->started()) {
            // Pieces of the answer went out already: it ends short, and the client sees it cut.
            stream->abort();
            reply.streamed = true;
            return std::move(reply);
        }
        reply.body = envelope(call.id, QStringLiteral("error"), faultObject(code, message));
        return std::move(reply);
    };
    try {
        const QByteArray id = QJsonDocument(QJsonArray{call.id.isUndefined() ? QJsonValue(QJsonValue::Null) : call.id})
                                  .toJson(QJsonDocument::Compact);
        const QByteArray opening = R"({"jsonrpc":"2.0","id":)" + id.mid(1, id.size() - 2) + R"(,"result":)";
        QVariant result;
        {
            const CompanyScopeGuard scoped(scope);
            const CallerGuard identified(caller, &reply.commitPosition);
            if (stream)
                stream->setOpening(opening);
            const AnswerStreamGuard streaming(stream);
            result = call.method->fn(call.args);
        }
        call.args.clear(); // the arguments' memory goes before the answer is built
        const bool raw = result.metaType().id() == qMetaTypeId<fw::json::RawJson>();
        if (!raw && stream && stream->started())
            return fail(fault::InternalError, internalErrorText()); // pieces of text, then a value: no answer
        if (raw) {
            // Written by the method already: only the envelope goes around it.
            const QByteArray text = result.value<fw::json::RawJson>().text;
            result = QVariant();
            if (stream && stream->started()) {
                stream->finish(text + '}');
                reply.streamed = true;
                reply.faultCode = 0;
                return reply;
            }
            reply.body = opening;
            reply.body.reserve(reply.body.size() + text.size() + 1);
            reply.body += text;
            reply.body += '}';
        } else {
            reply.body = envelope(call.id, QStringLiteral("result"), fw::json::encode(result));
        }
        reply.faultCode = 0;
        return reply;
    } catch (const RpcFault& f) {
        return fail(f.code(), f.message());
    } catch (...) {
        // Whatever went wrong inside may name tables, files or values: say nothing of it.
        return fail(fault::InternalError, internalErrorText());
    }
}

RpcReply RpcDispatcher::handle(const QString& serverName, const QByteArray& body, const CompanyScope& scope) const
{
    RpcCall call = prepare(serverName, body);
    return run(call, scope);
}

} // namespace srv
