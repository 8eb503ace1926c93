// The schema files as their authors wrote them, comments included, made
// part of the tool when it is built. The descriptions the libraries register
// carry no comments, and stay as they are.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_SCHEMA_TEXT_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_SCHEMA_TEXT_H_

#include <google/protobuf/descriptor.h>

#include <string>
#include <string_view>

namespace ostrel::agg_l3 {

// The serialized FileDescriptorSet of the schema file and the files it
// imports, imports first, with source info: what grpcurl -protoset and buf
// take.
extern const std::string_view kSchemaSet;

// The same files as written, imports first, each after a line naming it
// ("// ostrel/ruk/core_types.proto").
extern const std::string_view kSchemaSources;

// `type` (of the generated pool) as .proto text with its comments, then
// each message and enumeration it uses, directly or not.
std::string TypeText(const google::protobuf::Descriptor& type);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_SCHEMA_TEXT_H_
