#pragma once
// A JSON-RPC reply read as its bytes arrive, in pieces of any size: the text is checked as
// validate() checks a whole one and the reply's result decoded as TextDecoder decodes it,
// each row of a data packet straight into the packet's compact rows (PackedRows.h) as
// soon as the row is in. Decoding so keeps pace with the transfer, and the text already
// read is let go: a whole company's list costs about its rows, not its text and then its
// values. Only what a connection reads of the reply is kept: the texts of its jsonrpc, id
// and error members and the value of its result.
#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <QString>
#include <QVariant>
#include <memory>

#include "core/values/JsonReader.h"

#include "core/CoreExport.h"

namespace fw::json {

class FW_CORE_EXPORT StreamDecoder {
public:
    // Arrays and objects nested deeper than maxDepth make the text unacceptable.
    explicit StreamDecoder(int maxDepth);
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    void feed(QByteArrayView bytes);
    // The text ended; the answers below are final.
    void finish();
    // How much of the text is held now: the part still to be decoded.
    qsizetype held() const;

    // What is wrong with the text as JSON, as validate() says it of the whole text.
    SyntaxError syntax() const;
    bool isObject() const; // the text is one JSON object
    // The text of the object's member of that name (the last of equal names), null when
    // it has none: "jsonrpc", "id" and "error" only.
    QByteArray member(QLatin1StringView name) const;
    bool hasResult() const;
    // The value of the last "result" member; Empty with *error when it is not a value of
    // the wire (TextDecoder's words).
    QVariant result(QString* error) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace fw::json
