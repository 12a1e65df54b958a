#pragma once
// A cce-server (or sefaz-sim) process started by a test on a free loopback port: started
// with its arguments, its port read from its first line, stopped with SIGTERM or killed,
// and its log written to a file (a pipe nobody reads while clients run would stall it).
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>

namespace cce_test {

// The built program, or "" when it is not there (the test then skips).
inline QString builtProgram(const char* name)
{
    const QString dir = qEnvironmentVariable("CCE_BIN_DIR");
    const QString path = QDir(dir).filePath(QString::fromLatin1(name));
    return !dir.isEmpty() && QFileInfo(path).isExecutable() ? path : QString();
}

class ServerProcess {
public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess() { kill(); }

    // Starts program with args, its standard error to logFile, and waits for "listening on
    // HOST:PORT"; false with *why (its first line or its log) when it does not come within ms.
    bool start(const QString& program, const QStringList& args, const QString& logFile, QString* why, int ms = 60000)
    {
        m_logFile = logFile;
        m_process.setStandardErrorFile(logFile);
        m_process.start(program, args);
        QDeadlineTimer deadline(ms);
        while (!m_process.canReadLine()) {
            if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
                *why = QString::fromUtf8(log());
                return false;
            }
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral(R"(^listening on .*:(\d+)$)")).match(line);
        m_port = m.hasMatch() ? m.captured(1).toInt() : 0;
        *why = line;
        return m_port > 0;
    }
    int port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    // SIGTERM; true when it ended by itself with exit code 0.
    bool stop(int ms = 30000)
    {
        if (!running())
            return false;
        m_process.terminate();
        return m_process.waitForFinished(ms) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }
    // SIGKILL, as a machine that dies.
    void kill()
    {
        if (!running())
            return;
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    // What it wrote on standard error so far.
    QByteArray log() const
    {
        QFile f(m_logFile);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QProcess m_process;
    int m_port = 0;
    QString m_logFile;
};

} // namespace cce_test
