#include "format/json_printer.h"

#include <google/protobuf/descriptor.h>

#include <array>
#include <cmath>
#include <type_traits>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

// Bytes the runtime writes as they are inside a JSON string: printable ASCII
// but for the quote, the backslash and the angle brackets.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x7F; ++c) plain[c] = true;
  for (char c : {'"', '\\', '<', '>'}) plain[static_cast<uint8_t>(c)] = false;
  return plain;
}();

void AppendHexEscape(uint32_t unit, std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  const char escape[6] = {'\\',
                          'u',
                          kHex[(unit >> 12) & 0xF],
                          kHex[(unit >> 8) & 0xF],
                          kHex[(unit >> 4) & 0xF],
                          kHex[unit & 0xF]};
  out->append(escape, sizeof escape);
}

// The code points the runtime writes as \u escapes beyond the C0 and C1
// controls: invisible format characters and separators that some readers
// take for line ends.
bool EscapedFormatCharacter(uint32_t cp) {
  return cp == 0xAD || (cp >= 0x600 && cp <= 0x603) || cp == 0x6DD ||
         cp == 0x70F || cp == 0x17B4 || cp == 0x17B5 ||
         (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
         (cp >= 0x2060 && cp <= 0x2064) || (cp >= 0x206A && cp <= 0x206F) ||
         cp == 0xFEFF || (cp >= 0xFFF9 && cp <= 0xFFFB) ||
         (cp >= 0x1D173 && cp <= 0x1D17A) || cp == 0xE0001 ||
         (cp >= 0xE0020 && cp <= 0xE007F);
}

// Reads the UTF-8 sequence at `text[*i]` as the runtime's escaper does,
// advancing `*i` past what it consumed: a lead byte, then as many following
// bytes as the lead announces, stopping early after one that does not
// continue the sequence. False when the bytes consumed are no code point
// (a stray or impossible lead, a broken or cut sequence, a surrogate, beyond
// U+10FFFF); overlong forms pass.
bool ReadCodePoint(std::string_view text, size_t* i, uint32_t* cp) {
  const uint8_t lead = static_cast<uint8_t>(text[(*i)++]);
  int follow;
  if (lead < 0x80) {
    *cp = lead;
    return true;
  } else if (lead < 0xC0 || lead >= 0xF8) {
    return false;
  } else if (lead < 0xE0) {
    *cp = lead & 0x1F;
    follow = 1;
  } else if (lead < 0xF0) {
    *cp = lead & 0x0F;
    follow = 2;
  } else {
    *cp = lead & 0x07;
    follow = 3;
  }
  for (; follow > 0; --follow) {
    if (*i == text.size()) return false;
    const uint8_t next = static_cast<uint8_t>(text[(*i)++]);
    if ((next & 0xC0) != 0x80) return false;
    *cp = (*cp << 6) | (next & 0x3F);
  }
  return !(*cp >= 0xD800 && *cp <= 0xDFFF) && *cp <= 0x10FFFF;
}

// Appends the escape the runtime writes for `cp`; false when it writes the
// code point's bytes as they are.
bool AppendEscape(uint32_t cp, std::string* out) {
  switch (cp) {
    case '"':
      out->append("\\\"");
      return true;
    case '\\':
      out->append("\\\\");
      return true;
    case '\b':
      out->append("\\b");
      return true;
    case '\f':
      out->append("\\f");
      return true;
    case '\n':
      out->append("\\n");
      return true;
    case '\r':
      out->append("\\r");
      return true;
    case '\t':
      out->append("\\t");
      return true;
  }
  if (cp < 0x20 || cp == '<' || cp == '>' || (cp >= 0x7F && cp < 0xA0) ||
      (cp < 0x10000 && EscapedFormatCharacter(cp))) {
    AppendHexEscape(cp, out);
    return true;
  }
  if (EscapedFormatCharacter(cp)) {
    AppendHexEscape(0xD800 + ((cp - 0x10000) >> 10), out);
    AppendHexEscape(0xDC00 + ((cp - 0x10000) & 0x3FF), out);
    return true;
  }
  return false;
}

}  // namespace

JsonPrinter::JsonPrinter(
    const google::protobuf::util::JsonPrintOptions& options,
    google::protobuf::io::ZeroCopyOutputStream* output)
    : StreamPrinter(output), options_(options) {}

void JsonPrinter::Print(const Message& message) {
  PrintObject(message, *message.GetDescriptor(), 1);
  NewLine(0);
}

void JsonPrinter::NewLine(int depth) {
  if (!options_.add_whitespace) return;
  const size_t length = static_cast<size_t>(depth) + 1;
  if (newline_.size() < length) newline_.resize(length, ' ');
  Append(std::string_view(newline_).substr(0, length));
}

std::vector<std::string> JsonPrinter::MakePrefixes(
    const google::protobuf::Descriptor& type, int depth) const {
  const std::string newline =
      options_.add_whitespace
          ? "\n" + std::string(static_cast<size_t>(depth), ' ')
          : "";
  std::vector<std::string> members;
  for (int i = 0; i < type.field_count(); ++i) {
    const FieldDescriptor& field = *type.field(i);
    members.push_back("," + newline + "\"" +
                      (options_.preserve_proto_field_names
                           ? field.name()
                           : field.json_name()) +
                      (options_.add_whitespace ? "\": " : "\":"));
  }
  return members;
}

