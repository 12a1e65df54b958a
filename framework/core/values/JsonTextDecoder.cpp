#include "core/values/JsonTextDecoder.h"

#include <QDateTime>
#include <cmath>
#include <cstring>
#include <exception>
#include <future>

#include "core/values/JsonCodec.h"
#include "core/values/JsonReader.h"
#include "core/values/JsonRow_p.h"
#include "core/values/Value.h"

namespace fw::json {

namespace {

[[noreturn]] void fail(const QString& why) { decodeFailure(why); }

bool integral(double d) { return integralNumber(d); }

} // namespace

struct TextDecoder::Members {
    qsizetype fields = -1, changes = -1, op = -1, row = -1, oldRow = -1, newRow = -1;
};

TextDecoder::Wrapper TextDecoder::wrapper(qsizetype at, qsizetype* inner) const
{
    Reader r(m_text, at);
    qsizetype dateTime = -1, packet = -1, delta = -1;
    r.forEachMember([&](const QString& key, qsizetype value) {
        if (key == QLatin1String("$datetime"))
            dateTime = value;
        else if (key == QLatin1String("$packet"))
            packet = value;
        else if (key == QLatin1String("$delta"))
            delta = value;
    });
    if (dateTime >= 0) {
        *inner = dateTime;
        return Wrapper::DateTime;
    }
    if (packet >= 0) {
        *inner = packet;
        return Wrapper::Packet;
    }
    if (delta >= 0) {
        *inner = delta;
        return Wrapper::Delta;
    }
    return Wrapper::None;
}

QVariant TextDecoder::dateTime(qsizetype at)
{
    Reader r(m_text, at);
    if (r.readNull())
        return nullValue();
    QString text;
    bool ok = false;
    const QDateTime dt = r.readString(&text) ? dateTimeFromText(text, &ok) : QDateTime();
    if (!ok)
        fail(QStringLiteral("data-hora malformada"));
    return dt;
}

QVariant TextDecoder::value(qsizetype at)
{
    Reader r(m_text, at);
    return value(r);
}

QVariant TextDecoder::value(Reader& r)
{
    const qsizetype at = r.offset();
    switch (r.peek()) {
    case Type::Null: r.readNull(); return nullValue();
    case Type::Bool: {
        bool b = false;
        r.readBool(&b);
        return b;
    }
    case Type::String: {
        QString s;
        r.readString(&s);
        return s;
    }
    case Type::Number: {
        double d = 0;
        if (!r.readNumber(&d))
            fail(QStringLiteral("número fora do intervalo"));
        if (integral(d))
            return static_cast<qlonglong>(d);
        return d;
    }
    case Type::Array: {
        QVariantList out;
        r.enterArray();
        while (r.nextElement())
            out.append(value(r));
        return out;
    }
    case Type::Object: {
        // The writers give a wrapper one member: its value is read where it stands, in the
        // one pass. Anything else is looked at whole.
        QString key;
        r.enterObject();
        if (r.nextMember(&key)) {
            try {
                QVariant v;
                if (key == QLatin1String("$datetime")) {
                    v = dateTime(r.offset());
                    r.skip();
                } else if (key == QLatin1String("$packet")) {
                    v = QVariant::fromValue(packet(r));
                }
                if (v.isValid() && !r.nextMember(&key))
                    return v;
            } catch (const DecodeError&) {
                // another member may be the one that counts
            }
        }
        r.seek(at);
        r.skip();
        qsizetype inner = -1;
        switch (wrapper(at, &inner)) {
        case Wrapper::DateTime: return dateTime(inner);
        case Wrapper::Packet: return QVariant::fromValue(packet(inner));
        case Wrapper::Delta: return QVariant::fromValue(delta(inner));
        case Wrapper::None: break;
        }
        fail(QStringLiteral("objeto de valor desconhecido"));
    }
    case Type::Invalid: break;
    }
    fail(QStringLiteral("valor desconhecido"));
}

TextDecoder::Members TextDecoder::members(qsizetype at) const
{
    Members m;
    Reader r(m_text, at);
    r.forEachMember([&](const QString& key, qsizetype value) {
        if (key == QLatin1String("fields"))
            m.fields = value;
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

FieldDefs TextDecoder::fields(qsizetype at)
{
    Reader r(m_text, at < 0 ? m_text.size() : at);
    if (at < 0 || !r.enterArray())
        fail(QStringLiteral("a lista de campos do pacote deve ser um array"));
    FieldDefs out;
    while (r.nextElement()) {
        const qsizetype item = r.offset();
        FieldDef f;
        QString typeName;
        const bool isObject = Reader(m_text, item).forEachMember([&](const QString& key, qsizetype value) {
            Reader v(m_text, value);
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
            fail(QStringLiteral("um campo do pacote não tem nome"));
        if (!fieldTypeFromName(typeName, &f.type))
            fail(QStringLiteral("o campo %1 tem um tipo desconhecido").arg(f.name));
        out.append(f);
        r.seek(item);
        r.skip();
    }
    return out;
}

// A string's text; the short ones without escapes come from the table of those seen.
QString TextDecoder::text(Reader& r)
{
    constexpr size_t kSlots = 1024;
    QByteArrayView raw;
    if (!r.readPlainString(&raw)) {
        QString s;
        r.readString(&s);
        return s;
    }
    if (raw.size() > 8)
        return QString::fromUtf8(raw);
    quint64 bytes = 0;
    std::memcpy(&bytes, raw.data(), size_t(raw.size()));
    if (m_short.empty())
        m_short.resize(kSlots);
    Short& slot = m_short[size_t((bytes * 0x9E3779B97F4A7C15ULL) >> 54) % kSlots];
    if (slot.size != raw.size() || slot.bytes != bytes) {
        slot.bytes = bytes;
        slot.size = raw.size();
        slot.text = QString::fromUtf8(raw);
    }
    return slot.text;
}

Row TextDecoder::row(qsizetype at, const FieldDefs& defs, const std::vector<bool>& keep, int kept)
{
    Reader r(m_text, at < 0 ? m_text.size() : at);
    return row(r, defs, keep, at < 0 ? -1 : kept);
}

// One row, each value read by its field's type straight into the row; a column not kept
// is still checked. The cursor ends past the row.
Row TextDecoder::row(Reader& r, const FieldDefs& defs, const std::vector<bool>& keep, int kept)
{
    struct Sink {
        TextDecoder& decoder;
        const std::vector<bool>& keep;
        Row out;
        bool keeps(int i) const { return keep[size_t(i)]; }
        void null() { out.append(nullValue()); }
        void text(Reader& r) { out.append(decoder.text(r)); }
        void integer(qint64 v) { out.append(QVariant(static_cast<qlonglong>(v))); }
        void real(double v) { out.append(QVariant(v)); }
        void boolean(bool v) { out.append(v); }
        void dateTime(const QDateTime& v) { out.append(v); }
    } sink{*this, keep, {}};
    if (kept < 0)
        fail(QStringLiteral("uma linha do pacote não tem um valor para cada campo"));
    sink.out.reserve(kept);
    readRow(r, defs, sink);
    return std::move(sink.out);
}

namespace {

std::vector<bool> keptColumns(const FieldDefs& defs, const QStringList& columns, int* kept)
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

// One row past the bound is kept, so that the caller can tell there were more.
bool keepsRow(qsizetype stored, int maxRows) { return maxRows <= 0 || stored <= maxRows; }

} // namespace

DataPacket TextDecoder::packet(qsizetype at, const QStringList& columns, int maxRows)
{
    Reader r(m_text, at);
    return packet(r, columns, maxRows);
}

DataPacket TextDecoder::packet(Reader& r, const QStringList& columns, int maxRows)
{
    if (!r.enterObject())
        fail(QStringLiteral("não é um pacote de dados"));
    FieldDefs all;
    std::vector<bool> keep;
    int kept = 0;
    DataPacket p;
    auto readRows = [&](Reader& rows) {
        if (!rows.enterArray())
            fail(QStringLiteral("as linhas do pacote devem ser um array"));
        while (rows.nextElement()) {
            Row checked = row(rows, all, keep, kept);
            if (keepsRow(p.rows.size(), maxRows))
                p.rows.append(std::move(checked));
        }
    };
    // Every writer puts the rows after the fields: they are then read where they stand,
    // in the one pass; rows written first are read once the fields are known.
    qsizetype fieldsAt = -1, rowsAt = -1;
    QString key;
    while (r.nextMember(&key)) {
        const qsizetype value = r.offset();
        const bool isFields = key == QLatin1String("fields"), isRows = key == QLatin1String("rows");
        if ((isFields && fieldsAt >= 0) || (isRows && rowsAt >= 0))
            fail(QStringLiteral("o pacote repete o membro %1").arg(key));
        if (isFields) {
            fieldsAt = value;
            all = fields(value);
            keep = keptColumns(all, columns, &kept);
        } else if (isRows) {
            rowsAt = value;
            if (fieldsAt >= 0) {
                readRows(r);
                continue;
            }
        }
        r.seek(value);
        r.skip();
    }
    if (fieldsAt < 0)
        fail(QStringLiteral("a lista de campos do pacote deve ser um array"));
    if (rowsAt < 0)
        fail(QStringLiteral("as linhas do pacote devem ser um array"));
    if (rowsAt < fieldsAt) {
        Reader rows(m_text, rowsAt);
        readRows(rows);
    }
    for (qsizetype i = 0; i < all.size(); ++i)
        if (keep[size_t(i)])
            p.fields.append(all[i]);
    return p;
}

DeltaPacket TextDecoder::delta(qsizetype at, int maxRows)
{
    if (Reader(m_text, at).peek() != Type::Object)
        fail(QStringLiteral("não é um pacote de alterações"));
    const Members m = members(at);
    DeltaPacket d;
    d.fields = fields(m.fields);
    int kept = 0;
    const std::vector<bool> keep = keptColumns(d.fields, {}, &kept);
    Reader r(m_text, m.changes < 0 ? m_text.size() : m.changes);
    if (m.changes < 0 || !r.enterArray())
        fail(QStringLiteral("as alterações do pacote devem ser um array"));
    while (r.nextElement()) {
        const qsizetype item = r.offset();
        const Members c = Reader(m_text, item).peek() == Type::Object ? members(item) : Members{};
        QString op;
        if (c.op >= 0)
            Reader(m_text, c.op).readString(&op);
        DeltaChange change;
        if (op == QLatin1String("insert")) {
            change.op = DeltaChange::Op::Insert;
            change.newRow = row(c.row, d.fields, keep, kept);
        } else if (op == QLatin1String("modify")) {
            change.op = DeltaChange::Op::Modify;
            change.oldRow = row(c.oldRow, d.fields, keep, kept);
            change.newRow = row(c.newRow, d.fields, keep, kept);
        } else if (op == QLatin1String("delete")) {
            change.op = DeltaChange::Op::Delete;
            change.oldRow = row(c.oldRow, d.fields, keep, kept);
        } else {
            fail(QStringLiteral("operação de alteração desconhecida"));
        }
        if (keepsRow(d.changes.size(), maxRows))
            d.changes.append(std::move(change));
        r.seek(item);
        r.skip();
    }
    return d;
}

namespace {

// A list of a few large values, such as an invoice list and its letters, is decoded one
// value a thread: the user waits for the largest alone, not for their sum.
constexpr qsizetype kParallelFrom = 4 * 1024 * 1024;
constexpr int kMaxParallel = 4;

QVariant decodeList(const QByteArray& text, qsizetype at)
{
    if (text.size() - at < kParallelFrom)
        return TextDecoder(text).value(at);
    Reader r(text, at);
    if (!r.enterArray())
        return TextDecoder(text).value(at);
    std::vector<qsizetype> items;
    while (r.nextElement()) {
        items.push_back(r.offset());
        if (items.size() > size_t(kMaxParallel))
            return TextDecoder(text).value(at);
        r.skip();
    }
    std::vector<std::future<QVariant>> rest;
    for (size_t i = 1; i < items.size(); ++i)
        rest.push_back(std::async(std::launch::async, [&text, at = items[i]] { return TextDecoder(text).value(at); }));
    QVariantList out;
    out.reserve(qsizetype(items.size()));
    std::exception_ptr failed;
    try {
        if (!items.empty())
            out.append(TextDecoder(text).value(items[0]));
    } catch (...) {
        failed = std::current_exception();
    }
    // Every thread is waited for before anything is thrown: they read the text.
    for (std::future<QVariant>& f : rest) {
        try {
            out.append(f.get());
        } catch (...) {
            if (!failed)
                failed = std::current_exception();
        }
    }
    if (failed)
        std::rethrow_exception(failed);
    return out;
}

} // namespace

QVariant decodeText(const QByteArray& text, qsizetype at, QString* error)
{
    try {
        return decodeList(text, at);
    } catch (const DecodeError& e) {
        if (error)
            *error = e.why;
        return QVariant();
    }
}

} // namespace fw::json
