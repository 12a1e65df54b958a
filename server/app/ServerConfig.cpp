#include "server/app/ServerConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>

#include "server/rpc/TokenHash.h"

namespace srv {

namespace {

QStringList splitTokens(const QVariant& value)
{
    // QSettings already splits an unquoted "a,b" into a list; a quoted one stays whole.
    QStringList out;
    for (const QString& item : value.toStringList())
        for (const QString& part : item.split(QLatin1Char(',')))
            if (!part.trimmed().isEmpty())
                out.append(part.trimmed());
    return out;
}

QString settingText(const QVariant& value)
{
    // An unquoted value with a comma comes back as a list; join it so the error names it whole.
    return value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
}

void warnUnknownKeys(QSettings& s, const QSet<QString>& known, QStringList* warnings)
{
    if (!warnings)
        return;
    for (const QString& key : s.childKeys())
        if (!known.contains(key))
            warnings->append(
                QStringLiteral("Chave desconhecida [%1] %2 no arquivo de configuração: ignorada.").arg(s.group(), key));
}

} // namespace

bool parseListenAddress(const QString& text, QString* host, int* port, QString* error)
{
    const QString t = text.trimmed();
    const int colon = int(t.lastIndexOf(QLatin1Char(':')));
    QString h = colon > 0 ? t.left(colon) : QString();
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    bool ok = false;
    const int p = colon > 0 ? t.mid(colon + 1).toInt(&ok) : 0;
    if (h.isEmpty() || !ok || p < 0 || p > 65535 || (h.contains(QLatin1Char(':')) && !t.startsWith(QLatin1Char('[')))) {
        *error =
            QStringLiteral("Endereço de escuta inválido \"%1\": use HOST:PORTA, por exemplo 127.0.0.1:8081.").arg(text);
        return false;
    }
    *host = h;
    *port = p;
    return true;
}

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

bool parseByteSize(const QString& text, qint64* bytes)
{
    QString t = text.trimmed().toUpper();
    if (t.endsWith(QLatin1String("IB")))
        t.chop(2);
    else if (t.endsWith(QLatin1Char('B')) && t.size() > 1 && !t.at(t.size() - 2).isDigit())
        t.chop(1);
    qint64 unit = 1;
    if (t.endsWith(QLatin1Char('K')))
        unit = qint64(1) << 10;
    else if (t.endsWith(QLatin1Char('M')))
        unit = qint64(1) << 20;
    else if (t.endsWith(QLatin1Char('G')))
        unit = qint64(1) << 30;
    if (unit != 1)
        t.chop(1);
    bool ok = false;
    const qint64 n = t.trimmed().toLongLong(&ok);
    if (!ok || n <= 0 || n > (qint64(1) << 40) / unit)
        return false;
    *bytes = n * unit;
    return true;
}

bool parseDuration(const QString& text, int* seconds)
{
    QString t = text.trimmed().toLower();
    int unit = 1;
    if (t.endsWith(QLatin1Char('h')))
        unit = 3600;
    else if (t.endsWith(QLatin1Char('m')))
        unit = 60;
    if (unit != 1 || t.endsWith(QLatin1Char('s')))
        t.chop(1);
    bool ok = false;
    const int n = t.trimmed().toInt(&ok);
    if (!ok || n < 0 || n > 7 * 86400 / unit)
        return false;
    *seconds = n * unit;
    return true;
}

bool ServerConfig::loadFile(const QString& path, QString* error, QStringList* warnings)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        *error = QStringLiteral("Arquivo de configuração não encontrado ou sem permissão de leitura: %1.").arg(path);
        return false;
    }
    QSettings s(path, QSettings::IniFormat);
    if (s.status() != QSettings::NoError) {
        *error = QStringLiteral("Arquivo de configuração malformado: %1.").arg(path);
        return false;
    }

    s.beginGroup(QStringLiteral("server"));
    warnUnknownKeys(s,
                    {QStringLiteral("listen"), QStringLiteral("tokens"), QStringLiteral("workers"),
                     QStringLiteral("quick_workers"), QStringLiteral("heavy_workers"), QStringLiteral("body_limit"),
                     QStringLiteral("unauthenticated_per_address"), QStringLiteral("max_connections"),
                     QStringLiteral("trusted_proxies"), QStringLiteral("tls_certificate"), QStringLiteral("tls_key"),
                     QStringLiteral("tls_client_ca"), QStringLiteral("tls_terminated_by")},
                    warnings);
    if (s.contains(QStringLiteral("listen")) &&
        !parseListenAddress(settingText(s.value(QStringLiteral("listen"))), &listenHost, &listenPort, error))
        return false;
    if (s.contains(QStringLiteral("tokens"))) {
        tokens = splitTokens(s.value(QStringLiteral("tokens")));
        tokenNames.clear();
        for (int i = 0; i < tokens.size(); ++i)
            tokenNames.insert(tokens[i], QStringLiteral("server#%1").arg(i + 1));
    }
    if (s.contains(QStringLiteral("trusted_proxies")))
        trustedProxies = splitTokens(s.value(QStringLiteral("trusted_proxies")));
    if (s.contains(QStringLiteral("tls_terminated_by")))
        tlsTerminatedBy = splitTokens(s.value(QStringLiteral("tls_terminated_by")));
    const QDir folder = info.absoluteDir();
    for (const auto& [key, target] : {std::pair<const char*, QString*>{"tls_certificate", &tls.certificate},
                                      {"tls_key", &tls.key},
                                      {"tls_client_ca", &tls.clientCa}}) {
        const QString name = QString::fromLatin1(key);
        if (s.contains(name)) {
            const QString file = settingText(s.value(name)).trimmed();
            *target = file.isEmpty() ? QString() : folder.filePath(file);
        }
    }
    for (const auto& [key, target] : {std::pair<const char*, int*>{"workers", &workers},
                                      {"quick_workers", &quickWorkers},
                                      {"heavy_workers", &heavyWorkers},
                                      {"unauthenticated_per_address", &unauthenticatedPerAddress},
                                      {"max_connections", &maxConnections}}) {
        const QString name = QString::fromLatin1(key);
        if (!s.contains(name))
            continue;
        bool ok = false;
        *target = settingText(s.value(name)).trimmed().toInt(&ok);
        if (!ok) {
            *error = QStringLiteral("[server] %1 deve ser um número inteiro.").arg(name);
            return false;
        }
    }
    if (s.contains(QStringLiteral("body_limit")) &&
        !parseByteSize(settingText(s.value(QStringLiteral("body_limit"))), &bodyLimit)) {
        *error = QStringLiteral("[server] body_limit deve ser um tamanho em bytes (aceita os sufixos K, M e G).");
        return false;
    }
    s.endGroup();

    // Tokens limited to some companies: one section per client.
    const QString accessPrefix = QStringLiteral("access.");
    QHash<QString, QStringList> limited;
    for (const QString& group : s.childGroups()) {
        if (!group.startsWith(accessPrefix))
            continue;
        s.beginGroup(group);
        warnUnknownKeys(s, {QStringLiteral("token"), QStringLiteral("companies")}, warnings);
        const QString token = settingText(s.value(QStringLiteral("token"))).trimmed();
        const QStringList companies = splitTokens(s.value(QStringLiteral("companies")));
        s.endGroup();
        if (token.isEmpty() || companies.isEmpty()) {
            *error =
                QStringLiteral("[%1] precisa de token e de companies (as empresas que o token alcança).").arg(group);
            return false;
        }
        if (tokens.contains(token) || limited.contains(token)) {
            *error = QStringLiteral("[%1]: o mesmo token aparece em mais de um lugar da configuração.").arg(group);
            return false;
        }
        limited.insert(token, companies);
        tokenNames.insert(token, group.mid(accessPrefix.size()));
    }
    if (!limited.isEmpty())
        tokenCompanies = limited;

    // The rest of [fiscal] is the fiscal subsystem's; the schedule is the server's.
    if (s.contains(QStringLiteral("fiscal/reconcile_every")) &&
        !parseDuration(settingText(s.value(QStringLiteral("fiscal/reconcile_every"))), &reconcileEverySeconds)) {
        *error = QStringLiteral("[fiscal] reconcile_every deve ser um intervalo como 90s, 10m ou 1h (0: nunca).");
        return false;
    }

    s.beginGroup(QStringLiteral("database"));
    warnUnknownKeys(s,
                    {QStringLiteral("url"), QStringLiteral("read_url"), QStringLiteral("read_wait_ms"),
                     QStringLiteral("read_max_lag_ms")},
                    warnings);
    if (s.contains(QStringLiteral("url")))
        databaseUrl = settingText(s.value(QStringLiteral("url"))).trimmed();
    if (s.contains(QStringLiteral("read_url")))
        readUrl = settingText(s.value(QStringLiteral("read_url"))).trimmed();
    for (const auto& [key, value] : {std::pair{"read_wait_ms", &readWaitMs}, {"read_max_lag_ms", &readMaxLagMs}}) {
        if (!s.contains(QLatin1String(key)))
            continue;
        bool ok = false;
        *value = settingText(s.value(QLatin1String(key))).trimmed().toInt(&ok);
        if (!ok) {
            *error = QStringLiteral("[database] %1 deve ser um número de milissegundos.").arg(QLatin1String(key));
            return false;
        }
    }
    s.endGroup();
    return true;
}

