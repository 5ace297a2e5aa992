// The functions, the LIKE and the text comparison that rewritten Access statements call. The
// copies hold GBK in SQLite's text values; SQLite never converts them (the database and the
// functions are UTF-8 to it), so every function here reads whole GBK characters itself.

#include "platform/ado/AccessSql.h"

#include "platform/automation/Variant.h"
#include "platform/text/Gbk.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace vm::ado {
namespace {

using automation::DateParts;

// One character at `i`: its code (a byte, or lead << 8 | trail) and its length.
std::uint32_t CodeAt(std::string_view s, std::size_t i, std::size_t& length) {
    length = text::CharLengthAt(s, i);
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (length == 1)
        return b0;
    return static_cast<std::uint32_t>(b0) << 8 | static_cast<unsigned char>(s[i + 1]);
}

// Upper case of a character: ASCII, the full-width Latin, Greek and Cyrillic letters of GBK.
std::uint32_t Fold(std::uint32_t c) {
    if (c >= 'a' && c <= 'z')
        return c - 32;
    if ((c >= 0xA3E1 && c <= 0xA3FA) || (c >= 0xA6C1 && c <= 0xA6D8))
        return c - 0x20;
    if (c >= 0xA7D1 && c <= 0xA7F1)
        return c - 0x30;
    return c;
}

std::uint32_t Lower(std::uint32_t c) {
    if (c >= 'A' && c <= 'Z')
        return c + 32;
    if ((c >= 0xA3C1 && c <= 0xA3DA) || (c >= 0xA6A1 && c <= 0xA6B8))
        return c + 0x20;
    if (c >= 0xA7A1 && c <= 0xA7C1)
        return c + 0x30;
    return c;
}

void Append(std::string& out, std::uint32_t c) {
    if (c > 0xFF)
        out += static_cast<char>(c >> 8);
    out += static_cast<char>(c & 0xFF);
}

std::vector<std::uint32_t> Chars(std::string_view s) {
    std::vector<std::uint32_t> out;
    out.reserve(s.size());
    for (std::size_t i = 0, n = 0; i < s.size(); i += n)
        out.push_back(CodeAt(s, i, n));
    return out;
}

std::string FromChars(const std::vector<std::uint32_t>& chars, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to && i < chars.size(); ++i)
        Append(out, chars[i]);
    return out;
}

// A LIKE pattern taken apart.
struct Piece {
    enum Kind { Any, One, Char, Set };
    Piece(Kind k, std::uint32_t ch = 0) : kind(k), c(ch) {}
    Kind kind;
    std::uint32_t c = 0;
    bool negated = false;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
};

bool ParsePattern(std::string_view pattern, std::vector<Piece>& out) {
    const std::vector<std::uint32_t> p = Chars(pattern);
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] == '%') {
            if (out.empty() || out.back().kind != Piece::Any) // a run of % is one
                out.emplace_back(Piece::Any);
        } else if (p[i] == '_') {
            out.emplace_back(Piece::One);
        } else if (p[i] == '[') {
            Piece set(Piece::Set);
            std::size_t j = i + 1;
            if (j < p.size() && p[j] == '!')
                set.negated = true, ++j;
            bool closed = false;
            for (; j < p.size(); ++j) {
                if (p[j] == ']') {
                    closed = true;
                    break;
                }
                std::uint32_t low = Fold(p[j]), high = low;
                if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']') {
                    high = Fold(p[j + 2]);
                    j += 2;
                    if (high < low)
                        return false;
                }
                set.ranges.emplace_back(low, high);
            }
            if (!closed)
                return false;
            i = j;
            if (!set.ranges.empty() || set.negated)
                out.push_back(std::move(set)); // "[]" stands for nothing
        } else {
            out.emplace_back(Piece::Char, Fold(p[i]));
        }
    }
    return true;
}

bool Matches(const Piece& piece, std::uint32_t c) {
    switch (piece.kind) {
    case Piece::One:
        return true;
    case Piece::Char:
        return piece.c == c;
    case Piece::Set: {
        bool in = false;
        for (const auto& [low, high] : piece.ranges)
            in = in || (c >= low && c <= high);
        return in != piece.negated;
    }
    case Piece::Any:
        break;
    }
    return false;
}

// Greedy matching that backs up to the last `%` only: at most text × pattern steps.
bool MatchPieces(const std::vector<Piece>& pieces, const std::vector<std::uint32_t>& text) {
    std::size_t t = 0, p = 0;
    std::size_t starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pieces.size() && pieces[p].kind != Piece::Any && Matches(pieces[p], text[t])) {
            ++t, ++p;
        } else if (p < pieces.size() && pieces[p].kind == Piece::Any) {
            starP = p++;
            starT = t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pieces.size() && pieces[p].kind == Piece::Any)
        ++p;
    return p == pieces.size();
}

// --- values -------------------------------------------------------------------------------

constexpr const char* kMismatch = "Data type mismatch in criteria expression.";
constexpr const char* kInvalidNull = "Invalid use of Null";

std::string_view TextOf(sqlite3_value* v) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return {bytes ? bytes : "", static_cast<std::size_t>(sqlite3_value_bytes(v))};
}

bool IsNull(sqlite3_value* v) {
    return sqlite3_value_type(v) == SQLITE_NULL;
}

bool IsText(sqlite3_value* v) {
    return sqlite3_value_type(v) == SQLITE_TEXT;
}

bool IsInteger(sqlite3_value* v) {
    return sqlite3_value_type(v) == SQLITE_INTEGER;
}

bool NumberOf(sqlite3_value* v, double& out) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        out = sqlite3_value_double(v);
        return true;
    case SQLITE_TEXT:
        return automation::ParseNumber(TextOf(v), out);
    default:
        return false;
    }
}

// A date as a stored text, an OLE date number, or a text Jet reads as a date.
bool DateOf(sqlite3_value* v, double& out) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        out = sqlite3_value_double(v);
        return true;
    case SQLITE_TEXT:
        return automation::ParseOleDate(TextOf(v), out);
    default:
        return false;
    }
}

