#include "core/values/JsonCodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "core/values/Value.h"

namespace fw::json {

namespace {

const QString kDateTime = QStringLiteral("$datetime");
const QString kPacket = QStringLiteral("$packet");
const QString kDelta = QStringLiteral("$delta");

QJsonArray encodeFields(const FieldDefs& fields)
{
    QJsonArray out;
    for (const FieldDef& f : fields) {
        QJsonObject o{{QStringLiteral("name"), f.name}, {QStringLiteral("type"), fieldTypeName(f.type)}};
        if (f.type == FieldType::String)
            o.insert(QStringLiteral("size"), f.size);
        if (f.fixed)
            o.insert(QStringLiteral("fixed"), true);
        if (f.required)
            o.insert(QStringLiteral("required"), true);
        out.append(o);
    }
    return out;
}

bool decodeFields(const QJsonValue& v, FieldDefs* fields, QString* error)
{
    if (!v.isArray()) {
        *error = QStringLiteral("a lista de campos do pacote deve ser um array");
        return false;
    }
    for (const QJsonValue& fv : v.toArray()) {
        const QJsonObject o = fv.toObject();
        FieldDef f;
        f.name = o.value(QStringLiteral("name")).toString();
        if (!fv.isObject() || f.name.isEmpty()) {
            *error = QStringLiteral("um campo do pacote não tem nome");
            return false;
        }
        if (!fieldTypeFromName(o.value(QStringLiteral("type")).toString(), &f.type)) {
            *error = QStringLiteral("o campo %1 tem um tipo desconhecido").arg(f.name);
            return false;
        }
        f.size = o.value(QStringLiteral("size")).toInt(0);
        f.fixed = o.value(QStringLiteral("fixed")).toBool(false);
        f.required = o.value(QStringLiteral("required")).toBool(false);
        fields->append(f);
    }
    return true;
}

QJsonArray encodeRow(const FieldDefs& fields, const Row& row)
{
    QJsonArray out;
    for (int i = 0; i < fields.size(); ++i)
        out.append(encodeRowValue(fields[i], i < row.size() ? row[i] : QVariant()));
    return out;
}

bool decodeRow(const FieldDefs& fields, const QJsonValue& v, Row* row, QString* error)
{
    if (!v.isArray() || v.toArray().size() != fields.size()) {
        *error = QStringLiteral("uma linha do pacote não tem um valor para cada campo");
        return false;
    }
    const QJsonArray a = v.toArray();
    row->reserve(fields.size());
    for (int i = 0; i < fields.size(); ++i) {
        QVariant value;
        if (!decodeRowValue(fields[i], a[i], &value, error))
            return false;
        row->append(value);
    }
    return true;
}

} // namespace

QJsonValue encodeRowValue(const FieldDef& field, const QVariant& value)
{
    if (isNullOrEmpty(value))
        return QJsonValue(QJsonValue::Null);
    switch (field.type) {
    case FieldType::String:
    case FieldType::Blob: return value.toString();
    case FieldType::Integer: return value.toLongLong();
    case FieldType::Float: return value.toDouble();
    case FieldType::Boolean: return value.toBool();
    case FieldType::DateTime: return dateTimeToText(value.toDateTime());
    }
    return QJsonValue(QJsonValue::Null);
}

// The kind of a field's values, as the argument messages (in Portuguese) name it.
QString kindText(FieldType t)
{
    switch (t) {
    case FieldType::String: return QStringLiteral("texto");
    case FieldType::Integer: return QStringLiteral("número inteiro");
    case FieldType::Float: return QStringLiteral("número");
    case FieldType::Boolean: return QStringLiteral("booleano");
    case FieldType::DateTime: return QStringLiteral("data-hora");
    case FieldType::Blob: return QStringLiteral("texto");
    }
    return QString();
}

bool decodeRowValue(const FieldDef& field, const QJsonValue& v, QVariant* out, QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (v.isNull() || v.isUndefined()) {
        *out = nullValue();
        return true;
    }
    auto wrong = [&]() {
        *error = QStringLiteral("o valor do campo %1 não é %2").arg(field.name, kindText(field.type));
        return false;
    };
    switch (field.type) {
    case FieldType::String:
    case FieldType::Blob:
        if (!v.isString())
            return wrong();
        *out = v.toString();
        return true;
    case FieldType::Integer: {
        if (!v.isDouble())
            return wrong();
        const double d = v.toDouble();
        if (std::floor(d) != d || std::fabs(d) > 9.007199254740992e15)
            return wrong();
        *out = static_cast<qlonglong>(d);
        return true;
    }
    case FieldType::Float:
        if (!v.isDouble())
            return wrong();
        *out = v.toDouble();
        return true;
    case FieldType::Boolean:
        if (!v.isBool())
            return wrong();
        *out = v.toBool();
        return true;
    case FieldType::DateTime: {
        bool ok = false;
        const QDateTime dt = v.isString() ? dateTimeFromText(v.toString(), &ok) : QDateTime();
        if (!ok)
            return wrong();
        *out = dt;
        return true;
    }
    }
    return wrong();
}

QJsonValue encodePacket(const DataPacket& p)
{
    QJsonArray rows;
    for (int i = 0; i < p.rowCount(); ++i)
        rows.append(encodeRow(p.fields, p.row(i)));
    return QJsonObject{
        {kPacket, QJsonObject{{QStringLiteral("fields"), encodeFields(p.fields)}, {QStringLiteral("rows"), rows}}}};
}

QJsonValue encodeDelta(const DeltaPacket& d)
{
    QJsonArray changes;
    for (const DeltaChange& c : d.changes) {
        QJsonObject o;
        switch (c.op) {
        case DeltaChange::Op::Insert:
            o.insert(QStringLiteral("op"), QStringLiteral("insert"));
            o.insert(QStringLiteral("row"), encodeRow(d.fields, c.newRow));
            break;
        case DeltaChange::Op::Modify:
            o.insert(QStringLiteral("op"), QStringLiteral("modify"));
            o.insert(QStringLiteral("old"), encodeRow(d.fields, c.oldRow));
            o.insert(QStringLiteral("new"), encodeRow(d.fields, c.newRow));
            break;
        case DeltaChange::Op::Delete:
            o.insert(QStringLiteral("op"), QStringLiteral("delete"));
            o.insert(QStringLiteral("old"), encodeRow(d.fields, c.oldRow));
            break;
        }
        changes.append(o);
    }
    return QJsonObject{{kDelta, QJsonObject{{QStringLiteral("fields"), encodeFields(d.fields)},
                                            {QStringLiteral("changes"), changes}}}};
}

bool decodePacket(const QJsonValue& value, DataPacket* packet, QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    const QJsonValue body = value.toObject().value(kPacket);
    if (!body.isObject()) {
        *error = QStringLiteral("não é um pacote de dados");
        return false;
    }
    DataPacket p;
    if (!decodeFields(body.toObject().value(QStringLiteral("fields")), &p.fields, error))
        return false;
    const QJsonValue rows = body.toObject().value(QStringLiteral("rows"));
    if (!rows.isArray()) {
        *error = QStringLiteral("as linhas do pacote devem ser um array");
        return false;
    }
    const QJsonArray ra = rows.toArray();
    p.rows.reserve(ra.size());
    for (const QJsonValue& rv : ra) {
        Row r;
        if (!decodeRow(p.fields, rv, &r, error))
            return false;
        p.rows.append(std::move(r));
    }
    *packet = std::move(p);
    return true;
}

bool decodeDelta(const QJsonValue& value, DeltaPacket* delta, QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    const QJsonValue body = value.toObject().value(kDelta);
    if (!body.isObject()) {
        *error = QStringLiteral("não é um pacote de alterações");
        return false;
    }
    DeltaPacket d;
    if (!decodeFields(body.toObject().value(QStringLiteral("fields")), &d.fields, error))
        return false;
    const QJsonValue changes = body.toObject().value(QStringLiteral("changes"));
    if (!changes.isArray()) {
        *error = QStringLiteral("as alterações do pacote devem ser um array");
        return false;
    }
    for (const QJsonValue& cv : changes.toArray()) {
        const QJsonObject o = cv.toObject();
        const QString op = o.value(QStringLiteral("op")).toString();
        DeltaChange c;
        bool ok = true;
        if (op == QLatin1String("insert")) {
            c.op = DeltaChange::Op::Insert;
            ok = decodeRow(d.fields, o.value(QStringLiteral("row")), &c.newRow, error);
        } else if (op == QLatin1String("modify")) {
            c.op = DeltaChange::Op::Modify;
            ok = decodeRow(d.fields, o.value(QStringLiteral("old")), &c.oldRow, error) &&
                 decodeRow(d.fields, o.value(QStringLiteral("new")), &c.newRow, error);
        } else if (op == QLatin1String("delete")) {
            c.op = DeltaChange::Op::Delete;
            ok = decodeRow(d.fields, o.value(QStringLiteral("old")), &c.oldRow, error);
        } else {
            *error = QStringLiteral("operação de alteração desconhecida");
            return false;
        }
        if (!ok)
            return false;
        d.changes.append(std::move(c));
    }
    *delta = std::move(d);
    return true;
}

QJsonValue encode(const QVariant& value)
{
    if (isNullOrEmpty(value))
        return QJsonValue(QJsonValue::Null);
    const int type = value.metaType().id();
    if (type == qMetaTypeId<DataPacket>())
        return encodePacket(value.value<DataPacket>());
    if (type == qMetaTypeId<DeltaPacket>())
        return encodeDelta(value.value<DeltaPacket>());
    if (type == qMetaTypeId<RawJson>())
        return QJsonDocument::fromJson('[' + value.value<RawJson>().text + ']').array().at(0);
    switch (type) {
    case QMetaType::Bool: return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort: return value.toLongLong();
    case QMetaType::Double:
    case QMetaType::Float: return value.toDouble();
    case QMetaType::QDateTime:
        return value.toDateTime().isValid() ? QJsonValue(QJsonObject{{kDateTime, dateTimeToText(value.toDateTime())}})
                                            : QJsonValue(QJsonValue::Null);
    case QMetaType::QDate: return QJsonObject{{kDateTime, dateTimeToText(value.toDate().startOfDay())}};
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QJsonArray a;
        for (const QVariant& item : value.toList())
            a.append(encode(item));
        return a;
    }
    default: return value.toString();
    }
}

