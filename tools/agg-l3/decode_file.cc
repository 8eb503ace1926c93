#include "decode_file.h"

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <google/protobuf/text_format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "commands.h"
#include "file_io.h"
#include "input_stream.h"
#include "wire_rules.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Message;

// A regular file the runtime can parse in one go.
bool Streamable(int fd) {
  struct stat status;
  return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
         static_cast<uint64_t>(status.st_size) <= wire::kMaxLength;
}

}  // namespace

Status DecodeFile(
    const google::protobuf::Descriptor& type, const std::string& path,
    Format format, google::protobuf::io::ZeroCopyOutputStream* output,
    Warnings* warnings, bool accept_loss,
    const google::protobuf::util::JsonPrintOptions& json,
    const std::function<bool(std::string_view)>& certainly_malformed) {
  bool parsed = false;
  std::unique_ptr<Message> report = NewReport(type);
  {
    int fd;
    if (Status opened = OpenInput(path, &fd); !opened.ok()) return opened;
    google::protobuf::io::FileInputStream file(fd, 1 << 20);
    file.SetCloseOnDelete(true);
    if (Streamable(fd)) {
      InputStream input(&file);
      parsed = report->ParseFromZeroCopyStream(input.stream()) &&
               input.error().empty() && file.GetErrno() == 0;
    }
  }
  if (parsed) {
    const Status printed =
        PrintReport(*report, format, output, warnings, accept_loss, json);
    if (printed.ok()) return printed;
    return {printed.code(), path + ": " + printed.message()};
  }
  report.reset();
  std::string binary;
  if (Status read = ReadDecompressed(path, path, &binary, certainly_malformed);
      !read.ok()) {
    return read;
  }
  return DecodeReport(type, binary, format, path, output, warnings, accept_loss,
                      json);
}

}  // namespace ostrel::agg_l3
