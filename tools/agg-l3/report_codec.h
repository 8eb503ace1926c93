// The report types of the compiled-in schema, found by name, and their
// conversions between the binary wire format and the two text forms.

#ifndef OSTREL_TOOLS_AGG_L3_REPORT_CODEC_H_
#define OSTREL_TOOLS_AGG_L3_REPORT_CODEC_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/message.h>
#include <google/protobuf/util/json_util.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "status.h"

namespace ostrel::agg_l3 {

// The schema file whose message types are the reports.
const google::protobuf::FileDescriptor& SchemaFile();

// A report type by short name ("RouteTableMsg") or full name, or null.
const google::protobuf::Descriptor* FindReportType(std::string_view name);

// The report type names closest to a name that FindReportType rejected,
// closest first.
std::vector<std::string> ClosestReportTypes(std::string_view name,
                                            size_t count = 3);

std::unique_ptr<google::protobuf::Message> NewReport(
    const google::protobuf::Descriptor& type);

// JSON print options with one field per line, indented.
inline google::protobuf::util::JsonPrintOptions IndentedJson() {
  google::protobuf::util::JsonPrintOptions options;
  options.add_whitespace = true;
  return options;
}

// Protocol-buffers text format, or the runtime's JSON mapping.
enum class Format { kText, kJson };

// Both fail with kMalformed and why, starting with where ("line 3, column
// 14: ...", "at byte 812 in route[3]: ...") whenever the runtime lets us tell;
// `output` is complete, and set only on success.

// Binary to text, printed to `output` as it is made, once the report has
// parsed. The text format keeps every byte; JSON output is refused with
// kJsonCannotHold when it cannot hold every value exactly (json_loss.h),
// unless `accept_loss`, which turns each loss into a warning. `json` as the
// runtime's options; whole reports are indented by default.
Status Decode(
    const google::protobuf::Descriptor& type, std::string_view binary,
    Format format, google::protobuf::io::ZeroCopyOutputStream* output,
    Warnings* warnings, bool accept_loss = false,
    const google::protobuf::util::JsonPrintOptions& json = IndentedJson());
Status Decode(
    const google::protobuf::Descriptor& type, std::string_view binary,
    Format format, std::string* output, Warnings* warnings,
    bool accept_loss = false,
    const google::protobuf::util::JsonPrintOptions& json = IndentedJson());

// The printing half of Decode, for a report parsed elsewhere.
Status PrintReport(const google::protobuf::Message& report, Format format,
                   google::protobuf::io::ZeroCopyOutputStream* output,
                   Warnings* warnings, bool accept_loss,
                   const google::protobuf::util::JsonPrintOptions& json);
// Follows text in either format while it arrives, to tell at its first
// byte other than white space whether that is a control character, which
// neither format can begin with.
class TextStart {
 public:
  // `text` is everything read so far: a longer prefix at each call.
  bool CertainlyMalformed(std::string_view text);

 private:
  size_t blank_ = 0;  // the white space before what was read last
  bool decided_ = false;
};

// Text to binary, all or nothing. With `skipped`, JSON names the type has
// no field for are skipped and listed there by path.
Status Encode(const google::protobuf::Descriptor& type, std::string_view text,
              Format format, std::string* output,
              std::vector<std::string>* skipped = nullptr);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_REPORT_CODEC_H_
