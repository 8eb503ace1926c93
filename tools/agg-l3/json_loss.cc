#include "json_loss.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/unknown_field_set.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "json_exactness.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;
using google::protobuf::UnknownField;

// The bit pattern "NaN" reads back as. (The schemas have no doubles.)
constexpr uint32_t kJsonFloatNan = json_exactness::kFloatNanBits;

uint32_t BitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

std::string Hex(uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  do {
    hex.insert(hex.begin(), kDigits[value & 0xf]);
    value >>= 4;
  } while (value != 0);
  return "0x" + hex;
}

// The loss of a string, when JSON cannot hold it.
void CheckString(std::string_view value, const std::string& path,
                 std::vector<JsonLoss>* losses) {
  const size_t bad = FirstNonUtf8(value);
  if (bad == std::string::npos) return;
  losses->push_back(
      {path, "not UTF-8 from its byte " + std::to_string(bad) + " (" +
                 Hex(static_cast<unsigned char>(value[bad])) + ")"});
}

std::string UnknownRecord(const google::protobuf::Descriptor& type,
                          const UnknownField& record) {
  const FieldDescriptor* field = type.FindFieldByNumber(record.number());
  if (field == nullptr) {
    return "field " + std::to_string(record.number()) +
           ", which this schema does not know";
  }
  if (field->enum_type() != nullptr &&
      record.type() == UnknownField::TYPE_VARINT) {
    return "value " + std::to_string(static_cast<int32_t>(record.varint())) +
           " rejected by enumeration " + field->enum_type()->name();
  }
  return "a record of field " + std::to_string(record.number()) +
         " in a wire type the schema does not have for it";
}

void Collect(const Message& message, const std::string& root,
             std::vector<JsonLoss>* losses) {
  const Reflection& reflection = *message.GetReflection();
  const std::string prefix = root.empty() ? "" : root + ".";
  std::vector<const FieldDescriptor*> fields;
  reflection.ListFields(message, &fields);
  for (const FieldDescriptor* field : fields) {
    const bool repeated = field->is_repeated();
    const int count = repeated ? reflection.FieldSize(message, field) : 1;
    // Built only for a loss or a sub-message: most fields need none.
    const auto path = [&](int i) {
      return prefix + field->name() +
             (repeated ? "[" + std::to_string(i) + "]" : "");
    };
    for (int i = 0; i < count; ++i) {
      switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_STRING: {
          if (field->type() != FieldDescriptor::TYPE_STRING) break;
          std::string scratch;
          const std::string& value =
              repeated
                  ? reflection.GetRepeatedStringReference(message, field, i,
                                                          &scratch)
                  : reflection.GetStringReference(message, field, &scratch);
          if (FirstNonUtf8(value) != std::string::npos) {
            CheckString(value, path(i), losses);
          }
          break;
        }
        case FieldDescriptor::CPPTYPE_FLOAT: {
          const float value =
              repeated ? reflection.GetRepeatedFloat(message, field, i)
                       : reflection.GetFloat(message, field);
          if (std::isnan(value) && BitsOf(value) != kJsonFloatNan) {
            losses->push_back({path(i), "a NaN with bits " +
                                            Hex(BitsOf(value)) +
                                            ", which JSON writes as NaN"});
          }
          break;
        }
        case FieldDescriptor::CPPTYPE_MESSAGE:
          Collect(repeated ? reflection.GetRepeatedMessage(message, field, i)
                           : reflection.GetMessage(message, field),
                  path(i), losses);
          break;
        default:  // integers, booleans and enumerations print exactly
          break;
      }
    }
  }
  const auto& unknown = reflection.GetUnknownFields(message);
  for (int i = 0; i < unknown.field_count(); ++i) {
    const UnknownField& record = unknown.field(i);
    const FieldDescriptor* field =
        message.GetDescriptor()->FindFieldByNumber(record.number());
    losses->push_back(
        {prefix + (field ? field->name() : std::to_string(record.number())),
         UnknownRecord(*message.GetDescriptor(), record)});
  }
}

}  // namespace

std::vector<JsonLoss> JsonLosses(const Message& message,
                                 const std::string& root) {
  std::vector<JsonLoss> losses;
  Collect(message, root, &losses);
  return losses;
}

std::vector<JsonLoss> JsonLosses(std::string_view string,
                                 const std::string& path) {
  std::vector<JsonLoss> losses;
  CheckString(string, path, &losses);
  return losses;
}

Status JudgeLosses(const std::vector<JsonLoss>& losses, bool accept_loss,
                   Warnings* warnings) {
  if (losses.empty()) return {};
  if (accept_loss) {
    for (const JsonLoss& loss : losses) {
      warnings->push_back("JSON does not hold " + loss.path + ": " + loss.what);
    }
    return {};
  }
  std::string message =
      "JSON cannot hold these values exactly, so nothing was written; "
      "text format keeps every byte, and --accept-loss writes the JSON "
      "without them:";
  for (const JsonLoss& loss : losses) {
    message += "\n  " + loss.path + ": " + loss.what;
  }
  return {kJsonCannotHold, message};
}

void KeepNegativeZeros(std::string* json) {
  bool in_string = false;
  for (size_t i = 0; i < json->size(); ++i) {
    const char c = (*json)[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '-' && json->compare(i + 1, 1, "0") == 0 &&
               (i + 2 == json->size() ||
                std::strchr("0123456789.eE", (*json)[i + 2]) == nullptr)) {
      json->insert(i + 2, ".0");
      i += 3;
    }
  }
}

size_t FirstNonUtf8(std::string_view text) {
  return json_exactness::FirstNonUtf8(text);
}

}  // namespace ostrel::agg_l3
