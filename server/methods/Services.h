#pragma once
// What the methods are given by the application: the store and the subsystems behind
// interfaces, so that each is tested alone and replaced in tests.
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include "core/values/Packet.h"
#include "server/store/Store.h"

namespace srv {

// Sends the marked invoices' letters to the tax authority (server/fiscal).
class Transmitter {
public:
    virtual ~Transmitter() = default;
    virtual QVariant transmit(const fw::DataPacket& notas, const QString& company, const QString& condUso) = 0;
};

// E-mails accepted letters to the invoice's recipient or carrier (server/mail).
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

struct Services {
    Store* store = nullptr;
    Transmitter* transmitter = nullptr; // none: the server is not configured for the authority
    Mailer* mailer = nullptr; // none: e-mail is not offered
};

} // namespace srv
