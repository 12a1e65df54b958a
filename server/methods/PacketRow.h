#pragma once
// A statement's row as the packet writers read it, whichever road it came by: Qt's driver
// (any database) or SQLite's own calls, whose text goes into the JSON as the UTF-8 bytes
// SQLite holds. Both give the same JSON for the same row.
#include "server/methods/PacketWriter.h"
#include "server/store/ColumnValues.h"
#include "server/store/Query.h"
#include "server/store/SqliteStatement.h"

namespace srv::methods {

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
    void textOrEmpty(PacketWriter& w, int c) const
    {
        if (m_s.isNull(c))
            w.string(QString());
        else
            stringOrNull(w, c);
    }
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

private:
    const SqliteStatement& m_s;
};

} // namespace srv::methods
