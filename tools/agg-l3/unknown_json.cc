#include "unknown_json.h"

#include <google/protobuf/struct.pb.h>
#include <google/protobuf/util/json_util.h>

#include <set>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;

// The field a JSON name stands for: the parser takes either form.
const FieldDescriptor* FieldNamed(const Descriptor& type,
                                  const std::string& name) {
  for (int i = 0; i < type.field_count(); ++i) {
    const FieldDescriptor* field = type.field(i);
    if (field->name() == name || field->json_name() == name) return field;
  }
  return nullptr;
}

void Collect(const Descriptor& type, const google::protobuf::Struct& object,
             const std::string& path, std::set<std::string>* names) {
  for (const auto& [name, value] : object.fields()) {
    const FieldDescriptor* field = FieldNamed(type, name);
    if (field == nullptr) {
      names->insert(path + name);
      continue;
    }
    if (field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE) continue;
    if (value.has_struct_value()) {
      Collect(*field->message_type(), value.struct_value(), path + name + ".",
              names);
    }
    for (const auto& element : value.list_value().values()) {
      if (element.has_struct_value()) {
        Collect(*field->message_type(), element.struct_value(),
                path + name + "[].", names);
      }
    }
  }
}

}  // namespace

std::vector<std::string> UnknownJsonNames(const Descriptor& type,
                                          std::string_view json) {
  google::protobuf::Struct object;
  if (!google::protobuf::util::JsonStringToMessage(
           google::protobuf::StringPiece(json.data(), json.size()), &object)
           .ok()) {
    return {};
  }
  std::set<std::string> names;
  Collect(type, object, "", &names);
  return {names.begin(), names.end()};
}

}  // namespace ostrel::agg_l3
