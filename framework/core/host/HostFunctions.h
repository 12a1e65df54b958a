#pragma once
// The host's helper functions, under the names modules call them by.
#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "core/CoreExport.h"

// Shows text as an error; with abort true, then throws the silent abort (fw::Abort).
FW_CORE_EXPORT void MensErro(const QString& text, bool abort);

// A server's data result: a string is an error text, shown through MensErro(text, abort)
// (and then, without abort, an empty variant is returned); anything else is returned as is.
// An empty error text is shown as a generic "no data" message rather than an empty box.
FW_CORE_EXPORT QVariant CheckResultServ(const QVariant& result, bool abort, int helpContext = 0);
// True when the result is an error text (variant holding a string).
FW_CORE_EXPORT bool IsResultError(const QVariant& result);

// Nothing entered: empty, or only blanks.
FW_CORE_EXPORT bool EmptyString(const QString& text);

// Stored form of a code: numeric codes are zero-filled on the left to width; codes with
// letters are upper-cased and blank-filled on the right. Blank text stays empty; surrounding
// blanks are dropped first; a code longer than width is kept whole.
FW_CORE_EXPORT QString Ajusta(const QString& code, int width);

// Stored form of a registration number: upper case, without blanks, dots, dashes and slashes.
FW_CORE_EXPORT void Ajusta_Inscricao(QString& registration);

// Edit mask of a person type: "J" (legal person) the CNPJ mask "99.999.999/9999-99;0;_",
// "F" (natural person) the CPF mask "999.999.999-99;0;_", in any case; anything else
// (foreigners, exempt) the empty mask, shown as stored.
FW_CORE_EXPORT QString PictPess(const QString& personType);
// Formats value with an edit mask ("99.999.999/9999-99;0;_", syntax in EditMask.h): literal
// characters are inserted between the value's characters as the mask places them, missing
// characters show as the mask's blank, > and < change the case. A value with more characters
// than the mask takes is returned unchanged, never cut. Characters are laid as they are, not
// checked against their position (a stored alphanumeric CNPJ still shows in the CNPJ layout).
FW_CORE_EXPORT QString FormatMaskText(const QString& editMask, const QString& value);

// First day of the date's month (an invalid date gives an invalid date).
FW_CORE_EXPORT QDate PriDiaMes(const QDate& date);

// True when a parameter list (name=value lines, or plain names) holds name, in any case.
FW_CORE_EXPORT bool ExistParam(const QStringList& params, const QString& name);
