#pragma once
// A SoftHSM2 token for the tests, made by scripts/softhsm-token in a folder of the test and
// reached by this process through SOFTHSM2_CONF: it stands for an A3 token.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

#include "server/fiscal/FiscalConfig.h"

namespace cce_test {

inline const QString kSoftHsm = QStringLiteral("/usr/lib/softhsm/libsofthsm2.so");

// Runs a program to its end: its standard output, or a test failure (and "").
inline QString runTool(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || (!exitCode && p.exitCode() != 0)) {
        ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
        return QString();
    }
    if (exitCode)
        *exitCode = p.exitCode();
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

inline bool writeFile(const QString& path, const QByteArray& bytes,
                      QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() &&
           f.setPermissions(mode);
}

struct SoftToken {
    QString dir, pinFile;
    QString label = QStringLiteral("Teste");
    QByteArray pin = QByteArrayLiteral("735119");

    // The token in folder, holding the keys of the A1 files (all with one password).
    bool make(const QString& folder, const QStringList& pfxFiles, const QString& password)
    {
        dir = folder;
        pinFile = QDir(folder).filePath(QStringLiteral("pin"));
        QDir().mkpath(folder);
        if (!writeFile(pinFile, pin + '\n'))
            return false;
        QStringList args{dir, label, pinFile};
        for (const QString& f : pfxFiles)
            args << f << password;
        const QString said = runTool(
            QDir(qEnvironmentVariable("CCE_SOURCE_DIR")).filePath(QStringLiteral("scripts/softhsm-token")), args);
        qputenv("SOFTHSM2_CONF", QFile::encodeName(QDir(dir).filePath(QStringLiteral("softhsm2.conf"))));
        return said.contains(QLatin1String("softhsm-token:"));
    }
    srv::fiscal::TokenSettings settings() const { return {kSoftHsm, label, pinFile}; }
    // The private keys as pkcs11-tool lists them (their "Access:" lines say what may leave).
    QString privateKeys() const
    {
        return runTool(QStringLiteral("pkcs11-tool"),
                       {QStringLiteral("--module"), kSoftHsm, QStringLiteral("--token-label"), label,
                        QStringLiteral("--login"), QStringLiteral("--pin"), QString::fromLatin1(pin),
                        QStringLiteral("--list-objects"), QStringLiteral("--type"), QStringLiteral("privkey")});
    }
};

} // namespace cce_test
