#include "core/dataset/FilterExpression.h"

#include <functional>

#include "core/errors/Errors.h"
#include "core/values/FieldValue.h"
#include "core/values/PackedRows.h"

namespace fw {

namespace {

// --- tokenizer and parser -------------------------------------------------------

struct Token {
    enum class Kind { End, Ident, String, Number, Op, LParen, RParen } kind = Kind::End;
    QString text;
};

class Parser {
public:
    explicit Parser(const QString& text) : m_text(text) { advance(); }

    std::unique_ptr<FilterExpression::Node> parseAll()
    {
        auto n = parseOr();
        if (m_tok.kind != Token::Kind::End)
            fail();
        return n;
    }

private:
    [[noreturn]] void fail() const
    {
        throw DataSetError(QStringLiteral("Expressão de filtro inválida: %1").arg(m_text));
    }

    bool isKeyword(const char* kw) const
    {
        return m_tok.kind == Token::Kind::Ident && m_tok.text.compare(QLatin1String(kw), Qt::CaseInsensitive) == 0;
    }

    void advance()
    {
        const int n = m_text.size();
        while (m_pos < n && m_text[m_pos].isSpace())
            ++m_pos;
        m_tok = Token{};
        if (m_pos >= n)
            return;
        const QChar c = m_text[m_pos];
        if (c == QLatin1Char('\'')) {
            QString s;
            ++m_pos;
            for (;;) {
                if (m_pos >= n)
                    fail(); // unterminated string
                if (m_text[m_pos] == QLatin1Char('\'')) {
                    if (m_pos + 1 < n && m_text[m_pos + 1] == QLatin1Char('\'')) {
                        s += QLatin1Char('\'');
                        m_pos += 2;
                        continue;
                    }
                    ++m_pos;
                    break;
                }
                s += m_text[m_pos++];
            }
            m_tok = {Token::Kind::String, s};
            return;
        }
        if (c == QLatin1Char('[')) {
            const int end = m_text.indexOf(QLatin1Char(']'), m_pos + 1);
            if (end < 0)
                fail();
            m_tok = {Token::Kind::Ident, m_text.mid(m_pos + 1, end - m_pos - 1).trimmed()};
            m_pos = end + 1;
            if (m_tok.text.isEmpty())
                fail();
            return;
        }
        if (c.isLetter() || c == QLatin1Char('_')) {
            const int start = m_pos;
            while (m_pos < n && (m_text[m_pos].isLetterOrNumber() || m_text[m_pos] == QLatin1Char('_')))
                ++m_pos;
            m_tok = {Token::Kind::Ident, m_text.mid(start, m_pos - start)};
            return;
        }
        if (c.isDigit() ||
            ((c == QLatin1Char('-') || c == QLatin1Char('.')) && m_pos + 1 < n && m_text[m_pos + 1].isDigit())) {
            const int start = m_pos++;
            while (m_pos < n && (m_text[m_pos].isDigit() || m_text[m_pos] == QLatin1Char('.')))
                ++m_pos;
            m_tok = {Token::Kind::Number, m_text.mid(start, m_pos - start)};
            return;
        }
        if (c == QLatin1Char('(')) {
            ++m_pos;
            m_tok = {Token::Kind::LParen, QStringLiteral("(")};
            return;
        }
        if (c == QLatin1Char(')')) {
            ++m_pos;
            m_tok = {Token::Kind::RParen, QStringLiteral(")")};
            return;
        }
        static const char* const ops[] = {"<>", "<=", ">=", "!=", "=", "<", ">"};
        for (const char* op : ops) {
            const QLatin1String l(op);
            if (QStringView(m_text).mid(m_pos).startsWith(l)) {
                m_pos += l.size();
                m_tok = {Token::Kind::Op, QString(l)};
                return;
            }
        }
        fail();
    }

    std::unique_ptr<FilterExpression::Node> binary(FilterExpression::Node::Kind k,
                                                   std::unique_ptr<FilterExpression::Node> a,
                                                   std::unique_ptr<FilterExpression::Node> b)
    {
        auto n = std::make_unique<FilterExpression::Node>();
        n->kind = k;
        n->a = std::move(a);
        n->b = std::move(b);
        return n;
    }

