#include "server/app/AuditReport.h"

#include <QStringList>

#include "server/store/AuditTrail.h"

namespace srv {

QString csvField(const QString& text)
{
    QString t = text;
    // Text from outside (an authority's reason, a user's name) must not become a formula.
    if (!t.isEmpty() && QStringLiteral("=+-@").contains(t.at(0)))
        t.prepend(QLatin1Char('\''));
    if (!t.contains(QLatin1Char(',')) && !t.contains(QLatin1Char('"')) && !t.contains(QLatin1Char('\n')) &&
        !t.contains(QLatin1Char('\r')) && t == text)
        return t;
    t.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + t + QLatin1Char('"');
}

int writeAuditCsv(Store& store, const QString& company, const QDate& since, const QString& invoice, std::FILE* out)
{
    const QString filial = invoice.section(QLatin1Char('/'), 0, 0).trimmed();
    const QString lancto = invoice.section(QLatin1Char('/'), 1).trimmed();
    auto line = [out](const QStringList& fields) {
        QStringList quoted;
        for (const QString& f : fields)
            quoted << csvField(f);
        const QByteArray bytes = (quoted.join(QLatin1Char(',')) + QLatin1String("\r\n")).toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    };
    line({QStringLiteral("quando"), QStringLiteral("usuario"), QStringLiteral("token"), QStringLiteral("endereco"),
          QStringLiteral("acao"), QStringLiteral("nota"), QStringLiteral("sequencia"), QStringLiteral("resultado"),
          QStringLiteral("requisicao"), QStringLiteral("certificado")});
    int n = 0;
    for (const AuditRow& r : AuditTrail(store).rows(company, since, filial, lancto)) {
        line({r.when.toString(Qt::ISODateWithMs), r.actor.user, r.actor.token, r.actor.address, r.action,
              r.filial + QLatin1Char('/') + r.lancto, r.seq, r.outcome, r.actor.request, r.actor.certificate});
        ++n;
    }
    std::fflush(out);
    return n;
}

} // namespace srv
