#include "platform/ado/Criteria.h"

#include "platform/text/Gbk.h"

#include <cmath>

namespace vm::ado {
namespace {

using automation::VT_BSTR;
using automation::VT_DATE;

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares GBK texts with ASCII case folded; two-byte characters compare by their bytes.
int CompareText(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(Fold(a[i]));
        const auto y = static_cast<unsigned char>(Fold(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool CharEqual(std::string_view a, std::size_t i, std::size_t na, std::string_view b, std::size_t j,
               std::size_t nb) {
    if (na != nb)
        return false;
    if (na == 1)
        return Fold(a[i]) == Fold(b[j]);
    return a.substr(i, na) == b.substr(j, nb);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

bool LikeMatch(std::string_view text, std::string_view pattern) {
    // Greedy matching with one backtrack point per wildcard, by characters.
    std::size_t t = 0, p = 0;
    std::size_t starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%')) {
            starP = ++p;
            starT = t;
            continue;
        }
        if (p < pattern.size()) {
            const std::size_t np = text::CharLengthAt(pattern, p);
            const std::size_t nt = text::CharLengthAt(text, t);
            if (CharEqual(text, t, nt, pattern, p, np)) {
                t += nt;
                p += np;
                continue;
            }
        }
        if (starP == std::string_view::npos)
            return false;
        p = starP;
        starT += text::CharLengthAt(text, starT);
        t = starT;
    }
    while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%'))
        ++p;
    return p == pattern.size();
}

class Criteria::Parser {
public:
    Parser(std::string_view text, const std::vector<ColumnInfo>& columns, std::string& error)
        : text_(text), columns_(columns), error_(error) {}

    bool ParseAll(Node& out) {
        if (!ParseOr(out))
            return false;
        SkipBlanks();
        if (pos_ != text_.size())
            return Fail("Unexpected text in the criteria: " + std::string(text_.substr(pos_)));
        return true;
    }

private:
    bool Fail(std::string message) {
        if (error_.empty())
            error_ = std::move(message);
        return false;
    }

    void SkipBlanks() {
        while (pos_ < text_.size() && IsBlank(text_[pos_]))
            ++pos_;
    }

    // A keyword followed by a blank, "(" or the end.
    bool Keyword(std::string_view word) {
        SkipBlanks();
        if (text_.size() - pos_ < word.size() ||
            !text::EqualsNoCase(text_.substr(pos_, word.size()), word))
            return false;
        const std::size_t after = pos_ + word.size();
        if (after < text_.size() && !IsBlank(text_[after]) && text_[after] != '(' &&
            text_[after] != ')' && text_[after] != '\'' && text_[after] != '#')
            return false;
        pos_ = after;
        return true;
    }

    bool ParseOr(Node& out) {
        Node first;
        if (!ParseAnd(first))
            return false;
        if (!Keyword("OR")) {
            out = std::move(first);
            return true;
        }
        out = {};
        out.kind = Node::Kind::Or;
        out.children.push_back(std::move(first));
        do {
            Node next;
            if (!ParseAnd(next))
                return false;
            out.children.push_back(std::move(next));
        } while (Keyword("OR"));
        return true;
    }

    bool ParseAnd(Node& out) {
        Node first;
        if (!ParseFactor(first))
            return false;
        if (!Keyword("AND")) {
            out = std::move(first);
            return true;
        }
        out = {};
        out.kind = Node::Kind::And;
        out.children.push_back(std::move(first));
        do {
            Node next;
            if (!ParseFactor(next))
                return false;
            out.children.push_back(std::move(next));
        } while (Keyword("AND"));
        return true;
    }

    bool ParseFactor(Node& out) {
        SkipBlanks();
        if (pos_ < text_.size() && text_[pos_] == '(') {
            ++pos_;
            if (!ParseOr(out))
                return false;
            SkipBlanks();
            if (pos_ >= text_.size() || text_[pos_] != ')')
                return Fail("Missing ) in the criteria.");
            ++pos_;
            return true;
        }
        return ParseComparison(out);
    }

    bool ParseColumn(std::size_t& index) {
        SkipBlanks();
        std::string name;
        if (pos_ < text_.size() && text_[pos_] == '[') {
            const std::size_t close = text_.find(']', pos_ + 1);
            if (close == std::string_view::npos)
                return Fail("Missing ] in the criteria.");
            name = text_.substr(pos_ + 1, close - pos_ - 1);
            pos_ = close + 1;
        } else {
            const std::size_t start = pos_;
            while (pos_ < text_.size() && !IsBlank(text_[pos_]) && text_[pos_] != '=' &&
                   text_[pos_] != '<' && text_[pos_] != '>' && text_[pos_] != '(' &&
                   text_[pos_] != ')')
                pos_ += text::CharLengthAt(text_, pos_);
            name = text_.substr(start, pos_ - start);
        }
        if (name.empty())
            return Fail("A column name is missing in the criteria.");
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            if (text::EqualsNoCase(columns_[i].name, name)) {
                index = i;
                return true;
            }
        }
        return Fail("Item cannot be found in the collection corresponding to the requested name "
                    "or ordinal: " +
                    name);
    }

    bool ParseOperator(Op& op) {
        SkipBlanks();
        auto take = [&](std::string_view symbol, Op value) {
            if (text_.substr(pos_, symbol.size()) != symbol)
                return false;
            pos_ += symbol.size();
            op = value;
            return true;
        };
        if (take("<>", Op::Ne) || take("<=", Op::Le) || take(">=", Op::Ge) || take("=", Op::Eq) ||
            take("<", Op::Lt) || take(">", Op::Gt))
            return true;
        if (Keyword("LIKE")) {
            op = Op::Like;
            return true;
        }
        return Fail("An operator (=, <>, <, >, <=, >= or LIKE) is missing in the criteria.");
    }

    bool ParseValue(Variant& value) {
        SkipBlanks();
        if (pos_ >= text_.size())
            return Fail("A value is missing in the criteria.");
        const char c = text_[pos_];
        if (c == '\'' || c == '"') {
            std::string literal;
            ++pos_;
            while (true) {
                if (pos_ >= text_.size())
                    return Fail("Unterminated text in the criteria.");
                if (text_[pos_] == c) {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == c) {
                        literal += c;
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                const std::size_t n = text::CharLengthAt(text_, pos_);
                literal.append(text_.substr(pos_, n));
                pos_ += n;
            }
            value = Variant(std::move(literal));
            return true;
        }
        if (c == '#') {
            const std::size_t close = text_.find('#', pos_ + 1);
            if (close == std::string_view::npos)
                return Fail("Unterminated #date# in the criteria.");
            double date = 0;
            if (!automation::ParseOleDate(text_.substr(pos_ + 1, close - pos_ - 1), date))
                return Fail("Not a date in the criteria: " +
                            std::string(text_.substr(pos_, close - pos_ + 1)));
            value = Variant::Date(date);
            pos_ = close + 1;
            return true;
        }
        if (Keyword("NULL")) {
            value = Variant::Null();
            return true;
        }
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !IsBlank(text_[pos_]) && text_[pos_] != ')')
            ++pos_;
        double number = 0;
        if (!automation::ParseNumber(text_.substr(start, pos_ - start), number))
            return Fail("Not a number in the criteria: " +
                        std::string(text_.substr(start, pos_ - start)));
        value = Variant(number);
        return true;
    }

    bool ParseComparison(Node& out) {
        out = {};
        return ParseColumn(out.column) && ParseOperator(out.op) && ParseValue(out.value) &&
               (out.op != Op::Like || out.value.Type() == VT_BSTR ||
                Fail("LIKE needs a 'text' pattern."));
    }

    std::string_view text_;
    const std::vector<ColumnInfo>& columns_;
    std::string& error_;
    std::size_t pos_ = 0;
};

std::unique_ptr<Criteria>
Criteria::Parse(std::string_view text, const std::vector<ColumnInfo>& columns, std::string& error) {
    error.clear();
    auto criteria = std::unique_ptr<Criteria>(new Criteria());
    Parser parser(text, columns, error);
    if (!parser.ParseAll(criteria->node_))
        return nullptr;
    return criteria;
}

bool Criteria::Matches(const Row& row) const {
    return Evaluate(node_, row);
}

bool Criteria::Evaluate(const Node& node, const Row& row) {
    switch (node.kind) {
    case Node::Kind::And:
        for (const Node& child : node.children)
            if (!Evaluate(child, row))
                return false;
        return true;
    case Node::Kind::Or:
        for (const Node& child : node.children)
            if (Evaluate(child, row))
                return true;
        return false;
    case Node::Kind::Compare:
        break;
    }
    return node.column < row.size() && Compare(node, row[node.column]);
}

bool Criteria::Compare(const Node& node, const Variant& field) {
    const Variant& value = node.value;
    if (value.IsNull())
        return node.op == Op::Eq ? field.IsNull() : node.op == Op::Ne && !field.IsNull();
    if (field.IsNull() || field.IsEmpty())
        return false;

    int order = 0;
    if (node.op == Op::Like) {
        std::string text;
        return field.ToText(text) && LikeMatch(text, value.Text());
    }
    if (field.IsNumeric() && value.IsNumeric() && field.Type() != VT_DATE &&
        value.Type() != VT_DATE) {
        // The common case (an ID against a number) without conversions.
        const double a = field.DoubleValue(), b = value.DoubleValue();
        order = a < b ? -1 : a > b ? 1 : 0;
    } else if (value.Type() == VT_BSTR && field.Type() == VT_BSTR) {
        order = CompareText(field.Text(), value.Text());
    } else if (value.Type() == VT_DATE || field.Type() == VT_DATE) {
        double a = 0, b = 0;
        if (!field.ToDate(a) || !value.ToDate(b))
            return false;
        order = a < b ? -1 : a > b ? 1 : 0;
    } else {
        double a = 0, b = 0;
        if (!field.ToDouble(a) || !value.ToDouble(b)) {
            // Not both numbers: compare the texts.
            std::string x, y;
            if (!field.ToText(x) || !value.ToText(y))
                return false;
            order = CompareText(x, y);
        } else {
            order = a < b ? -1 : a > b ? 1 : 0;
        }
    }
    switch (node.op) {
    case Op::Eq:
        return order == 0;
    case Op::Ne:
        return order != 0;
    case Op::Lt:
        return order < 0;
    case Op::Gt:
        return order > 0;
    case Op::Le:
        return order <= 0;
    case Op::Ge:
        return order >= 0;
    case Op::Like:
        break;
    }
    return false;
}

} // namespace vm::ado
