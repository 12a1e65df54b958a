#include "server/mail/LetterPdf.h"

#include <QBuffer>
#include <QMutex>

#include "report/Report.h"
#include "server/store/DatabaseFault.h"
#include "server/store/ReportRows.h"

namespace srv::mail {

ReportLetterPdf::ReportLetterPdf(Store& store, QString folder)
    : m_store(store), m_folder(folder.isEmpty() ? fw::report::reportFolder() : std::move(folder))
{}

bool ReportLetterPdf::render(const LetterMail& letter, QByteArray* pdf, QString* error)
{
    // The engine registers its fonts once and paints outside the GUI thread here; one
    // letter at a time keeps that simple.
    static QMutex rendering;
    QMutexLocker lock(&rendering);

    fw::report::ReportDefinition def;
    if (!fw::report::ReportDefinition::load(m_folder, QStringLiteral("DFS593"), &def, error))
        return false;
    fw::report::Report report(def);
    // Read the way the server reads everything, not through the engine's own query.
    try {
        const QSqlDatabase db = openConnection(m_store);
        report.setRows(reportRows(
            m_store, report.query()->statementFor(db.driverName()),
            {{QStringLiteral("CDFILIAL"), letter.cdFilial}, {QStringLiteral("NRLANCTONF"), letter.nrLanctoNF}}));
    } catch (const DatabaseFault& f) {
        *error = f.message();
        return false;
    }
    report.keepRows(
        [&letter](const QVariantMap& row) { return row.value(QStringLiteral("NRSEQCCE")).toString() == letter.seq; });
    QBuffer out(pdf);
    out.open(QIODevice::WriteOnly);
    return report.renderPdf(&out, error);
}

} // namespace srv::mail
