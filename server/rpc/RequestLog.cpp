#include "server/rpc/RequestLog.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "server/rpc/HttpResponse.h"
#include "server/rpc/LogLine.h"
#include "server/rpc/MethodRegistry.h"

namespace srv::http {

QByteArray requestLogLine(const Connection& c, qint64 ms)
{
    const QByteArray target = c.target.isEmpty() ? QByteArray("-") : c.target;
    QByteArray text = "req=" + c.requestId + ' ' + target + ' ' + QByteArray::number(ms) + " ms " + c.outcome +
                      " from=" + QByteArray::fromStdString(c.forwardedFor.empty() ? c.address : c.forwardedFor);
    if (!c.forwardedFor.empty())
        text += " via=" + QByteArray::fromStdString(c.address);
    if (c.grant && !c.grant->name.isEmpty())
        text += " token=" + printable(c.grant->name.toUtf8());
    if (!c.clientCertificate.isEmpty())
        text += " cert=\"" + printable(c.clientCertificate.toUtf8()).replace('"', '\'') + '"';
    if (!c.user.isEmpty())
        text += " user=" + printable(c.user.toUtf8());
    logline::Level level = logline::Level::Info;
    if (c.faultCode == fault::InternalError || (c.httpStatus >= 500 && c.httpStatus != 503))
        level = logline::Level::Error;
    else if (c.faultCode != 0 || c.httpStatus >= 400)
        level = logline::Level::Warning;
    return logline::format(level, text);
}

std::string forwardedClient(const QByteArray& header)
{
    const QByteArray last = header.mid(header.lastIndexOf(',') + 1).trimmed().left(64);
    unsigned char binary[sizeof(in6_addr)];
    if (::inet_pton(AF_INET, last.constData(), binary) == 1 || ::inet_pton(AF_INET6, last.constData(), binary) == 1)
        return last.toStdString();
    return std::string();
}

QString userFromHeader(const QByteArray& header)
{
    QString user = QString::fromUtf8(QByteArray::fromPercentEncoding(header.left(360)));
    user.removeIf([](QChar ch) { return ch.category() == QChar::Other_Control; });
    return user.trimmed().left(60);
}

} // namespace srv::http
