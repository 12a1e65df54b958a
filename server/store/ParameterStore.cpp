#include "server/store/ParameterStore.h"

#include "server/store/DatabaseFault.h"
#include "server/store/Query.h"

namespace srv {

std::optional<QVariantList> ParameterStore::parameters(const QString& filial)
{
    Query q(m_store, openConnection(m_store), "GetParamDFS");
    q.setNumericalPrecisionPolicy(QSql::LowPrecisionDouble);
    q.run(QStringLiteral("SELECT NREXEMEMISSAO, IDUTREIMPRNF, CDFILIAL, NRTAMNUMNFUT, IDUTLIBERANF, "
                         "IDUTFILCENTOBR, IDNFILTROINSCR FROM PARAMDFS WHERE CDFILIAL = ?"),
          {filial});
    if (!q.next())
        return std::nullopt;
    QVariantList row;
    for (int c = 0; c < cce::packet::paramDfs::kColumnCount; ++c)
        row << q.value(c);
    return row;
}

QStringList ParameterStore::companiesOfBranch(const QString& filial)
{
    Query q(m_store, openConnection(m_store), "company scope");
    q.run(QStringLiteral("SELECT CDEMPRESA FROM FILIAL WHERE CDFILIAL = ?"), {filial});
    QStringList companies;
    while (q.next())
        companies << q.value(0).toString();
    return companies;
}

} // namespace srv
