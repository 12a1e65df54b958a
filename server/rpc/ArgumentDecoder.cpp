#include "server/rpc/ArgumentDecoder.h"

#include <QDateTime>
#include <QJsonValue>
#include <cmath>
#include <vector>

#include "core/values/JsonCodec.h"
#include "core/values/Packet.h"
#include "core/values/Value.h"
#include "server/rpc/JsonReader.h"

namespace srv {

namespace {

QString kindName(ArgKind kind)
{
    switch (kind) {
    case ArgKind::String: return QStringLiteral("texto");
    case ArgKind::Boolean: return QStringLiteral("booleano");
    case ArgKind::DateTime: return QStringLiteral("data-hora");
    case ArgKind::DataPacket: return QStringLiteral("pacote de dados");
    case ArgKind::DeltaPacket: return QStringLiteral("pacote de alterações");
    case ArgKind::Any: return QStringLiteral("valor");
    }
    return QString();
}

// Which wrapped value an object is, by its members alone.
struct Wrapped {
    enum class Kind { Unknown, DateTime, Packet, Delta } kind = Kind::Unknown;
    qsizetype at = 0; // where the wrapper's value starts
};

Wrapped wrappedAt(const QByteArray& text, qsizetype offset)
{
    json::Reader r(text, offset);
    qsizetype dateTime = -1, packet = -1, delta = -1;
    r.forEachMember([&](const QString& key, qsizetype at) {
        if (key == QLatin1String("$datetime"))
            dateTime = at;
        else if (key == QLatin1String("$packet"))
            packet = at;
        else if (key == QLatin1String("$delta"))
            delta = at;
    });
    if (dateTime >= 0)
        return {Wrapped::Kind::DateTime, dateTime};
    if (packet >= 0)
        return {Wrapped::Kind::Packet, packet};
    if (delta >= 0)
        return {Wrapped::Kind::Delta, delta};
    return {};
}

class Decoder {
public:
    Decoder(const QByteArray& text, const QString& label) : m_text(text), m_label(label) {}

    QVariant argument(qsizetype offset, const ArgSpec& declared)
    {
        json::Reader r(m_text, offset);
        const json::Type type = r.peek();
        if (type == json::Type::Null) {
            if (declared.nullable || declared.kind == ArgKind::Any)
                return fw::nullValue();
            fault(QStringLiteral("O %1 não pode ser nulo; esperado %2.").arg(m_label, kindName(declared.kind)));
        }
        switch (declared.kind) {
        case ArgKind::String: {
            QString s;
            if (!r.readString(&s))
                wrongKind(declared.kind);
            return s;
        }
        case ArgKind::Boolean: {
            bool b = false;
            if (!r.readBool(&b))
                wrongKind(declared.kind);
            return b;
        }
        case ArgKind::DateTime:
        case ArgKind::DataPacket:
        case ArgKind::DeltaPacket: {
            if (type != json::Type::Object)
                wrongKind(declared.kind);
            const Wrapped w = wrappedAt(m_text, offset);
            if (w.kind == Wrapped::Kind::Unknown)
                malformed(QStringLiteral("objeto de valor desconhecido"));
            const Wrapped::Kind want = declared.kind == ArgKind::DateTime     ? Wrapped::Kind::DateTime
                                       : declared.kind == ArgKind::DataPacket ? Wrapped::Kind::Packet
                                                                          : Wrapped::Kind::Delta;
            if (w.kind != want)
                wrongKind(declared.kind);
            if (want == Wrapped::Kind::DateTime) {
                const QVariant dt = dateTime(w.at);
                if (fw::isNull(dt) && !declared.nullable)
                    fault(QStringLiteral("O %1 não pode ser nulo; esperado %2.").arg(m_label, kindName(declared.kind)));
                return dt;
            }
            return want == Wrapped::Kind::Packet ? QVariant::fromValue(packet(w.at, declared.columns, declared.maxRows))
                                                 : QVariant::fromValue(delta(w.at, declared.maxRows));
        }
        case ArgKind::Any: return any(offset);
        }
        wrongKind(declared.kind);
    }

private:
    [[noreturn]] void fault(const QString& message) { throw RpcFault(fault::InvalidParams, message); }
    [[noreturn]] void malformed(const QString& why)
    {
        fault(QStringLiteral("O %1 está malformado: %2.").arg(m_label, why));
    }
    [[noreturn]] void wrongKind(ArgKind kind)
    {
        fault(QStringLiteral("O %1 deve ser %2.").arg(m_label, kindName(kind)));
    }

    QVariant dateTime(qsizetype at)
    {
        json::Reader r(m_text, at);
        if (r.readNull())
            return fw::nullValue();
        QString text;
        bool ok = false;
        const QDateTime dt = r.readString(&text) ? fw::dateTimeFromText(text, &ok) : QDateTime();
        if (!ok)
            malformed(QStringLiteral("data-hora malformada"));
        return dt;
    }

