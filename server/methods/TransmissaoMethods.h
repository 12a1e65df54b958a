#pragma once
// The method bodies; params are already checked against the registered kinds.
#include <QVariant>

#include "server/methods/Services.h"
#include "server/store/Store.h"

namespace srv::methods {

// SetCCe stores at most this many changes of one call.
constexpr int kMaxLetterChanges = 60;

// Where GetNotaFiscal reads its rows: on SQLite its own statements, where that gives the
// same rows in the same order either every letter first and then the invoices, written as
// they are read (LettersFirst: a whole company's list, Fastest), or the invoices first and
// then their letters, looked up invoice by invoice or read in one walk of their table,
// whichever costs less (Fastest) or as asked; or always the two statements
// (TwoStatements); on PostgreSQL libpq, the letters first (LettersFirst, whatever is asked
// but QueryOnly); or QSqlQuery whatever the store (QueryOnly). Tests hold them all to one
// answer. *taken, when given, is the road the rows came by (never Fastest).
enum class RowReader { Fastest, LettersScanned, LettersLookedUp, TwoStatements, LettersFirst, QueryOnly };
QVariant getNotaFiscal(Store& store, const QVariantList& params, RowReader reader = RowReader::Fastest,
                       RowReader* taken = nullptr);
// The list read from the replica's standby when it has replayed the calling client's own
// writes (CommitPosition::wanted()), else from the primary; a standby that fails under it
// is left aside and the list read from the primary.
QVariant getNotaFiscal(ReadReplica& replica, const QVariantList& params);
QVariant setCCe(Store& store, const QVariantList& params);
QVariant getXmlEnvLote(Store& store, const QVariantList& params);
QVariant getParamDFS(Store& store, const QVariantList& params);
QVariant transmiteCCe(const Services& services, const QVariantList& params);
QVariant sendEmailCCe(const Services& services, const QVariantList& params);
QVariant sendEmailCCeTodos(const Services& services, const QVariantList& params);

} // namespace srv::methods
