#pragma once
// A statement's row as the packet writers read it, whichever road it came by: Qt's driver
// (any database), SQLite's own calls or libpq's, whose text goes into the JSON as the
// UTF-8 bytes the database holds. Every road gives the same JSON for the same row.
//
// The in-memory joins also take from a row the key of two text columns (an invoice's
// CDFILIAL and NRLANCTONF) and a letter's sequence as bytes: each value as its storage
// class, its size and its bytes, so that equal keys are the ones the database's own =
// finds equal, and sequences order as its comparison of them does.
#include <string>

#include "server/methods/PacketWriter.h"
#include "server/store/ColumnValues.h"
#include "server/store/PgStatement.h"
#include "server/store/Query.h"
#include "server/store/SqliteStatement.h"

namespace srv::methods {

// The two text (or bytes) columns of a key from c, each as its storage class, its size
// and its bytes; false, out partly written, when one is neither.
template <class Row>
bool appendKey(std::string& out, const Row& r, int c)
{
    for (int k = c; k < c + 2; ++k) {
        SqliteStatement::Stored v;
        if (!r.textOrBytes(k, &v))
            return false;
        out.push_back(char(v.type));
        out.append(reinterpret_cast<const char*>(&v.size), sizeof v.size);
        out.append(v.data ? v.data : "", size_t(v.size));
    }
    return true;
}

// A null text written as the empty one, any other as the row writes its text.
template <class Row>
void nullAsEmpty(const Row& r, PacketWriter& w, int c)
{
    if (r.isNull(c))
        w.string(QString());
    else
        r.stringOrNull(w, c);
}

class QueryRow {
public:
    explicit QueryRow(const Query& q) : m_q(q) {}
    bool isNull(int c) const { return m_q.value(c).isNull(); }
    QVariant value(int c) const { return m_q.value(c); }
    bool textIs(int c, QLatin1String s) const { return m_q.value(c).toString() == s; }
    void stringOrNull(PacketWriter& w, int c) const { w.stringOrNull(m_q.value(c)); }
    void textOrEmpty(PacketWriter& w, int c) const { w.string(column::text(m_q.value(c))); }
    void numberOrNull(PacketWriter& w, int c) const { w.numberOrNull(m_q.value(c)); }
    void dateTimeOrNull(PacketWriter& w, int c) const { w.dateTimeOrNull(m_q.value(c)); }
    void brazilianDate(PacketWriter& w, int c) const { w.brazilianDate(m_q.value(c)); }

private:
    const Query& m_q;
};

// What is not text at face value goes through the value the Qt driver would have made.
class SqliteRow {
public:
    explicit SqliteRow(const SqliteStatement& s) : m_s(s) {}
    bool isNull(int c) const { return m_s.isNull(c); }
    QVariant value(int c) const { return m_s.value(c); }
    bool textIs(int c, QLatin1String s) const { return m_s.textIs(c, s); }
    void stringOrNull(PacketWriter& w, int c) const
    {
        const SqliteStatement::Stored v = m_s.stored(c);
        if (v.type == SqliteStatement::Null)
            return w.null();
        if (v.type == SqliteStatement::Text && v.data && w.utf8(v.data, v.size))
            return;
        w.stringOrNull(m_s.value(c));
    }
    void textOrEmpty(PacketWriter& w, int c) const { nullAsEmpty(*this, w, c); }
    void numberOrNull(PacketWriter& w, int c) const
    {
        switch (m_s.stored(c).type) {
        case SqliteStatement::Float: w.number(m_s.real(c)); return;
        case SqliteStatement::Integer: w.number(double(m_s.int64(c))); return;
        case SqliteStatement::Null: w.null(); return;
        default: w.numberOrNull(m_s.value(c)); return;
        }
    }
    void dateTimeOrNull(PacketWriter& w, int c) const
    {
        const SqliteStatement::Stored v = m_s.stored(c);
        if (v.type == SqliteStatement::Text && v.data && w.storedDateTime(v.data, v.size))
            return;
        w.dateTimeOrNull(m_s.value(c));
    }
    void brazilianDate(PacketWriter& w, int c) const
    {
        const SqliteStatement::Stored v = m_s.stored(c);
        if (v.type == SqliteStatement::Text && v.data && w.storedBrazilianDate(v.data, v.size))
            return;
        w.brazilianDate(m_s.value(c));
    }

    // Text and bytes only: SQLite's = finds no text equal to bytes, whatever they hold.
    bool textOrBytes(int c, SqliteStatement::Stored* v) const
    {
        *v = m_s.stored(c);
        return v->type == SqliteStatement::Text || v->type == SqliteStatement::Blob;
    }

private:
    const SqliteStatement& m_s;
};

// libpq's text of PostgreSQL's columns; every key and sequence is text.
class PgRow {
public:
    explicit PgRow(const PgStatement& s) : m_s(s) {}
    bool isNull(int c) const { return m_s.isNull(c); }
    QVariant value(int c) const { return m_s.value(c); }
    bool textIs(int c, QLatin1String s) const { return m_s.textIs(c, s); }
    void stringOrNull(PacketWriter& w, int c) const
    {
        if (m_s.isNull(c))
            return w.null();
        if (m_s.isText(c) && w.utf8(m_s.text(c), m_s.size(c)))
            return;
        w.stringOrNull(m_s.value(c));
    }
    void textOrEmpty(PacketWriter& w, int c) const { nullAsEmpty(*this, w, c); }
    void numberOrNull(PacketWriter& w, int c) const
    {
        if (m_s.isNull(c))
            return w.null();
        bool ok = false;
        const double d = m_s.isNumber(c) ? QByteArray::fromRawData(m_s.text(c), m_s.size(c)).toDouble(&ok) : 0;
        if (ok)
            return w.number(d);
        w.numberOrNull(m_s.value(c));
    }
    void dateTimeOrNull(PacketWriter& w, int c) const
    {
        if (!m_s.isNull(c) && m_s.isText(c) && w.storedDateTime(m_s.text(c), m_s.size(c)))
            return;
        w.dateTimeOrNull(m_s.value(c));
    }
    void brazilianDate(PacketWriter& w, int c) const
    {
        if (!m_s.isNull(c) && m_s.isText(c) && w.storedBrazilianDate(m_s.text(c), m_s.size(c)))
            return;
        w.brazilianDate(m_s.value(c));
    }

    bool textOrBytes(int c, SqliteStatement::Stored* v) const
    {
        if (m_s.isNull(c) || !m_s.isText(c))
            return false;
        *v = SqliteStatement::Stored{SqliteStatement::Text, m_s.text(c), m_s.size(c)};
        return true;
    }

private:
    const PgStatement& m_s;
};

} // namespace srv::methods
