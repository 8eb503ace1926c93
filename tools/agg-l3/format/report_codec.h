// The report types of the compiled-in schema, found by name, and their
// conversions between the binary wire format and the two text forms.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_REPORT_CODEC_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_REPORT_CODEC_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/message.h>
#include <google/protobuf/util/json_util.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "format/exactness.h"
#include "format/stream_printer.h"
#include "status.h"

namespace ostrel::agg_l3 {

// The schema file whose message types are the reports.
const google::protobuf::FileDescriptor& SchemaFile();

// The schema file, then the files it imports: every type a report holds,
// and what its service takes (UuidMsg), can be read and written on its own.
std::vector<const google::protobuf::FileDescriptor*> SchemaFiles();

// A message type of SchemaFiles() by short name ("RouteTableMsg") or full
// name, or null.
const google::protobuf::Descriptor* FindReportType(std::string_view name);

// The report type names closest to a name that FindReportType rejected,
// closest first.
std::vector<std::string> ClosestReportTypes(std::string_view name,
                                            size_t count = 3);

std::unique_ptr<google::protobuf::Message> NewReport(
    const google::protobuf::Descriptor& type);

// A report for a command's one whole report, on an arena that is left to
// the program's exit: freeing a report of a million routes piece by piece
// costs a good part of what parsing it did, and the program ends right
// after. The next call frees the one before, so a process that runs many
// commands (the tests, the fuzzer) holds one at most.
google::protobuf::Message* NewReportKeptToExit(
    const google::protobuf::Descriptor& type);

// A printer of reports in `format` (JSON with `json`'s options) to
// `output`. It prints a report as it is: what the format cannot hold is for
// exactness.h to decide first.
std::unique_ptr<StreamPrinter> NewPrinter(
    Format format, const google::protobuf::util::JsonPrintOptions& json,
    google::protobuf::io::ZeroCopyOutputStream* output);

// One `report` printed so, compact JSON on a line of its own.
void Print(const google::protobuf::Message& report, Format format,
           const google::protobuf::util::JsonPrintOptions& json,
           google::protobuf::io::ZeroCopyOutputStream* output);

// Text to binary, all or nothing; fails with kMalformed and why, starting
// with where ("line 3, column 14: ..."). With `skipped`, JSON names the type
// has no field for are skipped and listed there by path.
Status Encode(const google::protobuf::Descriptor& type, std::string_view text,
              Format format, std::string* output,
              std::vector<std::string>* skipped = nullptr);

// The same from `text` as it arrives, into `report` rather than binary, so
// that the text is never held whole.
Status Parse(google::protobuf::io::ZeroCopyInputStream* text, Format format,
             google::protobuf::Message* report,
             std::vector<std::string>* skipped = nullptr);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_REPORT_CODEC_H_