bool ServerConfig::check(QString* error) const
{
    if (workers < 1 || workers > 256) {
        *error = QStringLiteral("O número de workers deve estar entre 1 e 256 (configurado: %1).").arg(workers);
        return false;
    }
    if (quickWorkers < 0 || quickWorkers > 64) {
        *error =
            QStringLiteral("O número de quick_workers deve estar entre 0 e 64 (configurado: %1).").arg(quickWorkers);
        return false;
    }
    if (heavyWorkers > workers) {
        *error = QStringLiteral("O número de heavy_workers deve estar entre 0 e o de workers (%1; configurado: %2).")
                     .arg(workers)
                     .arg(heavyWorkers);
        return false;
    }
    if (unauthenticatedPerAddress < 1 || unauthenticatedPerAddress > 10000) {
        *error = QStringLiteral("[server] unauthenticated_per_address deve estar entre 1 e 10000 (configurado: %1).")
                     .arg(unauthenticatedPerAddress);
        return false;
    }
    if (maxConnections < unauthenticatedPerAddress || maxConnections > 100000) {
        *error = QStringLiteral("[server] max_connections deve estar entre unauthenticated_per_address (%1) e 100000 "
                                "(configurado: %2).")
                     .arg(unauthenticatedPerAddress)
                     .arg(maxConnections);
        return false;
    }
    for (const QString& proxy : trustedProxies)
        if (QHostAddress(proxy).isNull()) {
            *error = QStringLiteral("[server] trusted_proxies: \"%1\" não é um endereço IP.").arg(proxy);
            return false;
        }
    if (reconcileEverySeconds != 0 && reconcileEverySeconds < 10) {
        *error = QStringLiteral("[fiscal] reconcile_every deve ser de pelo menos 10 s (ou 0, para nunca).");
        return false;
    }
    if (bodyLimit < 1024) {
        *error = QStringLiteral("O limite do corpo da requisição deve ser de pelo menos 1024 bytes.");
        return false;
    }
    if (databaseUrl.isEmpty()) {
        *error = QStringLiteral("Nenhum banco de dados configurado: use --database URL ou [database] url.");
        return false;
    }
    auto postgres = [](const QString& url) {
        return url.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
               url.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
    };
    if (!readUrl.isEmpty() && (!postgres(readUrl) || !postgres(databaseUrl))) {
        *error = QStringLiteral("[database] read_url é uma réplica PostgreSQL (postgresql://...) do banco principal, "
                                "que também deve ser PostgreSQL.");
        return false;
    }
    if (readWaitMs < 0 || readWaitMs > 10000 || readMaxLagMs < 100 || readMaxLagMs > 3600000) {
        *error = QStringLiteral("[database] read_wait_ms deve estar entre 0 e 10000 e read_max_lag_ms entre 100 e "
                                "3600000.");
        return false;
    }
    if (tls.enabled() && (tls.certificate.isEmpty() || tls.key.isEmpty())) {
        *error = QStringLiteral("[server] tls_certificate e tls_key vão juntos: configure os dois.");
        return false;
    }
    if (!tls.enabled() && !tls.clientCa.isEmpty()) {
        *error = QStringLiteral("[server] tls_client_ca pede TLS: configure também tls_certificate e tls_key.");
        return false;
    }
    for (const QString& balancer : tlsTerminatedBy)
        if (QHostAddress(balancer).isNull()) {
            *error = QStringLiteral("[server] tls_terminated_by: \"%1\" não é um endereço IP.").arg(balancer);
            return false;
        }
    for (const QString& t : tokens + tokenCompanies.keys()) {
        QString why;
        if (tokenhash::looksHashed(t) && !tokenhash::isValid(t, &why)) {
            *error = QStringLiteral("Token %1: %2.").arg(tokenNames.value(t, QStringLiteral("?")), why);
            return false;
        }
    }
    if (tokens.isEmpty() && tokenCompanies.isEmpty() && !isLoopbackHost(listenHost)) {
        *error = QStringLiteral("Sem token de acesso o servidor só escuta em endereço local (loopback); "
                                "recusado escutar em %1. Configure um token com --token ou [server] tokens.")
                     .arg(listenHost);
        return false;
    }
    if (!tls.enabled() && tlsTerminatedBy.isEmpty() && !isLoopbackHost(listenHost)) {
        *error = QStringLiteral("Sem TLS o servidor só escuta em endereço local (loopback): recusado escutar em %1, "
                                "pois o token e os dados fiscais passariam em claro pela rede. Configure [server] "
                                "tls_certificate e tls_key, ou tls_terminated_by com os endereços do balanceador "
                                "que termina o TLS.")
                     .arg(listenHost);
        return false;
    }
    return true;
}

