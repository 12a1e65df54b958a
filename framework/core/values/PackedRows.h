#pragma once
// The rows of a packet kept compact, as the client receives large lists: every value of
// every row in a few large blocks of bytes, text as the UTF-8 it travelled in, instead of
// a QVariant per value and a QString per text. A list of a whole company then costs about
// the bytes of its answer. value() gives the value a Row would hold (Packet.h); a data set
// reads the rows in place and keeps its own values only for the rows it changes.
#include <QByteArrayView>
#include <QDateTime>
#include <QVariant>
#include <memory>
#include <vector>

#include "core/values/Packet.h"

#include "core/CoreExport.h"

namespace fw {

class FW_CORE_EXPORT PackedRows {
public:
    explicit PackedRows(int columns);
    ~PackedRows();
    PackedRows(const PackedRows&) = delete;
    PackedRows& operator=(const PackedRows&) = delete;

    int size() const { return int(m_rows.size()); }
    int columns() const { return m_columns; }

    bool isNull(int row, int column) const;
    QVariant value(int row, int column) const; // null as fw::nullValue()
    Row row(int row) const;
    // The UTF-8 of a text value, false for any other kind (a text that UTF-8 cannot hold,
    // with a lone surrogate, included).
    bool utf8(int row, int column, QByteArrayView* text) const;

    // Building: a row's values in column order, then endRow(), which refuses (false,
    // nothing kept) a row without a value for each column.
    void addNull();
    void addText(QByteArrayView utf8); // valid UTF-8
    void addText(const QString& text);
    void addInteger(qint64 v);
    void addFloat(double v);
    void addBoolean(bool v);
    void addDateTime(const QDateTime& v); // local wall-clock time, as dateTimeFromText gives it
    bool endRow();
    void dropRow(); // forgets the values added since the last row

private:
    enum Kind : quint8 { Null, ShortText, Text, Utf16, Integer, Float, False, True, DateTime };
    const char* cell(int row, int column) const;
    void put(const void* data, qsizetype n);
    void kind(Kind k);

    int m_columns;
    int m_added = 0;
    std::vector<const char*> m_rows;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_free = nullptr; // the free room of the last block
    qsizetype m_room = 0;
    std::vector<char> m_row; // the row being built
    std::vector<quint32> m_at; // where each of its values begins
};

} // namespace fw
