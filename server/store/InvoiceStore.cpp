#include "server/store/InvoiceStore.h"

#include <QHash>

#include "server/store/DatabaseFault.h"
#include "server/store/Query.h"

namespace srv {

QStringList InvoiceStore::companiesOf(const QList<QPair<QString, QString>>& invoices)
{
    // By branch, many entries per statement: the primary key answers each.
    constexpr int kPerStatement = 200;
    QHash<QString, QStringList> byBranch;
    for (const auto& [filial, lancto] : invoices)
        byBranch[filial].append(lancto);
    QStringList companies;
    for (auto it = byBranch.cbegin(); it != byBranch.cend(); ++it) {
        const QStringList& entries = it.value();
        for (qsizetype from = 0; from < entries.size(); from += kPerStatement) {
            const qsizetype n = qMin<qsizetype>(kPerStatement, entries.size() - from);
            QStringList marks;
            QVariantList binds{it.key()};
            for (qsizetype i = 0; i < n; ++i) {
                marks << QStringLiteral("?");
                binds << entries[from + i];
            }
            Query q(m_store, openConnection(m_store), "company scope");
            q.run(QStringLiteral("SELECT DISTINCT CDEMPRESA FROM NOTAFISCAL WHERE CDFILIAL = ? AND NRLANCTONF IN (%1)")
                      .arg(marks.join(QLatin1Char(','))),
                  binds);
            while (q.next()) {
                const QString company = q.value(0).toString();
                if (!companies.contains(company))
                    companies << company;
            }
        }
    }
    return companies;
}

} // namespace srv