bool LooksLikeDate(sqlite3_value* v, double& out) {
    double number = 0;
    return IsText(v) && !automation::ParseNumber(TextOf(v), number) &&
           automation::ParseOleDate(TextOf(v), out);
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
    sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void ResultDate(sqlite3_context* ctx, double date) {
    if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0) {
        sqlite3_result_error(ctx, "Overflow: the date is outside the years 100 to 9999.", -1);
        return;
    }
    ResultText(ctx, StoredDate(date));
}

void ResultNumber(sqlite3_context* ctx, double value) {
    if (value == std::trunc(value) && std::fabs(value) < 9e15)
        sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(value));
    else
        sqlite3_result_double(ctx, value);
}

void Error(sqlite3_context* ctx, const char* message) {
    sqlite3_result_error(ctx, message, -1);
}

// Half to even, as CInt, CLng and Round do.
double RoundEven(double value, int digits = 0) {
    const double scale = std::pow(10.0, digits);
    const double scaled = value * scale;
    double r = std::nearbyint(scaled); // the default mode rounds half to even
    if (std::fabs(scaled - std::trunc(scaled)) != 0.5)
        r = std::round(scaled);
    return r / scale;
}

bool AnyNull(int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (IsNull(argv[i]))
            return true;
    return false;
}

// --- operators ----------------------------------------------------------------------------