HttpServerOptions ServerConfig::httpOptions() const
{
    HttpServerOptions o;
    o.workers = workers;
    o.quickWorkers = quickWorkers;
    o.heavyWorkers = heavyWorkers;
    o.bodyLimit = bodyLimit;
    o.tokens = tokens + tokenCompanies.keys();
    o.tokenCompanies = tokenCompanies;
    o.tokenNames = tokenNames;
    o.perAddressLimit = unauthenticatedPerAddress;
    o.trustedProxies = trustedProxies;
    o.maxConnections = maxConnections;
    o.onlyFrom = tlsTerminatedBy;
    return o;
}

QStringList ServerConfig::tokensInClear() const
{
    QStringList names;
    for (const QString& t : tokens + tokenCompanies.keys())
        if (!tokenhash::looksHashed(t))
            names << tokenNames.value(t, QStringLiteral("?"));
    names.sort();
    return names;
}

bool CommandLine::applyTo(ServerConfig* config, QString* error) const
{
    if (!database.isEmpty())
        config->databaseUrl = database;
    if (!listen.isEmpty() && !parseListenAddress(listen, &config->listenHost, &config->listenPort, error))
        return false;
    if (!tokens.isEmpty()) {
        config->tokens = tokens;
        config->tokenCompanies.clear();
        config->tokenNames.clear();
        for (int i = 0; i < tokens.size(); ++i)
            config->tokenNames.insert(tokens[i], QStringLiteral("command-line#%1").arg(i + 1));
    }
    return true;
}

