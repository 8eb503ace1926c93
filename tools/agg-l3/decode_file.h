// decode of a named regular file, parsed as it is read, so that the input
// is never held whole beside the parsed report (a large report's peak
// memory is then the report's). The file is read again, whole, only when the
// report turns out malformed: then DecodeReport says where, as for standard
// input. Anything but a regular file of at most 2 GiB is read whole first.

#ifndef OSTREL_TOOLS_AGG_L3_DECODE_FILE_H_
#define OSTREL_TOOLS_AGG_L3_DECODE_FILE_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/util/json_util.h>

#include <functional>
#include <string>
#include <string_view>

#include "report_codec.h"
#include "status.h"

namespace ostrel::agg_l3 {

Status DecodeFile(
    const google::protobuf::Descriptor& type, const std::string& path,
    Format format, google::protobuf::io::ZeroCopyOutputStream* output,
    Warnings* warnings, bool accept_loss,
    const google::protobuf::util::JsonPrintOptions& json,
    const std::function<bool(std::string_view)>& certainly_malformed);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_DECODE_FILE_H_
