#include "server/store/MailStore.h"

#include <algorithm>

#include "nfe/Status.h"
#include "server/store/AuditTrail.h"
#include "server/store/ColumnValues.h"
#include "server/store/DatabaseFault.h"
#include "server/store/Query.h"
#include "server/store/Transactions.h"
#include "vocabulary/Flags.h"

namespace srv {

using column::text;

std::optional<LetterMail> MailStore::letter(const QString& cdFilial, const QString& nrLanctoNF, const QString& seq)
{
    QSqlDatabase db = openConnection(m_store);
    Query q(m_store, db, "e-mail");
    q.prepare(QStringLiteral(
        "SELECT N.CDFILIAL, N.NRLANCTONF, L.NRSEQCCE, N.CDEMPRESA, N.NRNOTAFISCALELE, N.CDSERIE, "
        "N.NRACESSONFE, N.IDTPAMBNFE, L.DSCORRECAONFE, L.CDSTATUSCCE, L.NRPROTOCOLCCE, L.DSXMLPROCEVENTO, "
        "L.IDEMAILCCE, L.IDEMAILCCETRANS, E.NMRAZSOCEMPR, FE.NMFILIAL, N.IDORIGDESTNF, N.CDCLIENTE, "
        "N.CDFORNECED, N.CDFILIRECE, N.NMRAZSOCCLIE, C.CDCLIENTE, C.NMRAZSOCCLIE, C.DSEMAILCLIE, "
        "FO.CDFORNECED, FO.NMRAZSOCFORN, FO.DSEMAILFORN, FR.CDFILIAL, FR.NMFILIAL, FR.DSEMAILFILI, "
        "N.NRINSJURTRAN, T.NRINSJURTRAN, T.NMRAZSOCTRAN, T.DSEMAILTRAN, L.DTHRPROTOCOLCCE "
        "FROM CARTACORRECAO L JOIN NOTAFISCAL N ON N.CDFILIAL = L.CDFILIAL AND N.NRLANCTONF = L.NRLANCTONF "
        "LEFT JOIN EMPRESA E ON E.CDEMPRESA = N.CDEMPRESA "
        "LEFT JOIN FILIAL FE ON FE.CDFILIAL = N.CDFILIEMIT "
        "LEFT JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE "
        "LEFT JOIN FORNECEDOR FO ON FO.CDFORNECED = N.CDFORNECED "
        "LEFT JOIN FILIAL FR ON FR.CDFILIAL = N.CDFILIRECE "
        "LEFT JOIN TRANSPORTADORA T ON T.NRINSJURTRAN = N.NRINSJURTRAN "
        "WHERE L.CDFILIAL = ? AND L.NRLANCTONF = ? AND L.NRSEQCCE = ?"));
    q.exec({cdFilial, nrLanctoNF, seq});
    if (!q.next())
        return std::nullopt;
    LetterMail l;
    l.cdFilial = text(q.value(0));
    l.nrLanctoNF = text(q.value(1));
    l.seq = text(q.value(2));
    l.cdEmpresa = text(q.value(3));
    l.nrNotaFiscal = text(q.value(4));
    l.serie = text(q.value(5));
    l.chNFe = text(q.value(6));
    l.tpAmb = text(q.value(7));
    l.correction = text(q.value(8));
    l.status = text(q.value(9));
    l.protocol = text(q.value(10));
    l.procEvento = text(q.value(11)).toUtf8();
    l.emailFlag = text(q.value(12));
    l.carrierEmailFlag = text(q.value(13));
    l.companyName = text(q.value(14));
    l.branchName = text(q.value(15));
    l.recipientKind = text(q.value(16));
    const QString invoiceName = text(q.value(20));
    // The invoice names its counterpart in the registry of its kind.
    struct Columns {
        int code, found, name, email;
    };
    std::optional<Columns> c;
    if (l.recipientKind == QLatin1String("C"))
        c = Columns{17, 21, 22, 23};
    else if (l.recipientKind == QLatin1String("F"))
        c = Columns{18, 24, 25, 26};
    else if (l.recipientKind == QLatin1String("L"))
        c = Columns{19, 27, 28, 29};
    if (c) {
        l.recipientCode = text(q.value(c->code));
        l.recipientRegistered = !q.value(c->found).isNull();
        l.recipientName = text(q.value(c->name));
        l.recipientEmail = text(q.value(c->email)).trimmed();
    }
    if (l.recipientName.isEmpty())
        l.recipientName = invoiceName;
    l.carrierDocument = text(q.value(30)).trimmed();
    l.carrierRegistered = !q.value(31).isNull();
    l.carrierName = text(q.value(32));
    l.carrierEmail = text(q.value(33)).trimmed();
    // Kept on the issuer state's clock: shown as it is.
    const QDateTime registered = column::toDateTime(q.value(34));
    if (registered.isValid())
        l.registeredAt = registered.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    return l;
}

QList<MailStore::PendingMail> MailStore::pendingRecipientMails(const QList<QPair<QString, QString>>& invoices)
{
    QSqlDatabase db = openConnection(m_store);
    ReadTransaction read(m_store, db);
    Query q(m_store, db, "e-mail");
    q.prepare(QStringLiteral("SELECT L.NRSEQCCE, L.CDSTATUSCCE, L.IDEMAILCCE FROM CARTACORRECAO L "
                             "WHERE L.CDFILIAL = ? AND L.NRLANCTONF = ? AND L.NRSEQCCE = "
                             "(SELECT MAX(NRSEQCCE) FROM CARTACORRECAO WHERE CDFILIAL = L.CDFILIAL "
                             "AND NRLANCTONF = L.NRLANCTONF)"));
    QList<PendingMail> out;
    for (const auto& [filial, lancto] : invoices) {
        q.exec({filial, lancto});
        if (!q.next())
            continue;
        const QString status = text(q.value(1));
        if (nfe::status::eventRegistered(status) && text(q.value(2)) == cce::email::kPending)
            out << PendingMail{filial, lancto, text(q.value(0))};
        q.finish();
    }
    read.finish();
    std::sort(out.begin(), out.end(), [](const PendingMail& a, const PendingMail& b) {
        return a.cdFilial != b.cdFilial ? a.cdFilial < b.cdFilial : a.nrLanctoNF < b.nrLanctoNF;
    });
    return out;
}

bool MailStore::markSent(const QString& cdFilial, const QString& nrLanctoNF, const QString& seq, bool carrier)
{
    QSqlDatabase db = openConnection(m_store);
    WriteTransaction tx(m_store, db);
    Query q(m_store, db, "e-mail");
    q.prepare(carrier ? QStringLiteral("UPDATE CARTACORRECAO SET IDEMAILCCETRANS = ?, NRVERSAOREG = NRVERSAOREG + 1 "
                                       "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ? "
                                       "AND CDSTATUSCCE IN ('135', '136')")
                      : QStringLiteral("UPDATE CARTACORRECAO SET IDEMAILCCE = ?, NRVERSAOREG = NRVERSAOREG + 1 "
                                       "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ? "
                                       "AND CDSTATUSCCE IN ('135', '136')"));
    q.exec({QString(cce::email::kSent), cdFilial, nrLanctoNF, seq});
    const bool changed = q.rowsAffected() == 1;
    if (changed) {
        AuditTrail(m_store).record(
            db, {cdFilial, nrLanctoNF, seq, audit::kEmailed,
                 carrier ? QStringLiteral("enviado à transportadora") : QStringLiteral("enviado ao destinatário")});
        tx.commit();
    }
    return changed;
}

void MailStore::recordFailure(const QString& cdFilial, const QString& nrLanctoNF, const QString& seq, bool carrier,
                              const QString& reason)
{
    AuditTrail(m_store).recordAlone({cdFilial, nrLanctoNF, seq, audit::kEmailed,
                                     (carrier ? QStringLiteral("não enviado à transportadora: ")
                                              : QStringLiteral("não enviado ao destinatário: ")) +
                                         reason});
}

} // namespace srv
