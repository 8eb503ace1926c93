// The names in a JSON report that its type has no field for: what
// `encode --ignore-unknown` skips, so that it can say what it skipped.

#ifndef OSTREL_TOOLS_AGG_L3_UNKNOWN_JSON_H_
#define OSTREL_TOOLS_AGG_L3_UNKNOWN_JSON_H_

#include <google/protobuf/descriptor.h>

#include <string>
#include <string_view>
#include <vector>

namespace ostrel::agg_l3 {

// Each unknown name once, by its path ("route[].color"), sorted; empty when
// `json` is no JSON object.
std::vector<std::string> UnknownJsonNames(
    const google::protobuf::Descriptor& type, std::string_view json);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_UNKNOWN_JSON_H_
