// What the JSON mapping of a report cannot hold exactly: strings that are
// not UTF-8 (JSON strings are text; the runtime's printer drops or copies
// such bytes), NaNs other than the one "NaN" reads back as, and records the
// schema does not know. Every JSON output of agg-l3 asks this first, so
// that nothing is lost without being named; the text format keeps all of it.

#ifndef OSTREL_TOOLS_AGG_L3_JSON_LOSS_H_
#define OSTREL_TOOLS_AGG_L3_JSON_LOSS_H_

#include <google/protobuf/message.h>

#include <string>
#include <string_view>
#include <vector>

#include "status.h"

namespace ostrel::agg_l3 {

struct JsonLoss {
  // Dotted path with element indexes ("route[3].network"); an unknown
  // field is named by its number, as the text format prints it.
  std::string path;
  std::string what;
};

// In field order; `root` prefixes every path (for one element of a list
// printed on its own, "route[41]").
std::vector<JsonLoss> JsonLosses(const google::protobuf::Message& message,
                                 const std::string& root = "");

// The same for a string on its own (an element of a list of strings).
std::vector<JsonLoss> JsonLosses(std::string_view string,
                                 const std::string& path);

// Without `accept_loss`, a refusal naming every loss; with it, success and
// one warning per loss.
Status JudgeLosses(const std::vector<JsonLoss>& losses, bool accept_loss,
                   Warnings* warnings);

// The runtime's printer writes a float -0 as the number -0, which every
// JSON parser, the runtime's included, reads as the integer 0; -0.0 keeps
// the sign. Rewrites each number token -0 outside strings.
void KeepNegativeZeros(std::string* json);

// The offset of the first byte of `text` that does not belong to a
// well-formed UTF-8 sequence (overlong forms, surrogates and code points
// past U+10FFFF included), or npos.
size_t FirstNonUtf8(std::string_view text);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_JSON_LOSS_H_