    QVariant any(qsizetype at)
    {
        json::Reader r(m_text, at);
        switch (r.peek()) {
        case json::Type::Null: return fw::nullValue();
        case json::Type::Bool: {
            bool b = false;
            r.readBool(&b);
            return b;
        }
        case json::Type::String: {
            QString s;
            r.readString(&s);
            return s;
        }
        case json::Type::Number: {
            double d = 0;
            if (!r.readNumber(&d))
                malformed(QStringLiteral("número fora do intervalo"));
            if (std::floor(d) == d && std::fabs(d) <= 9.007199254740992e15)
                return static_cast<qlonglong>(d);
            return d;
        }
        case json::Type::Array: {
            QVariantList out;
            r.enterArray();
            while (r.nextElement()) {
                const qsizetype item = r.offset();
                out.append(any(item));
                r.seek(item);
                r.skip();
            }
            return out;
        }
        case json::Type::Object: {
            const Wrapped w = wrappedAt(m_text, at);
            switch (w.kind) {
            case Wrapped::Kind::DateTime: return dateTime(w.at);
            case Wrapped::Kind::Packet: return QVariant::fromValue(packet(w.at, {}, 0));
            case Wrapped::Kind::Delta: return QVariant::fromValue(delta(w.at, 0));
            case Wrapped::Kind::Unknown: break;
            }
            malformed(QStringLiteral("objeto de valor desconhecido"));
        }
        case json::Type::Invalid: break;
        }
        malformed(QStringLiteral("valor desconhecido"));
    }

    // The members of a packet's or change's object, by name.
    struct Members {
        qsizetype fields = -1, rows = -1, changes = -1, op = -1, row = -1, oldRow = -1, newRow = -1;
    };
    Members members(qsizetype at)
    {
        Members m;
        json::Reader r(m_text, at);
        r.forEachMember([&](const QString& key, qsizetype value) {
            if (key == QLatin1String("fields"))
                m.fields = value;
            else if (key == QLatin1String("rows"))
                m.rows = value;
            else if (key == QLatin1String("changes"))
                m.changes = value;
            else if (key == QLatin1String("op"))
                m.op = value;
            else if (key == QLatin1String("row"))
                m.row = value;
            else if (key == QLatin1String("old"))
                m.oldRow = value;
            else if (key == QLatin1String("new"))
                m.newRow = value;
        });
        return m;
    }

    fw::FieldDefs fields(qsizetype at)
    {
        json::Reader r(m_text, at < 0 ? m_text.size() : at);
        if (at < 0 || !r.enterArray())
            malformed(QStringLiteral("a lista de campos do pacote deve ser um array"));
        fw::FieldDefs out;
        while (r.nextElement()) {
            const qsizetype item = r.offset();
            fw::FieldDef f;
            QString typeName;
            bool isObject = false;
            json::Reader o(m_text, item);
            isObject = o.forEachMember([&](const QString& key, qsizetype value) {
                json::Reader v(m_text, value);
                double d = 0;
                bool b = false;
                if (key == QLatin1String("name"))
                    v.readString(&f.name);
                else if (key == QLatin1String("type"))
                    v.readString(&typeName);
                else if (key == QLatin1String("size") && v.readNumber(&d))
                    f.size = d >= 0 && d < 1e9 ? int(d) : 0;
                else if (key == QLatin1String("fixed") && v.readBool(&b))
                    f.fixed = b;
                else if (key == QLatin1String("required") && v.readBool(&b))
                    f.required = b;
            });
            if (!isObject || f.name.isEmpty())
                malformed(QStringLiteral("um campo do pacote não tem nome"));
            if (!fw::fieldTypeFromName(typeName, &f.type))
                malformed(QStringLiteral("o campo %1 tem um tipo desconhecido").arg(f.name));
            out.append(f);
            r.seek(item);
            r.skip();
        }
        return out;
    }

