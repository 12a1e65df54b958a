#include "server/app/ConfigCheck.h"

#include <netdb.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "nfe/Schema.h"
#include "report/ReportDefinition.h"
#include "server/app/CertificateReport.h"
#include "server/rpc/TlsContext.h"
#include "server/store/OperatorQueries.h"
#include "server/store/Store.h"

namespace srv {

namespace {

constexpr int kResolveMs = 5000;
constexpr int kExpiryWarningDays = 30;

Finding ok(const QString& text) { return Finding{Finding::Level::Ok, text}; }
Finding warning(const QString& text) { return Finding{Finding::Level::Warning, text}; }
Finding error(const QString& text) { return Finding{Finding::Level::Error, text}; }

// Keys of the sections read elsewhere, so that a misspelt one is reported too.
void unknownKeys(const QString& file, const QString& section, const QStringList& known, QList<Finding>* out)
{
    QSettings ini(file, QSettings::IniFormat);
    ini.beginGroup(section);
    for (const QString& key : ini.childKeys())
        if (!known.contains(key))
            out->append(warning(
                QStringLiteral("Chave desconhecida [%1] %2 no arquivo de configuração: ignorada.").arg(section, key)));
}

// [authority] keys are <authority>.<environment>.<service>; each authority that takes events
// in an environment needs both services.
void checkAuthorityKeys(const fiscal::FiscalConfig& fiscal, QList<Finding>* out)
{
    QHash<QString, QStringList> services; // "SP.1" -> recepcao, consulta
    for (auto it = fiscal.endpoints.cbegin(); it != fiscal.endpoints.cend(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char('.'));
        if (parts.size() != 3 || (parts[1] != QLatin1String("1") && parts[1] != QLatin1String("2")) ||
            (parts[2] != QLatin1String("recepcao") && parts[2] != QLatin1String("consulta"))) {
            out->append(error(QStringLiteral("[authority] %1: a chave deve ser <SEFAZ>.<ambiente 1 ou 2>.<recepcao ou "
                                             "consulta>, por exemplo SP.1.recepcao.")
                                  .arg(it.key())));
            continue;
        }
        services[parts[0] + QLatin1Char('.') + parts[1]] << parts[2];
    }
    for (auto it = services.cbegin(); it != services.cend(); ++it)
        for (const char* needed : {"recepcao", "consulta"})
            if (!it.value().contains(QLatin1String(needed)))
                out->append(warning(QStringLiteral("[authority] %1.%2 não está configurado: sem ele as cartas dessa "
                                                   "SEFAZ e ambiente %3.")
                                        .arg(it.key(), QLatin1String(needed),
                                             QLatin1String(needed) == QLatin1String("recepcao")
                                                 ? QStringLiteral("não são transmitidas")
                                                 : QStringLiteral("em dúvida não são conferidas"))));
}

// The folder, or the nearest of its parents that exists, can be written (nothing is created).
bool writableFolder(const QString& folder)
{
    QFileInfo at(QDir(folder).absolutePath());
    while (!at.exists() && !at.isRoot())
        at = QFileInfo(at.absolutePath());
    return at.isDir() && at.isWritable();
}

} // namespace

bool hasError(const QList<Finding>& findings)
{
    return std::any_of(findings.cbegin(), findings.cend(),
                       [](const Finding& f) { return f.level == Finding::Level::Error; });
}

QList<Finding> readConfiguration(const QString& file, const CommandLine& cl, Configuration* out)
{
    QList<Finding> findings;
    out->file = file;
    QString why;
    if (!file.isEmpty()) {
        QStringList warnings;
        if (!out->server.loadFile(file, &why, &warnings))
            return {error(why)};
        for (const QString& w : warnings)
            findings << warning(w);
    }
    if (!cl.applyTo(&out->server, &why))
        return findings << error(why);
    if (!out->server.check(&why))
        return findings << error(why);
    if (file.isEmpty())
        return findings;
    if (!out->fiscal.loadFile(file, &why))
        findings << error(why);
    else
        checkAuthorityKeys(out->fiscal, &findings);
    unknownKeys(file, QStringLiteral("fiscal"),
                {QStringLiteral("certificates"), QStringLiteral("certificate_password"),
                 QStringLiteral("certificate_password_file"), QStringLiteral("pkcs11_module"),
                 QStringLiteral("pkcs11_token"), QStringLiteral("pkcs11_pin_file"), QStringLiteral("sync_pause_ms"),
                 QStringLiteral("sync_interval_hours"), QStringLiteral("trust_store"), QStringLiteral("timeout_ms"),
                 QStringLiteral("claim_window_ms"), QStringLiteral("fold_accents"), QStringLiteral("reconcile_every")},
                &findings);
    if (!out->mail.loadFile(file, &why))
        findings << error(why);
    unknownKeys(file, QStringLiteral("mail"),
                {QStringLiteral("host"), QStringLiteral("security"), QStringLiteral("port"), QStringLiteral("user"),
                 QStringLiteral("password"), QStringLiteral("password_file"), QStringLiteral("from"),
                 QStringLiteral("trust_store"), QStringLiteral("timeout_ms"), QStringLiteral("batch_time_ms"),
                 QStringLiteral("outbox")},
                &findings);
    return findings;
}

QHash<QString, QString> unresolvedNames(const QStringList& names, int timeoutMs)
{
    // A lookup cannot be cancelled: each runs on a thread of its own that may outlive the
    // wait, holding only what it shares with it.
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        QHash<QString, QString> failed;
        int pending = 0;
    };
    auto shared = std::make_shared<Shared>();
    shared->pending = int(names.size());
    for (const QString& name : names) {
        std::thread([shared, name] {
            addrinfo hints{};
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const int rc = ::getaddrinfo(name.toUtf8().constData(), nullptr, &hints, &found);
            if (found)
                ::freeaddrinfo(found);
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (rc != 0)
                shared->failed.insert(name, QString::fromLocal8Bit(::gai_strerror(rc)));
            --shared->pending;
            shared->done.notify_all();
        }).detach();
    }
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return shared->pending == 0; });
    QHash<QString, QString> failed = shared->failed;
    if (shared->pending > 0)
        for (const QString& name : names)
            if (!failed.contains(name))
                failed.insert(name, QStringLiteral("sem resposta em %1 s").arg(timeoutMs / 1000));
    return failed;
}

