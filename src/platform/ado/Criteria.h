#pragma once
// The criteria of Recordset.Find and Recordset.Filter: "column operator value", where the
// operator is one of = <> < > <= >= LIKE, the value a number, a 'text' (a doubled quote stands
// for itself), a #date# or NULL, and LIKE patterns use * or % for any run of characters. A
// filter may join such comparisons with AND and OR and group them in parentheses; a find takes
// exactly one. Column names may be [bracketed]. Text comparisons ignore ASCII case.

#include "platform/ado/Provider.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vm::ado {

class Criteria {
public:
    enum class Op { Eq, Ne, Lt, Gt, Le, Ge, Like };

    // Parses `text` against the recordset's columns. On failure `error` says why (GBK).
    static std::unique_ptr<Criteria>
    Parse(std::string_view text, const std::vector<ColumnInfo>& columns, std::string& error);

    bool IsSingleComparison() const { return node_.kind == Node::Kind::Compare; }
    bool Matches(const Row& row) const;

private:
    struct Node {
        enum class Kind { Compare, And, Or } kind = Kind::Compare;
        std::size_t column = 0;
        Op op = Op::Eq;
        Variant value;
        std::vector<Node> children;
    };
    class Parser;

    static bool Evaluate(const Node& node, const Row& row);
    static bool Compare(const Node& node, const Variant& field);

    Node node_;
};

// LIKE matching of GBK texts: * and % match any run of characters, ASCII case is ignored.
bool LikeMatch(std::string_view text, std::string_view pattern);

} // namespace vm::ado