    // One row, checked against every field as it is read; only the kept columns stay.
    fw::Row row(qsizetype at, const fw::FieldDefs& defs, const std::vector<bool>& keep, int kept)
    {
        static const QString arity = QStringLiteral("uma linha do pacote não tem um valor para cada campo");
        json::Reader r(m_text, at < 0 ? m_text.size() : at);
        if (at < 0 || !r.enterArray())
            malformed(arity);
        fw::Row out;
        out.reserve(kept);
        qsizetype i = 0;
        QString error;
        while (r.nextElement()) {
            if (i >= defs.size())
                malformed(arity);
            const fw::FieldDef& f = defs[i];
            QJsonValue v;
            switch (r.peek()) {
            case json::Type::Null:
                r.readNull();
                v = QJsonValue(QJsonValue::Null);
                break;
            case json::Type::Bool: {
                bool b = false;
                r.readBool(&b);
                v = b;
                break;
            }
            case json::Type::Number: {
                double d = 0;
                if (!r.readNumber(&d))
                    malformed(QStringLiteral("o valor do campo %1 está fora do intervalo").arg(f.name));
                v = d;
                break;
            }
            case json::Type::String: {
                if (!keep[size_t(i)] && f.type != fw::FieldType::DateTime) {
                    r.readString(nullptr);
                    v = QString();
                    break;
                }
                QString s;
                r.readString(&s);
                v = s;
                break;
            }
            case json::Type::Array:
            case json::Type::Object:
            case json::Type::Invalid:
                r.skip();
                v = QJsonValue(QJsonValue::Array);
                break;
            }
            QVariant value;
            if (!fw::json::decodeRowValue(f, v, &value, &error))
                malformed(error);
            if (keep[size_t(i)])
                out.append(std::move(value));
            ++i;
        }
        if (i != defs.size())
            malformed(arity);
        return out;
    }

    // The kept columns: those the method reads, or every one.
    static std::vector<bool> keptColumns(const fw::FieldDefs& defs, const QStringList& columns, int* kept)
    {
        std::vector<bool> keep(size_t(defs.size()), columns.isEmpty());
        *kept = columns.isEmpty() ? int(defs.size()) : 0;
        if (!columns.isEmpty())
            for (qsizetype i = 0; i < defs.size(); ++i)
                if (columns.contains(defs[i].name, Qt::CaseInsensitive)) {
                    keep[size_t(i)] = true;
                    ++*kept;
                }
        return keep;
    }

    // Rows beyond the bound are checked, then dropped.
    static bool keepsRow(qsizetype stored, int maxRows) { return maxRows <= 0 || stored <= maxRows; }

    fw::DataPacket packet(qsizetype at, const QStringList& columns, int maxRows)
    {
        if (json::Reader(m_text, at).peek() != json::Type::Object)
            malformed(QStringLiteral("não é um pacote de dados"));
        const Members m = members(at);
        const fw::FieldDefs all = fields(m.fields);
        int kept = 0;
        const std::vector<bool> keep = keptColumns(all, columns, &kept);
        fw::DataPacket p;
        for (qsizetype i = 0; i < all.size(); ++i)
            if (keep[size_t(i)])
                p.fields.append(all[i]);
        json::Reader r(m_text, m.rows < 0 ? m_text.size() : m.rows);
        if (m.rows < 0 || !r.enterArray())
            malformed(QStringLiteral("as linhas do pacote devem ser um array"));
        while (r.nextElement()) {
            const qsizetype item = r.offset();
            fw::Row checked = row(item, all, keep, kept);
            if (keepsRow(p.rows.size(), maxRows))
                p.rows.append(std::move(checked));
            r.seek(item);
            r.skip();
        }
        return p;
    }

    fw::DeltaPacket delta(qsizetype at, int maxRows)
    {
        if (json::Reader(m_text, at).peek() != json::Type::Object)
            malformed(QStringLiteral("não é um pacote de alterações"));
        const Members m = members(at);
        fw::DeltaPacket d;
        d.fields = fields(m.fields);
        int kept = 0;
        const std::vector<bool> keep = keptColumns(d.fields, {}, &kept);
        json::Reader r(m_text, m.changes < 0 ? m_text.size() : m.changes);
        if (m.changes < 0 || !r.enterArray())
            malformed(QStringLiteral("as alterações do pacote devem ser um array"));
        while (r.nextElement()) {
            const qsizetype item = r.offset();
            const Members c = json::Reader(m_text, item).peek() == json::Type::Object ? members(item) : Members{};
            QString op;
            if (c.op >= 0)
                json::Reader(m_text, c.op).readString(&op);
            fw::DeltaChange change;
            if (op == QLatin1String("insert")) {
                change.op = fw::DeltaChange::Op::Insert;
                change.newRow = row(c.row, d.fields, keep, kept);
            } else if (op == QLatin1String("modify")) {
                change.op = fw::DeltaChange::Op::Modify;
                change.oldRow = row(c.oldRow, d.fields, keep, kept);
                change.newRow = row(c.newRow, d.fields, keep, kept);
            } else if (op == QLatin1String("delete")) {
                change.op = fw::DeltaChange::Op::Delete;
                change.oldRow = row(c.oldRow, d.fields, keep, kept);
            } else {
                malformed(QStringLiteral("operação de alteração desconhecida"));
            }
            if (keepsRow(d.changes.size(), maxRows))
                d.changes.append(std::move(change));
            r.seek(item);
            r.skip();
        }
        return d;
    }

    const QByteArray& m_text;
    const QString& m_label;
};

} // namespace

QVariant decodeArgument(const QByteArray& text, qsizetype offset, const ArgSpec& declared, const QString& label)
{
    return Decoder(text, label).argument(offset, declared);
}

} // namespace srv
