#pragma once
// Decodes the wire's values straight from JSON text, with the meaning fw::json::decode gives
// a parsed document, but without building one: a packet's rows are checked against its
// field list as they are read and go straight into the packet's rows. A large answer or
// request so costs about the values it holds, not a document and then the values.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

#include "core/values/Packet.h"

#include "core/CoreExport.h"

namespace fw::json {

class Reader;

// What is wrong with a value, in Portuguese ("uma linha do pacote não tem ...").
struct FW_CORE_EXPORT DecodeError {
    QString why;
};

// Reads text already checked by validate(). Every read throws DecodeError when the value
// is not what it should be.
class FW_CORE_EXPORT TextDecoder {
public:
    explicit TextDecoder(const QByteArray& text) : m_text(text) {}

    // Whatever value starts at `at`: null, bool, string, number, list or wrapped object.
    QVariant value(qsizetype at);

    enum class Wrapper { None, DateTime, Packet, Delta };
    // Which wrapped value the object at `at` is, and where the wrapper's value starts.
    Wrapper wrapper(qsizetype at, qsizetype* inner) const;

    // The inside of {"$datetime": ...}: a date-time or null.
    QVariant dateTime(qsizetype at);
    // The inside of {"$packet": ...}. Only the named columns are kept (all when none is
    // named); rows past maxRows (when positive) are checked, then dropped, but for one that
    // tells the caller there were more.
    DataPacket packet(qsizetype at, const QStringList& columns = {}, int maxRows = 0);
    // The inside of {"$delta": ...}, changes past maxRows checked, then dropped.
    DeltaPacket delta(qsizetype at, int maxRows = 0);
    // A packet's field list (at < 0: missing).
    FieldDefs fields(qsizetype at);
    // A string's text; the short ones without escapes come from the table of those seen.
    QString text(Reader& r);

private:
    struct Members;
    // The same, from the cursor, which ends past the value.
    QVariant value(Reader& r);
    DataPacket packet(Reader& r, const QStringList& columns = {}, int maxRows = 0);
    Members members(qsizetype at) const;
    Row row(qsizetype at, const FieldDefs& defs, const std::vector<bool>& keep, int kept);
    Row row(Reader& r, const FieldDefs& defs, const std::vector<bool>& keep, int kept);

    const QByteArray& m_text;
    // Short texts repeat down a list's columns ("N", "0001", "55"): one shared copy each.
    struct Short {
        quint64 bytes = 0;
        qsizetype size = -1;
        QString text;
    };
    std::vector<Short> m_short;
};

// The value at `at` of validated text; on a malformed value an Empty variant and *error.
FW_CORE_EXPORT QVariant decodeText(const QByteArray& text, qsizetype at, QString* error);

} // namespace fw::json
