// What `agg-l3 --version` prints: enough to tell which build of the tool,
// which schema description and which protobuf runtime produced a result.

#ifndef OSTREL_TOOLS_AGG_L3_VERSION_H_
#define OSTREL_TOOLS_AGG_L3_VERSION_H_

#include <string>
#include <string_view>

namespace ostrel::agg_l3 {

// Three lines, without a final newline, naming the tool's version, the schema
// file with its message count and the SHA-256 of its registered description
// (the serialized FileDescriptorProto), and the protobuf version and runtime
// library.
std::string VersionText();

// Lower-case hexadecimal SHA-256 of `bytes`.
std::string Sha256Hex(std::string_view bytes);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_VERSION_H_