// `type` is the message's, known from the field that holds it: asking the
// message costs a virtual call and a check that its file is loaded.
void JsonPrinter::PrintObject(const Message& message,
                              const google::protobuf::Descriptor& type,
                              int depth) {
  Append('{');
  const Reflection& reflection = *message.GetReflection();
  const std::vector<std::string>& members = Prefixes(type, depth);
  bool first = true;
  // A member is a comma after the first, its line, its name and its value.
  const auto member = [&](const FieldDescriptor& field) {
    std::string_view prefix = members[static_cast<size_t>(field.index())];
    if (first) prefix.remove_prefix(1);
    first = false;
    Append(prefix);
  };
  if (options_.always_print_primitive_fields) {
    for (int i = 0; i < type.field_count(); ++i) {
      const FieldDescriptor& field = *type.field(i);
      if (field.is_repeated()) {
        member(field);
        PrintField(message, reflection, field, depth);
      } else if (reflection.HasField(message, &field)) {
        member(field);
        PrintField(message, reflection, field, depth);
      } else if (field.cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE) {
        member(field);
        PrintDefault(field);
      }
    }
  } else {
    for (const FieldDescriptor* field : SetFields(message, reflection, depth)) {
      member(*field);
      PrintField(message, reflection, *field, depth);
    }
  }
  if (!first) NewLine(depth - 1);
  Append('}');
}

void JsonPrinter::PrintField(const Message& message,
                             const Reflection& reflection,
                             const FieldDescriptor& field, int depth) {
  if (!field.is_repeated()) {
    PrintValue(message, reflection, field, -1, depth);
    return;
  }
  Append('[');
  const int count = reflection.FieldSize(message, &field);
  for (int i = 0; i < count; ++i) {
    if (i > 0) Append(',');
    NewLine(depth + 1);
    PrintValue(message, reflection, field, i, depth + 1);
  }
  if (count > 0) NewLine(depth);
  Append(']');
}

// 64-bit integers are strings in JSON, which many readers hold as doubles.
template <typename Integer>
void JsonPrinter::AppendQuoted(Integer value) {
  Append('"');
  AppendInteger(value);
  Append('"');
}

// Finite numbers as the runtime's shortest round-tripping form (-0 as -0.0,
// as KeepNegativeZeros has it), the others as the strings the JSON mapping
// names them by.
template <typename Real>
void JsonPrinter::AppendReal(Real value) {
  if (value == 0 && std::signbit(value)) {
    Append("-0.0");  // the runtime's -0 reads back as the integer 0
  } else if (std::isfinite(value)) {
    AppendShortest(value);
  } else {
    Append(std::isnan(value) ? "\"NaN\""
           : value > 0       ? "\"Infinity\""
                             : "\"-Infinity\"");
  }
}

// `index` is the element's for a list, -1 for a singular field.
void JsonPrinter::PrintValue(const Message& message,
                             const Reflection& reflection,
                             const FieldDescriptor& field, int index,
                             int depth) {
  VisitValue(message, reflection, field, index, [&](const auto& value) {
    using Value = std::decay_t<decltype(value)>;
    if constexpr (std::is_same_v<Value, bool>) {
      Append(value ? "true" : "false");
    } else if constexpr (std::is_same_v<Value, int64_t> ||
                         std::is_same_v<Value, uint64_t>) {
      AppendQuoted(value);
    } else if constexpr (std::is_integral_v<Value>) {
      AppendInteger(value);
    } else if constexpr (std::is_floating_point_v<Value>) {
      AppendReal(value);
    } else if constexpr (std::is_same_v<Value, EnumNumber>) {
      const auto* name = field.enum_type()->FindValueByNumber(value.number);
      if (options_.always_print_enums_as_ints || name == nullptr) {
        AppendInteger(value.number);
      } else {
        PrintString(name->name());
      }
    } else if constexpr (std::is_same_v<Value, std::string>) {
      PrintString(value);
    } else {
      PrintObject(value, *field.message_type(), depth + 1);
    }
  });
}

void JsonPrinter::PrintDefault(const FieldDescriptor& field) {
  switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      AppendInteger(field.default_value_int32());
      break;
    case FieldDescriptor::CPPTYPE_UINT32:
      AppendInteger(field.default_value_uint32());
      break;
    case FieldDescriptor::CPPTYPE_INT64:
      AppendQuoted(field.default_value_int64());
      break;
    case FieldDescriptor::CPPTYPE_UINT64:
      AppendQuoted(field.default_value_uint64());
      break;
    case FieldDescriptor::CPPTYPE_BOOL:
      Append(field.default_value_bool() ? "true" : "false");
      break;
    case FieldDescriptor::CPPTYPE_FLOAT:
      AppendReal(field.default_value_float());
      break;
    case FieldDescriptor::CPPTYPE_DOUBLE:
      AppendReal(field.default_value_double());
      break;
    case FieldDescriptor::CPPTYPE_ENUM:
      if (options_.always_print_enums_as_ints) {
        AppendInteger(field.default_value_enum()->number());
      } else {
        PrintString(field.default_value_enum()->name());
      }
      break;
    case FieldDescriptor::CPPTYPE_STRING:
      PrintString(field.default_value_string());
      break;
    case FieldDescriptor::CPPTYPE_MESSAGE:
      break;
  }
}

// Byte for byte the runtime's escaping, which also drops what is not UTF-8
// (whether JSON may be printed at all is the caller's decision).
void JsonPrinter::PrintString(const std::string& value) {
  Append('"');
  const std::string_view text = value;
  size_t plain_start = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (kPlain[static_cast<uint8_t>(text[i])]) {
      ++i;
      continue;
    }
    Append(text.substr(plain_start, i - plain_start));
    const size_t start = i;
    uint32_t cp;
    escape_.clear();
    if (ReadCodePoint(text, &i, &cp)) {  // else dropped, as the runtime does
      if (AppendEscape(cp, &escape_)) {
        Append(escape_);
      } else {
        Append(text.substr(start, i - start));
      }
    }
    plain_start = i;
  }
  Append(text.substr(plain_start));
  Append('"');
}

}  // namespace ostrel::agg_l3
