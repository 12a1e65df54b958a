#pragma once
// The JSON text of a method's answer as the method writes it: handed on in pieces while
// it is written when the call's answer goes out as it is made (server/rpc/AnswerStream.h),
// kept whole otherwise. The method calls written() after each row.
#include <QByteArray>
#include <exception>

#include "server/rpc/AnswerStream.h"

namespace srv::methods {

class AnswerText {
public:
    AnswerText() : m_stream(AnswerStream::current()) {}

    QByteArray& json() { return m_json; }
    // What is held goes on once it is worth a piece; a client that has gone stops the
    // method (ClientGone), there being no one to answer.
    void written()
    {
        if (m_stream && m_json.size() >= kPiece)
            flush();
    }
    // The rest of the text, what was not handed on.
    QByteArray take() { return std::move(m_json); }

    struct ClientGone : std::exception {};

private:
    static constexpr qsizetype kPiece = 256 * 1024;
    void flush()
    {
        if (!m_stream->write(m_json))
            throw ClientGone();
        m_json = QByteArray();
        m_json.reserve(kPiece + kPiece / 4);
    }

    AnswerStream* m_stream;
    QByteArray m_json;
};

} // namespace srv::methods
