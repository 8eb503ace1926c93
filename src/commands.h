// The agg-l3 commands, as functions from input bytes to everything the
// command prints, so that nothing reaches an output before it is complete.

#ifndef OSTREL_SRC_COMMANDS_H_
#define OSTREL_SRC_COMMANDS_H_

#include <google/protobuf/descriptor.h>

#include <string>
#include <string_view>

#include "report_codec.h"

namespace ostrel::agg_l3 {

enum ExitCode : int {
  kOk = 0,
  kDrift = 1,      // check: well-formed, but carries what the schema lacks
  kMalformed = 2,  // the input is not what the command was told it is
  kCannotRun = 3,  // usage, unknown type, unreadable or unwritable file
};

struct Outcome {
  int exit_code = kOk;
  std::string output;       // the result; empty unless exit_code is 0 or 1
  std::string diagnostics;  // complete lines for standard error
};

Outcome ListTypes();
Outcome ListEnums();
Outcome PrintSchema();

// `source` names the input in messages: a file name or "<stdin>".
Outcome DecodeReport(const google::protobuf::Descriptor& type,
                     std::string_view binary, Format format,
                     std::string_view source);
Outcome EncodeReport(const google::protobuf::Descriptor& type,
                     std::string_view text, Format format,
                     std::string_view source);
Outcome CheckReport(const google::protobuf::Descriptor& type,
                    std::string_view binary, std::string_view source);

// The TYPE argument's error when FindReportType rejects `name`.
std::string UnknownTypeError(std::string_view name);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_SRC_COMMANDS_H_
