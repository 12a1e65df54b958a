#pragma once
// The Brazilian states as the NF-e standard names them: IBGE code, abbreviation, the
// authority that receives their events (a key into the server's endpoint configuration)
// and the time zone of their capital, in which event times are written.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace nfe {

struct State {
    QString uf; // "SP"
    int ibge = 0; // 35
    QString authority; // "SP", or a shared authority: "SVRS", "SVAN"
    QByteArray timeZone; // IANA id: "America/Sao_Paulo"
    bool foldAccents = false; // the authority refuses accented letters: fold them to plain ones
};

const QList<State>& states();
const State* stateByUf(const QString& uf);
const State* stateByIbge(int ibge);

// "AAAA-MM-DDThh:mm:ss±hh:mm" in the state's own offset at that instant; no fractions, never "Z".
QString eventTime(const QDateTime& instant, const State& state);
// "AAAA-MM-DDThh:mm:ss", the state's own clock at that instant: how the company's records
// keep a time the authority stated, whatever the zone of the machine that stores it.
QString wallClock(const QDateTime& instant, const State& state);

} // namespace nfe
