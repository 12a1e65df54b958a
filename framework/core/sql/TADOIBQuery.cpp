#include "core/sql/TADOIBQuery.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include "core/errors/Errors.h"

namespace fw {

namespace {

const QString kCompanyConnection = QStringLiteral("company");

bool isNameStart(QChar c) { return c.isLetter() || c == QLatin1Char('_'); }
bool isNameChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$'); }

FieldType typeOf(const QSqlField& f)
{
    switch (f.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Char:
    case QMetaType::UChar: return FieldType::Integer;
    case QMetaType::Double:
    case QMetaType::Float: return FieldType::Float;
    case QMetaType::Bool: return FieldType::Boolean;
    case QMetaType::QDateTime:
    case QMetaType::QDate: return FieldType::DateTime;
    case QMetaType::QByteArray: return FieldType::Blob;
    default: return FieldType::String;
    }
}

} // namespace

TADOIBQuery::TADOIBQuery(QObject* parent) : DataSet(parent) {}

TADOIBQuery::~TADOIBQuery() = default;

QSqlDatabase TADOIBQuery::database() const
{
    QString name = m_connectionName;
    if (name.isEmpty())
        name = QSqlDatabase::contains(kCompanyConnection) ? kCompanyConnection
                                                          : QString::fromLatin1(QSqlDatabase::defaultConnection);
    return QSqlDatabase::database(name, false);
}

QString TADOIBQuery::statementFor(const QString& driverName) const
{
    const QString drv = driverName.toUpper();
    const QStringList* chosen = &SQL;
    if (drv.startsWith(QLatin1String("QOCI")))
        chosen = &SQL_ORACLE;
    else if (drv.startsWith(QLatin1String("QODBC")) || drv.startsWith(QLatin1String("QTDS")))
        chosen = &SQL_MSSQL;
    else if (drv.startsWith(QLatin1String("QIBASE")))
        chosen = &SQL_IB;
    const QString text = chosen->join(QLatin1Char('\n'));
    if (text.trimmed().isEmpty())
        return SQL.join(QLatin1Char('\n'));
    return text;
}

QString TADOIBQuery::toPositional(const QString& sql, QStringList* names)
{
    QString out;
    out.reserve(sql.size());
    const int n = int(sql.size());
    int i = 0;
    auto copyQuoted = [&](QChar quote) {
        out += sql[i++];
        while (i < n) {
            const QChar c = sql[i++];
            out += c;
            if (c == quote) {
                if (i < n && sql[i] == quote) { // doubled quote inside the literal
                    out += sql[i++];
                    continue;
                }
                break;
            }
        }
    };
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            copyQuoted(c);
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            const int end = int(sql.indexOf(QLatin1Char('\n'), i));
            const int stop = end < 0 ? n : end;
            out += QStringView(sql).mid(i, stop - i);
            i = stop;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            const int end = int(sql.indexOf(QLatin1String("*/"), i + 2));
            const int stop = end < 0 ? n : end + 2;
            out += QStringView(sql).mid(i, stop - i);
            i = stop;
        } else if (c == QLatin1Char(':') && i + 1 < n && sql[i + 1] == QLatin1Char(':')) {
            out += QLatin1String("::"); // PostgreSQL cast
            i += 2;
            while (i < n && isNameChar(sql[i]))
                out += sql[i++];
        } else if (c == QLatin1Char(':') && i + 1 < n && isNameStart(sql[i + 1])) {
            int j = i + 1;
            while (j < n && isNameChar(sql[j]))
                ++j;
            if (names)
                names->append(sql.mid(i + 1, j - i - 1));
            out += QLatin1Char('?');
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

QStringList TADOIBQuery::paramNames() const
{
    QStringList all;
    for (const QStringList* text : {&SQL, &SQL_ORACLE, &SQL_MSSQL, &SQL_IB}) {
        QStringList names;
        toPositional(text->join(QLatin1Char('\n')), &names);
        for (const QString& name : names)
            if (!all.contains(name, Qt::CaseInsensitive))
                all.append(name);
    }
    return all;
}

QueryParam* TADOIBQuery::ParamByName(const QString& name)
{
    const QString key = name.trimmed().toUpper();
    if (!paramNames().contains(key, Qt::CaseInsensitive))
        throw SqlError(QStringLiteral("Parâmetro %1 não encontrado.").arg(name));
    auto& p = m_params[key];
    if (!p)
        p = std::make_unique<QueryParam>(key);
    return p.get();
}

void TADOIBQuery::open()
{
    if (active())
        return;
    openWith([this] {
        QSqlDatabase db = database();
        if (!db.isValid())
            throw SqlError(
                QStringLiteral("Conexão com o banco de dados não configurada para a consulta %1.").arg(objectName()));
        if (!db.isOpen() && !db.open())
            throw SqlError(
                QStringLiteral("Não foi possível conectar ao banco de dados: %1").arg(db.lastError().text()));
        const QString text = statementFor(db.driverName());
        if (text.trimmed().isEmpty())
            throw SqlError(QStringLiteral("A consulta %1 não tem comando SQL.").arg(objectName()));
        QStringList names;
        const QString positional = toPositional(text, &names);

        QSqlQuery query(db);
        query.setForwardOnly(true);
        QStringList boundTexts;
        auto fail = [&](const QSqlError& e) {
            // The database's text may quote a value it refused; values stay out of messages.
            QString detail = e.databaseText().isEmpty() ? e.driverText() : e.databaseText();
            for (const QString& v : boundTexts)
                if (!v.isEmpty())
                    detail.replace(v, QStringLiteral("…"));
            return SqlError(QStringLiteral("Erro ao executar a consulta %1 no banco de dados: %2")
                                .arg(objectName(), detail.trimmed()));
        };
        if (!query.prepare(positional))
            throw fail(query.lastError());
        for (int i = 0; i < names.size(); ++i) {
            auto it = m_params.find(names[i].toUpper());
            QVariant v = it != m_params.end() ? it->second->value() : QVariant();
            if (!v.isValid() || v.isNull())
                v = QVariant(QMetaType::fromType<QString>());
            else
                boundTexts.append(v.toString());
            query.bindValue(i, v);
        }
        if (!query.exec())
            throw fail(query.lastError());

        DataPacket p;
        const QSqlRecord rec = query.record();
        const int cols = rec.count();
        for (int c = 0; c < cols; ++c) {
            const QSqlField f = rec.field(c);
            FieldDef def;
            def.name = f.name();
            if (def.name == def.name.toLower())
                def.name = def.name.toUpper(); // PostgreSQL folds unquoted names to lower case
            def.type = typeOf(f);
            def.size = def.type == FieldType::String && f.length() > 0 ? f.length() : 0;
            p.fields.append(def);
        }
        while (query.next()) {
            Row row;
            row.reserve(cols);
            for (int c = 0; c < cols; ++c) {
                if (query.isNull(c)) {
                    row.append(QVariant());
                    continue;
                }
                QVariant v = query.value(c);
                switch (p.fields[c].type) {
                case FieldType::Integer: v = v.toLongLong(); break;
                case FieldType::DateTime:
                    if (v.metaType().id() == QMetaType::QDate)
                        v = v.toDate().startOfDay();
                    break;
                case FieldType::Blob:
                    if (v.metaType().id() == QMetaType::QByteArray)
                        v = QString::fromUtf8(v.toByteArray());
                    break;
                default: break;
                }
                row.append(v);
            }
            p.rows.append(row);
        }
        if (query.lastError().isValid())
            throw fail(query.lastError());
        return p;
    });
}

} // namespace fw
