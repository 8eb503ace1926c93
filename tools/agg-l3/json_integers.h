// Integer fields read from JSON, held to their type's range. The runtime's
// JSON parser reads a number that fits no 64-bit integer as a double and
// accepts it when that double fits the field: -9223372036854775809 becomes
// the int64 -9223372036854775808, 9007199254740993.0 becomes
// 9007199254740992. This walk sees the number as written.

#ifndef OSTREL_TOOLS_AGG_L3_JSON_INTEGERS_H_
#define OSTREL_TOOLS_AGG_L3_JSON_INTEGERS_H_

#include <google/protobuf/descriptor.h>

#include <string>
#include <string_view>

namespace ostrel::agg_l3 {

// Empty, or the first integer field whose JSON number is not an integer of
// its type's range: "route[2].admin_distance: -2147483649 is out of range
// for int32". JSON that is not well-formed is left to the runtime's parser
// to report: the walk stops where it stops making sense.
std::string CheckJsonIntegers(const google::protobuf::Descriptor& type,
                              std::string_view json);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_JSON_INTEGERS_H_
