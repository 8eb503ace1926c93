// What an input the command could not read looks like, when that is likely
// why it failed: JSON given where text format was expected, a
// length-delimited log given as one report, binary given as text, or a
// compression the tool does not undo.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_INPUT_HINTS_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_INPUT_HINTS_H_

#include <google/protobuf/descriptor.h>

#include <string>
#include <string_view>

namespace ostrel::agg_l3 {

// What the command was told its input is.
enum class InputForm { kBinary, kDelimited, kText, kJson };

// A sentence such as "this looks like JSON: did you mean --json?", or empty
// when the input looks like what it should be. `input` is the input, or as
// much of its start as is at hand.
std::string LooksLike(const google::protobuf::Descriptor& type,
                      std::string_view input, InputForm expected);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_INPUT_HINTS_H_
