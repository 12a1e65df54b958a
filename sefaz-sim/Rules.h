#pragma once
// The authority's judgement of what it receives, as strict as the real services:
// NFeRecepcaoEvento4 takes a batch of CC-e events (envEvento 1.00) and answers
// retEnvEvento with one retEvento per event, in an order of its own; NFeConsultaProtocolo4
// answers retConsSitNFe with the events registered for an NF-e. Both take and give SOAP 1.2.
#include <QByteArray>
#include <QDateTime>
#include <QMutex>
#include <QPair>
#include <QString>
#include <functional>
#include <memory>

#include "nfe/Schema.h"
#include "sefaz-sim/Registry.h"

namespace sim {

class Rules {
public:
    // tpAmb: the environment this stand-in receives (1 production, 2 homologation).
    Rules(Registry& registry, int tpAmb);

    // False with *error when a schema could not be loaded.
    bool ready(QString* error) const;

    // The SOAP answer to a batch; *received tells how many events it carried.
    QByteArray receiveBatch(const QByteArray& soap, bool reversedOrder, int* received = nullptr);
    QByteArray consult(const QByteArray& soap);

    Registry& registry() { return m_registry; }
    // Forgets every registered event (the authorised NF-e stay) and any forced answer.
    bool reset()
    {
        answerEventsWith(QString(), QString());
        return m_registry.clearEvents();
    }

    // The layouts of the tax reform: protocols of 17 digits instead of 15.
    bool wideAnswers = false;
    // Every event that passes the rules is answered with this code and text instead of being
    // registered, as a newer layout's codes may come (4 digits); an empty code: registered.
    void answerEventsWith(const QString& cStat, const QString& xMotivo);

    // The clock the rules judge event times by; tests move it.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };
    // How far in the future an event time may lie (clock skew between the parties).
    int toleranceSecs = 300;

private:
    struct Judged;
    Judged judge(const QByteArray& evento, int batchOrgao);

    Registry& m_registry;
    int m_tpAmb;
    std::shared_ptr<const nfe::Schema> m_batchSchema, m_eventSchema, m_consSchema;
    QMutex m_forcedMutex;
    QPair<QString, QString> m_forced;
    QString m_schemaError;
};

} // namespace sim