    std::unique_ptr<FilterExpression::Node> parseOr()
    {
        auto left = parseAnd();
        while (isKeyword("OR")) {
            advance();
            left = binary(FilterExpression::Node::Kind::Or, std::move(left), parseAnd());
        }
        return left;
    }

    std::unique_ptr<FilterExpression::Node> parseAnd()
    {
        auto left = parseNot();
        while (isKeyword("AND")) {
            advance();
            left = binary(FilterExpression::Node::Kind::And, std::move(left), parseNot());
        }
        return left;
    }

    std::unique_ptr<FilterExpression::Node> parseNot()
    {
        if (isKeyword("NOT")) {
            advance();
            auto n = std::make_unique<FilterExpression::Node>();
            n->kind = FilterExpression::Node::Kind::Not;
            n->a = parseNot();
            return n;
        }
        if (m_tok.kind == Token::Kind::LParen) {
            advance();
            auto n = parseOr();
            if (m_tok.kind != Token::Kind::RParen)
                fail();
            advance();
            return n;
        }
        return parseComparison();
    }

    FilterExpression::Operand parseOperand()
    {
        FilterExpression::Operand o;
        switch (m_tok.kind) {
        case Token::Kind::Ident:
            if (isKeyword("AND") || isKeyword("OR") || isKeyword("NOT") || isKeyword("IS") || isKeyword("NULL"))
                fail();
            o.isField = true;
            o.name = m_tok.text;
            break;
        case Token::Kind::String: o.literal = m_tok.text; break;
        case Token::Kind::Number: {
            bool ok = false;
            if (m_tok.text.contains(QLatin1Char('.'))) {
                const double d = m_tok.text.toDouble(&ok);
                o.literal = d;
            } else {
                const qlonglong i = m_tok.text.toLongLong(&ok);
                o.literal = i;
            }
            if (!ok)
                fail();
            break;
        }
        default: fail();
        }
        advance();
        return o;
    }

    std::unique_ptr<FilterExpression::Node> parseComparison()
    {
        auto n = std::make_unique<FilterExpression::Node>();
        n->left = parseOperand();
        if (isKeyword("IS")) {
            advance();
            bool negate = false;
            if (isKeyword("NOT")) {
                negate = true;
                advance();
            }
            if (!isKeyword("NULL") || !n->left.isField)
                fail();
            advance();
            n->kind = negate ? FilterExpression::Node::Kind::IsNotNull : FilterExpression::Node::Kind::IsNull;
            return n;
        }
        if (m_tok.kind != Token::Kind::Op)
            fail();
        const QString op = m_tok.text;
        using O = FilterExpression::Op;
        n->op = op == QLatin1String("=")    ? O::Eq
                : op == QLatin1String("<=") ? O::Le
                : op == QLatin1String(">=") ? O::Ge
                : op == QLatin1String("<")  ? O::Lt
                : op == QLatin1String(">")  ? O::Gt
                                            : O::Ne;
        advance();
        n->right = parseOperand();
        return n;
    }

    QString m_text;
    int m_pos = 0;
    Token m_tok;
};

FilterExpression::Op mirrored(FilterExpression::Op op)
{
    using O = FilterExpression::Op;
    switch (op) {
    case O::Lt: return O::Gt;
    case O::Gt: return O::Lt;
    case O::Le: return O::Ge;
    case O::Ge: return O::Le;
    default: return op;
    }
}

bool applyOp(FilterExpression::Op op, int c)
{
    using O = FilterExpression::Op;
    switch (op) {
    case O::Eq: return c == 0;
    case O::Ne: return c != 0;
    case O::Lt: return c < 0;
    case O::Gt: return c > 0;
    case O::Le: return c <= 0;
    case O::Ge: return c >= 0;
    }
    return false;
}

FieldType literalType(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::LongLong: return FieldType::Integer;
    case QMetaType::Double: return FieldType::Float;
    default: return FieldType::String;
    }
}

} // namespace

FilterExpression FilterExpression::parse(const QString& text)
{
    FilterExpression e;
    if (text.trimmed().isEmpty())
        return e;
    Parser p(text);
    e.m_root = std::shared_ptr<Node>(p.parseAll().release());
    return e;
}

