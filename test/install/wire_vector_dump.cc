// Writes the wire vectors of the C++ tests for check_wire_vectors.py, one a
// line: type, text form, bytes, bytes to parse, separated by tabs. The text
// goes as hex too, which keeps its quotes, escapes and line breaks intact.

#include <cstdio>
#include <string_view>

#include "wire_vectors.h"

namespace {

void Print(std::string_view type, std::string_view text, const char* hex,
           const char* input) {
  std::printf("%.*s\t", static_cast<int>(type.size()), type.data());
  for (unsigned char c : text) std::printf("%02x", c);
  std::printf("\t%s\t%s\n", hex, input == nullptr ? hex : input);
}

}  // namespace

int main() {
  for (const auto& v : ostrel::testdata::EveryFieldVectors()) {
    Print(v.type, v.text, v.hex, nullptr);
  }
  for (const auto& v : ostrel::testdata::RecordVectors()) {
    Print(v.type, v.text, v.hex, v.input);
  }
}