namespace {

// The wire: the server's TLS pair and the tokens it keeps.
void checkWire(const ServerConfig& server, QList<Finding>* findings)
{
    static const QString kDay = QStringLiteral("dd/MM/yyyy");
    if (server.tls.enabled()) {
        QString why;
        const std::shared_ptr<TlsContext> tls = TlsContext::load(server.tls, &why);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (!tls) {
            *findings << error(why);
        } else if (tls->notBefore() > now || tls->notAfter() < now) {
            const QString when = tls->notAfter() < now
                                     ? QStringLiteral("venceu em %1").arg(tls->notAfter().toString(kDay))
                                     : QStringLiteral("só vale a partir de %1").arg(tls->notBefore().toString(kDay));
            *findings << error(QStringLiteral("O certificado TLS %1 %2: os clientes recusarão a conexão; "
                                              "substitua-o em [server] tls_certificate.")
                                   .arg(server.tls.certificate, when));
        } else {
            const qint64 days = now.daysTo(tls->notAfter());
            const QString mutual =
                tls->asksClientCertificate()
                    ? QStringLiteral(" Clientes apresentam certificado da autoridade em %1.").arg(server.tls.clientCa)
                    : QString();
            if (days <= kExpiryWarningDays)
                *findings << warning(QStringLiteral("O certificado TLS do servidor (%1) vence em %2 dias (%3): "
                                                    "providencie a renovação.%4")
                                         .arg(tls->subject())
                                         .arg(days)
                                         .arg(tls->notAfter().toString(kDay), mutual));
            else
                *findings << ok(
                    QStringLiteral("TLS: certificado do servidor (%1) e chave conferem; vence em %2 dias.%3")
                        .arg(tls->subject())
                        .arg(days)
                        .arg(mutual));
        }
    } else if (!server.tlsTerminatedBy.isEmpty()) {
        *findings << ok(QStringLiteral("TLS terminado no balanceador (%1): só esses endereços conectam a este "
                                       "servidor.")
                            .arg(server.tlsTerminatedBy.join(QStringLiteral(", "))));
    }
    for (const QString& name : server.tokensInClear())
        *findings << warning(QStringLiteral("O token %1 está em claro na configuração: guarde só o seu hash. Gere-o "
                                            "com \"cce-server --hash-token\" (lê o token da entrada padrão) e ponha o "
                                            "hash impresso no lugar do token.")
                                 .arg(name));
}

} // namespace