void FilterExpression::bind(const FieldDefs& fields)
{
    m_fields = fields;
    auto resolve = [&](Operand& o) {
        if (!o.isField)
            return;
        o.field = -1;
        for (int i = 0; i < fields.size(); ++i)
            if (fields[i].name.compare(o.name, Qt::CaseInsensitive) == 0)
                o.field = i;
        if (o.field < 0)
            throw DataSetError(QStringLiteral("Campo '%1' não encontrado.").arg(o.name));
    };
    std::function<void(Node*)> walk = [&](Node* n) {
        if (!n)
            return;
        switch (n->kind) {
        case Node::Kind::And:
        case Node::Kind::Or:
        case Node::Kind::Not:
            walk(n->a.get());
            walk(n->b.get());
            return;
        case Node::Kind::IsNull:
        case Node::Kind::IsNotNull: resolve(n->left); return;
        case Node::Kind::Compare: break;
        }
        resolve(n->left);
        resolve(n->right);
        if (!n->left.isField && n->right.isField) {
            std::swap(n->left, n->right);
            n->op = mirrored(n->op);
        }
        if (n->left.isField && !n->right.isField) {
            const FieldDef& f = fields[n->left.field];
            bool ok = false;
            QVariant lit = n->right.literal;
            if (isTextType(f.type) && lit.metaType().id() != QMetaType::QString)
                lit = lit.toString();
            const QVariant c = convertValue(lit, f.type, &ok);
            if (!ok)
                throw DataSetError(QStringLiteral("Valor '%1' incompatível com o campo '%2' na expressão de filtro.")
                                       .arg(n->right.literal.toString(), f.name));
            n->right.literal = c;
        }
    };
    walk(m_root.get());
    m_bound = true;
}

// value(i) gives the row's field i, as a reference or a value.
template <class Value>
static bool evalNode(const FilterExpression::Node* n, const Value& value, const FieldDefs& fields)
{
    using K = FilterExpression::Node::Kind;
    switch (n->kind) {
    case K::And: return evalNode(n->a.get(), value, fields) && evalNode(n->b.get(), value, fields);
    case K::Or: return evalNode(n->a.get(), value, fields) || evalNode(n->b.get(), value, fields);
    case K::Not: return !evalNode(n->a.get(), value, fields);
    case K::IsNull:
    case K::IsNotNull: {
        const QVariant& v = value(n->left.field);
        bool isNull = isNullOrEmpty(v);
        const FieldType t = fields[n->left.field].type;
        if (!isNull && isTextType(t)) {
            QString tmp;
            isNull = textOf(v, tmp).isEmpty();
        }
        return (n->kind == K::IsNull) == isNull;
    }
    case K::Compare: break;
    }
    const auto& l = n->left;
    const auto& r = n->right;
    const QVariant& lv = l.isField ? value(l.field) : l.literal;
    const QVariant& rv = r.isField ? value(r.field) : r.literal;
    const FieldType t = l.isField ? fields[l.field].type : literalType(lv);
    if (!isTextType(t) && (isNullOrEmpty(lv) || isNullOrEmpty(rv)))
        return false; // unknown compares as false, as in SQL
    return applyOp(n->op, compareValues(lv, rv, t, false));
}

bool FilterExpression::matches(const Row& row) const
{
    return !m_root || evalNode(
                          m_root.get(), [&row](int i) -> const QVariant& { return row.at(i); }, m_fields);
}

bool FilterExpression::matches(const PackedRows& rows, int row) const
{
    return !m_root || evalNode(
                          m_root.get(), [&rows, row](int i) { return rows.value(row, i); }, m_fields);
}

std::vector<FilterExpression::Equality> FilterExpression::equalities(bool* onlyEqualities) const
{
    std::vector<Equality> out;
    bool only = true;
    std::function<void(const Node*)> walk = [&](const Node* n) {
        if (n->kind == Node::Kind::And) {
            walk(n->a.get());
            walk(n->b.get());
            return;
        }
        if (n->kind == Node::Kind::Compare && n->op == Op::Eq && n->left.isField && !n->right.isField) {
            out.push_back({n->left.field, n->right.literal});
            return;
        }
        only = false;
    };
    if (m_root)
        walk(m_root.get());
    if (onlyEqualities)
        *onlyEqualities = only;
    return out;
}

} // namespace fw
