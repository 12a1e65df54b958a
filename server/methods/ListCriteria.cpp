#include "server/methods/ListCriteria.h"

#include <QSet>

#include "core/values/Value.h"
#include "server/methods/Messages.h"
#include "vocabulary/GetNotaFiscalArgs.h"

namespace srv::methods {

using namespace cce::getNotaFiscal;

namespace {

constexpr int kMaxShortArg = 60;
constexpr int kMaxOperList = 8000;
constexpr int kMaxOperKeys = 400;
constexpr int kMaxEmissionTypes = 200;

// "T" restricts nothing.
std::optional<QString> unlessAll(const QString& value)
{
    return value == kAll ? std::nullopt : std::optional<QString>(value);
}

// Operation types: "S01;S05", the direction letter and the operation code; an empty list
// restricts nothing, like "T".
QString readOperations(const QString& list, InvoiceCriteria* c)
{
    if (list == kAll || list.trimmed().isEmpty())
        return QString();
    QSet<QString> seen;
    for (const QString& raw : list.split(QLatin1Char(';'))) {
        const QString key = raw.trimmed();
        if (key.isEmpty())
            continue;
        const QString direction = key.left(1);
        if (key.size() < 2 || key.size() > 3 || (direction != kOutgoing && direction != kIncoming))
            return msg::criterioTipoOper();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        c->operations.append({direction, key.mid(1)});
    }
    return seen.size() > kMaxOperKeys ? msg::criterioTiposDemais() : QString();
}

// Emission types: an invoice matches when "_" + its type + "_" occurs in the tokens; none
// given lists every type.
std::optional<QStringList> readEmissionTypes(const QString& tokens)
{
    if (tokens.isEmpty() || tokens == kAll)
        return std::nullopt;
    QStringList types;
    for (int i = 0; i + 2 < tokens.size(); ++i) {
        const QString type(tokens[i + 1]);
        if (tokens[i] == QLatin1Char('_') && tokens[i + 2] == QLatin1Char('_') && type != QLatin1String("_") &&
            !types.contains(type))
            types << type;
    }
    return types;
}

} // namespace

QString readCriteria(const QVariantList& p, InvoiceCriteria* c)
{
    auto arg = [&](int i) { return p.value(i).toString(); };
    for (int i = 0; i < kTextArgs; ++i) {
        const int limit = i == OperationTypes ? kMaxOperList : i == EmissionTypes ? kMaxEmissionTypes : kMaxShortArg;
        if (arg(i).size() > limit)
            return msg::criterioLongo(QStringLiteral("A%1").arg(i + 1));
    }
    const QString company = arg(Company);
    if (company.trimmed().isEmpty() || company == kAll)
        return msg::empresaDeveInf();
    const QString kind = arg(CounterpartKind);
    if (kind != kAll && kind != kCustomer && kind != kSupplier && kind != kBranch)
        return msg::criterioTipoDest();
    const QString dateSwitch = arg(DateSwitch);
    if (dateSwitch != kAll && dateSwitch != kDatesGiven && !dateSwitch.isEmpty())
        return msg::criterioPeriodo();
    const QString direction = arg(Direction);
    if (direction != kAll && direction != kOutgoing && direction != kIncoming)
        return msg::criterioOperacao();

    c->company = company;
    c->issuingBranch = unlessAll(arg(IssuingBranch));
    c->originBranch = unlessAll(arg(OriginBranch));
    const QString refusal = readOperations(arg(OperationTypes), c);
    if (!refusal.isEmpty())
        return refusal;
    c->stateRegistration = unlessAll(arg(StateRegistration));
    c->municipalRegistration = unlessAll(arg(MunicipalRegistration));
    c->series = unlessAll(arg(Series));
    c->recipientBranch = unlessAll(arg(RecipientBranch));
    c->counterpartKind = unlessAll(kind);
    c->counterpartRegistration = unlessAll(arg(CounterpartRegistration));
    // Departure dates, both days included; a null bound is no bound.
    if (dateSwitch != kAll) {
        const QVariant from = p.value(DepartureFrom);
        const QVariant to = p.value(DepartureTo);
        if (!fw::isNullOrEmpty(from) && from.toDateTime().isValid())
            c->departureFrom = QDateTime(from.toDateTime().date(), QTime(0, 0));
        if (!fw::isNullOrEmpty(to) && to.toDateTime().isValid())
            c->departureBefore = QDateTime(to.toDateTime().date().addDays(1), QTime(0, 0));
    }
    c->direction = unlessAll(direction);
    c->emissionTypes = readEmissionTypes(arg(EmissionTypes));
    return QString();
}

bool readsWholeCompany(const QVariantList& p)
{
    for (int i : {IssuingBranch, OriginBranch, OperationTypes, StateRegistration, MunicipalRegistration, Series,
                  RecipientBranch, CounterpartKind, CounterpartRegistration}) {
        const QString v = p.value(i).toString();
        if (v != kAll && !(i == OperationTypes && v.trimmed().isEmpty()))
            return false;
    }
    const bool dated = p.value(DateSwitch).toString() != kAll &&
                       (!fw::isNullOrEmpty(p.value(DepartureFrom)) || !fw::isNullOrEmpty(p.value(DepartureTo)));
    return !dated;
}

} // namespace srv::methods
