// The field: values of the current row, their conversions and the text shown.
#include "core/dataset/DataSet.h"
#include "core/dataset/DataSet_p.h"
#include "core/dataset/NumberFormat.h"

namespace fw {

namespace {

// Cuts s to n characters (code points, so a surrogate pair is never split).
QString cutToSize(const QString& s, int n)
{
    if (n <= 0 || s.size() <= n)
        return s;
    int chars = 0, i = 0;
    while (i < s.size() && chars < n) {
        i += (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) ? 2 : 1;
        ++chars;
    }
    return s.left(i);
}

} // namespace

Field::Field(DataSet* owner, const FieldDef& def, int index)
    : QObject(owner), m_owner(owner), m_def(def), m_index(index)
{}

DataSet* Field::dataSet() const { return m_owner; }

QVariant Field::value() const
{
    QVariant tmp;
    const QVariant* v = m_owner->d->valueRef(m_index, tmp);
    return (!v || isNullOrEmpty(*v)) ? nullValue() : *v;
}

void Field::setValue(const QVariant& v)
{
    auto* d = m_owner->d.get();
    if (!d->editing())
        throw DataSetError(QStringLiteral("O conjunto de dados %1 não está em modo de edição ou inserção.")
                               .arg(m_owner->objectName()));
    bool ok = false;
    QVariant c = convertValue(v, m_def.type, &ok);
    if (!ok)
        throw DataSetError(
            QStringLiteral("'%1' não é um valor válido para o campo '%2'.").arg(v.toString(), m_def.name));
    if (m_def.type == FieldType::String && c.isValid()) {
        const QString s = cutToSize(c.toString(), m_def.size);
        c = s.isEmpty() ? QVariant() : QVariant(s);
    }
    d->buffer[m_index] = c;
    d->sigCurrent();
    d->sourcesData(this);
}

bool Field::isNull() const
{
    QVariant tmp;
    const QVariant* v = m_owner->d->valueRef(m_index, tmp);
    return !v || isNullOrEmpty(*v);
}

void Field::clear() { setValue(QVariant()); }

QString Field::asString() const
{
    QVariant tmp;
    const QVariant* v = m_owner->d->valueRef(m_index, tmp);
    if (!v || isNullOrEmpty(*v))
        return {};
    switch (m_def.type) {
    case FieldType::String:
    case FieldType::Blob: return v->toString();
    case FieldType::Integer: return QString::number(v->toLongLong());
    case FieldType::Float: return formatNumber(v->toDouble(), QString(), false);
    case FieldType::Boolean: return v->toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case FieldType::DateTime: return v->toDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    }
    return v->toString();
}

void Field::setAsString(const QString& s) { setValue(s); }

qlonglong Field::asInteger() const
{
    QVariant tmp;
    const QVariant* v = m_owner->d->valueRef(m_index, tmp);
    if (!v || isNullOrEmpty(*v))
        return 0;
    if (m_def.type == FieldType::Float)
        return qRound64(v->toDouble());
    bool ok = false;
    const QVariant c = convertValue(*v, FieldType::Integer, &ok);
    if (!ok)
        throw DataSetError(QStringLiteral("'%1' não é um valor inteiro válido.").arg(v->toString()));
    return c.toLongLong();
}

double Field::asFloat() const
{
    QVariant tmp;
    const QVariant* v = m_owner->d->valueRef(m_index, tmp);
    if (!v || isNullOrEmpty(*v))
        return 0;
    bool ok = false;
    const QVariant c = convertValue(*v, FieldType::Float, &ok);
    if (!ok)
        throw DataSetError(QStringLiteral("'%1' não é um valor numérico válido.").arg(v->toString()));
    return c.toDouble();
}

bool Field::asBoolean() const
{
    QVariant tmp;
    const QVariant* v = m_owner->d->valueRef(m_index, tmp);
    if (!v || isNullOrEmpty(*v))
        return false;
    bool ok = false;
    const QVariant c = convertValue(*v, FieldType::Boolean, &ok);
    return ok && c.toBool();
}

QDateTime Field::asDateTime() const
{
    QVariant tmp;
    const QVariant* v = m_owner->d->valueRef(m_index, tmp);
    if (!v || isNullOrEmpty(*v))
        return {};
    bool ok = false;
    const QVariant c = convertValue(*v, FieldType::DateTime, &ok);
    return ok ? c.toDateTime() : QDateTime();
}

QString Field::formatValue(const QVariant& v) const
{
    if (isNullOrEmpty(v))
        return {};
    switch (m_def.type) {
    case FieldType::String:
    case FieldType::Blob: return v.toString();
    case FieldType::Integer: return formatNumber(double(v.toLongLong()), m_displayFormat, true);
    case FieldType::Float: return formatNumber(v.toDouble(), m_displayFormat, false);
    case FieldType::Boolean: return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case FieldType::DateTime: {
        bool ok = false;
        const QDateTime dt = convertValue(v, FieldType::DateTime, &ok).toDateTime();
        if (!ok)
            return v.toString();
        return dt.toString(m_displayFormat.isEmpty() ? QStringLiteral("dd/MM/yyyy HH:mm:ss") : m_displayFormat);
    }
    }
    return v.toString();
}

QString Field::displayText() const
{
    if (OnGetText) {
        QString text;
        OnGetText(const_cast<Field*>(this), text, true);
        return text;
    }
    QVariant tmp;
    const QVariant* v = m_owner->d->valueRef(m_index, tmp);
    return v ? formatValue(*v) : QString();
}

QString Field::text() const
{
    if (OnGetText) {
        QString text;
        OnGetText(const_cast<Field*>(this), text, false);
        return text;
    }
    return asString();
}

} // namespace fw
