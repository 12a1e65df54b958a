#pragma once
// What the methods ask of the mail subsystem, so that it is replaced in tests.
#include <QList>
#include <QPair>
#include <QString>

namespace srv {

// E-mails accepted letters to the invoice's recipient or carrier.
class Mailer {
public:
    virtual ~Mailer() = default;
    // One accepted letter; "" once the message was accepted and recorded as sent ("E"),
    // otherwise the reason, one line in Portuguese.
    virtual QString sendLetter(const QString& cdFilial, const QString& nrLanctoNF, const QString& nrSeqCCe,
                               bool carrier) = 0;
    struct Failure {
        QString cdFilial, nrLanctoNF, reason;
    };
    // The recipient e-mail of every invoice whose latest letter is accepted and still
    // pending; the invoices that could not be sent, in key order.
    virtual QList<Failure> sendPending(const QList<QPair<QString, QString>>& invoices) = 0;
};

} // namespace srv