void Concat(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (IsNull(argv[0]) && IsNull(argv[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string out(IsNull(argv[0]) ? std::string_view() : TextOf(argv[0]));
    out += IsNull(argv[1]) ? std::string_view() : TextOf(argv[1]);
    ResultText(ctx, out);
}

void AddOrSubtract(sqlite3_context* ctx, sqlite3_value** argv, bool add) {
    if (IsNull(argv[0]) || IsNull(argv[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (add && IsText(argv[0]) && IsText(argv[1])) {
        std::string out(TextOf(argv[0]));
        out += TextOf(argv[1]);
        ResultText(ctx, out);
        return;
    }
    if (IsInteger(argv[0]) && IsInteger(argv[1])) {
        const sqlite3_int64 a = sqlite3_value_int64(argv[0]), b = sqlite3_value_int64(argv[1]);
        sqlite3_int64 r = 0;
        if (!(add ? __builtin_add_overflow(a, b, &r) : __builtin_sub_overflow(a, b, &r))) {
            sqlite3_result_int64(ctx, r);
            return;
        }
    }
    double a = 0, b = 0, da = 0, db = 0;
    const bool dateA = LooksLikeDate(argv[0], da), dateB = LooksLikeDate(argv[1], db);
    if (dateA || dateB) {
        if (!(dateA ? true : NumberOf(argv[0], da)) || !(dateB ? true : NumberOf(argv[1], db))) {
            Error(ctx, kMismatch);
            return;
        }
        if (!add && dateA && dateB)
            ResultNumber(ctx, da - db);
        else
            ResultDate(ctx, add ? da + db : da - db);
        return;
    }
    if (!NumberOf(argv[0], a) || !NumberOf(argv[1], b)) {
        Error(ctx, kMismatch);
        return;
    }
    sqlite3_result_double(ctx, add ? a + b : a - b);
}

void Add(sqlite3_context* ctx, int, sqlite3_value** argv) {
    AddOrSubtract(ctx, argv, true);
}

void Subtract(sqlite3_context* ctx, int, sqlite3_value** argv) {
    AddOrSubtract(ctx, argv, false);
}

bool Operands(sqlite3_context* ctx, sqlite3_value** argv, double& a, double& b) {
    if (IsNull(argv[0]) || IsNull(argv[1])) {
        sqlite3_result_null(ctx);
        return false;
    }
    if (!NumberOf(argv[0], a) || !NumberOf(argv[1], b)) {
        Error(ctx, kMismatch);
        return false;
    }
    return true;
}

void Divide(sqlite3_context* ctx, int, sqlite3_value** argv) {
    double a = 0, b = 0;
    if (!Operands(ctx, argv, a, b))
        return;
    if (b == 0) {
        Error(ctx, "Division by zero");
        return;
    }
    sqlite3_result_double(ctx, a / b);
}

bool IntegerOperands(sqlite3_context* ctx, sqlite3_value** argv, sqlite3_int64& a,
                     sqlite3_int64& b) {
    double x = 0, y = 0;
    if (!Operands(ctx, argv, x, y))
        return false;
    x = RoundEven(x), y = RoundEven(y);
    if (std::fabs(x) > 9.2e18 || std::fabs(y) > 9.2e18) {
        Error(ctx, "Overflow");
        return false;
    }
    a = static_cast<sqlite3_int64>(x), b = static_cast<sqlite3_int64>(y);
    if (b == 0) {
        Error(ctx, "Division by zero");
        return false;
    }
    return true;
}

void IntegerDivide(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_int64 a = 0, b = 0;
    if (IntegerOperands(ctx, argv, a, b))
        sqlite3_result_int64(ctx, b == -1 ? -a : a / b);
}

void Modulo(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_int64 a = 0, b = 0;
    if (IntegerOperands(ctx, argv, a, b))
        sqlite3_result_int64(ctx, b == -1 ? 0 : a % b);
}

void Power(sqlite3_context* ctx, int, sqlite3_value** argv) {
    double a = 0, b = 0;
    if (Operands(ctx, argv, a, b))
        sqlite3_result_double(ctx, std::pow(a, b));
}

void Like(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (IsNull(argv[0]) || IsNull(argv[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    std::vector<Piece> pieces;
    if (!ParsePattern(TextOf(argv[1]), pieces)) {
        Error(ctx, "Invalid pattern string: a [ in the LIKE pattern has no closing ].");
        return;
    }
    std::vector<std::uint32_t> text = Chars(TextOf(argv[0]));
    for (std::uint32_t& c : text)
        c = Fold(c);
    sqlite3_result_int(ctx, MatchPieces(pieces, text) ? 1 : 0);
}

// --- texts --------------------------------------------------------------------------------

bool Count(sqlite3_context* ctx, sqlite3_value* v, sqlite3_int64& out, bool positive = false) {
    double n = 0;
    if (IsNull(v)) {
        Error(ctx, kInvalidNull);
        return false;
    }
    if (!NumberOf(v, n)) {
        Error(ctx, kMismatch);
        return false;
    }
    n = RoundEven(n);
    if (n < (positive ? 1 : 0) || n > 2147483647.0) {
        Error(ctx, "Invalid procedure call or argument");
        return false;
    }
    out = static_cast<sqlite3_int64>(n);
    return true;
}

void Nz(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (!IsNull(argv[0]))
        sqlite3_result_value(ctx, argv[0]);
    else if (argc > 1)
        sqlite3_result_value(ctx, argv[1]);
    else
        sqlite3_result_text(ctx, "", 0, SQLITE_STATIC);
}

void Len(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (IsNull(argv[0]))
        sqlite3_result_null(ctx);
    else
        sqlite3_result_int(ctx, text::CharCount(TextOf(argv[0])));
}

void Piece3(sqlite3_context* ctx, int argc, sqlite3_value** argv, int which) {
    if (IsNull(argv[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const std::vector<std::uint32_t> chars = Chars(TextOf(argv[0]));
    sqlite3_int64 a = 0, b = static_cast<sqlite3_int64>(chars.size());
    if (!Count(ctx, argv[1], a, which == 2))
        return;
    if (which == 2 && argc > 2 && !Count(ctx, argv[2], b))
        return;
    const auto size = static_cast<sqlite3_int64>(chars.size());
    std::size_t from = 0, to = 0;
    if (which == 0) { // Left
        to = static_cast<std::size_t>(std::min(a, size));
    } else if (which == 1) { // Right
        from = static_cast<std::size_t>(size - std::min(a, size)), to = chars.size();
    } else { // Mid
        from = static_cast<std::size_t>(std::min(a - 1, size));
        to = static_cast<std::size_t>(std::min<sqlite3_int64>(size, a - 1 + b));
    }
    ResultText(ctx, FromChars(chars, from, to));
}

void Left(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    Piece3(ctx, argc, argv, 0);
}
void Right(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    Piece3(ctx, argc, argv, 1);
}
void Mid(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    Piece3(ctx, argc, argv, 2);
}

// Character position of `needle` in `hay` from `start`, 0 when absent.
sqlite3_int64 Position(const std::vector<std::uint32_t>& hay,
                       const std::vector<std::uint32_t>& needle, sqlite3_int64 start, bool text) {
    if (needle.empty())
        return start <= static_cast<sqlite3_int64>(hay.size()) ? start : 0;
    for (std::size_t i = static_cast<std::size_t>(start - 1); i + needle.size() <= hay.size();
         ++i) {
        std::size_t k = 0;
        while (k < needle.size() &&
               (text ? Fold(hay[i + k]) == Fold(needle[k]) : hay[i + k] == needle[k]))
            ++k;
        if (k == needle.size())
            return static_cast<sqlite3_int64>(i + 1);
    }
    return 0;
}

void InStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    sqlite3_int64 start = 1;
    int first = 0;
    if (argc >= 3) {
        if (!Count(ctx, argv[0], start, true))
            return;
        first = 1;
    }
    bool text = true; // a query compares as the database does: without case
    if (argc == 4) {
        sqlite3_int64 compare = 0;
        if (!Count(ctx, argv[3], compare))
            return;
        text = compare != 0;
    }
    if (IsNull(argv[first]) || IsNull(argv[first + 1])) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_int64(
        ctx, Position(Chars(TextOf(argv[first])), Chars(TextOf(argv[first + 1])), start, text));
}

void ChangeCase(sqlite3_context* ctx, sqlite3_value* v, bool upper) {
    if (IsNull(v)) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string out;
    for (const std::uint32_t c : Chars(TextOf(v)))
        Append(out, upper ? Fold(c) : Lower(c));
    ResultText(ctx, out);
}

void UCase(sqlite3_context* ctx, int, sqlite3_value** argv) {
    ChangeCase(ctx, argv[0], true);
}
void LCase(sqlite3_context* ctx, int, sqlite3_value** argv) {
    ChangeCase(ctx, argv[0], false);
}

void TrimSpaces(sqlite3_context* ctx, sqlite3_value* v, bool front, bool back) {
    if (IsNull(v)) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string_view s = TextOf(v);
    while (front && !s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (back && !s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    ResultText(ctx, std::string(s));
}

void Trim(sqlite3_context* ctx, int, sqlite3_value** argv) {
    TrimSpaces(ctx, argv[0], true, true);
}
void LTrim(sqlite3_context* ctx, int, sqlite3_value** argv) {
    TrimSpaces(ctx, argv[0], true, false);
}
void RTrim(sqlite3_context* ctx, int, sqlite3_value** argv) {
    TrimSpaces(ctx, argv[0], false, true);
}

// Replace(text, find, with[, start[, count]]): as VBA, the result begins at `start`.
void Replace(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv)) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_int64 start = 1, count = -1;
    if (argc > 3 && !Count(ctx, argv[3], start, true))
        return;
    if (argc > 4) {
        double n = 0;
        if (!NumberOf(argv[4], n) || n < -1) {
            Error(ctx, "Invalid procedure call or argument");
            return;
        }
        count = static_cast<sqlite3_int64>(n);
    }
    const std::vector<std::uint32_t> text = Chars(TextOf(argv[0]));
    const std::vector<std::uint32_t> find = Chars(TextOf(argv[1]));
    const std::string with(TextOf(argv[2]));
    std::string out;
    std::size_t i = static_cast<std::size_t>(start - 1);
    while (i < text.size()) {
        const sqlite3_int64 at =
            find.empty() || count == 0
                ? 0
                : Position(text, find, static_cast<sqlite3_int64>(i + 1), false);
        if (at == 0) {
            out += FromChars(text, i, text.size());
            break;
        }
        out += FromChars(text, i, static_cast<std::size_t>(at - 1)) + with;
        i = static_cast<std::size_t>(at - 1) + find.size();
        if (count > 0)
            --count;
    }
    ResultText(ctx, out);
}

void Space(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_int64 n = 0;
    if (Count(ctx, argv[0], n))
        ResultText(ctx,
                   std::string(static_cast<std::size_t>(std::min<sqlite3_int64>(n, 1 << 20)), ' '));
}

void String(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_int64 n = 0;
    if (!Count(ctx, argv[0], n))
        return;
    if (IsNull(argv[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string piece;
    if (IsText(argv[1])) {
        const std::vector<std::uint32_t> chars = Chars(TextOf(argv[1]));
        if (chars.empty()) {
            Error(ctx, "Invalid procedure call or argument");
            return;
        }
        piece = FromChars(chars, 0, 1);
    } else {
        piece = std::string(1, static_cast<char>(sqlite3_value_int(argv[1]) & 0xFF));
    }
    std::string out;
    for (sqlite3_int64 i = 0; i < std::min<sqlite3_int64>(n, 1 << 20); ++i)
        out += piece;
    ResultText(ctx, out);
}

// --- dates --------------------------------------------------------------------------------

bool DateArg(sqlite3_context* ctx, sqlite3_value* v, double& out) {
    if (!DateOf(v, out)) {
        Error(ctx, kMismatch);
        return false;
    }
    return true;
}

double Today(bool withTime) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    DateParts p;
    p.year = local.tm_year + 1900, p.month = local.tm_mon + 1, p.day = local.tm_mday;
    if (withTime)
        p.hour = local.tm_hour, p.minute = local.tm_min, p.second = local.tm_sec;
    double out = 0;
    automation::MakeOleDate(p, out);
    return out;
}

void Now(sqlite3_context* ctx, int, sqlite3_value**) {
    ResultDate(ctx, Today(true));
}
void DateToday(sqlite3_context* ctx, int, sqlite3_value**) {
    ResultDate(ctx, Today(false));
}
void TimeNow(sqlite3_context* ctx, int, sqlite3_value**) {
    const double now = Today(true);
    ResultDate(ctx, now - std::floor(now));
}

void Part(sqlite3_context* ctx, sqlite3_value** argv, int which) {
    double date = 0;
    if (IsNull(argv[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    DateParts p;
    if (!DateArg(ctx, argv[0], date))
        return;
    if (!automation::SplitOleDate(date, p)) {
        Error(ctx, kMismatch);
        return;
    }
    const int values[] = {p.year, p.month, p.day, p.hour, p.minute, p.second};
    if (which < 6) {
        sqlite3_result_int(ctx, values[which]);
        return;
    }
    // Weekday: Sunday is 1; the epoch day was a Saturday.
    const long long day = static_cast<long long>(std::floor(date));
    sqlite3_result_int(ctx, static_cast<int>(((day + 6) % 7 + 7) % 7) + 1);
}

void Year(sqlite3_context* c, int, sqlite3_value** v) {
    Part(c, v, 0);
}
void Month(sqlite3_context* c, int, sqlite3_value** v) {
    Part(c, v, 1);
}
void Day(sqlite3_context* c, int, sqlite3_value** v) {
    Part(c, v, 2);
}
void Hour(sqlite3_context* c, int, sqlite3_value** v) {
    Part(c, v, 3);
}
void Minute(sqlite3_context* c, int, sqlite3_value** v) {
    Part(c, v, 4);
}
void Second(sqlite3_context* c, int, sqlite3_value** v) {
    Part(c, v, 5);
}
void Weekday(sqlite3_context* c, int, sqlite3_value** v) {
    Part(c, v, 6);
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Moves a date by whole months, the day kept within the month it lands in.
bool AddMonths(double date, long long months, double& out) {
    DateParts p;
    if (!automation::SplitOleDate(date, p))
        return false;
    const long long total = static_cast<long long>(p.year) * 12 + (p.month - 1) + months;
    if (total < 100 * 12 || total > 9999 * 12 + 11)
        return false;
    p.year = static_cast<int>(total / 12), p.month = static_cast<int>(total % 12) + 1;
    p.day = std::min(p.day, DaysInMonth(p.year, p.month));
    return automation::MakeOleDate(p, out);
}

enum class Interval { Year, Quarter, Month, Day, Week, CalendarWeek, Hour, Minute, Second, Bad };

Interval IntervalOf(sqlite3_value* v) {
    const std::string name = text::ToLowerAscii(TextOf(v));
    if (name == "yyyy")
        return Interval::Year;
    if (name == "q")
        return Interval::Quarter;
    if (name == "m")
        return Interval::Month;
    if (name == "d" || name == "y")
        return Interval::Day;
    if (name == "w")
        return Interval::Week;
    if (name == "ww")
        return Interval::CalendarWeek;
    if (name == "h")
        return Interval::Hour;
    if (name == "n")
        return Interval::Minute;
    if (name == "s")
        return Interval::Second;
    return Interval::Bad;
}

constexpr const char* kBadInterval = "Invalid procedure call or argument: the interval must be "
                                     "yyyy, q, m, y, d, w, ww, h, n or s.";

void DateAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(3, argv)) {
        sqlite3_result_null(ctx);
        return;
    }
    const Interval interval = IntervalOf(argv[0]);
    double n = 0, date = 0;
    if (interval == Interval::Bad) {
        Error(ctx, kBadInterval);
        return;
    }
    if (!NumberOf(argv[1], n) || !DateArg(ctx, argv[2], date)) {
        if (!sqlite3_value_type(argv[1]))
            return;
        Error(ctx, kMismatch);
        return;
    }
    n = std::trunc(n);
    if (std::fabs(n) > 1e8) {
        Error(ctx, "Overflow");
        return;
    }
    double out = date;
    switch (interval) {
    case Interval::Year:
    case Interval::Quarter:
    case Interval::Month: {
        const long long months = static_cast<long long>(n) * (interval == Interval::Year      ? 12
                                                              : interval == Interval::Quarter ? 3
                                                                                              : 1);
        if (!AddMonths(date, months, out)) {
            Error(ctx, "Overflow: the date is outside the years 100 to 9999.");
            return;
        }
        break;
    }
    case Interval::Day:
    case Interval::Week:
        out = date + n;
        break;
    case Interval::CalendarWeek:
        out = date + 7 * n;
        break;
    case Interval::Hour:
        out = date + n / 24;
        break;
    case Interval::Minute:
        out = date + n / 1440;
        break;
    case Interval::Second:
        out = date + n / 86400;
        break;
    case Interval::Bad:
        break;
    }
    ResultDate(ctx, out);
}

// Seconds since the epoch day's midnight, from the date's parts (the fraction of a date before
// the epoch counts forward from its midnight).
long long Seconds(double date) {
    DateParts p;
    automation::SplitOleDate(date, p);
    const double day = std::floor(date);
    return static_cast<long long>(day) * 86400 + p.hour * 3600 + p.minute * 60 + p.second;
}

long long FloorDiv(long long a, long long b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

void DateDiff(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(3, argv)) {
        sqlite3_result_null(ctx);
        return;
    }
    const Interval interval = IntervalOf(argv[0]);
    double a = 0, b = 0;
    if (interval == Interval::Bad) {
        Error(ctx, kBadInterval);
        return;
    }
    if (!DateArg(ctx, argv[1], a) || !DateArg(ctx, argv[2], b))
        return;
    DateParts pa, pb;
    if (!automation::SplitOleDate(a, pa) || !automation::SplitOleDate(b, pb)) {
        Error(ctx, kMismatch);
        return;
    }
    const long long sa = Seconds(a), sb = Seconds(b);
    long long out = 0;
    switch (interval) {
    case Interval::Year:
        out = pb.year - pa.year;
        break;
    case Interval::Quarter:
        out = (pb.year * 4 + (pb.month - 1) / 3) - (pa.year * 4 + (pa.month - 1) / 3);
        break;
    case Interval::Month:
        out = (pb.year * 12 + pb.month) - (pa.year * 12 + pa.month);
        break;
    case Interval::Day:
        out = FloorDiv(sb, 86400) - FloorDiv(sa, 86400);
        break;
    case Interval::Week:
        out = (FloorDiv(sb, 86400) - FloorDiv(sa, 86400)) / 7;
        break;
    case Interval::CalendarWeek: // Sundays crossed; the epoch day was a Saturday
        out = FloorDiv(FloorDiv(sb, 86400) + 6, 7) - FloorDiv(FloorDiv(sa, 86400) + 6, 7);
        break;
    case Interval::Hour:
        out = FloorDiv(sb, 3600) - FloorDiv(sa, 3600);
        break;
    case Interval::Minute:
        out = FloorDiv(sb, 60) - FloorDiv(sa, 60);
        break;
    case Interval::Second:
        out = sb - sa;
        break;
    case Interval::Bad:
        break;
    }
    sqlite3_result_int64(ctx, out);
}

void DateSerial(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(3, argv)) {
        sqlite3_result_null(ctx);
        return;
    }
    double y = 0, m = 0, d = 0;
    if (!NumberOf(argv[0], y) || !NumberOf(argv[1], m) || !NumberOf(argv[2], d)) {
        Error(ctx, kMismatch);
        return;
    }
    y = RoundEven(y), m = RoundEven(m), d = RoundEven(d);
    if (y >= 0 && y < 30)
        y += 2000;
    else if (y >= 30 && y < 100)
        y += 1900;
    DateParts p;
    p.year = static_cast<int>(std::clamp(y, 100.0, 9999.0)), p.month = 1, p.day = 1;
    double first = 0, out = 0;
    if (y < 100 || y > 9999 || std::fabs(m) > 120000 || std::fabs(d) > 4e6 ||
        !automation::MakeOleDate(p, first) ||
        !AddMonths(first, static_cast<long long>(m) - 1, out)) {
        Error(ctx, "Overflow: the date is outside the years 100 to 9999.");
        return;
    }
    ResultDate(ctx, out + d - 1);
}

void CDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
    double date = 0;
    if (IsNull(argv[0])) {
        Error(ctx, kInvalidNull);
        return;
    }
    if (!DateOf(argv[0], date)) {
        Error(ctx, "Type mismatch: the value is not a date.");
        return;
    }
    ResultDate(ctx, date);
}

// --- conversions --------------------------------------------------------------------------

bool Convertible(sqlite3_context* ctx, sqlite3_value* v, double& out) {
    if (IsNull(v)) {
        Error(ctx, kInvalidNull);
        return false;
    }
    if (!NumberOf(v, out)) {
        double date = 0;
        if (LooksLikeDate(v, date)) {
            out = date;
            return true;
        }
        Error(ctx, "Type mismatch: the value is not a number.");
        return false;
    }
    return true;
}

void ToInteger(sqlite3_context* ctx, sqlite3_value* v, double low, double high) {
    double n = 0;
    if (!Convertible(ctx, v, n))
        return;
    n = RoundEven(n);
    if (!(n >= low && n <= high)) {
        Error(ctx, "Overflow");
        return;
    }
    sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(n));
}

void CInt(sqlite3_context* ctx, int, sqlite3_value** argv) {
    ToInteger(ctx, argv[0], -32768, 32767);
}
void CLng(sqlite3_context* ctx, int, sqlite3_value** argv) {
    ToInteger(ctx, argv[0], -2147483648.0, 2147483647.0);
}
void CDbl(sqlite3_context* ctx, int, sqlite3_value** argv) {
    double n = 0;
    if (Convertible(ctx, argv[0], n))
        sqlite3_result_double(ctx, n);
}

void CStr(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (IsNull(argv[0])) {
        Error(ctx, kInvalidNull);
        return;
    }
    if (IsText(argv[0]) || sqlite3_value_type(argv[0]) == SQLITE_BLOB) {
        ResultText(ctx, std::string(TextOf(argv[0])));
        return;
    }
    ResultText(ctx, automation::FormatNumber(sqlite3_value_double(argv[0])));
}

// Val: the number a text begins with, blanks anywhere ignored; &H and &O for hex and octal.
void Val(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (IsNull(argv[0])) {
        Error(ctx, kInvalidNull);
        return;
    }
    if (!IsText(argv[0])) {
        sqlite3_result_value(ctx, argv[0]);
        return;
    }
    std::string compact;
    for (const char c : TextOf(argv[0]))
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            compact += c;
    if (compact.size() > 2 && compact[0] == '&' &&
        (compact[1] == 'H' || compact[1] == 'h' || compact[1] == 'O' || compact[1] == 'o')) {
        const int base = compact[1] == 'H' || compact[1] == 'h' ? 16 : 8;
        long long value = 0;
        for (std::size_t i = 2; i < compact.size() && i < 18; ++i) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(compact[i])));
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : 99;
            if (digit >= base)
                break;
            value = value * base + digit;
        }
        sqlite3_result_int64(ctx, value);
        return;
    }
    std::size_t i = 0;
    if (i < compact.size() && (compact[i] == '+' || compact[i] == '-'))
        ++i;
    while (i < compact.size() && std::isdigit(static_cast<unsigned char>(compact[i])))
        ++i;
    if (i < compact.size() && compact[i] == '.')
        for (++i; i < compact.size() && std::isdigit(static_cast<unsigned char>(compact[i]));)
            ++i;
    if (i < compact.size() &&
        (compact[i] == 'e' || compact[i] == 'E' || compact[i] == 'd' || compact[i] == 'D')) {
        std::size_t j = i + 1;
        if (j < compact.size() && (compact[j] == '+' || compact[j] == '-'))
            ++j;
        if (j < compact.size() && std::isdigit(static_cast<unsigned char>(compact[j]))) {
            compact[i] = 'e';
            for (i = j; i < compact.size() && std::isdigit(static_cast<unsigned char>(compact[i]));)
                ++i;
        }
    }
    const double value = std::strtod(compact.substr(0, i).c_str(), nullptr);
    if (!std::isfinite(value)) {
        Error(ctx, "Overflow");
        return;
    }
    ResultNumber(ctx, value);
}

void IntPart(sqlite3_context* ctx, sqlite3_value* v, bool floor) {
    double n = 0;
    if (IsNull(v)) {
        sqlite3_result_null(ctx);
        return;
    }
    if (!NumberOf(v, n)) {
        Error(ctx, kMismatch);
        return;
    }
    ResultNumber(ctx, floor ? std::floor(n) : std::trunc(n));
}

void Int(sqlite3_context* ctx, int, sqlite3_value** argv) {
    IntPart(ctx, argv[0], true);
}
void Fix(sqlite3_context* ctx, int, sqlite3_value** argv) {
    IntPart(ctx, argv[0], false);
}

void Round(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    double n = 0, digits = 0;
    if (IsNull(argv[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (!NumberOf(argv[0], n) || (argc > 1 && !NumberOf(argv[1], digits)) || digits < 0 ||
        digits > 15) {
        Error(ctx, "Invalid procedure call or argument");
        return;
    }
    const double r = RoundEven(n, static_cast<int>(digits));
    if (IsInteger(argv[0]))
        sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(r));
    else
        sqlite3_result_double(ctx, r);
}

// --- Format -------------------------------------------------------------------------------

std::string TwoDigits(int n) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", n);
    return buffer;
}

// Texts as the program's Chinese Windows shows them: "2000-1-2 3:04:05".
std::string ShortDate(const DateParts& p) {
    return std::to_string(p.year) + "-" + std::to_string(p.month) + "-" + std::to_string(p.day);
}

std::string LongTime(const DateParts& p) {
    return std::to_string(p.hour) + ":" + TwoDigits(p.minute) + ":" + TwoDigits(p.second);
}

std::string GeneralDate(double date) {
    DateParts p;
    automation::SplitOleDate(date, p);
    const bool time = p.hour || p.minute || p.second;
    if (std::floor(date) == 0 && time)
        return LongTime(p);
    return time ? ShortDate(p) + " " + LongTime(p) : ShortDate(p);
}

bool FormatDate(double date, std::string_view format, std::string& out) {
    DateParts p;
    if (!automation::SplitOleDate(date, p))
        return false;
    const std::string lower = text::ToLowerAscii(format);
    if (lower == "general date" || lower.empty()) {
        out = GeneralDate(date);
        return true;
    }
    if (lower == "short date") {
        out = ShortDate(p);
        return true;
    }
    if (lower == "long date" || lower == "medium date") {
        // 年 月 日 in GBK.
        out = std::to_string(p.year) + "\xC4\xEA" + std::to_string(p.month) + "\xD4\xC2" +
              std::to_string(p.day) + "\xC8\xD5";
        return true;
    }
    if (lower == "long time" || lower == "medium time") {
        out = LongTime(p);
        return true;
    }
    if (lower == "short time") {
        out = TwoDigits(p.hour) + ":" + TwoDigits(p.minute);
        return true;
    }
    const long long day = static_cast<long long>(std::floor(date));
    const int weekday = static_cast<int>(((day + 6) % 7 + 7) % 7); // 0 is Sunday
    static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                              "May",       "June",     "July",     "August",
                                              "September", "October",  "November", "December"};
    static constexpr const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    bool afterHour = false;
    out.clear();
    for (std::size_t i = 0; i < format.size();) {
        const auto run = [&](char c) {
            std::size_t n = 0;
            while (i + n < format.size() &&
                   std::tolower(static_cast<unsigned char>(format[i + n])) == c)
                ++n;
            return n;
        };
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(format[i])));
        std::size_t n = 1;
        if (c == 'y') {
            n = run('y');
            if (n >= 3) {
                out += std::to_string(p.year);
                n = std::min<std::size_t>(n, 4);
            } else if (n == 2) {
                out += TwoDigits(p.year % 100);
            } else {
                double first = 0;
                DateParts jan{p.year, 1, 1, 0, 0, 0};
                automation::MakeOleDate(jan, first);
                out += std::to_string(day - static_cast<long long>(first) + 1);
            }
        } else if (c == 'q') {
            out += std::to_string((p.month - 1) / 3 + 1);
        } else if (c == 'm') {
            n = run('m');
            // "m" after an hour, or before seconds, is the minute.
            std::size_t next = i + n;
            while (next < format.size() && (format[next] == ':' || format[next] == ' '))
                ++next;
            const bool minute =
                n <= 2 &&
                (afterHour || (next < format.size() &&
                               std::tolower(static_cast<unsigned char>(format[next])) == 's'));
            if (minute)
                out += n == 2 ? TwoDigits(p.minute) : std::to_string(p.minute);
            else if (n >= 4)
                out += kMonths[p.month - 1];
            else if (n == 3)
                out += std::string(kMonths[p.month - 1]).substr(0, 3);
            else
                out += n == 2 ? TwoDigits(p.month) : std::to_string(p.month);
            n = std::min<std::size_t>(n, 4);
            afterHour = false;
        } else if (c == 'd') {
            n = run('d');
            if (n >= 4)
                out += kDays[weekday];
            else if (n == 3)
                out += std::string(kDays[weekday]).substr(0, 3);
            else
                out += n == 2 ? TwoDigits(p.day) : std::to_string(p.day);
            n = std::min<std::size_t>(n, 4);
        } else if (c == 'w') {
            n = run('w');
            out += std::to_string(weekday + 1);
            n = std::min<std::size_t>(n, 1);
        } else if (c == 'h') {
            n = run('h');
            const bool twelve = text::ToLowerAscii(format).find("am/pm") != std::string::npos;
            const int hour = twelve ? (p.hour % 12 == 0 ? 12 : p.hour % 12) : p.hour;
            out += n >= 2 ? TwoDigits(hour) : std::to_string(hour);
            n = std::min<std::size_t>(n, 2);
            afterHour = true;
        } else if (c == 'n') {
            n = run('n');
            out += n >= 2 ? TwoDigits(p.minute) : std::to_string(p.minute);
            n = std::min<std::size_t>(n, 2);
        } else if (c == 's') {
            n = run('s');
            out += n >= 2 ? TwoDigits(p.second) : std::to_string(p.second);
            n = std::min<std::size_t>(n, 2);
        } else if (text::ToLowerAscii(format.substr(i, 5)) == "am/pm") {
            const bool upper = format[i] == 'A';
            out += p.hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
            n = 5;
        } else if (format[i] == '"') {
            const std::size_t end = format.find('"', i + 1);
            if (end == std::string_view::npos)
                return false;
            out += format.substr(i + 1, end - i - 1);
            n = end - i + 1;
        } else if (format[i] == '\\' && i + 1 < format.size()) {
            n = text::CharLengthAt(format, i + 1) + 1;
            out += format.substr(i + 1, n - 1);
        } else {
            n = text::CharLengthAt(format, i);
            out += format.substr(i, n);
        }
        i += n;
    }
    return true;
}

std::string Grouped(std::string digits) {
    std::string out;
    const std::size_t first = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
    out = digits.substr(0, first);
    for (std::size_t i = first; i < digits.size(); i += 3)
        out += "," + digits.substr(i, 3);
    return out;
}

// A number with `decimals` places, half away from zero as Format rounds, its integer part at
// least `minInteger` digits and grouped by thousands when asked.
std::string FixedNumber(double value, int decimals, int minInteger, bool group) {
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(std::fabs(value) * scale) / scale;
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, rounded);
    std::string s = buffer;
    const std::size_t dot = s.find('.');
    std::string whole = s.substr(0, dot), fraction = dot == std::string::npos ? "" : s.substr(dot);
    if (whole == "0" && minInteger == 0)
        whole.clear();
    while (static_cast<int>(whole.size()) < minInteger)
        whole = "0" + whole;
    if (group && !whole.empty())
        whole = Grouped(whole);
    const bool negative = value < 0 && rounded != 0;
    return (negative ? "-" : "") + whole + fraction;
}

bool FormatNumberText(double value, std::string_view format, std::string& out) {
    const std::string lower = text::ToLowerAscii(format);
    if (lower.empty() || lower == "general number") {
        out = automation::FormatNumber(value);
        return true;
    }
    if (lower == "fixed") {
        out = FixedNumber(value, 2, 1, false);
        return true;
    }
    if (lower == "standard") {
        out = FixedNumber(value, 2, 1, true);
        return true;
    }
    if (lower == "currency") {
        out = (value < 0 ? "-\xA3\xA4" : "\xA3\xA4") + FixedNumber(std::fabs(value), 2, 1, true);
        return true;
    }
    if (lower == "percent") {
        out = FixedNumber(value * 100, 2, 1, false) + "%";
        return true;
    }
    if (lower == "scientific") {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.2E", value);
        out = buffer;
        return true;
    }
    if (lower == "yes/no" || lower == "true/false" || lower == "on/off") {
        const std::size_t slash = lower.find('/');
        const std::string_view yes = format.substr(0, slash), no = format.substr(slash + 1);
        out = std::string(value != 0 ? yes : no);
        return true;
    }
    // A pattern of 0, #, ".", "," and "%" with literal text around it; ";" starts the section
    // for negative numbers.
    std::string_view pattern = format;
    const std::size_t semicolon = format.find(';');
    bool negativeSection = false;
    if (semicolon != std::string_view::npos) {
        if (value < 0 && semicolon + 1 < format.size()) {
            pattern = format.substr(semicolon + 1);
            const std::size_t next = pattern.find(';');
            pattern = pattern.substr(0, next);
            negativeSection = true;
        } else {
            pattern = format.substr(0, semicolon);
        }
    }
    std::size_t first = pattern.find_first_of("0#"), last = pattern.find_last_of("0#");
    if (first == std::string_view::npos)
        return false;
    const std::size_t dot = pattern.find('.', first);
    const std::string_view core = pattern.substr(first, last - first + 1);
    int decimals = 0, minInteger = 0;
    for (std::size_t i = 0; i < core.size(); ++i) {
        const bool afterDot = dot != std::string_view::npos && first + i > dot;
        if (core[i] == '0' || core[i] == '#') {
            if (afterDot)
                ++decimals;
            else if (core[i] == '0')
                ++minInteger;
        } else if (core[i] != ',' && core[i] != '.') {
            return false;
        }
    }
    if (decimals > 30 || minInteger > 30)
        return false;
    const bool group = core.find(',') != std::string_view::npos;
    const bool percent = pattern.find('%') != std::string_view::npos;
    double shown = percent ? value * 100 : value;
    if (negativeSection)
        shown = std::fabs(shown);
    // Optional places (#) after the point drop their trailing zeros.
    int required = 0;
    if (dot != std::string_view::npos)
        for (std::size_t i = dot + 1; i <= last; ++i)
            if (pattern[i] == '0')
                required = static_cast<int>(i - dot);
    std::string number = FixedNumber(shown, decimals, minInteger, group);
    if (decimals > required) {
        const std::size_t point = number.find('.');
        while (static_cast<int>(number.size() - point - 1) > required && number.back() == '0')
            number.pop_back();
        if (number.back() == '.')
            number.pop_back();
    }
    const auto literal = [](std::string_view s) {
        std::string t;
        for (const char c : s)
            if (c != '"' && c != '\\')
                t += c;
        return t;
    };
    out = literal(pattern.substr(0, first)) + number + literal(pattern.substr(last + 1));
    return true;
}

void Format(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (IsNull(argv[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const std::string_view format = argc > 1 && !IsNull(argv[1]) ? TextOf(argv[1]) : "";
    std::string out;
    double number = 0, date = 0;
    const std::string lower = text::ToLowerAscii(format);
    static constexpr std::string_view kNumberFormats[] = {
        "general number", "fixed",  "standard",   "currency", "percent",
        "scientific",     "yes/no", "true/false", "on/off"};
    const bool named = std::find(std::begin(kNumberFormats), std::end(kNumberFormats), lower) !=
                       std::end(kNumberFormats);
    const bool dateFormat = !named && lower.find_first_of("ymdhnsqw") != std::string::npos &&
                            lower.find_first_of("0#") == std::string::npos;
    bool ok;
    if (NumberOf(argv[0], number) && !dateFormat)
        ok = FormatNumberText(number, format, out);
    else if (DateOf(argv[0], date))
        ok = FormatDate(date, format, out);
    else if (format.empty()) {
        ok = true;
        out = std::string(TextOf(argv[0]));
    } else {
        // A text with a number format Access cannot apply comes back as it is.
        out = std::string(TextOf(argv[0]));
        ok = true;
    }
    if (!ok) {
        const std::string message =
            "Format: the format '" + std::string(format) + "' is not supported by this provider.";
        sqlite3_result_error(ctx, message.c_str(), -1);
        return;
    }
    ResultText(ctx, out);
}

int Collate(void*, int la, const void* a, int lb, const void* b) {
    return AccessCompare({static_cast<const char*>(a), static_cast<std::size_t>(la)},
                         {static_cast<const char*>(b), static_cast<std::size_t>(lb)});
}

struct Registration {
    const char* name;
    int args; // -1 for a varying count
    void (*function)(sqlite3_context*, int, sqlite3_value**);
    bool deterministic = true;
};

} // namespace

bool AccessLike(std::string_view textValue, std::string_view pattern) {
    std::vector<Piece> pieces;
    if (!ParsePattern(pattern, pieces))
        return false;
    std::vector<std::uint32_t> chars = Chars(textValue);
    for (std::uint32_t& c : chars)
        c = Fold(c);
    return MatchPieces(pieces, chars);
}

int AccessCompare(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        std::size_t la = 0, lb = 0;
        const std::uint32_t ca = Fold(CodeAt(a, i, la)), cb = Fold(CodeAt(b, j, lb));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        i += la, j += lb;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

bool RegisterAccessFunctions(sqlite3* db) {
    static const Registration kAll[] = {
        {"vm_concat", 2, Concat},
        {"vm_add", 2, Add},
        {"vm_sub", 2, Subtract},
        {"vm_div", 2, Divide},
        {"vm_idiv", 2, IntegerDivide},
        {"vm_mod", 2, Modulo},
        {"vm_pow", 2, Power},
        {"vm_like", 2, Like},
        {"vm_nz", -1, Nz},
        {"vm_len", 1, Len},
        {"vm_left", 2, Left},
        {"vm_right", 2, Right},
        {"vm_mid", -1, Mid},
        {"vm_instr", -1, InStr},
        {"vm_ucase", 1, UCase},
        {"vm_lcase", 1, LCase},
        {"vm_trim", 1, Trim},
        {"vm_ltrim", 1, LTrim},
        {"vm_rtrim", 1, RTrim},
        {"vm_replace", -1, Replace},
        {"vm_format", -1, Format},
        {"vm_now", 0, Now, false},
        {"vm_date", 0, DateToday, false},
        {"vm_time", 0, TimeNow, false},
        {"vm_year", 1, Year},
        {"vm_month", 1, Month},
        {"vm_day", 1, Day},
        {"vm_hour", 1, Hour},
        {"vm_minute", 1, Minute},
        {"vm_second", 1, Second},
        {"vm_weekday", 1, Weekday},
        {"vm_dateadd", 3, DateAdd},
        {"vm_datediff", 3, DateDiff},
        {"vm_dateserial", 3, DateSerial},
        {"vm_cdate", 1, CDate},
        {"vm_cint", 1, CInt},
        {"vm_clng", 1, CLng},
        {"vm_cdbl", 1, CDbl},
        {"vm_cstr", 1, CStr},
        {"vm_val", 1, Val},
        {"vm_int", 1, Int},
        {"vm_fix", 1, Fix},
        {"vm_round", -1, Round},
        {"vm_space", 1, Space},
        {"vm_string", 2, String},
    };
    for (const Registration& r : kAll) {
        const int flags = SQLITE_UTF8 | (r.deterministic ? SQLITE_DETERMINISTIC : 0);
        if (sqlite3_create_function_v2(db, r.name, r.args, flags, nullptr, r.function, nullptr,
                                       nullptr, nullptr) != SQLITE_OK)
            return false;
    }
    // Double-quoted names are names only: a misspelt column must not read as a text.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    return sqlite3_create_collation_v2(db, "VM_JET", SQLITE_UTF8, nullptr, Collate, nullptr) ==
           SQLITE_OK;
}

} // namespace vm::ado
