#pragma once
// What every test program sees in its environment, whether CTest or a developer starts
// it: widgets offscreen unless a display is asked for, and where the sources and the
// built programs are.
#include <QByteArray>
#include <QtGlobal>
#include <csignal>

namespace cce_test {

inline void setDefaultEnvironment()
{
    // A peer that closes first must fail a write, not end the test program (servers do the same).
    std::signal(SIGPIPE, SIG_IGN);
    const auto setDefault = [](const char* name, const QByteArray& value) {
        if (qEnvironmentVariableIsEmpty(name))
            qputenv(name, value);
    };
    setDefault("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    setDefault("CCE_SOURCE_DIR", QByteArrayLiteral(CCE_SOURCE_DIR_DEFAULT));
    setDefault("CCE_BIN_DIR", QByteArrayLiteral(CCE_BIN_DIR_DEFAULT));
}

} // namespace cce_test
