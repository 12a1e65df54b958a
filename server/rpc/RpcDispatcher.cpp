#include "server/rpc/RpcDispatcher.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include "core/values/JsonCodec.h"
#include "core/values/Packet.h"
#include "core/values/Value.h"

namespace srv {

namespace {

QString kindName(ArgKind kind)
{
    switch (kind) {
    case ArgKind::String: return QStringLiteral("texto");
    case ArgKind::Boolean: return QStringLiteral("booleano");
    case ArgKind::DateTime: return QStringLiteral("data-hora");
    case ArgKind::DataPacket: return QStringLiteral("pacote de dados");
    case ArgKind::DeltaPacket: return QStringLiteral("pacote de alterações");
    case ArgKind::Any: return QStringLiteral("valor");
    }
    return QString();
}

bool hasKind(const QVariant& v, ArgKind kind)
{
    const int type = v.metaType().id();
    switch (kind) {
    case ArgKind::String: return type == QMetaType::QString;
    case ArgKind::Boolean: return type == QMetaType::Bool;
    case ArgKind::DateTime: return type == QMetaType::QDateTime;
    case ArgKind::DataPacket: return type == qMetaTypeId<fw::DataPacket>();
    case ArgKind::DeltaPacket: return type == qMetaTypeId<fw::DeltaPacket>();
    case ArgKind::Any: return true;
    }
    return false;
}

// Qt's JSON parser is lenient with some malformed UTF-8; the wire is UTF-8 only.
bool isValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    Q_UNUSED(text)
    return !decoder.hasError();
}

// A raw control character inside a string is not JSON, though Qt's parser lets it by.
bool hasRawControlInString(const QByteArray& bytes)
{
    bool inString = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (!inString) {
            inString = c == '"';
        } else if (c == '\\') {
            ++i; // the escaped character, whatever it is, is checked by the parser
        } else if (c == '"') {
            inString = false;
        } else if (c < 0x20) {
            return true;
        }
    }
    return false;
}

// Qt parses only objects and arrays at the top; a lone scalar is still valid JSON, and
// such a request is invalid rather than unreadable.
bool isScalarJson(const QByteArray& bytes)
{
    const QByteArray trimmed = bytes.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith('{') || trimmed.startsWith('['))
        return false;
    QJsonParseError error;
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + trimmed + ']', &error);
    return error.error == QJsonParseError::NoError && wrapped.array().size() == 1;
}

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

QVariant checkArg(const Method& m, int index, const QJsonValue& json)
{
    const ArgSpec& argSpec = m.args[index];
    QString error;
    const QVariant value = fw::json::decode(json, &error);
    if (!value.isValid())
        throw RpcFault(fault::InvalidParams,
                       QStringLiteral("O %1 está malformado: %2.").arg(argLabel(m, index), quoted(error)));
    if (fw::isNull(value)) {
        if (argSpec.nullable || argSpec.kind == ArgKind::Any)
            return value;
        throw RpcFault(
            fault::InvalidParams,
            QStringLiteral("O %1 não pode ser nulo; esperado %2.").arg(argLabel(m, index), kindName(argSpec.kind)));
    }
    if (!hasKind(value, argSpec.kind))
        throw RpcFault(fault::InvalidParams,
                       QStringLiteral("O %1 deve ser %2.").arg(argLabel(m, index), kindName(argSpec.kind)));
    return value;
}

