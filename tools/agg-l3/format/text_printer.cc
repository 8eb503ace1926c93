#include "format/text_printer.h"

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/unknown_field_set.h>

#include <cmath>
#include <type_traits>

namespace ostrel::agg_l3 {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

void TextPrinter::Print(const Message& message) {
  PrintMessage(message, *message.GetDescriptor(), 0);
}

std::vector<std::string> TextPrinter::MakePrefixes(
    const google::protobuf::Descriptor& type, int depth) const {
  std::vector<std::string> lines;
  const std::string indent(2 * static_cast<size_t>(depth), ' ');
  for (int i = 0; i < type.field_count(); ++i) {
    const FieldDescriptor& field = *type.field(i);
    lines.push_back(indent + field.name() +
                    (field.message_type() != nullptr ? " {\n" : ": "));
  }
  lines.push_back(indent + "}\n");
  return lines;
}

// `type` is the message's, known from the field that holds it: asking the
// message costs a virtual call.
void TextPrinter::PrintMessage(const Message& message,
                               const google::protobuf::Descriptor& type,
                               int depth) {
  const Reflection& reflection = *message.GetReflection();
  const std::vector<std::string>& lines = Prefixes(type, depth);
  for (const FieldDescriptor* field : SetFields(message, reflection, depth)) {
    if (!field->is_repeated()) {
      PrintValue(message, reflection, *field, -1, lines, depth);
      continue;
    }
    const int count = reflection.FieldSize(message, field);
    for (int i = 0; i < count; ++i) {
      PrintValue(message, reflection, *field, i, lines, depth);
    }
  }
  // Unknown fields are rare, and the runtime's way with them (a string that
  // parses as fields prints as a message of them) is its own: its printer
  // writes them, indented to this depth.
  const auto& unknown = reflection.GetUnknownFields(message);
  if (!unknown.empty()) {
    google::protobuf::TextFormat::Printer runtime;
    runtime.SetInitialIndentLevel(depth);
    std::string printed;
    google::protobuf::io::StringOutputStream output(&printed);
    runtime.PrintUnknownFields(unknown, &output);
    Append(printed);
  }
}

// `index` is the element's for a list, -1 for a singular field.
void TextPrinter::PrintValue(const Message& message,
                             const Reflection& reflection,
                             const FieldDescriptor& field, int index,
                             const std::vector<std::string>& lines, int depth) {
  Append(lines[static_cast<size_t>(field.index())]);
  VisitValue(message, reflection, field, index, [&](const auto& value) {
    using Value = std::decay_t<decltype(value)>;
    if constexpr (std::is_base_of_v<Message, Value>) {
      PrintMessage(value, *field.message_type(), depth + 1);
      Append(lines.back());
      return;
    }
    if constexpr (std::is_same_v<Value, bool>) {
      Append(value ? "true" : "false");
    } else if constexpr (std::is_integral_v<Value>) {
      AppendInteger(value);
    } else if constexpr (std::is_floating_point_v<Value>) {
      if (std::isnan(value)) {
        Append("nan");  // whatever its sign
      } else {
        AppendShortest(value);
      }
    } else if constexpr (std::is_same_v<Value, EnumNumber>) {
      const auto* name = field.enum_type()->FindValueByNumber(value.number);
      if (name == nullptr) {
        AppendInteger(value.number);
      } else {
        Append(name->name());
      }
    } else if constexpr (std::is_same_v<Value, std::string>) {
      // Octal escapes for every byte outside printable ASCII: bytes that are
      // not UTF-8 print too, and read back as they were.
      escaped_.assign(1, '"');
      google::protobuf::CEscapeAndAppend(value, &escaped_);
      escaped_.push_back('"');
      Append(escaped_);
    }
    Append('\n');
  });
}

}  // namespace ostrel::agg_l3
