// SendEmailCCe and SendEmailCCeTodos: hand accepted letters to the mail subsystem and put
// its failures in the answer's fixed layout.
#include <QSet>

#include "core/values/Packet.h"
#include "server/methods/InvoiceKey.h"
#include "server/methods/Messages.h"
#include "server/methods/ScopeRefusals.h"
#include "server/methods/TransmissaoMethods.h"
#include "server/rpc/CompanyScope.h"

namespace srv::methods {

namespace {

// The screen reads the invoice key at fixed characters of each line, so both parts
// keep their full width even when a code is shorter.
QString failureLine(const Mailer::Failure& f)
{
    return QStringLiteral("Falha no envio do e-mail da CC-e. NF Filial ") + f.cdFilial.left(4).leftJustified(4) +
           QStringLiteral(" / ") + f.nrLanctoNF.left(10).leftJustified(10) + QStringLiteral(": ") +
           f.reason.simplified();
}

} // namespace

QVariant sendEmailCCe(const Services& services, const QVariantList& params)
{
    if (!services.mailer)
        return msg::emailNaoConfigurado();
    const QString filial = params.value(0).toString();
    const QString lancto = params.value(1).toString();
    const QString seq = params.value(2).toString();
    if (const QString refusal = invoiceKeyRefusal(filial, lancto); !refusal.isEmpty())
        return refusal;
    if (seq.size() != 2 || !seq.at(0).isDigit() || !seq.at(1).isDigit() || seq == QLatin1String("00"))
        return msg::sequenciaEmailInvalida(seq.left(20));
    if (!CompanyScope::current().everyCompany()) {
        const QString outside = invoiceScopeRefusal(*services.store, filial, lancto);
        if (!outside.isEmpty())
            return outside;
    }
    return services.mailer->sendLetter(filial, lancto, seq, params.value(3).toBool());
}

QVariant sendEmailCCeTodos(const Services& services, const QVariantList& params)
{
    if (!services.mailer)
        return msg::emailNaoConfigurado();
    const fw::DataPacket notas = params.value(0).value<fw::DataPacket>();
    const int filial = notas.fieldIndex(QStringLiteral("CDFILIAL"));
    const int lancto = notas.fieldIndex(QStringLiteral("NRLANCTONF"));
    if (filial < 0 || lancto < 0)
        return msg::pacoteSemChave();
    // The packet names the invoices; what is pending is the database's word.
    QList<QPair<QString, QString>> invoices;
    QSet<QPair<QString, QString>> seen;
    for (const fw::Row& r : notas.rows) {
        const QPair<QString, QString> key{r.value(filial).toString(), r.value(lancto).toString()};
        if (key.first.isEmpty() || key.second.isEmpty() || !keyFits(key.first, key.second))
            continue;
        if (!seen.contains(key)) {
            seen.insert(key);
            invoices << key;
        }
    }
    // Nothing is sent when any listed invoice lies outside the caller's companies.
    if (!CompanyScope::current().everyCompany()) {
        const QString outside = invoicesScopeRefusal(*services.store, invoices);
        if (!outside.isEmpty())
            return outside;
    }
    QStringList lines;
    for (const Mailer::Failure& f : services.mailer->sendPending(invoices))
        lines << failureLine(f);
    return lines.join(QLatin1Char('\n'));
}

} // namespace srv::methods
