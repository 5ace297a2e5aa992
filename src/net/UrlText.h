#pragma once
// URL and cookie text routines shared by the two request routines. Texts are GBK; searches
// skip trail bytes.
//
// A cookie text is pieces "name=value" separated by ";" (the routines produce "; " between
// pieces and a final ";"). A blank in front of a name belongs to the name.

#include <string>
#include <string_view>

namespace vm::net {

// The host of `url` in lower case, without port; with `domainOnly`, only its last two labels.
std::string HostOfUrl(std::string_view url, bool domainOnly);
// The host to connect to, in lower case.
std::string UrlHostName(std::string_view url);
// Path and query of `url` after its host; "/" when there is none.
std::string UrlObjectPath(std::string_view url);
// Port of an "http://" URL or of a bare "host:port/..." text: 80 without one, 0 when the text
// after ":" is no port number. "https://" is not recognised here and gives 0.
int UrlPort(std::string_view url);

// The text between the first `left` and the first `right` after it; "" when either is missing.
// "#引号" in a marker stands for a double quote.
std::string CutBetween(std::string_view text, std::string_view left, std::string_view right,
                       bool caseSensitive = false);
// The text before the first `marker` (exact case); "" when it is absent.
std::string TextBefore(std::string_view text, std::string_view marker);

// Merges `update` into `base`: a cookie of the same name (ignoring ASCII case) takes the
// update's piece, a new one is appended, and cookies left empty or "deleted" are dropped. Both
// arguments are normalised in place (trimmed, ending with ";"); the merged text is left in
// `base` and returned.
std::string MergeCookies(std::string& base, std::string& update);

// The cookies that the process's cookie store holds for a URL or host; "" when none, or when
// they exceed the 1024-byte buffer the store is read with.
std::string ReadStoredCookies(std::string_view target);
// Puts each "name=value" piece of `cookies` into the store as a session cookie for the target.
void StoreCookies(std::string_view target, std::string_view cookies);

} // namespace vm::net
