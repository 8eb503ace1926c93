// The records of protobuf bytes of no known type, by field number and wire
// type with the byte offset of each, for reading a report whose type is
// unknown or whose bytes the schema refuses. Like protoc --decode_raw, a
// length-delimited value is shown as a nested message where its bytes walk
// as one, else as a string; each line is text format with a comment:
//
//   1: "t0-gw"  # byte 0, length-delimited
//   4 {  # byte 7, length-delimited
//     2: 150  # byte 9, varint
//   }
//
// Every value is written exactly: varints as unsigned decimal, fixed-width
// values as hex, strings with C escapes, which text format reads back byte
// for byte.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_RAW_LISTING_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_RAW_LISTING_H_

#include <functional>
#include <optional>
#include <string_view>

#include "format/drift_check.h"

namespace ostrel::agg_l3 {

// Writes the listing of `bytes` to `write` in pieces, or, when the bytes are
// not a sequence of well-formed records, writes nothing and says where.
std::optional<Malformation> ListRecords(
    std::string_view bytes, const std::function<void(std::string_view)>& write);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_RAW_LISTING_H_
