#include "sefaz-sim/Rules.h"

#include <QList>
#include <QSet>
#include <QTimeZone>
#include <algorithm>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include "nfe/AccessKey.h"
#include "nfe/EventXml.h"
#include "nfe/Rejections.h"
#include "nfe/Signer.h"
#include "nfe/States.h"
#include "nfe/Status.h"
#include "nfe/XmlTree.h"
#include "vocabulary/Limits.h"

namespace sim {

namespace {

const char* const kVerAplic = "SEFAZ-SIM-1.0";
const QByteArray kSoapNs = QByteArrayLiteral("http://www.w3.org/2003/05/soap-envelope");
const QByteArray kWsdl = QByteArrayLiteral("http://www.portalfiscal.inf.br/nfe/wsdl/");

const xmlChar* x(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

using nfe::xml::DocPtr;

// No DTDs, no entities, no network: what arrives is data, nothing more.
DocPtr parse(const QByteArray& xml)
{
    DocPtr doc = nfe::xml::parse(xml);
    if (doc && doc->intSubset)
        return DocPtr(nullptr, &xmlFreeDoc);
    return doc;
}

xmlNodePtr findNfe(xmlNodePtr n, const char* name) { return nfe::xml::find(n, name, nfe::kNamespace.constData()); }

QList<xmlNodePtr> childrenNamed(xmlNodePtr parent, const char* name) { return nfe::xml::children(parent, name); }

QString text(xmlNodePtr parent, const char* name) { return nfe::xml::childText(parent, name); }

// The element as a document of its own, its namespaces declared on it: what an event is
// when it stands alone (validated, verified, kept for the protocol query).
QByteArray standalone(xmlNodePtr node)
{
    DocPtr doc(xmlNewDoc(x("1.0")), &xmlFreeDoc);
    xmlNodePtr copy = xmlDocCopyNode(node, doc.get(), 1);
    xmlDocSetRootElement(doc.get(), copy);
    return nfe::xml::dump(copy);
}

QByteArray escaped(const QString& s) { return s.toHtmlEscaped().toUtf8(); }

void element(QByteArray& out, const char* name, const QString& value)
{
    out += '<';
    out += name;
    out += '>';
    out += escaped(value);
    out += "</";
    out += name;
    out += '>';
}

QByteArray soapAnswer(const char* service, const QByteArray& body)
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"") + kSoapNs +
           QByteArrayLiteral("\"><soap:Body><nfeResultMsg xmlns=\"") + kWsdl + service + QByteArrayLiteral("\">") +
           body + QByteArrayLiteral("</nfeResultMsg></soap:Body></soap:Envelope>");
}

const nfe::State& stateOr(int ibge)
{
    const nfe::State* s = nfe::stateByIbge(ibge);
    return s ? *s : *nfe::stateByUf(QStringLiteral("DF")); // Brasília's time for the national environment
}

bool digits(const QString& s, int min, int max)
{
    if (s.size() < min || s.size() > max)
        return false;
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

} // namespace

struct Rules::Judged {
    QString cStat, xMotivo;
    QString chNFe, tpEvento, cnpj, nProt, dhRegEvento;
    int nSeqEvento = 0;
    int cOrgao = 0;
    QByteArray retEvento;
};

Rules::Rules(Registry& registry, int tpAmb) : m_registry(registry), m_tpAmb(tpAmb)
{
    m_batchSchema = nfe::Schema::load(QStringLiteral("envCCe_v1.00.xsd"), &m_schemaError);
    if (m_batchSchema)
        m_eventSchema = nfe::Schema::load(QStringLiteral("CCe_v1.00.xsd"), &m_schemaError);
    if (m_eventSchema)
        m_consSchema = nfe::Schema::load(QStringLiteral("consSitNFe_v4.00.xsd"), &m_schemaError);
}

bool Rules::ready(QString* error) const
{
    if (m_consSchema)
        return true;
    *error = m_schemaError;
    return false;
}

Rules::Judged Rules::judge(const QByteArray& evento, int batchOrgao)
{
    Judged j;
    j.cOrgao = batchOrgao;
    // The texts are the published ones, from the table the server explains answers with.
    auto reject = [&](const char* cStat) {
        j.cStat = QString::fromLatin1(cStat);
        j.xMotivo = nfe::publishedText(j.cStat);
        return j;
    };
    DocPtr doc = parse(evento);
    xmlNodePtr ev = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    xmlNodePtr inf = childrenNamed(ev, "infEvento").value(0);
    const QString seq = text(inf, "nSeqEvento");
    j.chNFe = text(inf, "chNFe");
    j.tpEvento = text(inf, "tpEvento");
    j.nSeqEvento = seq.toInt();
    j.cnpj = text(inf, "CNPJ");
    if (digits(text(inf, "cOrgao"), 2, 2))
        j.cOrgao = text(inf, "cOrgao").toInt();

    // The sequence first: past the last the schema would hide the reason.
    if (digits(seq, 1, 3) && seq.toInt() > cce::kMaxLettersPerInvoice)
        return reject("594");
    QString why;
    if (!m_eventSchema->validate(evento, &why))
        return reject("493");
    if (text(inf, "tpAmb").toInt() != m_tpAmb)
        return reject("252");

    xmlChar* idValue = xmlGetProp(inf, x("Id"));
    const QString id = QString::fromUtf8(reinterpret_cast<const char*>(idValue));
    xmlFree(idValue);
    if (id != nfe::eventId(j.chNFe, j.nSeqEvento) || j.tpEvento != nfe::kTipoEventoCCe)
        return reject("572");

    const nfe::Verification v = nfe::verifyEvento(evento);
    if (!v.formValid)
        return reject("298");
    if (!v.valid)
        return reject("297");
    const QString author = j.cnpj.isEmpty() ? text(inf, "CPF") : j.cnpj;
    if (v.signerCnpj.left(8) != author.left(8))
        return reject("213");

    if (!nfe::validAccessKey(j.chNFe))
        return reject("236");
    if (j.chNFe.left(2).toInt() != j.cOrgao)
        return reject("249");
    if (j.chNFe.mid(6, 14) != author.rightJustified(14, QLatin1Char('0')))
        return reject("574");

    const QDateTime at = QDateTime::fromString(text(inf, "dhEvento"), Qt::ISODate);
    const QDateTime now = clock();
    if (!at.isValid() || at > now.addSecs(toleranceSecs))
        return reject("578");

    const std::optional<RegisteredNFe> nf = m_registry.nfe(j.chNFe);
    if (nf && nf->cStat != QLatin1String("100"))
        return reject("580");
    if (nf && at < QDateTime::fromString(nf->dhRecbto, Qt::ISODate))
        return reject("579");
    if (m_registry.event(j.chNFe, j.tpEvento, j.nSeqEvento))
        return reject("573");

    {
        QMutexLocker lock(&m_forcedMutex);
        if (!m_forced.first.isEmpty()) {
            j.cStat = m_forced.first;
            j.xMotivo = m_forced.second;
            return j;
        }
    }
    j.cStat = nf ? nfe::status::kRegistered : nfe::status::kRegisteredUnlinked;
    j.xMotivo = nfe::publishedText(j.cStat);
    j.nProt = m_registry.nextProtocol(j.cOrgao, now, wideAnswers ? 17 : 15);
    j.dhRegEvento = nfe::eventTime(now, stateOr(j.cOrgao));
    return j;
}

QByteArray Rules::receiveBatch(const QByteArray& soap, bool reversedOrder, int* received)
{
    if (received)
        *received = 0;
    const QDateTime now = clock();
    auto batchAnswer = [&](const QString& idLote, int cOrgao, const char* cStat, const QString& motivo,
                           const QList<QByteArray>& events) {
        QByteArray out = QByteArrayLiteral("<retEnvEvento versao=\"1.00\" xmlns=\"") + nfe::kNamespace + "\">";
        element(out, "idLote", digits(idLote, 1, 15) ? idLote : QStringLiteral("0"));
        element(out, "tpAmb", QString::number(m_tpAmb));
        element(out, "verAplic", QString::fromLatin1(kVerAplic));
        element(out, "cOrgao", QString::number(cOrgao ? cOrgao : 91));
        element(out, "cStat", QString::fromLatin1(cStat));
        element(out, "xMotivo", motivo);
        for (const QByteArray& e : events)
            out += e;
        out += "</retEnvEvento>";
        return soapAnswer("NFeRecepcaoEvento4", out);
    };

    DocPtr doc = parse(soap);
    xmlNodePtr root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    xmlNodePtr env = root ? findNfe(root, "envEvento") : nullptr;
    if (!env)
        return batchAnswer(QString(), 0, "215", nfe::publishedText(QStringLiteral("215")), {});
    const QString idLote = text(env, "idLote");
    const QList<xmlNodePtr> eventNodes = childrenNamed(env, "evento");
    QList<QByteArray> events;
    for (xmlNodePtr n : eventNodes)
        events << standalone(n);
    if (received)
        *received = int(events.size());

    // The batch's own layer: when the whole fails its schema while every event passes its
    // own, the fault is the batch's.
    QString why;
    if (!m_batchSchema->validate(standalone(env), &why)) {
        const bool eventsPass =
            !events.isEmpty() && std::all_of(events.begin(), events.end(), [&](const QByteArray& e) {
                QString ignored;
                return m_eventSchema->validate(e, &ignored);
            });
        if (eventsPass || events.isEmpty() || events.size() > nfe::kMaxEventsPerBatch)
            return batchAnswer(idLote, 0, "225", nfe::publishedText(QStringLiteral("225")), {});
    }
    QSet<int> orgaos;
    for (xmlNodePtr n : eventNodes) {
        const QString o = text(childrenNamed(n, "infEvento").value(0), "cOrgao");
        if (digits(o, 2, 2))
            orgaos.insert(o.toInt());
    }
    const int cOrgao = orgaos.size() == 1 ? *orgaos.begin() : 0;
    if (orgaos.size() > 1)
        return batchAnswer(idLote, 0, "477", nfe::publishedText(QStringLiteral("477")), {});

    auto retEvento = [&](const Judged& j, bool accepted) {
        QByteArray ret = QByteArrayLiteral("<retEvento versao=\"1.00\" xmlns=\"") + nfe::kNamespace + "\"><infEvento";
        if (accepted)
            ret += " Id=\"ID" + j.nProt.toLatin1() + "\"";
        ret += '>';
        element(ret, "tpAmb", QString::number(m_tpAmb));
        element(ret, "verAplic", QString::fromLatin1(kVerAplic));
        element(ret, "cOrgao", QString::number(j.cOrgao ? j.cOrgao : 91));
        element(ret, "cStat", j.cStat);
        element(ret, "xMotivo", j.xMotivo);
        // Only what the schema lets it carry; the client then falls back on the position.
        if (digits(j.chNFe, 44, 44))
            element(ret, "chNFe", j.chNFe);
        if (digits(j.tpEvento, 6, 6))
            element(ret, "tpEvento", j.tpEvento);
        if (accepted)
            element(ret, "xEvento", QStringLiteral("Carta de Correção registrada"));
        if (j.nSeqEvento >= 1 && j.nSeqEvento <= 99)
            element(ret, "nSeqEvento", QString::number(j.nSeqEvento));
        element(ret, "dhRegEvento", accepted ? j.dhRegEvento : nfe::eventTime(now, stateOr(j.cOrgao)));
        if (accepted)
            element(ret, "nProt", j.nProt);
        ret += "</infEvento></retEvento>";
        return ret;
    };
    QList<QByteArray> answers;
    for (const QByteArray& e : events) {
        // Judged and registered as one step, so that two batches never both register an event.
        QMutexLocker lock(&m_registry.writeLock());
        Judged j = judge(e, cOrgao);
        const bool accepted = nfe::status::eventRegistered(j.cStat);
        QByteArray ret = retEvento(j, accepted);
        if (accepted) {
            RegisteredEvent r{j.chNFe, j.tpEvento, j.cStat, j.nProt, j.dhRegEvento, j.nSeqEvento, {}};
            r.procEvento = QByteArrayLiteral("<procEventoNFe versao=\"1.00\" xmlns=\"") + nfe::kNamespace + "\">" + e +
                           ret + "</procEventoNFe>";
            if (!m_registry.add(r)) {
                // Not kept, so not registered: never answer 135 for an event it would not know.
                j.cStat = QStringLiteral("999");
                j.xMotivo = nfe::publishedText(j.cStat) + QStringLiteral(" (registro de eventos indisponível)");
                ret = retEvento(j, false);
            }
        }
        answers << ret;
    }
    // The real services answer in an order of their own; so does this one.
    if (reversedOrder)
        std::reverse(answers.begin(), answers.end());
    else if (answers.size() > 1)
        std::rotate(answers.begin(), answers.begin() + 1, answers.end());
    return batchAnswer(idLote, cOrgao, "128", QStringLiteral("Lote de evento processado"), answers);
}

void Rules::answerEventsWith(const QString& cStat, const QString& xMotivo)
{
    QMutexLocker lock(&m_forcedMutex);
    m_forced = {cStat, xMotivo};
}

QByteArray Rules::consult(const QByteArray& soap)
{
    const QDateTime now = clock();
    auto answer = [&](const char* cStat, const QString& motivo, const QString& chNFe,
                      const QList<RegisteredEvent>& evs) {
        const int cUF = digits(chNFe.left(2), 2, 2) ? chNFe.left(2).toInt() : 91;
        QByteArray out = QByteArrayLiteral("<retConsSitNFe versao=\"4.00\" xmlns=\"") + nfe::kNamespace + "\">";
        element(out, "tpAmb", QString::number(m_tpAmb));
        element(out, "verAplic", QString::fromLatin1(kVerAplic));
        element(out, "cStat", QString::fromLatin1(cStat));
        element(out, "xMotivo", motivo);
        element(out, "cUF", QString::number(cUF));
        element(out, "dhRecbto", nfe::eventTime(now, stateOr(cUF)));
        element(out, "chNFe", digits(chNFe, 44, 44) ? chNFe : QString(44, QLatin1Char('0')));
        for (const RegisteredEvent& e : evs)
            out += e.procEvento;
        out += "</retConsSitNFe>";
        return soapAnswer("NFeConsultaProtocolo4", out);
    };
    DocPtr doc = parse(soap);
    xmlNodePtr root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    xmlNodePtr cons = root ? findNfe(root, "consSitNFe") : nullptr;
    QString why;
    if (!cons || !m_consSchema->validate(standalone(cons), &why))
        return answer("215", nfe::publishedText(QStringLiteral("215")), QString(), {});
    const QString chNFe = text(cons, "chNFe");
    if (text(cons, "tpAmb").toInt() != m_tpAmb)
        return answer("252", nfe::publishedText(QStringLiteral("252")), chNFe, {});
    if (!nfe::validAccessKey(chNFe))
        return answer("236", nfe::publishedText(QStringLiteral("236")), chNFe, {});
    const std::optional<RegisteredNFe> nf = m_registry.nfe(chNFe);
    // Events registered for a key it does not know (136) are still answered: they are registered.
    const QList<RegisteredEvent> evs = m_registry.events(chNFe);
    if (!nf)
        return answer("217", nfe::publishedText(QStringLiteral("217")), chNFe, evs);
    if (nf->cStat == QLatin1String("101"))
        return answer("101", QStringLiteral("Cancelamento de NF-e homologado"), chNFe, evs);
    return answer("100", QStringLiteral("Autorizado o uso da NF-e"), chNFe, evs);
}

} // namespace sim