QString usageText()
{
    return QStringLiteral(
        "Uso:\n"
        "  cce-server --init --database URL [--demo] [--invoices N]\n"
        "      cria ou atualiza o esquema do banco; com --demo, preenche os dados de demonstração\n"
        "      (N notas fiscais; sem --invoices, algumas centenas).\n"
        "  cce-server --export-events --database URL --company CC [--from AAAA-MM-DD] [--to AAAA-MM-DD] --out PASTA\n"
        "      grava cada evento aceito da empresa no período como PASTA/<chNFe>-<nSeqEvento>-procEventoNFe.xml.\n"
        "  cce-server --sync-events --config ARQUIVO --company CC [--since AAAA-MM-DD] [--invoice FILIAL/LANCAMENTO]\n"
        "      consulta na SEFAZ os eventos das notas da empresa e traz as cartas registradas por outros sistemas.\n"
        "  cce-server --audit (--database URL | --config ARQUIVO) --company CC [--since AAAA-MM-DD]\n"
        "             [--invoice FILIAL/LANCAMENTO]\n"
        "      imprime a trilha de auditoria das cartas da empresa em CSV.\n"
        "  cce-server --check-config ARQUIVO\n"
        "      confere a configuração (banco, certificados, endereços da SEFAZ, e-mail), uma linha por\n"
        "      achado; termina com código diferente de zero se houver erro.\n"
        "  cce-server --list-certificates --config ARQUIVO\n"
        "      lista os certificados da pasta A1 e do token (titular, série, vencimento) e a inscrição\n"
        "      estadual que cada um atende.\n"
        "  cce-server --hash-token\n"
        "      lê um token da entrada padrão e imprime o seu hash (scrypt), para [server] tokens ou\n"
        "      [access.<nome>] token: o arquivo de configuração não guarda o token em claro.\n"
        "  cce-server --config ARQUIVO [--database URL] [--listen HOST:PORTA] [--token TOKEN]...\n"
        "      atende até receber SIGTERM; as opções da linha de comando prevalecem sobre o arquivo.\n"
        "      Porta 0 escolhe uma porta livre; a primeira linha da saída é \"listening on HOST:PORTA\".\n"
        "URL: sqlite:CAMINHO ou postgresql://USUARIO@HOST:PORTA/BANCO\n");
}

