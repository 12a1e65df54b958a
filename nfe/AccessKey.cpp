#include "nfe/AccessKey.h"

namespace nfe {

namespace {
bool allDigits(const QString& s)
{
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}
} // namespace

int accessKeyCheckDigit(const QString& first43)
{
    if (first43.size() != 43 || !allDigits(first43))
        return -1;
    int sum = 0;
    int weight = 2;
    for (int i = first43.size() - 1; i >= 0; --i) {
        sum += (first43[i].unicode() - '0') * weight;
        weight = weight == 9 ? 2 : weight + 1;
    }
    const int dv = 11 - sum % 11;
    return dv >= 10 ? 0 : dv;
}

bool validAccessKey(const QString& key)
{
    if (key.size() != 44 || !allDigits(key))
        return false;
    return accessKeyCheckDigit(key.left(43)) == key[43].unicode() - '0';
}

QString buildAccessKey(int cUF, const QDate& emission, const QString& cnpj14, int model, int series, qint64 number,
                       int emissionType, int numericCode)
{
    const QString base = QStringLiteral("%1%2%3%4%5%6%7%8")
                             .arg(cUF, 2, 10, QLatin1Char('0'))
                             .arg(emission.toString(QStringLiteral("yyMM")))
                             .arg(cnpj14)
                             .arg(model, 2, 10, QLatin1Char('0'))
                             .arg(series, 3, 10, QLatin1Char('0'))
                             .arg(number, 9, 10, QLatin1Char('0'))
                             .arg(emissionType)
                             .arg(numericCode, 8, 10, QLatin1Char('0'));
    const int dv = accessKeyCheckDigit(base);
    return dv < 0 ? QString() : base + QString::number(dv);
}

} // namespace nfe
