#include "server/rpc/LogLine.h"

#include <QDateTime>
#include <cstdio>

namespace srv::logline {

QByteArray format(Level level, const QByteArray& text)
{
    const char* name = level == Level::Info ? "INFO" : level == Level::Warning ? "WARN" : "ERROR";
    QByteArray oneLine = text;
    oneLine.replace('\r', ' ').replace('\n', ' ');
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() + ' ' + name + ' ' + oneLine + '\n';
}

void write(Level level, const QString& text)
{
    const QByteArray line = format(level, text.toUtf8());
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace srv::logline
