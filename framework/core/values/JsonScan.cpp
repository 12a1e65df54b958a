#include "core/values/JsonScan_p.h"

namespace fw::json::scan {

qsizetype numberLength(const unsigned char* p, qsizetype n)
{
    qsizetype i = 0;
    if (i < n && p[i] == '-')
        ++i;
    if (i < n && p[i] == '0') {
        ++i;
    } else if (i < n && isDigit(p[i])) {
        while (i < n && isDigit(p[i]))
            ++i;
    } else {
        return -1;
    }
    if (i < n && p[i] == '.') {
        ++i;
        if (i >= n || !isDigit(p[i]))
            return -1;
        while (i < n && isDigit(p[i]))
            ++i;
    }
    if (i < n && (p[i] == 'e' || p[i] == 'E')) {
        ++i;
        if (i < n && (p[i] == '+' || p[i] == '-'))
            ++i;
        if (i >= n || !isDigit(p[i]))
            return -1;
        while (i < n && isDigit(p[i]))
            ++i;
    }
    return i;
}

String string(const unsigned char* p, qsizetype from, qsizetype n, bool final)
{
    String s;
    qsizetype i = from;
    auto bad = [&](const char* why, SyntaxError::Kind kind = SyntaxError::Kind::Syntax) {
        s.stop = String::Stop::Bad;
        s.at = i;
        s.kind = kind;
        s.why = QString::fromUtf8(why);
        return s;
    };
    while (i < n) {
        const unsigned char c = p[i];
        if (c == '"') {
            s.stop = String::Stop::End;
            s.at = i;
            return s;
        }
        if (c < 0x20)
            return bad("caractere de controle sem escape dentro de um texto", SyntaxError::Kind::ControlCharacter);
        if (c == '\\') {
            s.escaped = true;
            if (i + 1 >= n)
                break;
            const unsigned char e = p[i + 1];
            if (e == 'u') {
                const qsizetype digits = qMin<qsizetype>(4, n - i - 2);
                for (qsizetype k = 0; k < digits; ++k)
                    if (!isHex(p[i + 2 + k]))
                        return bad("escape \\u malformado");
                if (digits < 4)
                    break;
                i += 6;
            } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' || e == 't') {
                i += 2;
            } else {
                return bad("escape desconhecido dentro de um texto");
            }
            continue;
        }
        if (c < 0x80) {
            ++i;
            continue;
        }
        // UTF-8 as the standard has it: no overlong forms, no surrogates, nothing past U+10FFFF.
        int extra = 0;
        unsigned min = 0, cp = 0;
        if (c >= 0xc2 && c <= 0xdf)
            extra = 1, min = 0x80, cp = c & 0x1f;
        else if (c >= 0xe0 && c <= 0xef)
            extra = 2, min = 0x800, cp = c & 0x0f;
        else if (c >= 0xf0 && c <= 0xf4)
            extra = 3, min = 0x10000, cp = c & 0x07;
        bool ok = extra > 0;
        const qsizetype have = qMin<qsizetype>(extra, n - i - 1);
        for (qsizetype k = 1; ok && k <= have; ++k) {
            ok = (p[i + k] & 0xc0) == 0x80;
            cp = (cp << 6) | (p[i + k] & 0x3f);
        }
        if (ok && have < extra) {
            if (!final)
                break;
            ok = false;
        }
        if (!ok || cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return bad("UTF-8 inválido", SyntaxError::Kind::Utf8);
        i += extra + 1;
    }
    if (final) {
        i = n;
        return bad("texto não terminado");
    }
    s.at = i;
    return s;
}

} // namespace fw::json::scan