bool parseCommandLine(const QStringList& args, CommandLine* out, QString* error)
{
    CommandLine cl;
    QSet<QString> seen;
    bool invoicesGiven = false;
    bool init = false;
    bool exportEvents = false;
    bool syncEvents = false;
    bool audit = false;
    bool checkConfig = false;
    bool listCertificates = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (!arg.startsWith(QLatin1String("--")) && arg != QLatin1String("-h")) {
            *error = QStringLiteral("Argumento inesperado: %1.").arg(arg);
            return false;
        }
        QString name = arg;
        QString value;
        bool hasInline = false;
        const int eq = int(arg.indexOf(QLatin1Char('=')));
        if (eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            hasInline = true;
        }
        static const QSet<QString> flags{QStringLiteral("--init"),          QStringLiteral("--demo"),
                                         QStringLiteral("--help"),          QStringLiteral("-h"),
                                         QStringLiteral("--export-events"), QStringLiteral("--audit"),
                                         QStringLiteral("--sync-events"),   QStringLiteral("--list-certificates"),
                                         QStringLiteral("--hash-token")};
        static const QSet<QString> valued{
            QStringLiteral("--database"), QStringLiteral("--invoices"), QStringLiteral("--config"),
            QStringLiteral("--listen"),   QStringLiteral("--token"),    QStringLiteral("--company"),
            QStringLiteral("--from"),     QStringLiteral("--to"),       QStringLiteral("--out"),
            QStringLiteral("--since"),    QStringLiteral("--invoice"),  QStringLiteral("--check-config")};
        if (flags.contains(name)) {
            if (hasInline) {
                *error = QStringLiteral("A opção %1 não recebe valor.").arg(name);
                return false;
            }
        } else if (valued.contains(name)) {
            if (!hasInline) {
                if (i + 1 >= args.size()) {
                    *error = QStringLiteral("A opção %1 precisa de um valor.").arg(name);
                    return false;
                }
                value = args.at(++i);
            }
            if (value.trimmed().isEmpty()) {
                *error = QStringLiteral("A opção %1 precisa de um valor.").arg(name);
                return false;
            }
        } else {
            *error = QStringLiteral("Opção desconhecida: %1.").arg(name);
            return false;
        }
        if (name != QLatin1String("--token") && seen.contains(name)) {
            *error = QStringLiteral("A opção %1 foi dada mais de uma vez.").arg(name);
            return false;
        }
        seen.insert(name);

        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            cl.mode = CommandLine::Mode::Help;
        } else if (name == QLatin1String("--init")) {
            init = true;
        } else if (name == QLatin1String("--demo")) {
            cl.demo = true;
        } else if (name == QLatin1String("--invoices")) {
            bool ok = false;
            cl.invoices = value.toInt(&ok);
            if (!ok || cl.invoices < 1 || cl.invoices > 10000000) {
                *error = QStringLiteral("--invoices deve ser um número inteiro positivo.");
                return false;
            }
            invoicesGiven = true;
        } else if (name == QLatin1String("--database")) {
            cl.database = value.trimmed();
        } else if (name == QLatin1String("--config")) {
            cl.configFile = value;
        } else if (name == QLatin1String("--listen")) {
            cl.listen = value.trimmed();
        } else if (name == QLatin1String("--token")) {
            cl.tokens.append(value.trimmed());
        } else if (name == QLatin1String("--export-events")) {
            exportEvents = true;
        } else if (name == QLatin1String("--sync-events")) {
            syncEvents = true;
        } else if (name == QLatin1String("--list-certificates")) {
            listCertificates = true;
        } else if (name == QLatin1String("--hash-token")) {
            cl.mode = CommandLine::Mode::HashToken;
        } else if (name == QLatin1String("--audit")) {
            audit = true;
        } else if (name == QLatin1String("--check-config")) {
            checkConfig = true;
            cl.configFile = value;
        } else if (name == QLatin1String("--invoice")) {
            static const QRegularExpression key(QStringLiteral("^[^/\\s]{1,4}/[^/\\s]{1,10}$"));
            if (!key.match(value.trimmed()).hasMatch()) {
                *error = QStringLiteral("--invoice deve ser FILIAL/LANCAMENTO, por exemplo 0001/0000012345.");
                return false;
            }
            cl.invoice = value.trimmed();
            cl.invoiceBranch = cl.invoice.section(QLatin1Char('/'), 0, 0);
            cl.invoiceEntry = cl.invoice.section(QLatin1Char('/'), 1, 1);
        } else if (name == QLatin1String("--company")) {
            cl.company = value.trimmed();
        } else if (name == QLatin1String("--out")) {
            cl.outDir = value;
        } else if (name == QLatin1String("--from") || name == QLatin1String("--to") ||
                   name == QLatin1String("--since")) {
            const QDate d = QDate::fromString(value.trimmed(), Qt::ISODate);
            if (!d.isValid()) {
                *error = QStringLiteral("%1 deve ser uma data AAAA-MM-DD.").arg(name);
                return false;
            }
            (name == QLatin1String("--from") ? cl.from : name == QLatin1String("--to") ? cl.to : cl.since) = d;
        }
    }

    if (cl.mode != CommandLine::Mode::Help && listCertificates) {
        if (seen.size() != 2 || cl.configFile.isEmpty()) {
            *error = QStringLiteral("--list-certificates recebe apenas --config ARQUIVO.");
            return false;
        }
        cl.mode = CommandLine::Mode::ListCertificates;
        *out = cl;
        return true;
    }
    if (cl.mode == CommandLine::Mode::HashToken) {
        if (seen.size() > 1) {
            *error = QStringLiteral("--hash-token não recebe outras opções: o token vem da entrada padrão.");
            return false;
        }
        *out = cl;
        return true;
    }
    if (cl.mode != CommandLine::Mode::Help && syncEvents) {
        if (audit || checkConfig || exportEvents || init || cl.demo || invoicesGiven || !cl.listen.isEmpty() ||
            !cl.tokens.isEmpty() || !cl.outDir.isEmpty() || cl.from.isValid() || cl.to.isValid()) {
            *error = QStringLiteral(
                "--sync-events não se combina com --export-events, --audit, --check-config, --init, --demo, --listen, "
                "--token, --out, --from ou --to.");
            return false;
        }
        if (cl.company.isEmpty() || cl.configFile.isEmpty()) {
            *error = QStringLiteral("--sync-events precisa de --config e --company.");
            return false;
        }
        cl.mode = CommandLine::Mode::Sync;
        *out = cl;
        return true;
    }
    if (cl.mode != CommandLine::Mode::Help && (audit || checkConfig)) {
        const bool serving = init || cl.demo || invoicesGiven || !cl.listen.isEmpty() || !cl.tokens.isEmpty() ||
                             exportEvents || !cl.outDir.isEmpty() || cl.from.isValid() || cl.to.isValid();
        if (serving || (audit && checkConfig)) {
            *error = QStringLiteral("%1 não se combina com outras operações nem com --listen, --token, --out, --from "
                                    "ou --to.")
                         .arg(audit ? QStringLiteral("--audit") : QStringLiteral("--check-config"));
            return false;
        }
        if (checkConfig && (!cl.database.isEmpty() || !cl.company.isEmpty() || cl.since.isValid() ||
                            !cl.invoice.isEmpty() || seen.contains(QStringLiteral("--config")))) {
            *error = QStringLiteral("--check-config recebe apenas o arquivo de configuração.");
            return false;
        }
        if (audit && (cl.company.isEmpty() || (cl.database.isEmpty() && cl.configFile.isEmpty()))) {
            *error = QStringLiteral("--audit precisa de --company e de --database ou --config.");
            return false;
        }
        cl.mode = audit ? CommandLine::Mode::Audit : CommandLine::Mode::CheckConfig;
        *out = cl;
        return true;
    }
    if (cl.since.isValid() || !cl.invoice.isEmpty()) {
        *error = QStringLiteral("--since e --invoice só valem com --sync-events ou --audit.");
        return false;
    }
    if (cl.mode != CommandLine::Mode::Help && exportEvents) {
        if (init || cl.demo || invoicesGiven || !cl.listen.isEmpty() || !cl.tokens.isEmpty()) {
            *error = QStringLiteral("--export-events não se combina com --init, --demo, --listen ou --token.");
            return false;
        }
        if (cl.company.isEmpty() || cl.outDir.isEmpty() || cl.database.isEmpty()) {
            *error = QStringLiteral("--export-events precisa de --database, --company e --out.");
            return false;
        }
        cl.mode = CommandLine::Mode::Export;
        *out = cl;
        return true;
    }
    if (!cl.company.isEmpty() || !cl.outDir.isEmpty() || cl.from.isValid() || cl.to.isValid()) {
        *error = QStringLiteral("--company, --from, --to e --out só valem com --export-events (e --company com "
                                "--audit).");
        return false;
    }

    if (cl.mode != CommandLine::Mode::Help) {
        if (init) {
            cl.mode = CommandLine::Mode::Init;
            if (!cl.listen.isEmpty() || !cl.tokens.isEmpty()) {
                *error = QStringLiteral("--listen e --token não se aplicam a --init.");
                return false;
            }
            if (invoicesGiven && !cl.demo) {
                *error = QStringLiteral("--invoices só vale com --demo.");
                return false;
            }
        } else if (cl.demo || invoicesGiven) {
            *error = QStringLiteral("--demo e --invoices só valem com --init.");
            return false;
        }
    }
    *out = cl;
    return true;
}

} // namespace srv
