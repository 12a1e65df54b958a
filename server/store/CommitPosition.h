#pragma once
// Read-your-writes across a primary and its standbys. A call's commits on PostgreSQL note
// the primary's log position after them; the call's answer carries the last one to the
// client, which sends it back with its next list, and a standby answers that list only
// once it has replayed that far. Kept per thread, as a call runs on one.
#include <QByteArray>

namespace srv {

// For as long as it lives, the call on this thread brought wanted (the position its
// client's writes reached, "" when it sent none) and has committed nothing yet.
class CommitPosition {
public:
    explicit CommitPosition(QByteArray wanted);
    ~CommitPosition();
    CommitPosition(const CommitPosition&) = delete;
    CommitPosition& operator=(const CommitPosition&) = delete;

    // The current call's ("" outside one).
    static QByteArray wanted();
    // The primary's position after the current call's last commit ("" when none).
    static QByteArray reached();
    // By the transactions, after each commit.
    static void noteReached(const QByteArray& position);

private:
    QByteArray m_wanted;
    QByteArray m_reached;
    CommitPosition* m_previous;
};

} // namespace srv
