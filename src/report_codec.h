// The report types of the compiled-in schema, found by name, and their
// conversions between the binary wire format and the two text forms.

#ifndef OSTREL_SRC_REPORT_CODEC_H_
#define OSTREL_SRC_REPORT_CODEC_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

// Protocol-buffers text format, or the runtime's JSON mapping.
enum class Format { kText, kJson };

struct Conversion {
  bool ok = false;
  std::string output;  // complete, and only when ok
  // When not ok: why, starting with where ("line 3, column 14: ...",
  // "at byte 812 in route[3]: ...") whenever the runtime lets us tell.
  std::string error;
  // When ok but the output lost something the reader should know of: empty,
  // or complete lines.
  std::string warning;
};

// Binary to text; unknown fields are kept by the text format and named in a
// warning by JSON, which has no place for them.
Conversion Decode(const google::protobuf::Descriptor& type,
                  std::string_view binary, Format format);

// Text to binary, all or nothing.
Conversion Encode(const google::protobuf::Descriptor& type,
                  std::string_view text, Format format);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_SRC_REPORT_CODEC_H_
