#include "server/app/CertificateReport.h"

#include <QDateTime>
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "server/app/Commands.h"
#include "server/fiscal/CertificateStore.h"
#include "server/store/Store.h"

namespace srv {

namespace {

constexpr int kExpiryWarningDays = 30;

QString registrationName(const RegistrationCertificate& r)
{
    return QStringLiteral("empresa %1, IE %2 (%3)").arg(r.company, r.registration, r.uf);
}

QString servesText(const CertificateUse& use)
{
    return use.serves.isEmpty() ? QStringLiteral("nenhuma inscrição") : use.serves.join(QStringLiteral(", "));
}

// "<subject>; série <serial>; vence em dd/MM/yyyy; serve: ..."
QString describe(const CertificateUse& use)
{
    const CertificateState& s = use.state;
    return QStringLiteral("%1; série %2; vence em %3; serve: %4")
        .arg(s.subject, s.serial, fiscal::brasiliaDate(s.notAfter), servesText(use));
}

QList<RegistrationCertificate> registrationsOf(Store* store)
{
    if (!store)
        return {};
    try {
        return OperatorQueries(*store).registrationCertificates();
    } catch (...) {
        return {}; // a database without the schema: told by its own check
    }
}

} // namespace

CertificateReport reportCertificates(const fiscal::FiscalConfig& fiscal,
                                     const QList<RegistrationCertificate>& registrations)
{
    CertificateReport report;
    QList<CertificateState> states;
    if (!fiscal.certificateFolder.isEmpty())
        states = surveyCertificates(fiscal.certificateFolder, fiscal.certificatePassword);
    if (fiscal.token.configured())
        states += surveyToken(fiscal.token);
    QList<std::shared_ptr<const nfe::Certificate>> onToken;
    QList<int> tokenIndex; // of each token certificate in states
    for (int i = 0; i < states.size(); ++i) {
        report.certificates << CertificateUse{states.at(i), {}};
        if (states.at(i).certificate) {
            onToken << states.at(i).certificate;
            tokenIndex << i;
        }
    }
    // The very rule of the transmissions: no key is asked for here.
    const fiscal::CertificateStore rule(fiscal.certificateFolder, fiscal.certificatePassword);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const RegistrationCertificate& r : registrations) {
        int serving = -1;
        if (rule.hasFile(r.serial)) {
            for (int i = 0; i < states.size() && serving < 0; ++i)
                if (states.at(i).source.isEmpty() && states.at(i).name == r.serial)
                    serving = i;
        } else if (fiscal.token.configured()) {
            const int chosen = fiscal::chooseCertificate(onToken, r.serial, r.cnpj, now);
            serving = chosen < 0 ? -1 : tokenIndex.at(chosen);
        }
        if (serving >= 0)
            report.certificates[serving].serves << registrationName(r);
        else
            report.unserved << QStringLiteral("%1: série %2, CNPJ %3")
                                   .arg(registrationName(r),
                                        r.serial.isEmpty() ? QStringLiteral("não cadastrada") : r.serial, r.cnpj);
    }
    return report;
}

