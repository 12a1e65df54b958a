#include "server/fiscal/RegistryReconciler.h"

#include <QMap>
#include <algorithm>

#include "nfe/CorrectionText.h"
#include "nfe/EventFacts.h"
#include "nfe/EventXml.h"
#include "nfe/Rejections.h"
#include "nfe/Status.h"
#include "vocabulary/Flags.h"
#include "vocabulary/Limits.h"

namespace srv::fiscal {

namespace {

QString twoDigits(int seq) { return QStringLiteral("%1").arg(seq, 2, 10, QLatin1Char('0')); }

bool accepted(const LocalLetter& l)
{
    return l.transmission == cce::transm::kAnswered && nfe::status::eventRegistered(l.status);
}

// The signed event a procEventoNFe carries, as received.
nfe::EventFacts signedEventOf(const RegisteredEvent& e)
{
    const QList<nfe::EventFacts> facts = nfe::readEvents(e.procEvento);
    return facts.isEmpty() ? nfe::EventFacts() : facts.first();
}

} // namespace

QString issuerClock(const QString& authorityTime, const nfe::State& state)
{
    const QDateTime instant = parseAuthorityTime(authorityTime);
    return instant.isValid() ? nfe::wallClock(instant, state) : QString();
}

LetterOutcome acceptedOutcome(const QString& filial, const QString& lancto, const QString& seq, const QString& cStat,
                              const QString& xMotivo, const QString& nProt, const QString& dhRegEvento,
                              const nfe::State& state)
{
    LetterOutcome o;
    o.cdFilial = filial;
    o.nrLanctoNF = lancto;
    o.seq = seq;
    o.kind = LetterOutcome::Kind::Accepted;
    o.cStat = cStat;
    o.xMotivo = xMotivo;
    o.nProt = nProt;
    o.dhRegEvento = dhRegEvento;
    o.registeredAt = issuerClock(dhRegEvento, state);
    // An answer without its time: registered now, within the call's few seconds.
    if (o.registeredAt.isEmpty())
        o.registeredAt = nfe::wallClock(QDateTime::currentDateTimeUtc(), state);
    return o;
}

bool RegistryReconciler::signedHere(const RegistryInvoiceRef& invoice, const LocalLetter& letter,
                                    const RegisteredEvent& event)
{
    const nfe::EventFacts registered = signedEventOf(event);
    if (registered.signature.isEmpty())
        return false;
    // What was registered must say what the letter says now, whoever signed it.
    const nfe::CorrectionText now = nfe::normaliseCorrection(letter.text, invoice.foldAccents);
    if (!now.ok() || now.text != registered.xCorrecao)
        return false;
    const QString id = nfe::eventId(invoice.chNFe, letter.seq.toInt());
    for (const QByteArray& xml : m_batches.sentXml(invoice.filial, invoice.lancto, letter.seq))
        for (const nfe::EventFacts& sent : nfe::readEvents(xml))
            if (sent.id == id && nfe::sameSignedEvent(sent, registered))
                return true;
    return false;
}

Reconciliation RegistryReconciler::reconcile(const RegistryInvoiceRef& invoice, const ProtocolAnswer& answer)
{
    Reconciliation r;
    const QList<LocalLetter> letters = m_registry.letters(invoice.filial, invoice.lancto);
    QMap<int, LocalLetter> local;
    for (const LocalLetter& l : letters)
        local.insert(l.seq.toInt(), l);
    // This server's open letter: the latest, while it is not accepted.
    const LocalLetter* open = !letters.isEmpty() && !accepted(letters.last()) ? &letters.last() : nullptr;
    const int openSeq = open ? open->seq.toInt() : 0;

    QMap<int, RegisteredEvent> registered;
    for (const RegisteredEvent& e : answer.events) {
        if (e.tpEvento != nfe::kTipoEventoCCe || e.chNFe != invoice.chNFe || !nfe::status::eventRegistered(e.cStat))
            continue;
        if (e.nSeqEvento < 1 || e.nSeqEvento > cce::kMaxLettersPerInvoice ||
            !nfe::status::wellFormedProtocol(e.nProt)) {
            r.conflicts << QStringLiteral("evento de sequência %1 com protocolo \"%2\" fora do leiaute; não trazido.")
                               .arg(e.nSeqEvento)
                               .arg(e.nProt);
            continue;
        }
        registered.insert(e.nSeqEvento, e);
    }

    RegistryChanges changes;
    changes.filial = invoice.filial;
    changes.lancto = invoice.lancto;
    changes.nfeStatus = answer.cStat;
    changes.events = int(registered.size());
    bool openTaken = false, adopted = false;
    for (auto it = registered.cbegin(); it != registered.cend(); ++it) {
        const RegisteredEvent& e = it.value();
        const QString seq = twoDigits(it.key());
        if (open && it.key() == openSeq) {
            if (signedHere(invoice, *open, e)) {
                LetterOutcome o = acceptedOutcome(invoice.filial, invoice.lancto, seq, e.cStat, e.xMotivo, e.nProt,
                                                  e.dhRegEvento, *invoice.state);
                o.procEvento = e.procEvento;
                o.observation = nfe::explainAnswer(e.cStat, e.xMotivo) +
                                QStringLiteral(" (registrada em transmissão anterior, conferida na SEFAZ)");
                changes.ours = o;
                changes.oursVersion = open->version;
                adopted = true;
                continue;
            }
            openTaken = true;
        } else if (local.contains(it.key())) {
            const LocalLetter& here = local.value(it.key());
            if (here.protocol != e.nProt)
                r.conflicts << QStringLiteral("CC-e %1 aceita aqui com o protocolo %2, e a SEFAZ registrou %3 (%4); "
                                              "nada foi alterado.")
                                   .arg(seq, here.protocol.isEmpty() ? QStringLiteral("(nenhum)") : here.protocol,
                                        e.nProt, signedEventOf(e).xCorrecao.left(60));
            continue;
        }
        const nfe::EventFacts facts = signedEventOf(e);
        ImportedLetter i;
        i.seq = seq;
        i.text = facts.xCorrecao;
        i.cStat = e.cStat;
        i.nProt = e.nProt;
        i.dhRegEvento = e.dhRegEvento;
        i.registeredAt = issuerClock(e.dhRegEvento, *invoice.state);
        i.observation = nfe::explainAnswer(e.cStat, e.xMotivo) +
                        QStringLiteral(". Registrada por outro sistema e trazida da consulta à SEFAZ.");
        i.signedEvent = facts.bytes;
        i.procEvento = e.procEvento;
        changes.imports << i;
        r.imported << QStringLiteral("CC-e %1 registrada por outro sistema (protocolo %2): \"%3\"")
                          .arg(seq, e.nProt, i.text.left(80));
    }
    for (const LocalLetter& l : letters)
        if (accepted(l) && !registered.contains(l.seq.toInt()))
            ++r.absent;

    if (open && !adopted) {
        const int lastRegistered = registered.isEmpty() ? 0 : registered.lastKey();
        if (openTaken || lastRegistered > openSeq) {
            const int to = std::max(letters.last().seq.toInt(), lastRegistered) + 1;
            const QString why =
                openTaken
                    ? QStringLiteral("A sequência %1 já foi registrada por outro sistema "
                                     "(protocolo %2)")
                          .arg(open->seq, registered.value(openSeq).nProt)
                    : QStringLiteral("Outro sistema registrou a CC-e %1 depois desta").arg(twoDigits(lastRegistered));
            if (to > cce::kMaxLettersPerInvoice) {
                // No sequence left: the letter keeps its text, refused here; what the
                // registry holds in its place is told, not brought in over it.
                LetterOutcome o;
                o.cdFilial = invoice.filial;
                o.nrLanctoNF = invoice.lancto;
                o.seq = open->seq;
                o.kind = LetterOutcome::Kind::Rejected;
                o.observation = why + QStringLiteral(" e a nota não tem mais sequência livre (máximo %1 cartas): "
                                                     "esta carta não pode ser registrada.")
                                          .arg(cce::kMaxLettersPerInvoice);
                changes.ours = o;
                changes.oursVersion = open->version;
                changes.imports.erase(std::remove_if(changes.imports.begin(), changes.imports.end(),
                                                     [&](const ImportedLetter& i) { return i.seq == open->seq; }),
                                      changes.imports.end());
                r.imported.erase(std::remove_if(r.imported.begin(), r.imported.end(),
                                                [&](const QString& line) {
                                                    return line.startsWith(QStringLiteral("CC-e ") + open->seq);
                                                }),
                                 r.imported.end());
                r.conflicts << QStringLiteral("CC-e %1 registrada por outro sistema não trazida: a sequência é "
                                              "desta carta, que não tem para onde ir.")
                                   .arg(open->seq);
                r.ours = Reconciliation::Ours::Blocked;
                r.oursSeq = open->seq;
                r.line = o.observation;
            } else {
                RegistryChanges::Move m;
                m.from = open->seq;
                m.to = twoDigits(to);
                m.version = open->version;
                m.observation = why + QStringLiteral(". Esta carta passou à sequência %1 com o mesmo texto: "
                                                     "confira-o (a carta mais recente substitui as anteriores) "
                                                     "e transmita novamente.")
                                          .arg(m.to);
                changes.move = m;
                r.ours = Reconciliation::Ours::Moved;
                r.oursSeq = m.to;
                r.line = m.observation;
            }
        } else {
            r.ours = Reconciliation::Ours::Free;
            r.oursSeq = open->seq;
        }
    } else if (adopted) {
        r.ours = Reconciliation::Ours::Adopted;
        r.oursSeq = open->seq;
        r.line = changes.ours->cStat + QStringLiteral(" - ") + changes.ours->xMotivo +
                 QStringLiteral(" (registrada em transmissão anterior, conferida na SEFAZ)");
    }

    if (!m_registry.apply(changes)) {
        r = Reconciliation();
        r.ours = Reconciliation::Ours::Changed;
        r.line = QStringLiteral("alterada por outra sessão durante a conferência na SEFAZ; consulte novamente.");
    }
    return r;
}

} // namespace srv::fiscal
