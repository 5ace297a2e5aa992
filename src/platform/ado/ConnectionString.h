#pragma once
// Connection strings: "key=value" pieces separated by ";". Keys match without regard to ASCII
// case and surrounding blanks; a value may be quoted with ' or " (the quote doubled inside
// stands for itself) or braced with {} (ODBC style), and then keeps its ";" characters.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vm::ado {

class ConnectionString {
public:
    ConnectionString() = default;
    explicit ConnectionString(std::string_view text);

    // The value of the first piece with this key; empty when absent.
    std::string Get(std::string_view key) const;
    bool Has(std::string_view key) const;
    const std::vector<std::pair<std::string, std::string>>& Pieces() const { return pieces_; }

    // Adds the pieces of `other` whose keys are not present yet.
    void Merge(const ConnectionString& other);

private:
    std::vector<std::pair<std::string, std::string>> pieces_;
};

// "{SQLite3 ODBC Driver}" -> "SQLite3 ODBC Driver".
std::string StripBraces(std::string_view value);

} // namespace vm::ado
