#include "commands.h"

#include <algorithm>

#include "drift_check.h"
#include "input_hints.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::EnumDescriptor;

std::string Plural(int count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Padded(const std::string& name, size_t width) {
  return name + std::string(width > name.size() ? width - name.size() : 0, ' ');
}

// The enumerations of the file and of its messages, in declaration order.
std::vector<const EnumDescriptor*> Enumerations() {
  std::vector<const EnumDescriptor*> enums;
  for (int i = 0; i < SchemaFile().enum_type_count(); ++i) {
    enums.push_back(SchemaFile().enum_type(i));
  }
  for (int i = 0; i < SchemaFile().message_type_count(); ++i) {
    const Descriptor* type = SchemaFile().message_type(i);
    for (int j = 0; j < type->enum_type_count(); ++j) {
      enums.push_back(type->enum_type(j));
    }
  }
  return enums;
}

// `what` is what the input should have been ("a well-formed RouteTableMsg").
Status Malformed(std::string_view source, const std::string& what,
                 const std::string& error) {
  return {kMalformed, std::string(source) + " is not " + what + ": " + error};
}

// The error, and what the input looks like when that tells why.
std::string WithHint(const std::string& error, const Descriptor& type,
                     std::string_view input, InputForm expected) {
  const std::string hint = LooksLike(type, input, expected);
  return hint.empty() ? error : error + "; " + hint;
}

}  // namespace

std::string TypeList() {
  size_t width = 0;
  for (int i = 0; i < SchemaFile().message_type_count(); ++i) {
    width = std::max(width, SchemaFile().message_type(i)->name().size());
  }
  std::string list;
  for (int i = 0; i < SchemaFile().message_type_count(); ++i) {
    const Descriptor* type = SchemaFile().message_type(i);
    list += Padded(type->name(), width + 2) +
            Plural(type->field_count(), "field") + "\n";
  }
  return list;
}

std::string EnumList() {
  std::string list;
  for (const EnumDescriptor* enumeration : Enumerations()) {
    const std::string name =
        enumeration->full_name().substr(SchemaFile().package().size() + 1);
    list += name + " (" + Plural(enumeration->value_count(), "value") + ")\n";
    for (int i = 0; i < enumeration->value_count(); ++i) {
      list += "  " + enumeration->value(i)->name() + " = " +
              std::to_string(enumeration->value(i)->number()) + "\n";
    }
  }
  return list;
}

std::string SchemaText() { return SchemaFile().DebugString(); }

Status DecodeReport(const Descriptor& type, std::string_view binary,
                    Format format, std::string_view source,
                    google::protobuf::io::ZeroCopyOutputStream* output,
                    Warnings* warnings, bool accept_loss,
                    const google::protobuf::util::JsonPrintOptions& json) {
  const Status decoded =
      Decode(type, binary, format, output, warnings, accept_loss, json);
  if (decoded.ok()) return decoded;
  if (decoded.code() != kMalformed) {
    return {decoded.code(), std::string(source) + ": " + decoded.message()};
  }
  return Malformed(
      source, "a well-formed " + type.name(),
      WithHint(decoded.message(), type, binary, InputForm::kBinary));
}

Status EncodeReport(const Descriptor& type, std::string_view text,
                    Format format, std::string_view source, std::string* output,
                    bool ignore_unknown, Warnings* warnings) {
  std::vector<std::string> skipped;
  const Status encoded =
      Encode(type, text, format, output, ignore_unknown ? &skipped : nullptr);
  for (const std::string& name : skipped) {
    warnings->push_back(std::string(source) + ": skipped " + name + ", which " +
                        type.name() + " has no field for");
  }
  // The report is written, but it lacks what the input said.
  if (encoded.ok()) return {skipped.empty() ? kOk : kDrift, ""};
  return Malformed(
      source,
      "a " + type.name() +
          (format == Format::kJson ? " in JSON" : " in text format"),
      WithHint(encoded.message(), type, text,
               format == Format::kJson ? InputForm::kJson : InputForm::kText));
}

Status CheckReport(const Descriptor& type, std::string_view binary,
                   std::string_view source, std::string* output) {
  const WireWalk walk = WalkWire(type, binary);
  if (walk.malformation) {
    return Malformed(source, "a well-formed " + type.name(),
                     WithHint(Describe(*walk.malformation), type, binary,
                              InputForm::kBinary));
  }
  *output = std::string(source) + ": a well-formed " + type.name();
  if (walk.drift.empty()) {
    *output += ", nothing in it unknown to this schema\n";
    return {};
  }
  *output += " with " + Plural(static_cast<int>(walk.drift.size()), "record") +
             " this schema does not know:\n";
  for (const Drift& drift : walk.drift) {
    *output += "  " + Describe(drift) + "\n";
  }
  return {kDrift, ""};
}

std::string UnknownTypeError(std::string_view name) {
  std::string error = "no message type '" + std::string(name) + "' in " +
                      SchemaFile().name() + "; closest: ";
  const std::vector<std::string> closest = ClosestReportTypes(name);
  for (size_t i = 0; i < closest.size(); ++i) {
    error += (i == 0 ? "" : ", ") + closest[i];
  }
  return error;
}

}  // namespace ostrel::agg_l3
