#include "core/host/Documents.h"

#include <QList>

#include "core/host/HostFunctions.h"

namespace fw {

namespace {

bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }
bool isUpperAlnum(QChar c) { return isAsciiDigit(c) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')); }

// Modulo 11 with the given weights; remainders 0 and 1 give the digit 0.
int mod11Digit(const QString& s, const QList<int>& weights)
{
    int sum = 0;
    for (int i = 0; i < s.size(); ++i)
        sum += (s[i].unicode() - '0') * weights[i];
    const int r = sum % 11;
    return r < 2 ? 0 : 11 - r;
}

bool allSameChar(const QString& s)
{
    for (const QChar c : s)
        if (c != s[0])
            return false;
    return true;
}

} // namespace

QString registrationDigits(const QString& registration)
{
    QString s = registration;
    Ajusta_Inscricao(s);
    return s;
}

QString cnpjCheckDigits(const QString& base12)
{
    if (base12.size() != 12)
        return QString();
    for (const QChar c : base12)
        if (!isUpperAlnum(c))
            return QString();
    static const QList<int> w1{5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
    static const QList<int> w2{6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
    const int d1 = mod11Digit(base12, w1);
    const int d2 = mod11Digit(base12 + QChar(u'0' + d1), w2);
    return QString::number(d1) + QString::number(d2);
}

QString cpfCheckDigits(const QString& base9)
{
    if (base9.size() != 9)
        return QString();
    for (const QChar c : base9)
        if (!isAsciiDigit(c))
            return QString();
    static const QList<int> w1{10, 9, 8, 7, 6, 5, 4, 3, 2};
    static const QList<int> w2{11, 10, 9, 8, 7, 6, 5, 4, 3, 2};
    const int d1 = mod11Digit(base9, w1);
    const int d2 = mod11Digit(base9 + QChar(u'0' + d1), w2);
    return QString::number(d1) + QString::number(d2);
}

bool validCnpj(const QString& cnpj)
{
    const QString s = registrationDigits(cnpj);
    if (s.size() != 14 || allSameChar(s))
        return false;
    const QString digits = cnpjCheckDigits(s.left(12));
    return !digits.isEmpty() && s.right(2) == digits;
}

bool validCpf(const QString& cpf)
{
    const QString s = registrationDigits(cpf);
    if (s.size() != 11 || allSameChar(s))
        return false;
    const QString digits = cpfCheckDigits(s.left(9));
    return !digits.isEmpty() && s.right(2) == digits;
}

} // namespace fw
