#include "nfe/States.h"

#include <QTimeZone>

namespace nfe {

const QList<State>& states()
{
    // Authorities: the states with services of their own; the others use a shared one.
    static const QList<State> table = {
        {QStringLiteral("RO"), 11, QStringLiteral("SVRS"), "America/Porto_Velho"},
        {QStringLiteral("AC"), 12, QStringLiteral("SVRS"), "America/Rio_Branco"},
        {QStringLiteral("AM"), 13, QStringLiteral("AM"), "America/Manaus"},
        {QStringLiteral("RR"), 14, QStringLiteral("SVRS"), "America/Boa_Vista"},
        {QStringLiteral("PA"), 15, QStringLiteral("SVRS"), "America/Belem"},
        {QStringLiteral("AP"), 16, QStringLiteral("SVRS"), "America/Belem"},
        {QStringLiteral("TO"), 17, QStringLiteral("SVRS"), "America/Araguaina"},
        {QStringLiteral("MA"), 21, QStringLiteral("SVAN"), "America/Fortaleza"},
        {QStringLiteral("PI"), 22, QStringLiteral("SVRS"), "America/Fortaleza"},
        {QStringLiteral("CE"), 23, QStringLiteral("SVRS"), "America/Fortaleza"},
        {QStringLiteral("RN"), 24, QStringLiteral("SVRS"), "America/Fortaleza"},
        {QStringLiteral("PB"), 25, QStringLiteral("SVRS"), "America/Fortaleza"},
        {QStringLiteral("PE"), 26, QStringLiteral("PE"), "America/Recife"},
        {QStringLiteral("AL"), 27, QStringLiteral("SVRS"), "America/Maceio"},
        {QStringLiteral("SE"), 28, QStringLiteral("SVRS"), "America/Maceio"},
        {QStringLiteral("BA"), 29, QStringLiteral("BA"), "America/Bahia"},
        {QStringLiteral("MG"), 31, QStringLiteral("MG"), "America/Sao_Paulo"},
        {QStringLiteral("ES"), 32, QStringLiteral("SVRS"), "America/Sao_Paulo"},
        {QStringLiteral("RJ"), 33, QStringLiteral("SVRS"), "America/Sao_Paulo"},
        {QStringLiteral("SP"), 35, QStringLiteral("SP"), "America/Sao_Paulo"},
        {QStringLiteral("PR"), 41, QStringLiteral("PR"), "America/Sao_Paulo"},
        {QStringLiteral("SC"), 42, QStringLiteral("SVRS"), "America/Sao_Paulo"},
        {QStringLiteral("RS"), 43, QStringLiteral("RS"), "America/Sao_Paulo"},
        {QStringLiteral("MS"), 50, QStringLiteral("MS"), "America/Campo_Grande"},
        {QStringLiteral("MT"), 51, QStringLiteral("MT"), "America/Cuiaba"},
        {QStringLiteral("GO"), 52, QStringLiteral("GO"), "America/Sao_Paulo"},
        {QStringLiteral("DF"), 53, QStringLiteral("SVRS"), "America/Sao_Paulo"},
    };
    return table;
}

const State* stateByUf(const QString& uf)
{
    for (const State& s : states())
        if (s.uf.compare(uf, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

const State* stateByIbge(int ibge)
{
    for (const State& s : states())
        if (s.ibge == ibge)
            return &s;
    return nullptr;
}

namespace {
QDateTime inState(const QDateTime& instant, const State& state)
{
    const QTimeZone zone(state.timeZone);
    return instant.toTimeZone(zone.isValid() ? zone : QTimeZone(-3 * 3600));
}
} // namespace

QString wallClock(const QDateTime& instant, const State& state)
{
    return inState(instant, state).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

QString eventTime(const QDateTime& instant, const State& state)
{
    const QDateTime local = inState(instant, state);
    const int offset = local.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace nfe
