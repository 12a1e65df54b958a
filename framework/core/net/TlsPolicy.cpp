#include "core/net/TlsPolicy.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace fw {

bool isLocalHost(const QString& host)
{
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback();
}

bool TlsPolicy::enabledFor(const QString& host) const
{
    return mode == Mode::On || (mode == Mode::Auto && !isLocalHost(host));
}

QString TlsPolicy::normalisedPin(const QString& text)
{
    QString hex = text.trimmed().toLower();
    hex.remove(QLatin1Char(':'));
    static const QRegularExpression sha256(QStringLiteral("^[0-9a-f]{64}$"));
    return sha256.match(hex).hasMatch() ? hex : QString();
}

} // namespace fw
