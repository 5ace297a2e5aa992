#pragma once
// Access's SQL dialect on SQLite. The Access reader and the text provider keep their rows in
// SQLite, but their users write statements as Access reads them: `&` joins texts, `TOP n`,
// `#dates#`, True/False, Jet's LIKE and functions. A SELECT is tokenised and rewritten into
// SQLite's dialect, its functions calling the ones RegisterAccessFunctions adds; other
// statements pass unchanged. What has no faithful rewrite fails, naming what it is.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace vm::ado {

struct AccessStatement {
    std::string sql; // SQLite's dialect, texts still GBK

    // A TOP the rows themselves have to settle: a percentage, or a count whose ties on the
    // ORDER BY keys come along as Access returns them. 0 when there is none (a plain TOP n
    // without ORDER BY is a LIMIT in `sql`).
    double top = 0;
    bool topPercent = false;
    std::vector<int> tieColumns; // result columns holding the ORDER BY keys, in order
    int hiddenColumns = 0;       // trailing result columns added for the ties

    // Per result column (when the select list names them without `*`): true when it holds a
    // date, which SQLite stores as text.
    std::vector<bool> dateColumns;
};

// Rewrites one statement; false with `error` (GBK) set when it cannot be read or asks for
// what is not supported here.
bool TranslateAccessSql(std::string_view gbk, AccessStatement& out, std::string& error);

// Adds the functions and the collation the rewritten statements call. False on failure.
bool RegisterAccessFunctions(sqlite3* db);

// Jet's LIKE on GBK texts: `%` any run, `_` one character, `[abc]`, `[a-z]` and `[!a-z]` a
// character of (or not of) a set; letters match without case. Exposed for the tests.
bool AccessLike(std::string_view text, std::string_view pattern);

// Compares two GBK texts as Jet does: without the case of letters, character by character.
int AccessCompare(std::string_view a, std::string_view b);

// "2000-01-02 03:04:05", the form dates take inside the SQLite copies.
std::string StoredDate(double oleDate);

} // namespace vm::ado
