#include "platform/ado/AccessSql.h"

#include "platform/automation/Variant.h"
#include "platform/text/Gbk.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace vm::ado {
namespace {

enum class Tok { End, Word, Name, String, Number, Date, Param, Op };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // as written (the operator, the word, the number)
    std::string value; // a name without brackets, a text without quotes, a date as stored
    std::size_t at = 0;
};

bool IsWordStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsWordPart(unsigned char c) {
    return IsWordStart(c) || (c >= '0' && c <= '9');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

class Tokenizer {
public:
    explicit Tokenizer(std::string_view sql) : sql_(sql) {}

    bool Run(std::vector<Token>& out, std::string& error) {
        for (;;) {
            Skip();
            Token token;
            token.at = i_;
            if (i_ >= sql_.size()) {
                out.push_back(std::move(token));
                return true;
            }
            if (!Next(token, error))
                return false;
            out.push_back(std::move(token));
        }
    }

private:
    void Skip() {
        while (i_ < sql_.size()) {
            const char c = sql_[i_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++i_;
            } else if (sql_.substr(i_, 2) == "/*") {
                // "/*" has no other reading; "--" has ("x--1" is x minus minus one), so it
                // is no comment here.
                const std::size_t end = sql_.find("*/", i_ + 2);
                i_ = end == std::string_view::npos ? sql_.size() : end + 2;
            } else {
                return;
            }
        }
    }

    // Text up to the closing `close`, walking whole GBK characters; `doubled` quotes stand for
    // one. False when the text never closes.
    bool Quoted(char close, bool doubled, std::string& value) {
        ++i_;
        while (i_ < sql_.size()) {
            const std::size_t length = text::CharLengthAt(sql_, i_);
            if (length == 1 && sql_[i_] == close) {
                if (doubled && i_ + 1 < sql_.size() && sql_[i_ + 1] == close) {
                    value += close;
                    i_ += 2;
                    continue;
                }
                ++i_;
                return true;
            }
            value.append(sql_.substr(i_, length));
            i_ += length;
        }
        return false;
    }

    bool Next(Token& token, std::string& error) {
        const std::size_t start = i_;
        const char c = sql_[i_];
        const auto rest = [&] { return std::string(sql_.substr(start, 40)); };
        if (c == '\'' || c == '"') {
            token.kind = Tok::String;
            if (!Quoted(c, true, token.value)) {
                error = "Syntax error in string in query expression '" + rest() + "'.";
                return false;
            }
        } else if (c == '[') {
            token.kind = Tok::Name;
            if (!Quoted(']', false, token.value) || token.value.empty()) {
                error = "Invalid bracketing of name '" + rest() + "'.";
                return false;
            }
        } else if (c == '#') {
            token.kind = Tok::Date;
            std::string literal;
            double date = 0;
            if (!Quoted('#', false, literal) || !automation::ParseOleDate(literal, date)) {
                error = "Syntax error in date in query expression '" + rest() + "'.";
                return false;
            }
            token.value = StoredDate(date);
        } else if (IsDigit(c) || (c == '.' && i_ + 1 < sql_.size() && IsDigit(sql_[i_ + 1]))) {
            token.kind = Tok::Number;
            while (i_ < sql_.size() && (IsDigit(sql_[i_]) || sql_[i_] == '.'))
                ++i_;
            if (i_ < sql_.size() && (sql_[i_] == 'e' || sql_[i_] == 'E')) {
                std::size_t j = i_ + 1;
                if (j < sql_.size() && (sql_[j] == '+' || sql_[j] == '-'))
                    ++j;
                if (j < sql_.size() && IsDigit(sql_[j])) {
                    i_ = j;
                    while (i_ < sql_.size() && IsDigit(sql_[i_]))
                        ++i_;
                }
            }
            if (std::count(sql_.begin() + static_cast<std::ptrdiff_t>(start),
                           sql_.begin() + static_cast<std::ptrdiff_t>(i_), '.') > 1) {
                error = "Syntax error in number in query expression '" + rest() + "'.";
                return false;
            }
        } else if (IsWordStart(static_cast<unsigned char>(c))) {
            token.kind = Tok::Word;
            while (i_ < sql_.size() && IsWordPart(static_cast<unsigned char>(sql_[i_])))
                i_ += text::CharLengthAt(sql_, i_);
            token.value = std::string(sql_.substr(start, i_ - start));
        } else if (c == '?') {
            token.kind = Tok::Param;
            ++i_;
        } else {
            token.kind = Tok::Op;
            static constexpr std::array<std::string_view, 4> kPairs = {"<>", "<=", ">=", "!="};
            std::size_t length = 1;
            for (const std::string_view pair : kPairs)
                if (sql_.substr(i_, 2) == pair)
                    length = 2;
            if (std::string_view("(),.*+-/\\^&=<>;!").find(c) == std::string_view::npos) {
                error = "Syntax error: the character '" + std::string(1, c) +
                        "' has no meaning in a query expression ('" + rest() + "').";
                return false;
            }
            i_ += length;
        }
        token.text = std::string(sql_.substr(start, i_ - start));
        if (token.text == "!=")
            token.text = "<>";
        return true;
    }

    std::string_view sql_;
    std::size_t i_ = 0;
};

bool IsWord(const Token& t, std::string_view word) {
    return t.kind == Tok::Word && text::EqualsNoCase(t.text, word);
}

bool IsOp(const Token& t, std::string_view op) {
    return t.kind == Tok::Op && t.text == op;
}

std::string QuoteName(std::string_view name) {
    std::string out = "\"";
    for (const char c : name) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + '"';
}

std::string QuoteText(std::string_view value) {
    std::string out = "'";
    for (const char c : value) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + '\'';
}

// The words that end an expression: clause keywords of a SELECT.
bool IsClauseWord(const Token& t, const Token& next) {
    // Left( and Right( are the functions, not the joins.
    if ((IsWord(t, "LEFT") || IsWord(t, "RIGHT")) && IsOp(next, "("))
        return false;
    static constexpr std::array<std::string_view, 22> kWords = {
        "SELECT", "FROM", "WHERE", "GROUP", "BY",       "HAVING",     "ORDER", "UNION",
        "AS",     "ON",   "INNER", "LEFT",  "RIGHT",    "OUTER",      "JOIN",  "ASC",
        "DESC",   "INTO", "ALL",   "TOP",   "DISTINCT", "DISTINCTROW"};
    if (t.kind != Tok::Word)
        return false;
    for (const std::string_view word : kWords)
        if (text::EqualsNoCase(t.text, word))
            return true;
    return false;
}

// An expression rewritten: its SQLite text, whether it is a comparison's 1/0 (which Access
// writes as -1/0 when used as a value), and whether it holds a date.
struct Expr {
    std::string sql;
    bool boolean = false;
    bool date = false;
    bool name = false; // a column, which names its result column
};

// Access's functions and what serves them here.
struct FunctionInfo {
    std::string_view name;
    std::string_view sqlite;
    int minArgs;
    int maxArgs;
    bool date; // returns a date
};

constexpr std::array<FunctionInfo, 42> kFunctions = {{
    {"Nz", "vm_nz", 1, 2, false},
    {"IsNull", "", 1, 1, false}, // rewritten as IS NULL
    {"IIf", "", 3, 3, false},    // rewritten as CASE
    {"Len", "vm_len", 1, 1, false},
    {"Left", "vm_left", 2, 2, false},
    {"Right", "vm_right", 2, 2, false},
    {"Mid", "vm_mid", 2, 3, false},
    {"InStr", "vm_instr", 2, 4, false},
    {"UCase", "vm_ucase", 1, 1, false},
    {"LCase", "vm_lcase", 1, 1, false},
    {"Trim", "vm_trim", 1, 1, false},
    {"LTrim", "vm_ltrim", 1, 1, false},
    {"RTrim", "vm_rtrim", 1, 1, false},
    {"Replace", "vm_replace", 3, 5, false},
    {"Format", "vm_format", 1, 2, false},
    {"Now", "vm_now", 0, 0, true},
    {"Date", "vm_date", 0, 0, true},
    {"Time", "vm_time", 0, 0, true},
    {"Year", "vm_year", 1, 1, false},
    {"Month", "vm_month", 1, 1, false},
    {"Day", "vm_day", 1, 1, false},
    {"Hour", "vm_hour", 1, 1, false},
    {"Minute", "vm_minute", 1, 1, false},
    {"Second", "vm_second", 1, 1, false},
    {"Weekday", "vm_weekday", 1, 1, false},
    {"DateAdd", "vm_dateadd", 3, 3, true},
    {"DateDiff", "vm_datediff", 3, 3, false},
    {"DateSerial", "vm_dateserial", 3, 3, true},
    {"CDate", "vm_cdate", 1, 1, true},
    {"DateValue", "vm_cdate", 1, 1, true},
    {"CInt", "vm_cint", 1, 1, false},
    {"CLng", "vm_clng", 1, 1, false},
    {"CDbl", "vm_cdbl", 1, 1, false},
    {"CSng", "vm_cdbl", 1, 1, false},
    {"CStr", "vm_cstr", 1, 1, false},
    {"Val", "vm_val", 1, 1, false},
    {"Abs", "abs", 1, 1, false},
    {"Int", "vm_int", 1, 1, false},
    {"Fix", "vm_fix", 1, 1, false},
    {"Round", "vm_round", 1, 2, false},
    {"Space", "vm_space", 1, 1, false},
    {"String", "vm_string", 2, 2, false},
}};

constexpr std::array<std::string_view, 5> kAggregates = {"Count", "Sum", "Avg", "Min", "Max"};

const FunctionInfo* FindFunction(std::string_view name) {
    for (const FunctionInfo& f : kFunctions)
        if (text::EqualsNoCase(f.name, name))
            return &f;
    return nullptr;
}

// One SELECT being rewritten (an outer query or a subquery).
struct Scope {
    bool nested = false;
    bool selectSeen = false;
    std::optional<double> top;
    bool topPercent = false;
    bool union_ = false;
    bool star = false;
    bool inSelectList = false;
    std::size_t selectListEnd = std::string::npos; // in the output, where FROM starts
    std::vector<bool> dateItems;
    bool inOrderBy = false;
    std::vector<std::string> orderItems; // SQLite texts of the ORDER BY keys
    int unnamed = 0;                     // expressions without AS, named Expr1000 on
};

class Translator {
public:
    Translator(std::vector<Token> tokens, std::string_view sql)
        : tokens_(std::move(tokens)), sql_(sql) {}

    bool Run(AccessStatement& out, std::string& error) {
        Scope scope;
        std::string sql;
        if (!Statement(scope, sql))
            return Report(error);
        if (IsOp(At(), ";"))
            ++pos_;
        if (At().kind != Tok::End) {
            Fail("Characters found after end of SQL statement.");
            return Report(error);
        }
        if (!Finish(scope, sql, true, &out))
            return Report(error);
        out.sql = std::move(sql);
        if (!scope.star)
            out.dateColumns = scope.dateItems;
        return true;
    }

private:
    const Token& At(std::size_t ahead = 0) const {
        return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
    }

    bool Fail(std::string message) {
        if (error_.empty())
            error_ = std::move(message);
        return false;
    }

    bool Report(std::string& error) {
        error = error_.empty() ? "Syntax error in query expression." : error_;
        return false;
    }

    std::string Near() const {
        const std::size_t at = At().at;
        return std::string(sql_.substr(at, 40));
    }

    bool Expect(std::string_view op) {
        if (IsOp(At(), op)) {
            ++pos_;
            return true;
        }
        return Fail("Syntax error (missing " + std::string(op) + ") in query expression '" +
                    Near() + "'.");
    }

    // Applies the scope's TOP to the rewritten text when SQLite can: otherwise the outermost
    // query leaves it to the session, and a subquery refuses it.
    bool Finish(Scope& scope, std::string& sql, bool outermost, AccessStatement* out) {
        if (!scope.top)
            return true;
        const bool ordered = !scope.orderItems.empty();
        if (scope.union_)
            return Fail("TOP in a UNION query is not supported by this provider.");
        if (!ordered && !scope.topPercent) {
            sql += " LIMIT " + std::to_string(static_cast<long long>(*scope.top));
            return true;
        }
        if (!outermost)
            return Fail(std::string("TOP ") + (scope.topPercent ? "... PERCENT" : "with ORDER BY") +
                        " inside a subquery is not supported by this provider.");
        out->top = *scope.top;
        out->topPercent = scope.topPercent;
        if (!ordered)
            return true;
        // The ORDER BY keys travel as extra result columns, so that the rows can tell their
        // ties; a key that is a column number names the column itself.
        std::string hidden;
        int extra = 0;
        int visible = static_cast<int>(scope.dateItems.size());
        for (const std::string& key : scope.orderItems) {
            char* end = nullptr;
            const long number = std::strtol(key.c_str(), &end, 10);
            if (end && *end == '\0' && number >= 1 && !scope.star && number <= visible) {
                out->tieColumns.push_back(static_cast<int>(number) - 1);
                continue;
            }
            hidden += ", " + key + " AS " + QuoteName("vm_tie" + std::to_string(++extra));
            out->tieColumns.push_back(-extra);
        }
        if (extra > 0 && scope.selectListEnd == std::string::npos)
            return Fail("TOP with ORDER BY needs a FROM clause here.");
        out->hiddenColumns = extra;
        if (extra > 0)
            sql.insert(scope.selectListEnd, hidden + " ");
        return true;
    }

    bool Statement(Scope& scope, std::string& sql) {
        const Nesting nesting(depth_);
        if (depth_ > kDeepest)
            return Fail("Query is too complex: subqueries nest more than 200 deep.");
        bool condition = false;
        for (;;) {
            const Token& t = At();
            if (t.kind == Tok::End || IsOp(t, ";") || (scope.nested && IsOp(t, ")")))
                return true;
            if (IsWord(t, "SELECT")) {
                if (scope.selectSeen && !scope.union_)
                    return Fail("Syntax error: SELECT in the wrong place ('" + Near() + "').");
                scope.selectSeen = true;
                sql += "SELECT ";
                ++pos_;
                if (IsWord(At(), "DISTINCT") || IsWord(At(), "ALL")) {
                    sql += IsWord(At(), "DISTINCT") ? "DISTINCT " : "";
                    ++pos_;
                } else if (IsWord(At(), "DISTINCTROW")) {
                    ++pos_; // over the rows of one table, the rows are distinct already
                }
                if (IsWord(At(), "TOP") && !Top(scope))
                    return false;
                scope.inSelectList = !scope.union_;
                condition = false;
                continue;
            }
            if (t.kind == Tok::Word && IsClauseWord(t, At(1))) {
                ++pos_;
                std::string word = t.text;
                for (char& c : word)
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                if (word == "FROM" && scope.inSelectList) {
                    scope.selectListEnd = sql.size();
                    scope.inSelectList = false;
                }
                if (word == "TOP" || word == "DISTINCT" || word == "DISTINCTROW")
                    return Fail("Syntax error: " + word + " in the wrong place ('" + Near() +
                                "').");
                if (word == "INTO")
                    return Fail("SELECT ... INTO a table is not supported by this provider.");
                if (word == "UNION") {
                    scope.union_ = true;
                    scope.inSelectList = false;
                    scope.inOrderBy = false;
                    scope.orderItems.clear();
                }
                if (word == "ORDER") {
                    scope.inSelectList = false;
                    scope.inOrderBy = true;
                }
                if (word == "WHERE" || word == "HAVING" || word == "GROUP") {
                    scope.inSelectList = false;
                    scope.inOrderBy = false;
                }
                condition = word == "WHERE" || word == "HAVING" || word == "ON";
                sql += word + " ";
                if (word == "AS") {
                    const Token& alias = At();
                    if (alias.kind != Tok::Word && alias.kind != Tok::Name &&
                        alias.kind != Tok::String)
                        return Fail("Syntax error: a name must follow AS ('" + Near() + "').");
                    sql += QuoteName(alias.kind == Tok::Word ? alias.text : alias.value) + " ";
                    ++pos_;
                }
                continue;
            }
            if (IsOp(t, ",")) {
                sql += ", ";
                ++pos_;
                continue;
            }
            if (IsOp(t, "*") && scope.inSelectList) {
                scope.star = true;
                sql += "* ";
                ++pos_;
                continue;
            }
            if (IsOp(t, "(") && IsWord(At(1), "SELECT") && !scope.inSelectList) {
                // A derived table in FROM.
                Expr sub;
                if (!Primary(sub))
                    return false;
                sql += sub.sql + " ";
                continue;
            }
            Expr e;
            if (!Expression(e))
                return false;
            if (condition)
                sql += e.sql + " ";
            else
                sql += Value(e).sql + " ";
            // As Access names them: an expression without AS is Expr1000, Expr1001, ...
            if (scope.inSelectList && !e.name && !IsWord(At(), "AS"))
                sql += "AS " + QuoteName("Expr" + std::to_string(1000 + scope.unnamed++)) + " ";
            if (scope.inSelectList && !scope.star)
                scope.dateItems.push_back(e.date);
            if (scope.inSelectList && scope.star)
                scope.dateItems.push_back(false);
            if (scope.inOrderBy)
                scope.orderItems.push_back(Value(e).sql);
        }
    }

    bool Top(Scope& scope) {
        ++pos_;
        const Token& n = At();
        if (n.kind != Tok::Number)
            return Fail("The SELECT statement includes a reserved word or an argument name that "
                        "is misspelled or missing, or the punctuation is incorrect (TOP needs a "
                        "number).");
        const double value = std::strtod(n.text.c_str(), nullptr);
        ++pos_;
        if (IsWord(At(), "PERCENT")) {
            scope.topPercent = true;
            ++pos_;
        }
        if (!std::isfinite(value) || value <= 0 || (scope.topPercent && value > 100) ||
            (!scope.topPercent && (value != std::trunc(value) || value > 9.2e18)))
            return Fail("The TOP value " + n.text + (scope.topPercent ? " PERCENT" : "") +
                        " is not valid: it must be a whole number of rows from 1, or a "
                        "percentage above 0 and at most 100.");
        scope.top = value;
        return true;
    }

    static Expr Value(const Expr& e) {
        if (!e.boolean)
            return e;
        return {"(-(" + e.sql + "))", false, false};
    }

    static Expr Bool(std::string sql) { return {std::move(sql), true, false}; }

    // Nesting is bounded, so that no statement runs the parser out of stack.
    struct Nesting {
        explicit Nesting(int& depth) : depth_(depth) { ++depth_; }
        ~Nesting() { --depth_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;
        int& depth_;
    };
    static constexpr int kDeepest = 200;

    bool Expression(Expr& out) {
        const Nesting nesting(depth_);
        if (depth_ > kDeepest)
            return Fail("Query is too complex: expressions nest more than 200 deep.");
        return Or(out);
    }

    bool Or(Expr& out) {
        if (!Xor(out))
            return false;
        while (IsWord(At(), "OR")) {
            ++pos_;
            Expr right;
            if (!Xor(right))
                return false;
            out = Bool("(" + out.sql + " OR " + right.sql + ")");
        }
        return true;
    }

    bool Xor(Expr& out) {
        if (!And(out))
            return false;
        while (IsWord(At(), "XOR") || IsWord(At(), "EQV") || IsWord(At(), "IMP"))
            return Fail("The operator " + At().text + " is not supported by this provider.");
        return true;
    }

    bool And(Expr& out) {
        if (!Not(out))
            return false;
        while (IsWord(At(), "AND")) {
            ++pos_;
            Expr right;
            if (!Not(right))
                return false;
            out = Bool("(" + out.sql + " AND " + right.sql + ")");
        }
        return true;
    }

    bool Not(Expr& out) {
        const Nesting nesting(depth_);
        if (depth_ > kDeepest)
            return Fail("Query is too complex: expressions nest more than 200 deep.");
        if (IsWord(At(), "NOT")) {
            ++pos_;
            Expr inner;
            if (!Not(inner))
                return false;
            out = Bool("(NOT " + inner.sql + ")");
            return true;
        }
        return Comparison(out);
    }

    static std::string Collated(const Expr& e) { return "(" + Value(e).sql + ") COLLATE VM_JET"; }

    bool Comparison(Expr& out) {
        if (!Concat(out))
            return false;
        const Token& t = At();
        static constexpr std::array<std::string_view, 6> kOps = {"=", "<>", "<", ">", "<=", ">="};
        for (const std::string_view op : kOps) {
            if (IsOp(t, op)) {
                ++pos_;
                Expr right;
                if (!Concat(right))
                    return false;
                out = Bool("(" + Collated(out) + " " + std::string(op) + " " + Value(right).sql +
                           ")");
                return true;
            }
        }
        bool negated = false;
        if (IsWord(t, "NOT") &&
            (IsWord(At(1), "LIKE") || IsWord(At(1), "BETWEEN") || IsWord(At(1), "IN"))) {
            negated = true;
            ++pos_;
        }
        const std::string no = negated ? "NOT " : "";
        if (IsWord(At(), "LIKE")) {
            ++pos_;
            Expr pattern;
            if (!Concat(pattern))
                return false;
            out = Bool("(" + no + "vm_like(" + Value(out).sql + ", " + Value(pattern).sql + "))");
            return true;
        }
        if (IsWord(At(), "BETWEEN")) {
            ++pos_;
            Expr low, high;
            if (!Concat(low))
                return false;
            if (!IsWord(At(), "AND"))
                return Fail("Between operator without And in query expression '" + Near() + "'.");
            ++pos_;
            if (!Concat(high))
                return false;
            out = Bool("(" + Collated(out) + " " + no + "BETWEEN " + Value(low).sql + " AND " +
                       Value(high).sql + ")");
            return true;
        }
        if (IsWord(At(), "IN")) {
            ++pos_;
            if (!IsOp(At(), "("))
                return Fail("Syntax error: IN needs a list in parentheses ('" + Near() + "').");
            std::string list;
            if (IsWord(At(1), "SELECT")) {
                Expr sub;
                if (!Primary(sub))
                    return false;
                list = sub.sql;
            } else {
                ++pos_;
                list = "(";
                for (bool first = true;; first = false) {
                    Expr item;
                    if (!Concat(item))
                        return false;
                    list += (first ? "" : ", ") + Value(item).sql;
                    if (IsOp(At(), ",")) {
                        ++pos_;
                        continue;
                    }
                    if (!Expect(")"))
                        return false;
                    break;
                }
                list += ")";
            }
            out = Bool("(" + Collated(out) + " " + no + "IN " + list + ")");
            return true;
        }
        if (negated)
            return Fail("Syntax error in query expression '" + Near() + "'.");
        if (IsWord(At(), "IS")) {
            ++pos_;
            bool isNot = false;
            if (IsWord(At(), "NOT")) {
                isNot = true;
                ++pos_;
            }
            if (!IsWord(At(), "NULL"))
                return Fail("Syntax error: IS must be followed by [NOT] NULL ('" + Near() + "').");
            ++pos_;
            out = Bool("(" + Value(out).sql + (isNot ? " IS NOT NULL)" : " IS NULL)"));
        }
        return true;
    }

    bool Concat(Expr& out) {
        if (!Additive(out))
            return false;
        while (IsOp(At(), "&")) {
            ++pos_;
            Expr right;
            if (!Additive(right))
                return false;
            out = {"vm_concat(" + Value(out).sql + ", " + Value(right).sql + ")", false, false};
        }
        return true;
    }

    bool Additive(Expr& out) {
        if (!Modulo(out))
            return false;
        while (IsOp(At(), "+") || IsOp(At(), "-")) {
            const bool plus = IsOp(At(), "+");
            ++pos_;
            Expr right;
            if (!Modulo(right))
                return false;
            const bool date = (out.date || right.date) && !(out.date && right.date);
            out = {std::string(plus ? "vm_add(" : "vm_sub(") + Value(out).sql + ", " +
                       Value(right).sql + ")",
                   false, date};
        }
        return true;
    }

    bool Modulo(Expr& out) {
        if (!IntegerDivision(out))
            return false;
        while (IsWord(At(), "MOD")) {
            ++pos_;
            Expr right;
            if (!IntegerDivision(right))
                return false;
            out = {"vm_mod(" + Value(out).sql + ", " + Value(right).sql + ")", false, false};
        }
        return true;
    }

    bool IntegerDivision(Expr& out) {
        if (!Multiplicative(out))
            return false;
        while (IsOp(At(), "\\")) {
            ++pos_;
            Expr right;
            if (!Multiplicative(right))
                return false;
            out = {"vm_idiv(" + Value(out).sql + ", " + Value(right).sql + ")", false, false};
        }
        return true;
    }

    bool Multiplicative(Expr& out) {
        if (!Unary(out))
            return false;
        while (IsOp(At(), "*") || IsOp(At(), "/")) {
            const bool times = IsOp(At(), "*");
            ++pos_;
            Expr right;
            if (!Unary(right))
                return false;
            out = {times ? "(" + Value(out).sql + " * " + Value(right).sql + ")"
                         : "vm_div(" + Value(out).sql + ", " + Value(right).sql + ")",
                   false, false};
        }
        return true;
    }

    bool Unary(Expr& out) {
        const Nesting nesting(depth_);
        if (depth_ > kDeepest)
            return Fail("Query is too complex: expressions nest more than 200 deep.");
        if (IsOp(At(), "-") || IsOp(At(), "+")) {
            const bool minus = IsOp(At(), "-");
            ++pos_;
            Expr inner;
            if (!Unary(inner))
                return false;
            out = {minus ? "(-" + Value(inner).sql + ")" : Value(inner).sql, false, false};
            return true;
        }
        return Power(out);
    }

    bool Power(Expr& out) {
        if (!Primary(out))
            return false;
        while (IsOp(At(), "^")) {
            ++pos_;
            Expr right;
            if (!Primary(right))
                return false;
            out = {"vm_pow(" + Value(out).sql + ", " + Value(right).sql + ")", false, false};
        }
        return true;
    }

    bool Arguments(std::vector<Expr>& args, bool& star) {
        star = false;
        if (!Expect("("))
            return false;
        if (IsOp(At(), ")")) {
            ++pos_;
            return true;
        }
        if (IsOp(At(), "*") && IsOp(At(1), ")")) {
            star = true;
            pos_ += 2;
            return true;
        }
        for (;;) {
            Expr arg;
            if (!Expression(arg))
                return false;
            args.push_back(std::move(arg));
            if (IsOp(At(), ",")) {
                ++pos_;
                continue;
            }
            return Expect(")");
        }
    }

    bool Call(const std::string& name, Expr& out) {
        std::vector<Expr> args;
        bool star = false;
        if (!Arguments(args, star))
            return false;
        for (const std::string_view aggregate : kAggregates) {
            if (!text::EqualsNoCase(aggregate, name))
                continue;
            if (star && !text::EqualsNoCase(name, "Count"))
                return Fail("Syntax error: " + name + "(*) is not allowed.");
            if (!star && args.size() != 1)
                return Fail("Wrong number of arguments used with function '" + name +
                            "' in query expression.");
            std::string lower(aggregate);
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            out = {lower + "(" + (star ? "*" : Value(args[0]).sql) + ")", false,
                   !star && args[0].date && lower != "count" && lower != "sum" && lower != "avg"};
            return true;
        }
        const FunctionInfo* f = FindFunction(name);
        if (!f)
            return Fail("Undefined function '" + name + "' in expression.");
        if (star || static_cast<int>(args.size()) < f->minArgs ||
            static_cast<int>(args.size()) > f->maxArgs)
            return Fail("Wrong number of arguments used with function '" + std::string(f->name) +
                        "' in query expression.");
        if (f->name == "IsNull") {
            out = Bool("(" + Value(args[0]).sql + " IS NULL)");
            return true;
        }
        if (f->name == "IIf") {
            const Expr yes = Value(args[1]), no = Value(args[2]);
            out = {"(CASE WHEN " + args[0].sql + " THEN " + yes.sql + " ELSE " + no.sql + " END)",
                   false, yes.date && no.date};
            return true;
        }
        std::string sql = std::string(f->sqlite) + "(";
        for (std::size_t i = 0; i < args.size(); ++i)
            sql += (i ? ", " : "") + Value(args[i]).sql;
        out = {sql + ")", false, f->date || (f->name == "Nz" && args[0].date)};
        return true;
    }

    bool Primary(Expr& out) {
        const Token& t = At();
        switch (t.kind) {
        case Tok::Number:
            ++pos_;
            out = {t.text, false, false};
            return true;
        case Tok::String:
            ++pos_;
            out = {QuoteText(t.value), false, false};
            return true;
        case Tok::Date:
            ++pos_;
            out = {QuoteText(t.value), false, true};
            return true;
        case Tok::Param:
            ++pos_;
            out = {"?", false, false};
            return true;
        case Tok::Name:
        case Tok::Word:
            return NameOrCall(out);
        case Tok::Op:
            if (IsOp(t, "(")) {
                ++pos_;
                if (IsWord(At(), "SELECT")) {
                    Scope scope;
                    scope.nested = true;
                    std::string sub;
                    if (!Statement(scope, sub) || !Finish(scope, sub, false, nullptr))
                        return false;
                    if (!Expect(")"))
                        return false;
                    out = {"(" + sub + ")", false, false};
                    return true;
                }
                Expr inner;
                if (!Expression(inner) || !Expect(")"))
                    return false;
                out = {"(" + inner.sql + ")", inner.boolean, inner.date};
                return true;
            }
            break;
        case Tok::End:
            return Fail("Syntax error (missing operand) in query expression '" +
                        std::string(sql_.substr(sql_.size() > 40 ? sql_.size() - 40 : 0)) + "'.");
        }
        return Fail("Syntax error (missing operator) in query expression '" + Near() + "'.");
    }

    bool NameOrCall(Expr& out) {
        const Token& t = At();
        if (t.kind == Tok::Word) {
            if (IsClauseWord(t, At(1)))
                return Fail("Syntax error (missing operand) in query expression '" + Near() + "'.");
            if (IsWord(t, "True") || IsWord(t, "Yes") || IsWord(t, "On")) {
                ++pos_;
                out = {"-1", false, false};
                return true;
            }
            if (IsWord(t, "False") || IsWord(t, "No") || IsWord(t, "Off")) {
                ++pos_;
                out = {"0", false, false};
                return true;
            }
            if (IsWord(t, "Null")) {
                ++pos_;
                out = {"NULL", false, false};
                return true;
            }
            if (IsWord(t, "EXISTS")) {
                ++pos_;
                if (!IsOp(At(), "(") || !IsWord(At(1), "SELECT"))
                    return Fail("Syntax error: EXISTS needs a subquery ('" + Near() + "').");
                Expr sub;
                if (!Primary(sub))
                    return false;
                out = Bool("(EXISTS " + sub.sql + ")");
                return true;
            }
            static constexpr std::array<std::string_view, 7> kOperators = {
                "AND", "OR", "NOT", "LIKE", "BETWEEN", "IS", "MOD"};
            for (const std::string_view word : kOperators)
                if (IsWord(t, word))
                    return Fail("Syntax error (missing operand) in query expression '" + Near() +
                                "'.");
            if (IsOp(At(1), "(")) {
                ++pos_;
                return Call(t.text, out);
            }
        }
        // A name, qualified by its table ("t.col", "[t].[col]", "t.*").
        out = {};
        out.name = true;
        for (;;) {
            const Token& part = At();
            if (part.kind == Tok::Word)
                out.sql += QuoteName(part.text);
            else if (part.kind == Tok::Name)
                out.sql += QuoteName(part.value);
            else if (IsOp(part, "*") && !out.sql.empty())
                out.sql += "*";
            else
                return Fail("Syntax error in query expression '" + Near() + "'.");
            ++pos_;
            if (IsOp(part, "*") || (!IsOp(At(), ".") && !IsOp(At(), "!")))
                return true;
            ++pos_;
            out.sql += ".";
        }
    }

    std::vector<Token> tokens_;
    std::string_view sql_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    std::string error_;
};

// The first word of a statement, ASCII case folded.
bool StartsWithSelect(const std::vector<Token>& tokens) {
    std::size_t i = 0;
    while (i < tokens.size() && IsOp(tokens[i], "("))
        ++i;
    return i < tokens.size() && IsWord(tokens[i], "SELECT");
}

} // namespace

std::string StoredDate(double oleDate) {
    automation::DateParts p;
    if (!automation::SplitOleDate(oleDate, p))
        return automation::FormatNumber(oleDate);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second);
    return buffer;
}

bool TranslateAccessSql(std::string_view gbk, AccessStatement& out, std::string& error) {
    out = {};
    std::vector<Token> tokens;
    if (!Tokenizer(gbk).Run(tokens, error))
        return false;
    if (!StartsWithSelect(tokens)) {
        out.sql = std::string(gbk);
        return true;
    }
    return Translator(std::move(tokens), gbk).Run(out, error);
}

} // namespace vm::ado
