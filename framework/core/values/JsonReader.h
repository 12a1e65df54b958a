#pragma once
// Reads JSON text in place, one value at a time, without building a document: a request
// or an answer is first checked whole (syntax, UTF-8, raw control characters, depth) at no cost in
// memory, then each part is decoded only once the method says what it expects there.
#include <QByteArray>
#include <QByteArrayView>
#include <QJsonValue>
#include <QString>

#include "core/CoreExport.h"

namespace fw::json {

enum class Type { Object, Array, String, Number, Bool, Null, Invalid };

// What is wrong with a text that is not JSON, in Portuguese, and where.
struct FW_CORE_EXPORT SyntaxError {
    enum class Kind { None, Syntax, Utf8, ControlCharacter, TooDeep };
    Kind kind = Kind::None; // TooDeep: JSON, but nested deeper than any request needs
    QString message; // what is wrong, for a syntax error
    qsizetype offset = 0;
};

// Checks that text is exactly one JSON value (surrounding blanks allowed), in valid
// UTF-8, with no raw control character inside a string and at most maxDepth levels of
// arrays and objects. Allocates nothing.
FW_CORE_EXPORT SyntaxError validate(const QByteArray& text, int maxDepth);

// A cursor over text already validated. Every read returns false when the value at the
// cursor is not of the kind asked for, and leaves the cursor where it was.
class FW_CORE_EXPORT Reader {
public:
    Reader(const QByteArray& text, qsizetype offset = 0) : m_text(&text), m_pos(offset) {}

    qsizetype offset() const { return m_pos; }
    void seek(qsizetype offset) { m_pos = offset; }
    Type peek()
    {
        blanks();
        if (m_pos >= m_text->size())
            return Type::Invalid;
        switch ((*m_text)[m_pos]) {
        case '{': return Type::Object;
        case '[': return Type::Array;
        case '"': return Type::String;
        case 't':
        case 'f': return Type::Bool;
        case 'n': return Type::Null;
        default: return Type::Number;
        }
    }

    bool readNull();
    bool readBool(bool* out);
    bool readNumber(double* out);
    bool readString(QString* out);
    // A string without escapes, as the bytes between its quotes (valid UTF-8); false,
    // leaving the cursor, for any other value or a string with escapes.
    bool readPlainString(QByteArrayView* raw);
    // Moves past whatever value is at the cursor.
    void skip();
    // A number or string as a request id echoes it.
    QJsonValue readIdValue();

    // Objects and arrays: enter, then ask for each member or element in turn.
    bool enterObject();
    bool nextMember(QString* key); // false at the closing brace (consumed)
    bool enterArray();
    bool nextElement(); // false at the closing bracket (consumed)

    // The offset of every member's value, without decoding them; the last of equal
    // keys wins. The cursor ends past the object.
    template <typename F>
    bool forEachMember(F&& f)
    {
        if (!enterObject())
            return false;
        QString key;
        while (nextMember(&key)) {
            const qsizetype at = offset();
            f(key, at);
            m_pos = at;
            skip();
        }
        return true;
    }

private:
    void blanks()
    {
        const char* s = m_text->constData();
        while (m_pos < m_text->size() && (s[m_pos] == ' ' || s[m_pos] == '\n' || s[m_pos] == '\r' || s[m_pos] == '\t'))
            ++m_pos;
    }
    bool literal(const char* word);
    qsizetype numberEnd(qsizetype from) const;

    const QByteArray* m_text;
    qsizetype m_pos;
};

} // namespace fw::json
