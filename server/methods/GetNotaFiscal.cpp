// The invoice list of the CC-e screen: the company's electronic invoices (model 55) that
// match the criteria, each with its latest letter, and every letter of those invoices.
#include <QSet>
#include <QSqlQuery>

#include "core/values/JsonCodec.h"
#include "core/values/Value.h"
#include "server/methods/Messages.h"
#include "server/methods/MethodSupport.h"
#include "server/methods/PacketFields.h"
#include "server/methods/PacketWriter.h"
#include "server/methods/TransmissaoMethods.h"
#include "nfe/Status.h"

namespace srv::methods {

namespace {

constexpr int kMaxShortArg = 60;
constexpr int kMaxOperList = 8000;
constexpr int kMaxOperKeys = 400;

const QString kAll = QStringLiteral("T");

struct Filter {
    QStringList clauses;
    QVariantList binds;

    void equal(const char* column, const QString& value)
    {
        if (value == kAll)
            return;
        clauses << QStringLiteral("N.%1 = ?").arg(QLatin1String(column));
        binds << value;
    }
    QString where() const { return clauses.join(QLatin1String(" AND ")); }
};

// Builds the conditions, or returns the message that refuses the criteria.
QString buildFilter(const QVariantList& p, Filter* f)
{
    auto arg = [&](int i) { return p.value(i).toString(); };
    for (int i = 0; i < 13; ++i) {
        const int limit = i == 2 ? kMaxOperList : i == 12 ? 200 : kMaxShortArg;
        if (arg(i).size() > limit)
            return msg::criterioLongo(QStringLiteral("A%1").arg(i + 1));
    }
    const QString company = arg(3);
    if (company.trimmed().isEmpty() || company == kAll)
        return msg::empresaDeveInf();
    const QString kind = arg(8);
    if (kind != kAll && kind != QLatin1String("C") && kind != QLatin1String("F") && kind != QLatin1String("L"))
        return msg::criterioTipoDest();
    const QString dateSwitch = arg(10);
    if (dateSwitch != kAll && dateSwitch != QLatin1String("N") && !dateSwitch.isEmpty())
        return msg::criterioPeriodo();
    const QString direction = arg(11);
    if (direction != kAll && direction != QLatin1String("S") && direction != QLatin1String("E"))
        return msg::criterioOperacao();

    f->clauses << QStringLiteral("N.CDEMPRESA = ?") << QStringLiteral("N.CDMODELONF = '55'");
    f->binds << company;
    f->equal("CDFILIEMIT", arg(0));
    f->equal("CDFILIAL", arg(1));

    // Operation types: "S01;S05", direction letter and operation code. An empty list
    // restricts nothing, like "T".
    const QString opers = arg(2);
    if (opers != kAll && !opers.trimmed().isEmpty()) {
        QSet<QString> seen;
        QStringList alternatives;
        QVariantList binds;
        const QStringList keys = opers.split(QLatin1Char(';'));
        for (const QString& raw : keys) {
            const QString key = raw.trimmed();
            if (key.isEmpty())
                continue;
            const QChar dir = key[0];
            if (key.size() < 2 || key.size() > 3 || (dir != QLatin1Char('S') && dir != QLatin1Char('E')))
                return msg::criterioTipoOper();
            if (seen.contains(key))
                continue;
            seen.insert(key);
            alternatives << QStringLiteral("(N.IDENTRSAIDOP = ? AND N.CDTIPOOPER = ?)");
            binds << QString(dir) << key.mid(1);
        }
        if (seen.size() > kMaxOperKeys)
            return msg::criterioTiposDemais();
        if (!alternatives.isEmpty()) {
            f->clauses << QLatin1Char('(') + alternatives.join(QLatin1String(" OR ")) + QLatin1Char(')');
            f->binds << binds;
        }
    }

    f->equal("CDINSCESTA", arg(4));
    f->equal("CDINSCMUNI", arg(5));
    f->equal("CDSERIE", arg(6));
    f->equal("CDFILIRECE", arg(7));
    f->equal("IDORIGDESTNF", kind);
    f->equal("NRINSJURNF", arg(9));

    // Departure dates, both days included; a null bound is no bound.
    if (dateSwitch != kAll) {
        const QDateTime from = p.value(14).toDateTime();
        const QDateTime to = p.value(15).toDateTime();
        if (!fw::isNullOrEmpty(p.value(14)) && from.isValid()) {
            f->clauses << QStringLiteral("N.DTSAIDA >= ?");
            f->binds << QDateTime(from.date(), QTime(0, 0));
        }
        if (!fw::isNullOrEmpty(p.value(15)) && to.isValid()) {
            f->clauses << QStringLiteral("N.DTSAIDA < ?");
            f->binds << QDateTime(to.date().addDays(1), QTime(0, 0));
        }
    }

    f->equal("IDENTRSAIDOP", direction);

    // Emission types: an invoice matches when "_" + its type + "_" occurs in A13.
    const QString tokens = arg(12);
    if (!tokens.isEmpty() && tokens != kAll) {
        QStringList marks;
        QSet<QChar> types;
        for (int i = 0; i + 2 < tokens.size(); ++i) {
            if (tokens[i] == QLatin1Char('_') && tokens[i + 2] == QLatin1Char('_') &&
                tokens[i + 1] != QLatin1Char('_') && !types.contains(tokens[i + 1])) {
                types.insert(tokens[i + 1]);
                marks << QStringLiteral("?");
                f->binds << QString(tokens[i + 1]);
            }
        }
        f->clauses << (marks.isEmpty() ? QStringLiteral("1 = 0")
                                       : QStringLiteral("N.IDTIPOEMISNFE IN (%1)").arg(marks.join(QLatin1Char(','))));
    }
    return QString();
}

// Prepares the statement, binds the criteria's values in order and runs it.
void runFiltered(Store& store, QSqlQuery& q, const QString& sql, const QVariantList& binds)
{
    if (!q.prepare(sql))
        databaseFault(store, q.lastError(), "GetNotaFiscal");
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    if (!q.exec())
        databaseFault(store, q.lastError(), "GetNotaFiscal");
}

QString letterStatus(const QVariant& seq, const QVariant& transmission, const QVariant& status)
{
    if (seq.isNull())
        return QStringLiteral("0");
    const QString t = transmission.toString();
    if (t == QLatin1String("N") || t == QLatin1String("D"))
        return QStringLiteral("1");
    const QString s = status.toString();
    if (nfe::status::eventRegistered(s))
        return QStringLiteral("2");
    return QStringLiteral("3");
}

} // namespace

QVariant getNotaFiscal(Store& store, const QVariantList& params)
{
    Filter filter;
    const QString refusal = buildFilter(params, &filter);
    if (!refusal.isEmpty())
        return refusal;
    // Every invoice listed is of the company asked for (N.CDEMPRESA = A4).
    const QString outside = companyScopeRefusal(params.value(3).toString());
    if (!outside.isEmpty())
        return outside;

    QSqlDatabase db = openConnection(store);
    ReadTransaction tx(store, db);

    // The answer's JSON is written as the rows are read: [<invoices>, <letters>].
    QByteArray json;
    json.append('[');
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.setNumericalPrecisionPolicy(QSql::LowPrecisionDouble);
        const QString sql =
            QStringLiteral(
                "SELECT N.CDFILIEMIT, N.NRINSJURNF, N.NMRAZSOCCLIE, N.NRNOTAFISCALELE, N.DTSAIDA, N.DTEMISSAO, "
                "N.CDSERIE, "
                "N.VRNOTAFISC, L.IDEMAILCCE, L.IDEMAILCCETRANS, N.IDTPAMBNFE, L.IDTRANSMCCE, N.CDFILIAL, N.NRLANCTONF, "
                "N.CDEMPRESA, N.CDINSCESTA, N.CDINSCMUNI, N.NRLICENCAUSO, N.CDCLIENTE, N.CDFILIRECE, N.CDFORNECED, "
                "N.IDTIPOEMISNFE, N.CDTIPOOPER, N.IDENTRSAIDOP, L.NRSEQCCE, N.IDORIGDESTNF, N.IDTPIJURNF, "
                "L.CDSTATUSCCE, "
                "N.NRACESSONFE, N.NRINSJURTRAN, N.DTHRPROTOCOLNFE "
                "FROM NOTAFISCAL N "
                "LEFT JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
                "AND L.NRSEQCCE = (SELECT MAX(X.NRSEQCCE) FROM CARTACORRECAO X "
                "WHERE X.CDFILIAL = N.CDFILIAL AND X.NRLANCTONF = N.NRLANCTONF) "
                "WHERE %1")
                .arg(filter.where());
        runFiltered(store, q, sql, filter.binds);
        PacketWriter w(&json, fields::notaFiscal());
        while (q.next()) {
            const QVariant seq = q.value(24);
            const bool hasLetter = !seq.isNull();
            const QVariant status = q.value(27);
            w.beginRow();
            w.latin1("N");
            for (int c = 0; c < 4; ++c)
                w.stringOrNull(q.value(c));
            w.brazilianDate(q.value(4));
            w.brazilianDate(q.value(5));
            w.stringOrNull(q.value(6));
            w.numberOrNull(q.value(7));
            w.string(hasLetter ? text(q.value(8)) : QString());
            w.string(hasLetter ? text(q.value(9)) : QString());
            w.stringOrNull(q.value(10));
            w.string(letterStatus(seq, q.value(11), status));
            for (int c = 12; c <= 23; ++c)
                w.stringOrNull(q.value(c));
            if (hasLetter)
                w.string(seq.toString());
            else
                w.latin1("00");
            w.stringOrNull(q.value(25));
            w.stringOrNull(q.value(26));
            w.string(hasLetter ? text(status) : QString());
            w.stringOrNull(q.value(28));
            w.stringOrNull(q.value(29));
            w.dateTimeOrNull(q.value(30));
            w.endRow();
        }
        if (q.lastError().isValid())
            databaseFault(store, q.lastError(), "GetNotaFiscal");
        w.finish();
    }
    json.append(',');
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        const QString sql =
            QStringLiteral(
                "SELECT L.CDFILIAL, L.NRLANCTONF, L.NRSEQCCE, L.DSCORRECAONFE, L.CDSTATUSCCE, L.DSOBSSTATUSCCE, "
                "L.DTHRPROTOCOLCCE, L.NRPROTOCOLCCE, L.IDEMAILCCE, L.IDEMAILCCETRANS "
                "FROM NOTAFISCAL N JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
                "WHERE %1")
                .arg(filter.where());
        runFiltered(store, q, sql, filter.binds);
        PacketWriter w(&json, fields::cartaCorrecao());
        while (q.next()) {
            w.beginRow();
            for (int c = 0; c < 6; ++c)
                w.stringOrNull(q.value(c));
            w.dateTimeOrNull(q.value(6));
            for (int c = 7; c < 10; ++c)
                w.stringOrNull(q.value(c));
            w.endRow();
        }
        if (q.lastError().isValid())
            databaseFault(store, q.lastError(), "GetNotaFiscal");
        w.finish();
    }
    json.append(']');
    tx.finish();
    return QVariant::fromValue(fw::json::RawJson{std::move(json)});
}

} // namespace srv::methods
