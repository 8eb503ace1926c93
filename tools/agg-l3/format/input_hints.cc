#include "format/input_hints.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/message.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;

enum class Looks { kUnsure, kOtherCompression, kJson, kText, kBinary };

struct Compression {
  std::string_view magic;
  const char* name;
};

constexpr Compression kCompressions[] = {
    {"\x1f\x8b", "gzip"},
    {"\x28\xb5\x2f\xfd", "zstd"},
    {"\xfd\x37\x7a\x58\x5a\x00", "xz"},
    {"BZh", "bzip2"},
};

bool Starts(std::string_view input, std::string_view prefix) {
  return input.substr(0, prefix.size()) == prefix;
}

// Printable ASCII, whitespace, or bytes of UTF-8 sequences: what a person
// or a JSON writer produces.
bool IsTextByte(unsigned char c) {
  return c >= 0x20 || c == '\n' || c == '\r' || c == '\t';
}

Looks Classify(std::string_view input, const char** compression) {
  for (const Compression& c : kCompressions) {
    if (Starts(input, c.magic)) {
      *compression = c.name;
      return Looks::kOtherCompression;
    }
  }
  const std::string_view head = input.substr(0, 4096);
  if (!std::all_of(head.begin(), head.end(),
                   [](char c) { return IsTextByte(c); })) {
    return Looks::kBinary;
  }
  const size_t start = head.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return Looks::kUnsure;
  const char first = head[start];
  if (first == '{' || first == '[') return Looks::kJson;
  // A field name or a comment starts text format.
  if (std::isalpha(static_cast<unsigned char>(first)) || first == '_' ||
      first == '#') {
    return Looks::kText;
  }
  return Looks::kUnsure;
}

bool Parses(const Descriptor& type, std::string_view bytes) {
  std::unique_ptr<google::protobuf::Message> message(
      google::protobuf::MessageFactory::generated_factory()
          ->GetPrototype(&type)
          ->New());
  return message->ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
}

// Whether the input starts with a length-prefixed record that is a whole
// report of `type` and is not all of the input.
bool LooksDelimited(const Descriptor& type, std::string_view input) {
  google::protobuf::io::CodedInputStream coded(
      reinterpret_cast<const uint8_t*>(input.data()),
      static_cast<int>(std::min<size_t>(input.size(), 1 << 30)));
  uint32_t length;
  if (!coded.ReadVarint32(&length)) return false;
  const size_t prefix = static_cast<size_t>(coded.CurrentPosition());
  return prefix + length <= input.size() &&
         Parses(type, input.substr(prefix, length));
}

}  // namespace

std::string LooksLike(const Descriptor& type, std::string_view input,
                      InputForm expected) {
  const char* compression = "";
  const Looks looks = Classify(input, &compression);
  if (looks == Looks::kOtherCompression) {
    return std::string("this looks like ") + compression +
           "-compressed data: decompress it first";
  }
  if (expected == InputForm::kBinary || expected == InputForm::kDelimited) {
    if (looks == Looks::kJson) {
      return "this looks like JSON: did you mean encode --json?";
    }
    if (looks == Looks::kText) {
      return "this looks like text format: did you mean encode?";
    }
    if (expected == InputForm::kBinary && LooksDelimited(type, input)) {
      return "this looks like a length-delimited stream: did you mean "
             "--delimited?";
    }
    if (expected == InputForm::kDelimited && Parses(type, input)) {
      return "this looks like a single report, not a length-delimited "
             "stream: drop --delimited";
    }
    return "";
  }
  if (looks == Looks::kBinary) return "this looks binary: did you mean decode?";
  if (expected == InputForm::kText && looks == Looks::kJson) {
    return "this looks like JSON: did you mean --json?";
  }
  if (expected == InputForm::kJson && looks == Looks::kText) {
    return "this looks like text format: drop --json";
  }
  return "";
}

}  // namespace ostrel::agg_l3
