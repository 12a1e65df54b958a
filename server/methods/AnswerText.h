#pragma once
// The JSON text of a method's answer as the method writes it, in pieces: handed on as
// they fill when the call's answer goes out as it is made (server/rpc/AnswerStream.h),
// kept and put together once at the end otherwise, so that a large text is never copied
// over and over as it grows. The method calls written() after each row.
#include <QByteArray>
#include <QList>
#include <exception>

#include "server/rpc/AnswerStream.h"

namespace srv::methods {

class AnswerText {
public:
    AnswerText() : m_stream(AnswerStream::current()) { m_json.reserve(kRoom); }

    QByteArray& json() { return m_json; }
    // What is held becomes a piece once it is worth one; a client that has gone stops the
    // method (ClientGone), there being no one to answer.
    void written()
    {
        if (m_json.size() >= kPiece)
            flush();
    }
    // The text not handed on, whole.
    QByteArray take()
    {
        if (m_kept.isEmpty())
            return std::move(m_json);
        qsizetype size = m_json.size();
        for (const QByteArray& piece : std::as_const(m_kept))
            size += piece.size();
        QByteArray out;
        out.reserve(size);
        for (const QByteArray& piece : std::as_const(m_kept))
            out += piece;
        out += m_json;
        m_kept.clear();
        m_json.clear();
        return out;
    }

    struct ClientGone : std::exception {};

private:
    static constexpr qsizetype kPiece = 256 * 1024;
    static constexpr qsizetype kRoom = kPiece + 64 * 1024;
    void flush()
    {
        if (!m_stream)
            m_kept.append(m_json);
        else if (!m_stream->write(m_json))
            throw ClientGone();
        m_json = QByteArray();
        m_json.reserve(kRoom);
    }

    AnswerStream* m_stream;
    QByteArray m_json;
    QList<QByteArray> m_kept;
};

} // namespace srv::methods