QVariant decode(const QJsonValue& v, QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    switch (v.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined: return nullValue();
    case QJsonValue::Bool: return v.toBool();
    case QJsonValue::String: return v.toString();
    case QJsonValue::Double: {
        const double d = v.toDouble();
        if (std::floor(d) == d && std::fabs(d) <= 9.007199254740992e15)
            return static_cast<qlonglong>(d);
        return d;
    }
    case QJsonValue::Array: {
        QVariantList out;
        for (const QJsonValue& item : v.toArray()) {
            QVariant x = decode(item, error);
            if (!x.isValid())
                return QVariant();
            out.append(x);
        }
        return out;
    }
    case QJsonValue::Object: {
        const QJsonObject o = v.toObject();
        if (o.contains(kDateTime)) {
            if (o.value(kDateTime).isNull())
                return nullValue();
            bool ok = false;
            const QDateTime dt = dateTimeFromText(o.value(kDateTime).toString(), &ok);
            if (!ok) {
                *error = QStringLiteral("data-hora malformada");
                return QVariant();
            }
            return dt;
        }
        if (o.contains(kPacket)) {
            DataPacket p;
            if (!decodePacket(v, &p, error))
                return QVariant();
            return QVariant::fromValue(p);
        }
        if (o.contains(kDelta)) {
            DeltaPacket d;
            if (!decodeDelta(v, &d, error))
                return QVariant();
            return QVariant::fromValue(d);
        }
        *error = QStringLiteral("objeto de valor desconhecido");
        return QVariant();
    }
    }
    *error = QStringLiteral("valor desconhecido");
    return QVariant();
}

} // namespace fw::json
