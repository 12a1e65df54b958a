// The XML of a failed transmission batch and the fiscal-document parameters of a branch.
#include <QSqlQuery>

#include "core/values/Value.h"
#include "server/methods/Messages.h"
#include "server/methods/MethodSupport.h"
#include "server/methods/PacketFields.h"
#include "server/methods/TransmissaoMethods.h"

namespace srv::methods {

QVariant getXmlEnvLote(Store& store, const QVariantList& params)
{
    const QString filial = params.value(0).toString();
    const QString lancto = params.value(1).toString();
    if (filial.trimmed().isEmpty() || lancto.trimmed().isEmpty())
        return msg::notaNaoInformada();
    if (filial.size() > 4 || lancto.size() > 10)
        return msg::notaNaoEncontrada();

    QSqlDatabase db = openConnection(store);
    const QString outside = invoiceScopeRefusal(store, db, filial, lancto);
    if (!outside.isEmpty())
        return outside;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT B.IDTIPOARQXML, B.DSXMLENVIO, B.DSXMLRETORNO FROM LOTECCE B "
                                  "JOIN LOTECCENF K ON K.NRLOTE = B.NRLOTE "
                                  "WHERE K.CDFILIAL = ? AND K.NRLANCTONF = ? AND B.IDTIPOARQXML IN ('S', 'R') "
                                  "ORDER BY B.DTHRENVIO DESC, B.NRLOTE DESC")))
        databaseFault(store, q.lastError(), "getXmlEnvLote");
    q.bindValue(0, filial);
    q.bindValue(1, lancto);
    if (!q.exec())
        databaseFault(store, q.lastError(), "getXmlEnvLote");
    if (!q.next()) {
        if (q.lastError().isValid())
            databaseFault(store, q.lastError(), "getXmlEnvLote");
        return msg::semXmlLote();
    }
    const QString kind = q.value(0).toString();
    // A schema failure never reached the authority: the XML sent shows the fault. A
    // rejection is explained by the authority's answer.
    QString xml = kind == QLatin1String("R") ? text(q.value(2)) : QString();
    if (xml.isEmpty())
        xml = text(q.value(1));
    fw::DataPacket p;
    p.fields = fields::valdXmlSchema();
    p.rows.append(fw::Row{filial, lancto, kind, xml});
    return QVariant::fromValue(p);
}

QVariant getParamDFS(Store& store, const QVariantList& params)
{
    const QString filial = params.value(0).toString();
    if (filial.size() > 4)
        return msg::filialInvalida();
    fw::DataPacket p;
    p.fields = fields::paramDfs();

    QSqlDatabase db = openConnection(store);
    const QString outside = branchScopeRefusal(store, db, filial);
    if (!outside.isEmpty())
        return outside;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.setNumericalPrecisionPolicy(QSql::LowPrecisionDouble);
    if (!q.prepare(QStringLiteral("SELECT NREXEMEMISSAO, IDUTREIMPRNF, CDFILIAL, NRTAMNUMNFUT, IDUTLIBERANF, "
                                  "IDUTFILCENTOBR, IDNFILTROINSCR FROM PARAMDFS WHERE CDFILIAL = ?")))
        databaseFault(store, q.lastError(), "GetParamDFS");
    q.bindValue(0, filial);
    if (!q.exec())
        databaseFault(store, q.lastError(), "GetParamDFS");
    if (q.next()) {
        fw::Row r;
        for (int c = 0; c < 7; ++c) {
            if (c == 3)
                r << (q.value(c).isNull() ? fw::nullValue() : QVariant(q.value(c).toDouble()));
            else
                r << text(q.value(c));
        }
        p.rows.append(r);
    } else {
        if (q.lastError().isValid())
            databaseFault(store, q.lastError(), "GetParamDFS");
        // No parameters of its own: the branch's code and empty values, which the screen
        // reads as the strict mode.
        p.rows.append(fw::Row{QString(), QString(), filial, fw::nullValue(), QString(), QString(), QString()});
    }
    return QVariant::fromValue(p);
}

} // namespace srv::methods
