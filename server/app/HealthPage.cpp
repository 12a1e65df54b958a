#include "server/app/HealthPage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>

#include "server/app/CertificateSurvey.h"
#include "server/fiscal/FiscalConfig.h"
#include "server/rpc/TlsContext.h"
#include "server/store/OperatorQueries.h"

namespace srv {

namespace {

constexpr int kExpiryWarningDays = 30;

QJsonObject check(const QString& name, bool good, const QString& detail)
{
    QJsonObject o{{QStringLiteral("name"), name},
                  {QStringLiteral("status"), good ? QStringLiteral("ok") : QStringLiteral("warning")}};
    if (!detail.isEmpty())
        o.insert(QStringLiteral("detail"), detail);
    return o;
}

} // namespace

OperatorPage healthPage(Store& store, const fiscal::FiscalConfig* fiscal, CertificateSurvey* certificates,
                        const TlsContext* tls)
{
    QJsonArray checks;
    bool degraded = false;

    QString database;
    try {
        database = OperatorQueries(store).databaseProblem();
    } catch (...) {
        database = QStringLiteral("o banco de dados não respondeu");
    }
    QJsonObject db{{QStringLiteral("name"), QStringLiteral("database")},
                   {QStringLiteral("status"), database.isEmpty() ? QStringLiteral("ok") : QStringLiteral("failing")}};
    if (!database.isEmpty())
        db.insert(QStringLiteral("detail"), database);
    checks.append(db);

    if (!fiscal || !fiscal->configured()) {
        checks.append(check(QStringLiteral("authority"), false,
                            QStringLiteral("transmissão à SEFAZ não configurada ([fiscal] e [authority])")));
        degraded = true;
    } else {
        for (const CertificateState& s : certificates->states()) {
            const bool good = s.problem.isEmpty() && s.daysLeft > kExpiryWarningDays;
            QJsonObject c = check(QStringLiteral("certificate"), good,
                                  !s.problem.isEmpty() ? s.problem
                                  : s.daysLeft < 0     ? QStringLiteral("vencido")
                                  : !good              ? QStringLiteral("vence em %1 dias").arg(s.daysLeft)
                                                       : QString());
            if (!s.name.isEmpty())
                c.insert(QStringLiteral("certificate"), s.name);
            if (s.problem.isEmpty())
                c.insert(QStringLiteral("days_to_expiry"), s.daysLeft);
            checks.append(c);
            degraded = degraded || !good;
        }
        // Per environment, the authorities whose two services both have an address.
        QMap<QString, QMap<QString, QSet<QString>>> byEnvironment;
        for (auto it = fiscal->endpoints.cbegin(); it != fiscal->endpoints.cend(); ++it) {
            const QStringList parts = it.key().split(QLatin1Char('.'));
            if (parts.size() == 3)
                byEnvironment[parts[1]][parts[0]].insert(parts[2]);
        }
        // An environment without any address is one this installation does not use.
        bool anyEnvironment = false;
        for (const QString& environment : {QStringLiteral("1"), QStringLiteral("2")}) {
            QStringList complete, partial;
            const QMap<QString, QSet<QString>> authorities = byEnvironment.value(environment);
            for (auto it = authorities.cbegin(); it != authorities.cend(); ++it)
                (it.value().size() == 2 ? complete : partial) << it.key();
            QJsonObject c = check(
                QStringLiteral("authority"), partial.isEmpty(),
                partial.isEmpty() ? QString()
                                  : QStringLiteral("falta um dos serviços de %1").arg(partial.join(QLatin1Char(','))));
            if (authorities.isEmpty())
                c.insert(QStringLiteral("status"), QStringLiteral("unconfigured"));
            c.insert(QStringLiteral("environment"), environment);
            c.insert(QStringLiteral("authorities"), QJsonArray::fromStringList(complete));
            checks.append(c);
            degraded = degraded || !partial.isEmpty();
            anyEnvironment = anyEnvironment || !complete.isEmpty();
        }
        degraded = degraded || !anyEnvironment;
    }

    if (tls) {
        const qint64 days = QDateTime::currentDateTimeUtc().daysTo(tls->notAfter());
        const bool good = days > kExpiryWarningDays;
        QJsonObject t = check(QStringLiteral("tls"), good,
                              days < 0 ? QStringLiteral("vencido")
                              : !good  ? QStringLiteral("vence em %1 dias").arg(days)
                                       : QString());
        t.insert(QStringLiteral("not_after"), tls->notAfter().toString(Qt::ISODate));
        t.insert(QStringLiteral("days_to_expiry"), days);
        checks.append(t);
        degraded = degraded || !good;
    }

    const QString status = !database.isEmpty() ? QStringLiteral("failing")
                           : degraded          ? QStringLiteral("degraded")
                                               : QStringLiteral("ok");
    OperatorPage page;
    page.status = database.isEmpty() ? 200 : 503;
    page.contentType = "application/json";
    page.body = QJsonDocument(QJsonObject{{QStringLiteral("status"), status}, {QStringLiteral("checks"), checks}})
                    .toJson(QJsonDocument::Compact);
    return page;
}

} // namespace srv
