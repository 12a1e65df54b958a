#pragma once
// The NF-e access key (chave de acesso): 44 digits made of cUF (2), AAMM (4), the
// issuer's CNPJ (14), model (2), series (3), number (9), emission type (1), numeric
// code (8) and a modulo-11 check digit.
#include <QDate>
#include <QString>

namespace nfe {

// Check digit of the first 43 digits: weights 2..9 from the right, 11 minus the
// remainder, 0 when that gives 10 or 11. -1 when the text is not 43 digits.
int accessKeyCheckDigit(const QString& first43);
bool validAccessKey(const QString& key);

QString buildAccessKey(int cUF, const QDate& emission, const QString& cnpj14, int model, int series, qint64 number,
                       int emissionType, int numericCode);

} // namespace nfe
