// decode, encode and check over a length-delimited stream of reports
// (--delimited), one record at a time, so any number of records takes the
// memory of the largest.
//
//   decode          text format, each report after a line "# record N";
//   decode --json   JSON lines, a report per line;
//   decode --each   the JSON lines of --each, record after record;
//   encode          the reverse of decode and decode --json;
//   check           the drift of every record, named by record.
//
// Errors name the record and the byte offset of its length prefix. A whole
// command writes nothing unless every record was read; with --each the lines
// of the records before a broken one stay written.

#ifndef OSTREL_TOOLS_AGG_L3_DELIMITED_COMMANDS_H_
#define OSTREL_TOOLS_AGG_L3_DELIMITED_COMMANDS_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/util/json_util.h>

#include <istream>
#include <string>
#include <string_view>

#include "each_lines.h"
#include "report_codec.h"
#include "status.h"

namespace ostrel::agg_l3 {

Status DecodeDelimited(const google::protobuf::Descriptor& type,
                       google::protobuf::io::ZeroCopyInputStream* input,
                       std::string_view source, Format format,
                       google::protobuf::util::JsonPrintOptions json,
                       google::protobuf::io::ZeroCopyOutputStream* output,
                       Warnings* warnings, bool accept_loss = false);

Status DecodeEachDelimited(const google::protobuf::Descriptor& type,
                           const std::string& field,
                           google::protobuf::io::ZeroCopyInputStream* input,
                           std::string_view source,
                           const google::protobuf::util::JsonPrintOptions& json,
                           google::protobuf::io::ZeroCopyOutputStream* output,
                           Warnings* warnings, bool accept_loss = false);

// Text format: records separated by lines starting "# record"; JSON: a
// report per line.
Status EncodeDelimited(const google::protobuf::Descriptor& type,
                       std::istream& text, std::string_view source,
                       Format format,
                       google::protobuf::io::ZeroCopyOutputStream* output);

// kDrift when any record carries what the schema does not know.
Status CheckDelimited(const google::protobuf::Descriptor& type,
                      google::protobuf::io::ZeroCopyInputStream* input,
                      std::string_view source,
                      google::protobuf::io::ZeroCopyOutputStream* output);

// One of the above from the input file to the output file (empty paths:
// the standard streams), input decompressed when gzip, output compressed
// when `gzip_output`.
struct DelimitedCommand {
  enum Kind { kDecode, kEncode, kCheck } kind;
  Format format = Format::kText;
  google::protobuf::util::JsonPrintOptions json;
  std::string each;  // decode --each
  std::string input, output;
  bool gzip_output = false;
  bool accept_loss = false;  // decode --json, --each: as json_loss.h says
};
Status RunDelimited(const google::protobuf::Descriptor& type,
                    const DelimitedCommand& command, Warnings* warnings);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_DELIMITED_COMMANDS_H_