QList<Finding> checkConfiguration(const Configuration& c)
{
    QList<Finding> findings;
    QString why;
    checkWire(c.server, &findings);
    std::unique_ptr<Store> store = Store::open(c.server.databaseUrl, &why);
    if (!store) {
        findings << error(QStringLiteral("%1 Confira [database] url (ou --database).").arg(why));
    } else {
        const QString problem = OperatorQueries(*store).databaseProblem();
        findings << (problem.isEmpty() ? ok(QStringLiteral("Banco de dados aberto: %1.")
                                                .arg(c.server.databaseUrl.section(QLatin1Char(':'), 0, 0)))
                                       : error(QStringLiteral("Banco de dados: %1.").arg(problem)));
    }

    // What the program reads at run time: the schemas every event is checked against and
    // the definition of the printed letter.
    QString dataError;
    if (nfe::Schema::load(QStringLiteral("envCCe_v1.00.xsd"), &dataError))
        findings << ok(QStringLiteral("Esquemas da NF-e lidos de %1.").arg(nfe::schemaFolder()));
    else
        findings << error(QStringLiteral("Esquemas da NF-e: %1 Reinstale o servidor ou aponte CCE_NFE_SCHEMAS para "
                                         "a pasta dos esquemas.")
                              .arg(dataError));
    fw::report::ReportDefinition letter;
    if (fw::report::ReportDefinition::load(fw::report::reportFolder(), QStringLiteral("DFS593"), &letter, &dataError))
        findings << ok(QStringLiteral("Definição da carta impressa lida de %1.").arg(fw::report::reportFolder()));
    else
        findings << error(QStringLiteral("Carta impressa: %1 Reinstale o servidor ou aponte CCE_REPORTS para a pasta "
                                         "das definições.")
                              .arg(dataError));

    if (!c.fiscal.configured()) {
        findings << warning(QStringLiteral("Transmissão à SEFAZ não configurada: informe [fiscal] certificates (ou "
                                           "o token: pkcs11_module) e os endereços em [authority]."));
    } else {
        findings << certificateFindings(c.fiscal, store.get());
        if (!c.fiscal.trustStore.isEmpty() && !QFileInfo(c.fiscal.trustStore).isReadable())
            findings << error(QStringLiteral("[fiscal] trust_store: o arquivo %1 não existe ou não pode ser lido.")
                                  .arg(c.fiscal.trustStore));
    }

    // Every name the server will need, resolved at once.
    QHash<QString, QStringList> keysOf; // host -> the keys that name it
    for (auto it = c.fiscal.endpoints.cbegin(); it != c.fiscal.endpoints.cend(); ++it)
        keysOf[QUrl(it.value()).host()] << QStringLiteral("[authority] ") + it.key();
    if (c.mail.smtp())
        keysOf[c.mail.host] << QStringLiteral("[mail] host");
    keysOf.remove(QString());
    const QHash<QString, QString> failed = unresolvedNames(keysOf.keys(), kResolveMs);
    for (auto it = keysOf.cbegin(); it != keysOf.cend(); ++it) {
        QStringList keys = it.value();
        keys.sort();
        if (failed.contains(it.key()))
            findings << error(QStringLiteral("O endereço %1 não foi encontrado (%2): confira %3.")
                                  .arg(it.key(), failed.value(it.key()), keys.join(QStringLiteral(", "))));
        else
            findings << ok(
                QStringLiteral("Endereço %1 encontrado (%2).").arg(it.key(), keys.join(QStringLiteral(", "))));
    }

    if (c.mail.smtp()) {
        if (!c.mail.trustStore.isEmpty() && !QFileInfo(c.mail.trustStore).isReadable())
            findings << error(QStringLiteral("[mail] trust_store: o arquivo %1 não existe ou não pode ser lido.")
                                  .arg(c.mail.trustStore));
    } else if (!writableFolder(c.mail.outbox)) {
        findings << error(QStringLiteral("[mail] outbox: a pasta %1 não pode ser criada ou gravada.")
                              .arg(QDir(c.mail.outbox).absolutePath()));
    } else {
        findings << ok(QStringLiteral("E-mails gravados na pasta %1 (sem servidor SMTP em [mail] host).")
                           .arg(QDir(c.mail.outbox).absolutePath()));
    }
    return findings;
}

} // namespace srv
