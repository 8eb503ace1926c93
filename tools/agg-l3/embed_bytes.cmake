# Writes OUTPUT, a C++ file defining `std::string_view NAME` (in namespace
# ostrel::agg_l3) over the bytes of the files INPUTS ("|" between them), so
# that files made or kept at build time travel inside the tool. With BASE,
# each file is preceded by a line "// PATH" (and a blank line but the
# first), PATH relative to BASE.
string(REPLACE "|" ";" inputs "${INPUTS}")
set(hex "")
foreach(input IN LISTS inputs)
  if(DEFINED BASE)
    file(RELATIVE_PATH path ${BASE} ${input})
    if(hex STREQUAL "")
      string(HEX "// ${path}\n" header)
    else()
      string(HEX "\n// ${path}\n" header)
    endif()
    string(APPEND hex ${header})
  endif()
  file(READ ${input} contents HEX)
  string(APPEND hex ${contents})
endforeach()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(('[^']+',){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "#include <string_view>
namespace ostrel::agg_l3 {
namespace {
constexpr char kBytes[] = {
${bytes}};
}  // namespace
extern const std::string_view ${NAME}(kBytes, sizeof kBytes);
}  // namespace ostrel::agg_l3
")
