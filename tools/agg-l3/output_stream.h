// Output as the commands write it: gzip-compressed when asked (-z), and,
// for a command over a stream of records that promises all or nothing, held
// back until it has succeeded. An -o file is always replaced in one step
// (OutputFile); standard output is held back in an unlinked temporary file,
// so a long stream takes no memory and leaves nothing behind however the
// program ends.

#ifndef OSTREL_TOOLS_AGG_L3_OUTPUT_STREAM_H_
#define OSTREL_TOOLS_AGG_L3_OUTPUT_STREAM_H_

#include <google/protobuf/io/gzip_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>

#include <optional>
#include <string>
#include <string_view>

#include "file_io.h"
#include "status.h"

namespace ostrel::agg_l3 {

class OutputStream {
 public:
  ~OutputStream();

  // `path` empty: standard output.
  Status Open(const std::string& path, bool gzip, bool hold_back);
  google::protobuf::io::ZeroCopyOutputStream* stream() { return top_; }
  // Completes the output: ends the compression, and hands over what was
  // held back. Without it, nothing held back reaches the output.
  Status Commit();

 private:
  std::string path_;
  OutputFile file_;
  int spool_ = -1;
  std::optional<google::protobuf::io::FileOutputStream> raw_;
  std::optional<google::protobuf::io::GzipOutputStream> gzip_;
  google::protobuf::io::ZeroCopyOutputStream* top_ = nullptr;
};

// WriteOutput, compressed when `gzip`.
Status WriteWhole(const std::string& path, std::string_view contents,
                  bool gzip);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_OUTPUT_STREAM_H_
