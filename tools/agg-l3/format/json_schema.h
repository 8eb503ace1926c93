// A JSON Schema (draft 2020-12) of the JSON that decode --json prints for a
// message type, with the same options: field names as printed (lowerCamelCase
// or as the schema writes them), enumerations by name or number, 64-bit
// integers as decimal strings, floats as numbers or "NaN", "Infinity",
// "-Infinity". Fields are all optional, as unset ones are left out; names
// the type has no field for are refused.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_JSON_SCHEMA_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_JSON_SCHEMA_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/util/json_util.h>

#include <string>

namespace ostrel::agg_l3 {

// Honours preserve_proto_field_names and always_print_enums_as_ints.
std::string JsonSchema(const google::protobuf::Descriptor& type,
                       const google::protobuf::util::JsonPrintOptions& json);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_JSON_SCHEMA_H_
