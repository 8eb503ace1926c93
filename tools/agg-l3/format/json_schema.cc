#include "format/json_schema.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <deque>
#include <set>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;

constexpr const char* kDraft = "https://json-schema.org/draft/2020-12/schema";

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

class SchemaWriter {
 public:
  SchemaWriter(Writer& out,
               const google::protobuf::util::JsonPrintOptions& json)
      : out_(out), json_(json) {}

  void Write(const Descriptor& root) {
    out_.StartObject();
    Pair("$schema", kDraft);
    Pair("title", root.full_name());
    Pair("$ref", Reference(root));
    out_.Key("$defs");
    out_.StartObject();
    std::set<const Descriptor*> defined = {&root};
    std::deque<const Descriptor*> waiting = {&root};
    while (!waiting.empty()) {
      const Descriptor& type = *waiting.front();
      waiting.pop_front();
      out_.Key(type.full_name().c_str());
      Message(type);
      for (int i = 0; i < type.field_count(); ++i) {
        const Descriptor* used = type.field(i)->message_type();
        if (used != nullptr && defined.insert(used).second) {
          waiting.push_back(used);
        }
      }
    }
    out_.EndObject();
    out_.EndObject();
  }

 private:
  void Message(const Descriptor& type) {
    out_.StartObject();
    Pair("type", "object");
    out_.Key("properties");
    out_.StartObject();
    for (int i = 0; i < type.field_count(); ++i) {
      const FieldDescriptor& field = *type.field(i);
      out_.Key(json_.preserve_proto_field_names ? field.name().c_str()
                                                : field.json_name().c_str());
      if (field.is_repeated()) {
        out_.StartObject();
        Pair("type", "array");
        out_.Key("items");
        Value(field);
        out_.EndObject();
      } else {
        Value(field);
      }
    }
    out_.EndObject();
    out_.Key("additionalProperties");
    out_.Bool(false);
    out_.EndObject();
  }

  void Value(const FieldDescriptor& field) {
    out_.StartObject();
    switch (field.cpp_type()) {
      case FieldDescriptor::CPPTYPE_INT32:
        Integer(INT32_MIN, INT32_MAX);
        break;
      case FieldDescriptor::CPPTYPE_UINT32:
        Integer(0, UINT32_MAX);
        break;
      case FieldDescriptor::CPPTYPE_INT64:
        Pair("type", "string");
        Pair("pattern", "^-?(0|[1-9][0-9]*)$");
        break;
      case FieldDescriptor::CPPTYPE_UINT64:
        Pair("type", "string");
        Pair("pattern", "^(0|[1-9][0-9]*)$");
        break;
      case FieldDescriptor::CPPTYPE_FLOAT:
      case FieldDescriptor::CPPTYPE_DOUBLE:
        // Numbers, -0 among them; what JSON numbers cannot be, as strings.
        out_.Key("anyOf");
        out_.StartArray();
        out_.StartObject();
        Pair("type", "number");
        out_.EndObject();
        out_.StartObject();
        out_.Key("enum");
        out_.StartArray();
        for (const char* special : {"NaN", "Infinity", "-Infinity"}) {
          out_.String(special);
        }
        out_.EndArray();
        out_.EndObject();
        out_.EndArray();
        break;
      case FieldDescriptor::CPPTYPE_BOOL:
        Pair("type", "boolean");
        break;
      case FieldDescriptor::CPPTYPE_STRING:
        Pair("type", "string");
        if (field.type() == FieldDescriptor::TYPE_BYTES) {
          Pair("contentEncoding", "base64");
        }
        break;
      case FieldDescriptor::CPPTYPE_ENUM: {
        const auto& enumeration = *field.enum_type();
        Pair("type", json_.always_print_enums_as_ints ? "integer" : "string");
        out_.Key("enum");
        out_.StartArray();
        for (int i = 0; i < enumeration.value_count(); ++i) {
          if (json_.always_print_enums_as_ints) {
            out_.Int(enumeration.value(i)->number());
          } else {
            out_.String(enumeration.value(i)->name().c_str());
          }
        }
        out_.EndArray();
        break;
      }
      case FieldDescriptor::CPPTYPE_MESSAGE:
        Pair("$ref", Reference(*field.message_type()));
        break;
    }
    out_.EndObject();
  }

  void Integer(int64_t minimum, int64_t maximum) {
    Pair("type", "integer");
    out_.Key("minimum");
    out_.Int64(minimum);
    out_.Key("maximum");
    out_.Int64(maximum);
  }

  void Pair(const char* key, const std::string& value) {
    out_.Key(key);
    out_.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
  }

  static std::string Reference(const Descriptor& type) {
    return "#/$defs/" + type.full_name();
  }

  Writer& out_;
  const google::protobuf::util::JsonPrintOptions& json_;
};

}  // namespace

std::string JsonSchema(const Descriptor& type,
                       const google::protobuf::util::JsonPrintOptions& json) {
  rapidjson::StringBuffer buffer;
  Writer out(buffer);
  out.SetIndent(' ', 2);
  out.SetFormatOptions(rapidjson::kFormatSingleLineArray);
  SchemaWriter(out, json).Write(type);
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

}  // namespace ostrel::agg_l3
