#include "server/fiscal/TransmissionService.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>

#include "core/values/Value.h"
#include "nfe/CorrectionText.h"
#include "nfe/EventXml.h"
#include "nfe/Rejections.h"
#include "nfe/Signer.h"
#include "nfe/States.h"
#include "nfe/Status.h"
#include "server/fiscal/Soap.h"
#include "vocabulary/Flags.h"

namespace srv::fiscal {

struct TransmissionService::Pending {
    LetterToSend letter;
    const nfe::State* state = nullptr;
    std::shared_ptr<const LoadedCertificate> certificate;
    QString correction; // the signable text
    QString line; // what the answer says of it; empty while undecided
    QString registry; // what the registry held besides, told after the line
    bool sent = false; // reached a batch that went out (answered or not)
    bool adopted = false; // its own event was found registered
};

namespace {

QString prefix(const LetterToSend& l)
{
    return QStringLiteral("NF %1 (%2/%3) CC-e %4: ").arg(l.nrNotaFiscal, l.cdFilial, l.nrLanctoNF, l.seq);
}

QByteArray procEvento(const QByteArray& signedEvent, const QByteArray& retEvento)
{
    return "<procEventoNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\">" + signedEvent + retEvento +
           "</procEventoNFe>";
}

LetterOutcome outcomeOf(const LetterToSend& l, LetterOutcome::Kind kind)
{
    LetterOutcome o;
    o.cdFilial = l.cdFilial;
    o.nrLanctoNF = l.nrLanctoNF;
    o.seq = l.seq;
    o.kind = kind;
    return o;
}

// The authority's rejection with what the user can do about it.
LetterOutcome rejectedOutcome(const LetterToSend& l, const QString& cStat, const QString& xMotivo)
{
    LetterOutcome o = outcomeOf(l, LetterOutcome::Kind::Rejected);
    o.cStat = cStat;
    o.xMotivo = xMotivo;
    o.observation = nfe::explainAnswer(cStat, xMotivo);
    return o;
}

} // namespace

TransmissionService::TransmissionService(Store& store, FiscalConfig config, std::shared_ptr<Authority> authority)
    : m_store(store),
      m_batches(store),
      m_reconciler(store),
      m_config(std::move(config)),
      m_certificates(m_config.certificateFolder, m_config.certificatePassword,
                     m_config.token.configured() ? Pkcs11Token::shared(m_config.token) : nullptr),
      m_authority(std::move(authority))
{
    m_schema = nfe::Schema::load(QStringLiteral("envCCe_v1.00.xsd"), &m_schemaError);
    // The call must end before the client gives up on it.
    m_budgetMs = qMax(m_config.timeoutMs * 2, 90000);
    m_inFlightMs = m_config.claimWindowMs > 0 ? m_config.claimWindowMs : m_budgetMs;
}

QVariant TransmissionService::transmit(const fw::DataPacket& notas, const QString& company, const QString& condUso)
{
    if (!m_schema)
        return QStringLiteral("Transmissão indisponível: os esquemas da NF-e não foram carregados (%1).")
            .arg(m_schemaError);
    if (!m_slots.tryAcquire())
        return QStringLiteral("Há outras transmissões em andamento neste servidor. Tente novamente em instantes.");
    struct Release {
        QSemaphore& s;
        ~Release() { s.release(); }
    } release{m_slots};
    QElapsedTimer clock;
    clock.start();

    const int check = notas.fieldIndex(QStringLiteral("IDCHECK"));
    const int filial = notas.fieldIndex(QStringLiteral("CDFILIAL"));
    const int lancto = notas.fieldIndex(QStringLiteral("NRLANCTONF"));
    if (check < 0 || filial < 0 || lancto < 0)
        return QStringLiteral("Pacote de notas fiscais sem IDCHECK, CDFILIAL ou NRLANCTONF.");
    QList<QPair<QString, QString>> marked;
    for (const fw::Row& r : notas.rows)
        if (r.value(check).toString() == cce::check::kMarked) {
            const QPair<QString, QString> key{r.value(filial).toString(), r.value(lancto).toString()};
            if (!marked.contains(key))
                marked << key;
        }

    // The database's word, never the packet's values.
    QList<Pending> pending;
    for (const LetterToSend& l : m_batches.latestLetters(company, marked)) {
        const bool accepted = nfe::status::eventRegistered(l.status);
        const bool open = l.transmission == cce::transm::kNotSent || l.transmission == cce::transm::kInDoubt ||
                          (l.transmission == cce::transm::kAnswered && !accepted);
        if (!open)
            continue;
        pending.append(Pending{l, nullptr, nullptr, {}, {}, {}, false, false});
        // A letter of an invoice the authority does not hold as authorised is never sent, and
        // the user is told why rather than that nothing was marked.
        if (l.situacao == QLatin1String("C"))
            pending.last().line = QStringLiteral("a NF-e foi cancelada: uma carta de correção não pode ser "
                                                 "registrada; não enviada.");
        else if (l.situacao != QLatin1String("A"))
            pending.last().line = QStringLiteral("a NF-e não está autorizada pela SEFAZ: uma carta de correção não "
                                                 "pode ser registrada; não enviada.");
    }
    if (pending.isEmpty())
        return QVariantList{QStringLiteral("N"), QStringLiteral("CCE_DEVE_SELECAO")};

    const QDateTime now = QDateTime::currentDateTime();
    for (Pending& p : pending) {
        if (!p.line.isEmpty())
            continue;
        const LetterToSend& l = p.letter;
        // A CC-e always goes to the issuer's home authority, also for an NF-e issued in
        // contingency (SVC-AN, SVC-RS, EPEC, FS-DA): the virtual contingency authorities take
        // no CC-e. The home is the state of the registration, which the key must confirm.
        p.state = nfe::stateByUf(l.uf);
        QString error;
        if (!p.state) {
            p.line = QStringLiteral("inscrição estadual sem UF válida; não enviada.");
            continue;
        }
        if (nfe::stateByIbge(l.chNFe.left(2).toInt()) != p.state) {
            p.line = QStringLiteral("a chave de acesso é de outra UF que a inscrição estadual (%1); não enviada.")
                         .arg(p.state->uf);
            continue;
        }
        if (l.transmission == cce::transm::kInDoubt) {
            // A claim this recent whose call recorded no ending may still be on its way to the
            // authority from another call; one that ended without an answer is reconciled now.
            if (!l.callEnded && l.changedAt.isValid() && l.changedAt.msecsTo(now) < m_inFlightMs) {
                p.line = QStringLiteral("em transmissão por outra sessão; consulte novamente em instantes.");
                continue;
            }
        }
        p.certificate = m_certificates.forIssuer(l.certificate, l.issuerDocument, &error);
        if (!p.certificate) {
            p.line = error + QStringLiteral(" Não enviada.");
            continue;
        }
        // In doubt: never sent again before the authority says it has no such event. Never
        // answered about: other systems may have registered letters on the invoice first.
        if (l.transmission == cce::transm::kInDoubt) {
            if (readRegistry(p, clock) != Reconciled::Free)
                continue;
        } else if (!l.answerSeen) {
            const Reconciled r = readRegistry(p, clock);
            if (r == Reconciled::Settled)
                continue;
            p.line.clear(); // unread: a registered duplicate still answers 573, reconciled then
        }
        const nfe::CorrectionText t =
            nfe::normaliseCorrection(l.text, p.state->foldAccents || m_config.foldAccents.contains(l.uf));
        if (!t.ok()) {
            p.line = t.error + QStringLiteral(" Não enviada.");
            continue;
        }
        p.correction = t.text;
        if (m_config.endpoint(p.state->authority, l.tpAmb, QStringLiteral("recepcao")).isEmpty()) {
            p.line = QStringLiteral("endereço da SEFAZ %1 (ambiente %2) não configurado no servidor; não enviada.")
                         .arg(p.state->authority, l.tpAmb);
            continue;
        }
    }

    // Batches: one state, one environment and one certificate each, at most 20 events.
    QHash<QString, QList<Pending*>> groups;
    QStringList order;
    for (Pending& p : pending) {
        if (!p.line.isEmpty())
            continue;
        const QString key = QStringLiteral("%1|%2|%3").arg(p.state->ibge).arg(p.letter.tpAmb, p.letter.certificate);
        if (!groups.contains(key))
            order << key;
        groups[key] << &p;
    }
    QStringList notices;
    for (const QString& key : order) {
        const QList<Pending*>& all = groups.value(key);
        for (int i = 0; i < all.size(); i += nfe::kMaxEventsPerBatch)
            sendGroup(all.mid(i, nfe::kMaxEventsPerBatch), company, condUso, clock, &notices);
    }

    QStringList lines;
    bool anySent = false;
    for (const Pending& p : pending) {
        lines << prefix(p.letter) + p.line + p.registry;
        anySent = anySent || p.sent;
    }
    lines << notices;
    return QVariantList{anySent ? QStringLiteral("S") : QStringLiteral("N"), lines.join(QLatin1Char('\n'))};
}

TransmissionService::Settled TransmissionService::reconcileInDoubt(int limit)
{
    Settled settled;
    const QDateTime now = QDateTime::currentDateTime();
    const QHash<QString, QList<QPair<QString, QString>>> inDoubt = m_batches.inDoubt(limit);
    for (auto it = inDoubt.cbegin(); it != inDoubt.cend(); ++it) {
        for (const LetterToSend& l : m_batches.latestLetters(it.key(), it.value())) {
            if (l.transmission != cce::transm::kInDoubt)
                continue; // settled meanwhile
            if (!l.callEnded && l.changedAt.isValid() && l.changedAt.msecsTo(now) < m_inFlightMs) {
                ++settled.underWay;
                continue;
            }
            Pending p{l, nfe::stateByUf(l.uf), nullptr, {}, {}, {}, false, false};
            QString error;
            if (p.state)
                p.certificate = m_certificates.forIssuer(l.certificate, l.issuerDocument, &error);
            if (!p.certificate) {
                ++settled.unsettled;
                continue;
            }
            QElapsedTimer clock; // each letter has a call's budget of its own
            clock.start();
            // By the registry's rules: another system's event is never taken for this letter's.
            switch (readRegistry(p, clock)) {
            case Reconciled::Settled: p.adopted ? ++settled.adopted : ++settled.released; break;
            case Reconciled::Unknown: ++settled.unsettled; break;
            case Reconciled::Free:
                if (m_batches.releaseInDoubt(
                        l, QStringLiteral("Não registrada na SEFAZ (conferido em %1): transmita novamente.")
                               .arg(now.toString(QStringLiteral("dd/MM/yyyy HH:mm")))))
                    ++settled.released;
                break;
            }
        }
    }
    return settled;
}

// The authority's registry of the letter's invoice, set against its letters: the letter's
// own event adopted, events of other systems brought in, the letter moved when its sequence
// was taken.
TransmissionService::Reconciled TransmissionService::readRegistry(Pending& p, QElapsedTimer& clock)
{
    const LetterToSend& l = p.letter;
    const QString url = m_config.endpoint(p.state->authority, l.tpAmb, QStringLiteral("consulta"));
    if (url.isEmpty() || clock.elapsed() + m_config.timeoutMs > m_budgetMs) {
        p.line = QStringLiteral("sem resposta da SEFAZ e não foi possível conferir a situação; não reenviada.");
        return Reconciled::Unknown;
    }
    QString why;
    const ProtocolAnswer answer = consultProtocol(*m_authority, url, l.tpAmb, l.chNFe, *p.certificate, &why);
    if (answer.readable && !registryRead(answer))
        why = nfe::explainAnswer(answer.cStat, answer.xMotivo, 1000);
    if (!answer.readable || !registryRead(answer)) {
        p.line = QStringLiteral("sem resposta da SEFAZ e a consulta da situação falhou (%1); não reenviada.").arg(why);
        return Reconciled::Unknown;
    }
    const RegistryInvoiceRef invoice{l.cdFilial, l.nrLanctoNF, l.chNFe, p.state,
                                     p.state->foldAccents || m_config.foldAccents.contains(l.uf)};
    const Reconciliation r = m_reconciler.reconcile(invoice, answer);
    if (!r.imported.isEmpty() || !r.conflicts.isEmpty())
        p.registry =
            QStringLiteral(" [SEFAZ: ") + (r.imported + r.conflicts).join(QStringLiteral("; ")) + QLatin1Char(']');
    switch (r.ours) {
    case Reconciliation::Ours::None:
    case Reconciliation::Ours::Free: return Reconciled::Free;
    case Reconciliation::Ours::Adopted:
        p.sent = true;
        p.adopted = true;
        [[fallthrough]];
    case Reconciliation::Ours::Moved:
    case Reconciliation::Ours::Blocked:
    case Reconciliation::Ours::Changed: p.line = r.line; return Reconciled::Settled;
    }
    return Reconciled::Unknown;
}

void TransmissionService::sendGroup(QList<Pending*> group, const QString& company, const QString& condUso,
                                    QElapsedTimer& clock, QStringList* notices)
{
    if (clock.elapsed() + m_config.timeoutMs > m_budgetMs) {
        for (Pending* p : group)
            p->line = QStringLiteral("não enviada nesta transmissão por falta de tempo; transmita novamente.");
        return;
    }
    const std::shared_ptr<const LoadedCertificate> cert = group.first()->certificate;
    const nfe::State* state = group.first()->state;
    const QString tpAmb = group.first()->letter.tpAmb;

    // Signed before the claim: a key that fails (a token removed, its session gone) leaves
    // each letter as it was, and a slow token holds no write lock of the database.
    QList<LetterToSend> letters;
    QHash<QString, Pending*> byKey;
    QHash<QString, QByteArray> signedEvents;
    const QString dh = nfe::eventTime(QDateTime::currentDateTimeUtc(), *state);
    for (Pending* p : group) {
        const LetterToSend& l = p->letter;
        nfe::CceEvent e;
        e.cOrgao = state->ibge;
        e.tpAmb = l.tpAmb.toInt();
        (l.issuerDocument.size() == 11 ? e.cpf : e.cnpj) = l.issuerDocument;
        e.chNFe = l.chNFe;
        e.dhEvento = dh;
        e.nSeqEvento = l.seq.toInt();
        e.xCorrecao = p->correction;
        e.xCondUso = condUso;
        QString error;
        const QByteArray signedEvent = nfe::signEvento(nfe::buildEvento(e), *cert->certificate, &error);
        if (signedEvent.isEmpty()) {
            p->line = error + QStringLiteral(" Não enviada.");
            continue;
        }
        const QString key = l.cdFilial + QLatin1Char('|') + l.nrLanctoNF;
        letters << l;
        byKey.insert(key, p);
        signedEvents.insert(key, signedEvent);
    }
    if (letters.isEmpty())
        return;
    group.clear();
    for (const LetterToSend& l : letters)
        group << byKey.value(l.cdFilial + QLatin1Char('|') + l.nrLanctoNF);

    QList<LetterToSend> claimed;
    BuiltBatch built;
    const qint64 batch = m_batches.claim(
        company, letters,
        [&](qint64 id, const QList<LetterToSend>& mine) {
            BuiltBatch b;
            QString error;
            for (const LetterToSend& l : mine)
                b.signedEvents << signedEvents.value(l.cdFilial + QLatin1Char('|') + l.nrLanctoNF);
            b.xml = nfe::buildEnvEvento(id, b.signedEvents);
            if (!m_schema->validate(b.xml, &error))
                b.schemaError = error;
            return b;
        },
        &claimed, &built);

    for (Pending* p : group)
        p->line = QStringLiteral("já em transmissão por outra sessão; não enviada novamente.");
    if (batch == 0)
        return;
    QHash<QString, QString> before; // the transmission state each letter had before the claim
    for (const LetterToSend& l : letters)
        before.insert(l.cdFilial + QLatin1Char('|') + l.nrLanctoNF, l.transmission);
    for (const LetterToSend& l : claimed) {
        Pending* p = byKey.value(l.cdFilial + QLatin1Char('|') + l.nrLanctoNF);
        p->letter = l;
        p->line.clear();
    }
    // A certificate near its end is named each time it signs: in the answer and the log.
    const QString notice =
        expiryNotice(group.first()->letter.certificate, *cert->certificate, QDateTime::currentDateTimeUtc());
    if (!notice.isEmpty()) {
        qWarning("cce server: %s", qPrintable(notice));
        if (!notices->contains(notice))
            *notices << notice;
    }
    if (!built.schemaError.isEmpty()) {
        for (const LetterToSend& l : claimed)
            byKey.value(l.cdFilial + QLatin1Char('|') + l.nrLanctoNF)->line =
                QStringLiteral("rejeitada na validação do esquema (lote %1): %2").arg(batch).arg(built.schemaError);
        return;
    }

    const QString url = m_config.endpoint(state->authority, tpAmb, QStringLiteral("recepcao"));
    const AuthorityReply reply = m_authority->call(url, kRecepcaoEvento, envelope(kRecepcaoEvento, built.xml), *cert);
    QList<LetterOutcome> outcomes;
    auto each = [&](const std::function<void(Pending*, int)>& fn) {
        for (int i = 0; i < claimed.size(); ++i)
            fn(byKey.value(claimed.at(i).cdFilial + QLatin1Char('|') + claimed.at(i).nrLanctoNF), i);
    };

    if (reply.outcome == AuthorityReply::Outcome::NotSent) {
        each([&](Pending* p, int) {
            // Nothing left this server: the letter is as it was before the claim.
            LetterOutcome o = outcomeOf(p->letter, LetterOutcome::Kind::Released);
            o.restore = before.value(p->letter.cdFilial + QLatin1Char('|') + p->letter.nrLanctoNF);
            outcomes << o;
            p->line = reply.error;
        });
        m_batches.record(batch, QStringLiteral("N"), QString(), reply.error, QByteArray(), outcomes);
        return;
    }
    const BatchAnswer answer =
        reply.outcome == AuthorityReply::Outcome::Answered ? readBatchAnswer(reply.body) : BatchAnswer{};
    if (!answer.readable) {
        const QString why =
            reply.outcome == AuthorityReply::Outcome::NoAnswer
                ? reply.error
                : QStringLiteral("resposta ilegível da SEFAZ (HTTP %1); a situação será conferida antes de novo envio.")
                      .arg(reply.httpStatus);
        each([&](Pending* p, int) {
            outcomes << outcomeOf(p->letter, LetterOutcome::Kind::InDoubt);
            p->line = why;
            p->sent = true;
        });
        m_batches.record(batch, QStringLiteral("D"), QString(), why, reply.body, outcomes);
        return;
    }
    bool allAccepted = true;
    if (answer.events.isEmpty()) {
        // The batch itself was refused: every letter with the batch's reason.
        each([&](Pending* p, int) {
            outcomes << rejectedOutcome(p->letter, answer.cStat, answer.xMotivo);
            p->line = nfe::explainAnswer(answer.cStat, answer.xMotivo, 1000);
            p->sent = true;
        });
        m_batches.record(batch, QStringLiteral("R"), answer.cStat, answer.xMotivo, reply.body, outcomes);
        return;
    }
    const bool identified = std::all_of(answer.events.cbegin(), answer.events.cend(),
                                        [](const EventAnswer& e) { return !e.chNFe.isEmpty(); });
    each([&](Pending* p, int i) {
        p->sent = true;
        const EventAnswer* match = nullptr;
        for (const EventAnswer& e : answer.events)
            if (identified && e.chNFe == p->letter.chNFe &&
                (e.tpEvento.isEmpty() || e.tpEvento == nfe::kTipoEventoCCe) &&
                (e.nSeqEvento == 0 || e.nSeqEvento == p->letter.seq.toInt()))
                match = &e;
        if (!identified && i < answer.events.size())
            match = &answer.events.at(i);
        if (!match) {
            outcomes << outcomeOf(p->letter, LetterOutcome::Kind::InDoubt);
            p->line =
                QStringLiteral("a SEFAZ não respondeu por este evento; a situação será conferida antes de novo envio.");
            allAccepted = false;
            return;
        }
        // An answer outside every layout cannot be kept: the letter stays in doubt and is
        // reconciled from the registry later.
        if (!nfe::status::wellFormedCode(match->cStat) ||
            (nfe::status::eventRegistered(match->cStat) && !nfe::status::wellFormedProtocol(match->nProt))) {
            outcomes << outcomeOf(p->letter, LetterOutcome::Kind::InDoubt);
            p->line = QStringLiteral("resposta da SEFAZ fora do leiaute (cStat \"%1\", protocolo \"%2\"); a situação "
                                     "será conferida antes de novo envio.")
                          .arg(match->cStat.left(10), match->nProt.left(20));
            allAccepted = false;
            return;
        }
        if (match->cStat == nfe::status::kDuplicate) {
            // Registered before: adopted only when it is this very event; a letter of another
            // system takes the sequence and this one moves on.
            const Reconciled r = readRegistry(*p, clock);
            if (r == Reconciled::Settled) {
                allAccepted = allAccepted && p->adopted;
                return;
            }
            if (r == Reconciled::Unknown) {
                outcomes << outcomeOf(p->letter, LetterOutcome::Kind::InDoubt);
                allAccepted = false;
                return;
            }
        }
        if (nfe::status::eventRegistered(match->cStat)) {
            LetterOutcome o = acceptedOutcome(p->letter.cdFilial, p->letter.nrLanctoNF, p->letter.seq, match->cStat,
                                              match->xMotivo, match->nProt, match->dhRegEvento, *state);
            o.procEvento = procEvento(built.signedEvents.value(i), match->bytes);
            o.observation = nfe::explainAnswer(match->cStat, match->xMotivo);
            outcomes << o;
            p->line = o.observation;
        } else {
            outcomes << rejectedOutcome(p->letter, match->cStat, match->xMotivo);
            allAccepted = false;
            p->line = nfe::explainAnswer(match->cStat, match->xMotivo, 1000);
        }
    });
    m_batches.record(batch, allAccepted ? QStringLiteral("P") : QStringLiteral("R"), answer.cStat, answer.xMotivo,
                     reply.body, outcomes);
}

} // namespace srv::fiscal
