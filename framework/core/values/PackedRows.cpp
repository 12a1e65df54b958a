#include "core/values/PackedRows.h"

#include <cstring>
#include <vector>

#include "core/values/Value.h"

namespace fw {

namespace {

// Rows are copied into blocks of this size; a larger row gets a block of its own.
constexpr qsizetype kBlock = 1024 * 1024;

// Short texts repeat down a column ("N", "0001", "55") and a grid asks for them again and
// again: one shared copy each, per thread.
QString shortText(const char* p, int n)
{
    struct Slot {
        quint64 bytes = 0;
        int size = -1;
        QString text;
    };
    constexpr size_t kSlots = 1024;
    thread_local std::vector<Slot> table(kSlots);
    quint64 bytes = 0;
    std::memcpy(&bytes, p, size_t(n));
    Slot& slot = table[size_t((bytes * 0x9E3779B97F4A7C15ULL) >> 54) % kSlots];
    if (slot.size != n || slot.bytes != bytes) {
        slot.bytes = bytes;
        slot.size = n;
        slot.text = QString::fromUtf8(p, n);
    }
    return slot.text;
}

template <class T>
T read(const char* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

// A row: one byte saying whether the offsets are wide, the offset of each value from the
// end of the table (16 bits, or 32 for a row past 64 KiB), then the values: a kind byte
// and what that kind holds.
PackedRows::PackedRows(int columns) : m_columns(columns) { m_at.reserve(size_t(columns)); }

PackedRows::~PackedRows() = default;

void PackedRows::put(const void* data, qsizetype n)
{
    const char* p = static_cast<const char*>(data);
    m_row.insert(m_row.end(), p, p + n);
}

void PackedRows::kind(Kind k)
{
    m_at.push_back(quint32(m_row.size()));
    m_row.push_back(char(k));
}

void PackedRows::addNull() { kind(Null); }

void PackedRows::addText(QByteArrayView utf8)
{
    const qsizetype n = utf8.size();
    if (n < 256) {
        kind(ShortText);
        m_row.push_back(char(quint8(n)));
    } else {
        kind(Text);
        const quint32 size = quint32(n);
        put(&size, sizeof size);
    }
    put(utf8.data(), n);
}

void PackedRows::addText(const QString& text)
{
    // UTF-8 holds every text but one with a lone half of a surrogate pair.
    if (QStringView(text).isValidUtf16()) {
        const QByteArray utf8 = text.toUtf8();
        addText(QByteArrayView(utf8));
        return;
    }
    kind(Utf16);
    const quint32 size = quint32(text.size());
    put(&size, sizeof size);
    put(text.constData(), text.size() * qsizetype(sizeof(QChar)));
}

void PackedRows::addInteger(qint64 v)
{
    kind(Integer);
    put(&v, sizeof v);
}

void PackedRows::addFloat(double v)
{
    kind(Float);
    put(&v, sizeof v);
}

void PackedRows::addBoolean(bool v) { kind(v ? True : False); }

void PackedRows::addDateTime(const QDateTime& v)
{
    kind(DateTime);
    const qint64 day = v.date().toJulianDay();
    const qint32 ms = v.time().msecsSinceStartOfDay();
    put(&day, sizeof day);
    put(&ms, sizeof ms);
}

void PackedRows::dropRow()
{
    m_row.clear();
    m_at.clear();
}

bool PackedRows::endRow()
{
    if (int(m_at.size()) != m_columns) {
        dropRow();
        return false;
    }
    const bool wide = m_row.size() > 0xffff;
    const qsizetype table = 1 + qsizetype(m_columns) * (wide ? 4 : 2);
    const qsizetype size = table + qsizetype(m_row.size());
    if (size > m_room) {
        const qsizetype block = qMax(size, kBlock);
        m_blocks.push_back(std::make_unique<char[]>(size_t(block)));
        m_free = m_blocks.back().get();
        m_room = block;
    }
    char* p = m_free;
    *p++ = char(wide);
    for (const quint32 at : m_at) {
        if (wide) {
            std::memcpy(p, &at, 4);
            p += 4;
        } else {
            const quint16 at16 = quint16(at);
            std::memcpy(p, &at16, 2);
            p += 2;
        }
    }
    std::memcpy(p, m_row.data(), m_row.size());
    m_rows.push_back(m_free);
    m_free += size;
    m_room -= size;
    dropRow();
    return true;
}

const char* PackedRows::cell(int row, int column) const
{
    const char* p = m_rows[size_t(row)];
    const bool wide = *p != 0;
    const char* values = p + 1 + qsizetype(m_columns) * (wide ? 4 : 2);
    const quint32 at = wide ? read<quint32>(p + 1 + column * 4) : read<quint16>(p + 1 + column * 2);
    return values + at;
}

bool PackedRows::isNull(int row, int column) const { return Kind(*cell(row, column)) == Null; }

bool PackedRows::utf8(int row, int column, QByteArrayView* text) const
{
    const char* p = cell(row, column);
    switch (Kind(*p)) {
    case ShortText: *text = QByteArrayView(p + 2, quint8(p[1])); return true;
    case Text: *text = QByteArrayView(p + 5, qsizetype(read<quint32>(p + 1))); return true;
    default: return false;
    }
}

QVariant PackedRows::value(int row, int column) const
{
    const char* p = cell(row, column);
    switch (Kind(*p)) {
    case Null: return nullValue();
    case ShortText: {
        const int n = quint8(p[1]);
        return n <= 8 ? shortText(p + 2, n) : QString::fromUtf8(p + 2, n);
    }
    case Text: return QString::fromUtf8(p + 5, qsizetype(read<quint32>(p + 1)));
    case Utf16: {
        QString text(qsizetype(read<quint32>(p + 1)), Qt::Uninitialized);
        std::memcpy(text.data(), p + 5, size_t(text.size()) * sizeof(QChar));
        return text;
    }
    case Integer: return QVariant(qlonglong(read<qint64>(p + 1)));
    case Float: return read<double>(p + 1);
    case False: return false;
    case True: return true;
    case DateTime:
        return QDateTime(QDate::fromJulianDay(read<qint64>(p + 1)),
                         QTime::fromMSecsSinceStartOfDay(read<qint32>(p + 1 + sizeof(qint64))));
    }
    return nullValue();
}

Row PackedRows::row(int row) const
{
    Row out;
    out.reserve(m_columns);
    for (int c = 0; c < m_columns; ++c)
        out.append(value(row, c));
    return out;
}

} // namespace fw
