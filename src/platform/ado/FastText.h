#pragma once
// Conversions between the databases' UTF-8 and the logic's GBK for values read row by row: a
// lookup table built once (from iconv) instead of one converter per value, which would cost
// more than reading the row.

#include <string>
#include <string_view>

namespace vm::ado {

// Characters GBK lacks become "?"; malformed bytes are dropped (as text::Utf8ToGbk does).
std::string Utf8ToGbkFast(std::string_view utf8);
std::string GbkToUtf8Fast(std::string_view gbk);

} // namespace vm::ado