QVariantList checkArgs(const Method& m, const QJsonArray& params)
{
    const int expected = int(m.args.size());
    const int given = int(params.size());
    if (given < expected)
        throw RpcFault(fault::InvalidParams,
                       QStringLiteral("%1 espera %2 argumentos e recebeu %3: falta o argumento %4 (%5).")
                           .arg(m.name)
                           .arg(expected)
                           .arg(given)
                           .arg(given + 1)
                           .arg(m.args[given].name));
    if (given > expected)
        throw RpcFault(fault::InvalidParams,
                       QStringLiteral("%1 espera %2 argumentos e recebeu %3: o argumento %4 sobra.")
                           .arg(m.name)
                           .arg(expected)
                           .arg(given)
                           .arg(expected + 1));
    QVariantList args;
    args.reserve(expected);
    for (int i = 0; i < expected; ++i)
        args.append(checkArg(m, i, params.at(i)));
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

RpcReply RpcDispatcher::handle(const QString& serverName, const QByteArray& body, const CompanyScope& scope) const
{
    RpcReply reply;
    reply.method = QStringLiteral("-");
    QJsonValue id(QJsonValue::Null);
    auto fail = [&](int code, const QString& message) {
        reply.faultCode = code;
        reply.body = envelope(id, QStringLiteral("error"), faultObject(code, message));
        return reply;
    };

    try {
        if (!isValidUtf8(body))
            return fail(fault::ParseError, QStringLiteral("A requisição não está codificada em UTF-8 válido."));
        if (hasRawControlInString(body))
            return fail(
                fault::ParseError,
                QStringLiteral("A requisição não é JSON válido: caractere de controle sem escape dentro de um texto."));
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
        if (parseError.error != QJsonParseError::NoError && isScalarJson(body))
            return fail(fault::InvalidRequest, QStringLiteral("A requisição JSON-RPC deve ser um objeto."));
        if (parseError.error != QJsonParseError::NoError)
            return fail(fault::ParseError, QStringLiteral("A requisição não é JSON válido: %1 (posição %2).")
                                               .arg(parseError.errorString())
                                               .arg(parseError.offset));
        if (!doc.isObject())
            return fail(fault::InvalidRequest, QStringLiteral("A requisição JSON-RPC deve ser um objeto."));
        const QJsonObject request = doc.object();

        const QJsonValue requestId = request.value(QStringLiteral("id"));
        if (!(requestId.isString() || requestId.isDouble() || requestId.isNull() || requestId.isUndefined()))
            return fail(fault::InvalidRequest, QStringLiteral("O id da requisição deve ser texto, número ou nulo."));
        id = requestId;

        if (request.value(QStringLiteral("jsonrpc")).toString() != QLatin1String("2.0"))
            return fail(fault::InvalidRequest, QStringLiteral("A requisição deve ter \"jsonrpc\": \"2.0\"."));
        const QJsonValue methodValue = request.value(QStringLiteral("method"));
        if (!methodValue.isString() || methodValue.toString().isEmpty())
            return fail(fault::InvalidRequest, QStringLiteral("A requisição não indica o método."));
        const QString methodName = methodValue.toString();
        reply.method = methodName;

        const QJsonValue params = request.value(QStringLiteral("params"));
        if (!params.isArray() && !params.isUndefined())
            return fail(fault::InvalidParams,
                        QStringLiteral("Os argumentos de %1 devem vir numa lista, em ordem.").arg(quoted(methodName)));

        if (!m_registry.hasServer(serverName))
            return fail(fault::MethodNotFound, QStringLiteral("Servidor desconhecido: %1.").arg(quoted(serverName)));
        const Method* method = m_registry.find(serverName, methodName);
        if (!method)
            return fail(fault::MethodNotFound,
                        QStringLiteral("Método desconhecido: %1 em %2.").arg(quoted(methodName), serverName));

        const QVariantList args = checkArgs(*method, params.toArray());
        const CompanyScopeGuard caller(scope);
        const QVariant result = method->fn(args);
        reply.body = envelope(id, QStringLiteral("result"), fw::json::encode(result));
        reply.faultCode = 0;
        return reply;
    } catch (const RpcFault& f) {
        return fail(f.code(), f.message());
    } catch (...) {
        // Whatever went wrong inside may name tables, files or values: say nothing of it.
        return fail(fault::InternalError, internalErrorText());
    }
}

} // namespace srv