QList<Finding> certificateFindings(const fiscal::FiscalConfig& fiscal, Store* store)
{
    QList<Finding> findings;
    const CertificateReport report = reportCertificates(fiscal, registrationsOf(store));
    for (const CertificateUse& use : report.certificates) {
        const CertificateState& s = use.state;
        const bool file = s.source.isEmpty();
        if (s.name.isEmpty()) {
            // A token may be away (unplugged, its PIN to be unblocked) while the server starts:
            // its registrations wait, the others transmit. A library that is not there is a
            // mistake of the configuration.
            const QString module = fiscal.token.module;
            const bool missing = module.contains(QLatin1Char('/')) && !QFileInfo::exists(module);
            findings
                << (file ? Finding{Finding::Level::Error,
                                   QStringLiteral("Certificados: %1; confira [fiscal] certificates.").arg(s.problem)}
                         : Finding{missing ? Finding::Level::Error : Finding::Level::Warning,
                                   QStringLiteral("Token: %1 Confira [fiscal] pkcs11_module, pkcs11_token e "
                                                  "pkcs11_pin_file.")
                                       .arg(s.problem)});
            continue;
        }
        const QString what = file ? QStringLiteral("Certificado %1").arg(s.name)
                                  : QStringLiteral("Certificado %1 do %2").arg(s.name, s.source);
        const QString holder = QStringLiteral("Titular %1; serve: %2.").arg(s.subject, servesText(use));
        if (!s.problem.isEmpty())
            findings << Finding{Finding::Level::Error,
                                QStringLiteral("Certificado %1 não pôde ser lido: %2 Confira o arquivo e [fiscal] "
                                               "certificate_password (ou certificate_password_file).")
                                    .arg(s.name, s.problem)};
        else if (s.daysLeft < 0)
            findings << Finding{Finding::Level::Warning,
                                QStringLiteral("%1 venceu em %2: substitua-o%3. %4")
                                    .arg(what, s.notAfter.toString(QStringLiteral("dd/MM/yyyy")),
                                         file ? QStringLiteral(" em [fiscal] certificates") : QString(), holder)};
        else if (s.daysLeft <= kExpiryWarningDays)
            findings << Finding{Finding::Level::Warning,
                                QStringLiteral("%1 vence em %2 dias (%3): providencie a renovação. %4")
                                    .arg(what)
                                    .arg(s.daysLeft)
                                    .arg(s.notAfter.toString(QStringLiteral("dd/MM/yyyy")), holder)};
        else
            findings << Finding{Finding::Level::Ok,
                                QStringLiteral("%1 lido; vence em %2 dias. %3").arg(what).arg(s.daysLeft).arg(holder)};
    }
    for (const QString& r : report.unserved)
        findings << Finding{
            Finding::Level::Warning,
            QStringLiteral("Inscrição sem certificado (%1): suas cartas não serão transmitidas.").arg(r)};
    return findings;
}

int listCertificates(const Configuration& config)
{
    QString why;
    std::unique_ptr<Store> store = Store::open(config.server.databaseUrl, &why);
    if (!store)
        return failWith(QStringLiteral("Não foi possível abrir o banco de dados: %1").arg(why));
    const CertificateReport report = reportCertificates(config.fiscal, registrationsOf(store.get()));
    QStringList lines;
    QString source = QStringLiteral("-");
    bool unreadable = false;
    for (const CertificateUse& use : report.certificates) {
        const CertificateState& s = use.state;
        if (s.source != source) {
            source = s.source;
            lines << (s.source.isEmpty() ? QStringLiteral("Pasta %1:").arg(config.fiscal.certificateFolder)
                                         : QStringLiteral("%1 (%2):").arg(s.source, config.fiscal.token.module));
        }
        unreadable = unreadable || s.name.isEmpty() || !s.problem.isEmpty();
        if (s.name.isEmpty())
            lines << QStringLiteral("  %1").arg(s.problem);
        else if (!s.problem.isEmpty())
            lines << QStringLiteral("  %1.pfx: não pôde ser lido: %2").arg(s.name, s.problem);
        else
            lines << QStringLiteral("  %1%2").arg(s.source.isEmpty() ? s.name + QStringLiteral(".pfx: ") : QString(),
                                                  describe(use));
    }
    if (report.certificates.isEmpty())
        lines << QStringLiteral("Nenhuma pasta de certificados A1 nem token configurados em [fiscal].");
    if (!report.unserved.isEmpty()) {
        lines << QStringLiteral("Inscrições sem certificado:");
        for (const QString& r : report.unserved)
            lines << QStringLiteral("  ") + r;
    }
    std::fputs((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8().constData(), stdout);
    return unreadable ? 1 : 0;
}

} // namespace srv
