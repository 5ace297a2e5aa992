#pragma once
// GBK (code page 936) text primitives. Texts are byte strings; a byte of 0x80 or more
// starts a two-byte character. Positions are 1-based and a failed search gives -1.

#include <string>
#include <string_view>
#include <vector>

namespace vm::text {

constexpr bool IsLeadByte(unsigned char byte) {
    return byte >= 0x80;
}

// Length in bytes of the character that starts at `index` (1 or 2; 1 for a truncated pair).
std::size_t CharLengthAt(std::string_view text, std::size_t index);

// Number of characters: a lead byte and its trail byte count as one.
int CharCount(std::string_view text);

// Position (1-based) of `needle` in `text`, searching from character position `start`.
// Without `caseSensitive`, ASCII letters match regardless of case. A match never starts on
// the trail byte of a two-byte character. -1 when absent, when `needle` is empty, or when
// `start` is less than 1.
int Find(std::string_view text, std::string_view needle, int start = 1, bool caseSensitive = false);

// True when `needle` occurs in `text` (same matching rules as Find).
bool Contains(std::string_view text, std::string_view needle, bool caseSensitive = false);

// Splits at every occurrence of `separator` (matched as Find does). Empty pieces between
// separators are kept; an empty last piece is dropped, so "" gives no pieces and "a|" gives
// one. An empty separator gives the whole text as the one piece.
std::vector<std::string> Split(std::string_view text, std::string_view separator);

// Removes ASCII blanks and full-width blanks (A1 A1) at both ends / the start / the end.
std::string Trim(std::string_view text);
std::string TrimStart(std::string_view text);
std::string TrimEnd(std::string_view text);

// Full-width ASCII forms (A3 A1 .. A3 FE) and the full-width blank become their half-width
// counterparts; every other character is kept.
std::string ToHalfWidth(std::string_view text);

// True when the last character (not a trail byte) is the single-byte `c`, e.g. a path's "\".
bool EndsWithChar(std::string_view text, char c);

// ASCII case folding that leaves two-byte characters untouched.
std::string ToLowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
// ASCII letters folded in every byte, trail bytes included: how SQLite compares names and ADO's
// Find compares '...' texts, which callers that must agree with them match exactly.
bool EqualsFoldingEveryByte(std::string_view a, std::string_view b);

// Replaces every occurrence of `from` (exact, trail-byte aware) with `to`.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

} // namespace vm::text
