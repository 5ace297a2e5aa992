# Writes the files of FILES (a ;-list, given as a |-list) into OUT as byte arrays with a lookup
# function NAMESPACE::FUNCTION(file name) -> std::string_view (empty when unknown).
string(REPLACE "|" ";" files "${FILES}")
set(arrays "")
set(entries "")
set(index 0)
foreach(file IN LISTS files)
  get_filename_component(name "${file}" NAME)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
  string(REGEX REPLACE "((0x..,){32})" "\\1\n" body "${body}")
  string(APPEND arrays "alignas(16) const unsigned char data${index}[] = {\n${body}0};\n")
  string(APPEND entries "    {\"${name}\", data${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUT}.tmp"
  "// Generated from the files under assets/; do not edit.\n"
  "#include <cstddef>\n#include <string_view>\n\n"
  "namespace ${NAMESPACE} {\nnamespace {\n${arrays}\n"
  "struct Entry { std::string_view name; const unsigned char* data; std::size_t size; };\n"
  "const Entry entries[] = {\n${entries}};\n} // namespace\n\n"
  "std::string_view ${FUNCTION}(std::string_view name) {\n"
  "    for (const Entry& e : entries)\n"
  "        if (e.name == name)\n"
  "            return {reinterpret_cast<const char*>(e.data), e.size};\n"
  "    return {};\n}\n} // namespace ${NAMESPACE}\n")
file(RENAME "${OUT}.tmp" "${OUT}")
