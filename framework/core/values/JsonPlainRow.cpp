#include "core/values/JsonPlainRow_p.h"

#include <QDateTime>

#include "core/values/JsonRow_p.h"
#include "core/values/JsonScan_p.h"

namespace fw::json {

namespace {

// A row longer than this is read piece by piece, not again from its start as pieces come.
constexpr qsizetype kLongRow = 64 * 1024;

// "yyyy-MM-ddTHH:mm:ss" of plain bytes as dateTimeFromText() reads it, false for any
// other text (which then goes its whole way).
bool plainDateTime(QByteArrayView raw, QDateTime* out)
{
    if (raw.size() != 19)
        return false;
    int n[6] = {};
    static const int at[6] = {0, 5, 8, 11, 14, 17}, len[6] = {4, 2, 2, 2, 2, 2};
    static const char sep[6] = {'-', '-', 'T', ':', ':', 0};
    for (int k = 0; k < 6; ++k) {
        for (int i = at[k]; i < at[k] + len[k]; ++i) {
            const char d = raw[i];
            if (d < '0' || d > '9')
                return false;
            n[k] = n[k] * 10 + (d - '0');
        }
        if (sep[k] && raw[at[k] + len[k]] != sep[k])
            return false;
    }
    const QDate date(n[0], n[1], n[2]);
    const QTime time(n[3], n[4], n[5]);
    if (!date.isValid() || !time.isValid())
        return false;
    *out = QDateTime(date, time);
    return out->isValid();
}

} // namespace

PlainRow packPlainRow(const QByteArray& text, qsizetype from, const FieldDefs& defs, PackedRows& out, bool final,
                      qsizetype* end)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.constData());
    const qsizetype n = text.size();
    qsizetype i = from + 1;
    auto more = [&](qsizetype reached) {
        out.dropRow();
        return final || reached - from > kLongRow ? PlainRow::No : PlainRow::More;
    };
    auto no = [&]() {
        out.dropRow();
        return PlainRow::No;
    };
    auto blanks = [&]() {
        while (i < n && scan::isBlank(p[i]))
            ++i;
    };
    auto raw = [&text](qsizetype a, qsizetype b) { return QByteArrayView(text.constData() + a, b - a); };
    if (defs.isEmpty())
        return PlainRow::No;
    for (qsizetype col = 0; col < defs.size(); ++col) {
        blanks();
        if (i >= n)
            return more(i);
        const unsigned char c = p[i];
        const FieldType type = defs[col].type;
        if (c == 'n' || c == 't' || c == 'f') {
            const char* literal = c == 'n' ? "null" : c == 't' ? "true" : "false";
            const qsizetype len = qsizetype(qstrlen(literal));
            if (i + len > n)
                return more(i);
            if (raw(i, i + len) != QByteArrayView(literal, len) || (c != 'n' && type != FieldType::Boolean))
                return no();
            if (c == 'n')
                out.addNull();
            else
                out.addBoolean(c == 't');
            i += len;
        } else if (c == '"') {
            const scan::String s = scan::string(p, i + 1, n, false);
            if (s.stop == scan::String::Stop::More)
                return more(s.at);
            if (s.stop == scan::String::Stop::Bad)
                return no();
            if (type == FieldType::String || type == FieldType::Blob) {
                if (!s.escaped) {
                    out.addText(raw(i + 1, s.at));
                } else {
                    QString unescaped;
                    Reader(text, i).readString(&unescaped);
                    out.addText(unescaped);
                }
            } else {
                QDateTime dt;
                if (type != FieldType::DateTime || s.escaped || !plainDateTime(raw(i + 1, s.at), &dt))
                    return no();
                out.addDateTime(dt);
            }
            i = s.at + 1;
        } else if (c == '-' || scan::isDigit(c)) {
            qsizetype j = i;
            while (j < n && scan::inNumber(p[j]))
                ++j;
            if (j >= n)
                return more(j);
            bool ok = false;
            const double d = raw(i, j).toDouble(&ok);
            if (scan::numberLength(p + i, j - i) != j - i || !ok)
                return no();
            if (type == FieldType::Integer && integralNumber(d))
                out.addInteger(static_cast<qint64>(d));
            else if (type == FieldType::Float)
                out.addFloat(d);
            else
                return no();
            i = j;
        } else {
            return no();
        }
        blanks();
        if (i >= n)
            return more(i);
        if (p[i] != (col + 1 < defs.size() ? ',' : ']'))
            return no();
        ++i;
    }
    if (!out.endRow())
        return PlainRow::No;
    *end = i;
    return PlainRow::Done;
}

} // namespace fw::json
