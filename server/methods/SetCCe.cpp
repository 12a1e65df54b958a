// Stores the screen's changes to the correction letters of one invoice: all of them in
// one transaction, or none. Every rule is checked here, whatever the client checked.
#include "core/values/Value.h"
#include "nfe/CorrectionText.h"
#include "nfe/Status.h"
#include "server/methods/InvoiceKey.h"
#include "server/methods/Messages.h"
#include "server/methods/PacketFields.h"
#include "server/methods/ScopeRefusals.h"
#include "server/methods/TransmissaoMethods.h"
#include "server/store/ColumnValues.h"
#include "server/store/DatabaseFault.h"
#include "server/store/LetterStore.h"
#include "server/store/Transactions.h"
#include "vocabulary/Flags.h"
#include "vocabulary/LetterText.h"

namespace srv::methods {

namespace {

using column::text;
using column::toDateTime;

const QString kPendingObs = QStringLiteral("Carta de Correção Pendente no Sistema");

// The letter fields, in the order of the letters' packet; the delta may carry them in any.
enum Col {
    FILIAL = cce::packet::cartaCorrecao::CDFILIAL,
    LANCTO = cce::packet::cartaCorrecao::NRLANCTONF,
    SEQ = cce::packet::cartaCorrecao::NRSEQCCE,
    TEXTO = cce::packet::cartaCorrecao::DSCORRECAONFE,
    STATUS = cce::packet::cartaCorrecao::CDSTATUSCCE,
    DTHRPROT = cce::packet::cartaCorrecao::DTHRPROTOCOLCCE,
    PROT = cce::packet::cartaCorrecao::NRPROTOCOLCCE,
    NCOLS = cce::packet::cartaCorrecao::kColumnCount
};

// A refusal: the message goes back to the client, the transaction rolls back.
struct Refusal {
    QString message;
};

bool isAccepted(const QString& status) { return nfe::status::eventRegistered(status); }

// Values as the client and the database hold them: strings with null and "" alike,
// date-times to the second.
bool sameField(int col, const QVariant& stored, const QVariant& client)
{
    if (col == DTHRPROT) {
        const QDateTime a = toDateTime(stored);
        const QDateTime b = fw::isNullOrEmpty(client) ? QDateTime() : toDateTime(client);
        if (!a.isValid() || !b.isValid())
            return a.isValid() == b.isValid();
        return a.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) == b.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    }
    const QString a = text(stored);
    const QString b = fw::isNullOrEmpty(client) ? QString() : client.toString();
    return a == b;
}

QString clientText(const QVariant& v) { return fw::isNullOrEmpty(v) ? QString() : v.toString(); }

// The correction text as it will be stored, or a refusal: trimmed, as typed but for its
// line breaks, each kept as the screen's memo writes it ("\n"), so that the text holds as
// many characters as the event will. The event carries the text in the form the standard
// allows; what that form cannot hold is refused now, at save time, rather than at the
// transmission.
QString checkText(const QVariant& value)
{
    const QString raw = clientText(value);
    if (raw.trimmed().isEmpty())
        throw Refusal{msg::correcaoDeve()};
    if (!cce::letterLengthFits(raw))
        throw Refusal{cce::letterLengthMessage()};
    QString t = raw.trimmed();
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    for (const char16_t lineBreak : {u'\r', u'\u2028', u'\u2029'})
        t.replace(QChar(lineBreak), QLatin1Char('\n'));
    const nfe::CorrectionText signable = nfe::normaliseCorrection(t);
    if (!signable.ok())
        throw Refusal{signable.error};
    return t;
}

// Applies the changes to the letters of one invoice, each checked against what is stored.
class LetterWriter {
public:
    LetterWriter(Store& store, QString filial, QString lancto)
        : m_letters(store, filial, lancto), m_filial(std::move(filial)), m_lancto(std::move(lancto))
    {}

    // Locks the invoice for this transaction and checks that the caller may reach its
    // company and that it may take letters.
    void lockInvoice()
    {
        const LetterInvoice invoice = m_letters.lockInvoice();
        if (!invoice.found)
            throw Refusal{msg::notaNaoEncontrada(m_filial, m_lancto)};
        const QString outside = companyScopeRefusal(invoice.company);
        if (!outside.isEmpty())
            throw Refusal{outside};
        if (invoice.situation != QLatin1String("A"))
            throw Refusal{msg::nfNaceita()};
        m_hasCarrier = invoice.hasCarrier;
    }

    void apply(const fw::DeltaChange& change, const int* map)
    {
        auto pick = [&](const fw::Row& row, int col) { return row.value(map[col]); };
        auto checkKey = [&](const fw::Row& row) {
            if (clientText(pick(row, FILIAL)) != m_filial || clientText(pick(row, LANCTO)) != m_lancto)
                throw Refusal{msg::deltaOutraNota()};
        };
        switch (change.op) {
        case fw::DeltaChange::Op::Insert: {
            checkKey(change.newRow);
            insert(change.newRow, pick);
            break;
        }
        case fw::DeltaChange::Op::Modify: {
            checkKey(change.oldRow);
            checkKey(change.newRow);
            if (clientText(pick(change.oldRow, SEQ)) != clientText(pick(change.newRow, SEQ)))
                throw Refusal{msg::chaveAlterada()};
            modify(change.oldRow, change.newRow, pick);
            break;
        }
        case fw::DeltaChange::Op::Delete:
            checkKey(change.oldRow);
            remove(change.oldRow, pick);
            break;
        }
    }

private:
    template <typename Pick>
    void insert(const fw::Row& row, Pick pick)
    {
        const QString seq = clientText(pick(row, SEQ));
        for (int col : {STATUS, DTHRPROT, PROT})
            if (!clientText(pick(row, col)).trimmed().isEmpty())
                throw Refusal{msg::camposDoServidor()};
        const QString correction = checkText(pick(row, TEXTO));

        const StoredLetter last = m_letters.latest();
        const int lastSeq = last.found ? last.values[SEQ].toString().toInt() : 0;
        if (last.found) {
            const QString status = text(last.values[STATUS]);
            if (last.transmission != cce::transm::kAnswered || !isAccepted(status))
                throw Refusal{lastSeq >= cce::kMaxLettersPerInvoice ? msg::limite20()
                                                                    : msg::cartaEmAberto(last.values[SEQ].toString())};
        }
        if (lastSeq >= cce::kMaxLettersPerInvoice)
            throw Refusal{msg::limite20()};
        const QString expected = QStringLiteral("%1").arg(lastSeq + 1, 2, 10, QLatin1Char('0'));
        if (seq != expected)
            throw Refusal{msg::sequenciaEsperada(expected)};
        m_letters.add(seq, correction, kPendingObs, QString(m_hasCarrier ? cce::email::kPending : cce::email::kNone));
    }

