#include "server/store/LetterStore.h"

#include <QDateTime>

#include "server/store/AuditTrail.h"
#include "server/store/DatabaseFault.h"
#include "server/store/Query.h"
#include "server/store/Store.h"
#include "vocabulary/Flags.h"

namespace srv {

namespace {

// The letters' packet's columns, then the transmission state and the version.
const char kColumns[] = "CDFILIAL, NRLANCTONF, NRSEQCCE, DSCORRECAONFE, CDSTATUSCCE, DSOBSSTATUSCCE, "
                        "DTHRPROTOCOLCCE, NRPROTOCOLCCE, IDEMAILCCE, IDEMAILCCETRANS, IDTRANSMCCE, NRVERSAOREG";
constexpr int kLetterColumns = cce::packet::cartaCorrecao::kColumnCount;
constexpr int kSeq = cce::packet::cartaCorrecao::NRSEQCCE;

} // namespace

LetterStore::LetterStore(Store& store, QString filial, QString lancto)
    : m_store(store), m_filial(std::move(filial)), m_lancto(std::move(lancto))
{}

LetterInvoice LetterStore::lockInvoice()
{
    const QSqlDatabase db = openConnection(m_store);
    Query q(m_store, db, "SetCCe");
    QString sql = QStringLiteral("SELECT IDSITUACAONFE, NRINSJURTRAN, CDEMPRESA FROM NOTAFISCAL WHERE CDFILIAL = ? "
                                 "AND NRLANCTONF = ?");
    if (m_store.engine() == db::Engine::PostgreSQL)
        sql += QStringLiteral(" FOR UPDATE");
    q.runAhead(sql, {m_filial, m_lancto});
    // After the lock, in a statement of its own: under READ COMMITTED it sees what the
    // lock's last holder committed.
    Query letters(m_store, db, "SetCCe");
    letters.runAhead(QStringLiteral("SELECT %1 FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ?")
                         .arg(QLatin1String(kColumns)),
                     {m_filial, m_lancto});
    LetterInvoice invoice;
    if (!q.next())
        return invoice;
    invoice.found = true;
    invoice.situation = q.value(0).toString();
    invoice.hasCarrier = !q.value(1).toString().trimmed().isEmpty();
    invoice.company = q.value(2).toString();
    m_letters.clear();
    while (letters.next())
        m_letters.push_back(stored(letters));
    m_lettersRead = true;
    return invoice;
}

StoredLetter LetterStore::stored(const Query& q)
{
    StoredLetter s;
    s.found = true;
    for (int c = 0; c < kLetterColumns; ++c)
        s.values[c] = q.value(c);
    s.transmission = q.value(kLetterColumns).toString();
    s.version = q.value(kLetterColumns + 1).toInt();
    return s;
}

StoredLetter LetterStore::fetch(const QString& where, const QVariantList& binds)
{
    Query q(m_store, openConnection(m_store), "SetCCe");
    q.run(QStringLiteral("SELECT %1 FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ? AND %2")
              .arg(QLatin1String(kColumns), where),
          QVariantList{m_filial, m_lancto} + binds);
    return q.next() ? stored(q) : StoredLetter();
}

StoredLetter LetterStore::letter(const QString& seq)
{
    if (!m_lettersRead)
        return fetch(QStringLiteral("NRSEQCCE = ?"), {seq});
    for (const StoredLetter& l : m_letters)
        if (l.values[kSeq].toString() == seq)
            return l;
    return StoredLetter();
}

StoredLetter LetterStore::latest()
{
    if (!m_lettersRead)
        return fetch(QStringLiteral("NRSEQCCE = (SELECT MAX(NRSEQCCE) FROM CARTACORRECAO WHERE CDFILIAL = ? AND "
                                    "NRLANCTONF = ?)"),
                     {m_filial, m_lancto});
    // The sequences are two digits: their order as text is the database's MAX.
    const StoredLetter* last = nullptr;
    for (const StoredLetter& l : m_letters)
        if (!last || l.values[kSeq].toString() > last->values[kSeq].toString())
            last = &l;
    return last ? *last : StoredLetter();
}

void LetterStore::add(const QString& seq, const QString& text, const QString& observation, const QString& carrierEmail)
{
    const QSqlDatabase db = openConnection(m_store);
    m_lettersRead = false;
    Query q(m_store, db, "SetCCe");
    // A failure (the sequence taken after all) fails the statement it leaves with.
    q.runLater(
        QStringLiteral("INSERT INTO CARTACORRECAO (CDFILIAL, NRLANCTONF, NRSEQCCE, DSCORRECAONFE, CDSTATUSCCE, "
                       "DSOBSSTATUSCCE, DTHRPROTOCOLCCE, NRPROTOCOLCCE, IDEMAILCCE, IDEMAILCCETRANS, IDTRANSMCCE, "
                       "NRVERSAOREG, DTHRALTERACAO) VALUES (?, ?, ?, ?, NULL, ?, NULL, NULL, ?, ?, ?, 1, ?)"),
        {m_filial, m_lancto, seq, text, observation, QString(cce::email::kPending), carrierEmail,
         QString(cce::transm::kNotSent), QDateTime::currentDateTime()});
    AuditTrail(m_store).record(db, {m_filial, m_lancto, seq, audit::kWritten, QStringLiteral("ok")});
}

bool LetterStore::rewrite(const StoredLetter& letter, const QString& text, const QString& observation)
{
    const QSqlDatabase db = openConnection(m_store);
    m_lettersRead = false;
    Query q(m_store, db, "SetCCe");
    q.run(QStringLiteral("UPDATE CARTACORRECAO SET DSCORRECAONFE = ?, CDSTATUSCCE = NULL, DSOBSSTATUSCCE = ?, "
                         "DTHRPROTOCOLCCE = NULL, NRPROTOCOLCCE = NULL, IDTRANSMCCE = ?, DSXMLEVENTO = NULL, "
                         "DSXMLPROCEVENTO = NULL, NRVERSAOREG = NRVERSAOREG + 1, DTHRALTERACAO = ? "
                         "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ? AND NRVERSAOREG = ?"),
          {text, observation, QString(cce::transm::kNotSent), QDateTime::currentDateTime(), m_filial, m_lancto,
           letter.values[kSeq], letter.version});
    return recorded(db, q.rowsAffected() == 1, letter, audit::kChanged);
}

bool LetterStore::remove(const StoredLetter& letter)
{
    const QSqlDatabase db = openConnection(m_store);
    m_lettersRead = false;
    Query q(m_store, db, "SetCCe");
    q.run(QStringLiteral("DELETE FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ? "
                         "AND NRVERSAOREG = ?"),
          {m_filial, m_lancto, letter.values[kSeq], letter.version});
    return recorded(db, q.rowsAffected() == 1, letter, audit::kDeleted);
}

bool LetterStore::recorded(const QSqlDatabase& db, bool changed, const StoredLetter& letter, QLatin1String action)
{
    if (changed)
        AuditTrail(m_store).record(db, {m_filial, m_lancto, letter.values[kSeq].toString(), QString::fromLatin1(action),
                                        QStringLiteral("ok")});
    return changed;
}

} // namespace srv
