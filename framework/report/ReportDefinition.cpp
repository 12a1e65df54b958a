#include "report/ReportDefinition.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include "paths/DataFolder.h"

namespace fw::report {

namespace {

QString str(const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)).toString(); }

} // namespace

QString reportFolder()
{
    return dataFolder("CCE_REPORTS", QStringLiteral("reports"), QStringLiteral(CCE_REPORTS_SOURCE_DIR));
}

bool ReportDefinition::load(const QString& folder, const QString& code, ReportDefinition* out, QString* error)
{
    QFile f(QDir(folder).filePath(code + QStringLiteral("/report.json")));
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("O arquivo contendo a definição do relatório de código '%1' não foi encontrado no "
                                "diretório '%2'.")
                     .arg(code, QDir(folder).absolutePath());
        return false;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &pe);
    if (!doc.isObject()) {
        *error = QStringLiteral("Definição do relatório %1 ilegível: %2").arg(code, pe.errorString());
        return false;
    }
    return fromJson(doc.object(), out, error);
}

bool ReportDefinition::fromJson(const QJsonObject& json, ReportDefinition* out, QString* error)
{
    ReportDefinition d;
    d.code = str(json, "code");
    d.title = str(json, "title");
    d.version = json.value(QLatin1String("version")).toInt();
    if (d.version != 1) {
        *error = QStringLiteral("Definição do relatório %1 em versão %2, que este programa não lê.")
                     .arg(d.code)
                     .arg(d.version);
        return false;
    }
    const QJsonObject page = json.value(QLatin1String("page")).toObject();
    d.pageSize = page.value(QLatin1String("size")).toString(d.pageSize);
    d.marginMm = page.value(QLatin1String("margins_mm")).toDouble(d.marginMm);
    d.query = json.value(QLatin1String("query")).isArray()
        ? [&] {
              QStringList lines;
              for (const QJsonValue& v : json.value(QLatin1String("query")).toArray())
                  lines << v.toString();
              return lines.join(QLatin1Char('\n'));
          }()
        : str(json, "query");
    for (const QJsonValue& v : json.value(QLatin1String("watermarks")).toArray()) {
        const QJsonObject o = v.toObject();
        Watermark w;
        w.text = str(o, "text");
        const QString when = str(o, "when");
        if (!when.isEmpty()) {
            w.whenField = when.section(QLatin1Char('='), 0, 0).trimmed();
            w.whenValue = when.section(QLatin1Char('='), 1).trimmed();
        }
        d.watermarks << w;
    }
    static const QHash<QString, Block::Kind> kinds{{QStringLiteral("title"), Block::Kind::Title},
                                                   {QStringLiteral("grid"), Block::Kind::Grid},
                                                   {QStringLiteral("barcode"), Block::Kind::Barcode},
                                                   {QStringLiteral("text"), Block::Kind::Text},
                                                   {QStringLiteral("footer"), Block::Kind::Footer}};
    for (const QJsonValue& v : json.value(QLatin1String("blocks")).toArray()) {
        const QJsonObject o = v.toObject();
        const QString type = str(o, "type");
        if (!kinds.contains(type)) {
            *error = QStringLiteral("Definição do relatório %1: bloco de tipo desconhecido '%2'.").arg(d.code, type);
            return false;
        }
        Block b;
        b.kind = kinds.value(type);
        b.title = str(o, "title");
        b.text = str(o, "text");
        b.value = str(o, "value");
        b.breaks = str(o, "breaks");
        b.heightMm = o.value(QLatin1String("height_mm")).toDouble(b.heightMm);
        for (const QJsonValue& row : o.value(QLatin1String("rows")).toArray()) {
            QList<Cell> cells;
            for (const QJsonValue& c : row.toArray()) {
                const QJsonObject co = c.toObject();
                cells << Cell{str(co, "label"), str(co, "value"), co.value(QLatin1String("width")).toDouble()};
            }
            b.rows << cells;
        }
        d.blocks << b;
    }
    if (d.query.trimmed().isEmpty()) {
        *error = QStringLiteral("Definição do relatório %1 sem consulta.").arg(d.code);
        return false;
    }
    *out = d;
    return true;
}

} // namespace fw::report