    // The stored letter the client loaded: it must still be there, unchanged, the latest,
    // and open to changes.
    template <typename Pick>
    StoredLetter checkLoaded(const fw::Row& old, Pick pick)
    {
        const QString seq = clientText(pick(old, SEQ));
        StoredLetter s = m_letters.letter(seq);
        if (!s.found)
            throw Refusal{msg::cceExcluida(seq.left(2))};
        for (int col = 0; col < NCOLS; ++col)
            if (!sameField(col, s.values[col], pick(old, col)))
                throw Refusal{msg::cceAlterada(seq)};
        const StoredLetter last = m_letters.latest();
        if (!last.found || last.values[SEQ].toString() != seq)
            throw Refusal{msg::somenteUltima()};
        if (s.transmission == cce::transm::kInDoubt)
            throw Refusal{msg::cceEmVerificacao(seq)};
        if (isAccepted(text(s.values[STATUS])))
            throw Refusal{msg::cceJaAceita()};
        return s;
    }

    template <typename Pick>
    void modify(const fw::Row& old, const fw::Row& now, Pick pick)
    {
        const StoredLetter s = checkLoaded(old, pick);
        for (int col = 0; col < NCOLS; ++col)
            if (col != TEXTO && !sameField(col, s.values[col], pick(now, col)))
                throw Refusal{msg::camposDoServidor()};
        const QString correction = checkText(pick(now, TEXTO));
        if (correction == text(s.values[TEXTO]))
            return;
        // New text, new letter as far as the authority is concerned: back to pending.
        if (!m_letters.rewrite(s, correction, kPendingObs))
            throw Refusal{msg::cceAlterada(s.values[SEQ].toString())};
    }

    template <typename Pick>
    void remove(const fw::Row& old, Pick pick)
    {
        const StoredLetter s = checkLoaded(old, pick);
        if (!m_letters.remove(s))
            throw Refusal{msg::cceAlterada(s.values[SEQ].toString())};
    }

    LetterStore m_letters;
    QString m_filial;
    QString m_lancto;
    bool m_hasCarrier = false;
};

// Maps each letter field to its column in the delta; false when the delta does not
// carry exactly the letter fields with their types.
bool mapFields(const fw::DeltaPacket& delta, int* map)
{
    const fw::FieldDefs& want = fields::cartaCorrecao();
    if (delta.fields.size() != want.size())
        return false;
    for (int c = 0; c < NCOLS; ++c) {
        const int at = delta.fieldIndex(want[c].name);
        if (at < 0 || delta.fields[at].type != want[c].type)
            return false;
        map[c] = at;
    }
    for (const fw::DeltaChange& ch : delta.changes) {
        const bool needsOld = ch.op != fw::DeltaChange::Op::Insert;
        const bool needsNew = ch.op != fw::DeltaChange::Op::Delete;
        if ((needsOld && ch.oldRow.size() != delta.fields.size()) ||
            (needsNew && ch.newRow.size() != delta.fields.size()))
            return false;
        for (const fw::Row* row : {&ch.oldRow, &ch.newRow}) {
            for (int c = 0; c < row->size(); ++c) {
                const QVariant& v = row->at(c);
                if (fw::isNullOrEmpty(v))
                    continue;
                const bool isText = v.metaType().id() == QMetaType::QString;
                const bool isDate = v.metaType().id() == QMetaType::QDateTime;
                if (delta.fields[c].type == fw::FieldType::DateTime ? !isDate : !isText)
                    return false;
            }
        }
    }
    return true;
}

} // namespace

QVariant setCCe(Store& store, const QVariantList& params)
{
    const fw::DeltaPacket delta = params.value(0).value<fw::DeltaPacket>();
    const QString filial = params.value(1).toString();
    const QString lancto = params.value(2).toString();
    if (const QString refusal = invoiceKeyRefusal(filial, lancto); !refusal.isEmpty())
        return refusal;
    int map[NCOLS];
    if (!mapFields(delta, map))
        return msg::deltaCampos();
    if (delta.changes.isEmpty())
        return QString();
    if (delta.changes.size() > kMaxLetterChanges)
        return msg::deltaDemais();

    try {
        WriteTransaction tx(store, openConnection(store));
        LetterWriter writer(store, filial, lancto);
        writer.lockInvoice();
        for (const fw::DeltaChange& change : delta.changes)
            writer.apply(change, map);
        tx.commit();
    } catch (const Refusal& r) {
        return r.message;
    }
    return QString();
}

} // namespace srv::methods
