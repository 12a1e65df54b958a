#pragma once
// Filter expressions of the data set: comparisons of fields with quoted strings or
// numbers, AND, OR, NOT, parentheses, IS [NOT] NULL. Parsed once, bound to the
// field list, then evaluated per row.
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

#include "core/values/Packet.h"

#include "core/CoreExport.h"

namespace fw {

class PackedRows;

class FW_CORE_EXPORT FilterExpression {
public:
    enum class Op { Eq, Ne, Lt, Gt, Le, Ge };

    struct Operand {
        bool isField = false;
        QString name; // field name as written
        int field = -1; // bound field index
        QVariant literal;
    };

    struct Node {
        enum class Kind { Compare, IsNull, IsNotNull, And, Or, Not } kind = Kind::Compare;
        Op op = Op::Eq;
        Operand left, right;
        std::unique_ptr<Node> a, b;
    };

    // A field = literal term of the top-level AND chain.
    struct Equality {
        int field;
        QVariant value; // converted to the field's type
    };

    FilterExpression() = default;
    // Throws DataSetError on a syntax error.
    static FilterExpression parse(const QString& text);
    // Resolves field names (case-insensitively) and converts literals to the fields'
    // types. Throws DataSetError for an unknown field or a literal of the wrong kind.
    void bind(const FieldDefs& fields);

    bool isEmpty() const { return !m_root; }
    bool bound() const { return m_bound; }
    bool matches(const Row& row) const;
    bool matches(const PackedRows& rows, int row) const;

    // The field = literal terms of the top-level conjunction; *onlyEqualities tells
    // whether the expression is made of nothing else.
    std::vector<Equality> equalities(bool* onlyEqualities) const;

private:
    std::shared_ptr<Node> m_root; // shared: expressions are copied around cheaply
    FieldDefs m_fields;
    bool m_bound = false;
};

} // namespace fw
