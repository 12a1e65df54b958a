#pragma once
// A process's memory as Linux tells it in /proc, for the benchmarks and the memory tests.
#include <QByteArray>
#include <QFile>
#include <QString>

namespace cce_test {

// key's figure ("VmRSS:", "VmHWM:", "RssAnon:", ...) in /proc/<pid>/status, in KiB; pid 0
// is this process. -1 when it cannot be read.
inline qint64 statusKiB(const char* key, qint64 pid = 0)
{
    QFile f(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// From here on this process's VmHWM counts from what it holds now.
inline bool resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

} // namespace cce_test
