#pragma once
// The e-mail of accepted letters: reads the letter and the addresses, renders the PDF,
// composes the message, hands it to the transport and, only once the transport accepted
// it, records it as sent.
#include <QMutex>
#include <functional>
#include <memory>

#include "server/mail/LetterPdf.h"
#include "server/mail/MailConfig.h"
#include "server/mail/MailTransport.h"
#include "server/mail/Mailer.h"
#include "server/store/MailStore.h"

namespace srv::mail {

class MailService : public Mailer {
public:
    MailService(Store& store, MailConfig config, std::unique_ptr<MailTransport> transport,
                std::unique_ptr<LetterPdf> pdf);

    // The service the configuration asks for: SMTP when a host is set, else the outbox; wrap,
    // when given, puts the transport inside another (the operators' counting).
    using TransportWrap = std::function<std::unique_ptr<MailTransport>(std::unique_ptr<MailTransport>)>;
    static std::unique_ptr<MailService> fromConfig(Store& store, const MailConfig& config,
                                                   const TransportWrap& wrap = {});

    QString sendLetter(const QString& cdFilial, const QString& nrLanctoNF, const QString& nrSeqCCe,
                       bool carrier) override;
    QList<Failure> sendPending(const QList<QPair<QString, QString>>& invoices) override;

    const MailConfig& config() const { return m_config; }

private:
    // Delivers one letter's message and records it; the reason when it did not go.
    Delivery send(const LetterMail& letter, bool carrier);

    MailStore m_letters;
    MailConfig m_config;
    std::unique_ptr<MailTransport> m_transport;
    std::unique_ptr<LetterPdf> m_pdf;
    QMutex m_pending; // one sending of all pending e-mails at a time
};

} // namespace srv::mail
