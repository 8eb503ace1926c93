// The agg-l3 commands, as functions from input bytes to everything the
// command prints, so that nothing reaches an output before it is complete.
// `source` names the input in messages: a file name or "<stdin>".

#ifndef OSTREL_TOOLS_AGG_L3_COMMANDS_H_
#define OSTREL_TOOLS_AGG_L3_COMMANDS_H_

#include <google/protobuf/descriptor.h>

#include <string>
#include <string_view>

#include "report_codec.h"
#include "status.h"

namespace ostrel::agg_l3 {

std::string TypeList();
std::string EnumList();
std::string SchemaText();

// `output` is set only when the command succeeds (check: also on kDrift).
// decode prints as it goes, once the report has parsed.
Status DecodeReport(
    const google::protobuf::Descriptor& type, std::string_view binary,
    Format format, std::string_view source,
    google::protobuf::io::ZeroCopyOutputStream* output, Warnings* warnings,
    bool accept_loss = false,
    const google::protobuf::util::JsonPrintOptions& json = IndentedJson());

// `ignore_unknown`: JSON names the type has no field for are skipped, each
// named in a warning, and the output is written with kDrift.
Status EncodeReport(const google::protobuf::Descriptor& type,
                    std::string_view text, Format format,
                    std::string_view source, std::string* output,
                    bool ignore_unknown = false, Warnings* warnings = nullptr);
Status CheckReport(const google::protobuf::Descriptor& type,
                   std::string_view binary, std::string_view source,
                   std::string* output);

// The TYPE argument's error when FindReportType rejects `name`.
std::string UnknownTypeError(std::string_view name);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_COMMANDS_H_
