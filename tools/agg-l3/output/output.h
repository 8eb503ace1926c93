// The last stage of every command: where its output goes.
//
// Standard output is written as it comes. A device or FIFO named by -o is
// written in place: replacing it would take it from everyone else. Any other
// -o path (a regular file, one that does not exist yet, or the file a chain
// of symbolic links leads to) gets a temporary file beside it that Commit()
// renames over it, so readers see the old file or the whole new one; the
// temporary file is removed when the command fails and when any signal that
// can be caught ends the program.
//
// Whether a command writes as it goes (streamed modes) or only once it has
// succeeded (whole modes) is the command's choice; nothing here holds output
// back, so a live log on standard input prints as it arrives.

#ifndef OSTREL_TOOLS_AGG_L3_OUTPUT_OUTPUT_H_
#define OSTREL_TOOLS_AGG_L3_OUTPUT_OUTPUT_H_

#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "status.h"

namespace ostrel::agg_l3 {

enum class Compression { kNone, kGzip, kZstd, kXz };

class Output {
 public:
  Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();  // uncommitted: the temporary file is removed

  // `path` empty or "-": standard output; compressed on the way unless
  // kNone.
  Status Open(const std::string& path, Compression compression);
  // Into `raw` instead of a file, for tests and the fuzzer.
  void OpenStream(google::protobuf::io::ZeroCopyOutputStream* raw,
                  Compression compression);

  google::protobuf::io::ZeroCopyOutputStream* stream() { return top_; }
  void Write(std::string_view bytes);
  // Hands what was written so far on, for readers of a live stream.
  void Flush();
  // Once writing failed, nothing more will be written: a streamed command
  // stops reading then.
  bool failed() const;

  // Ends the compression, flushes, and puts a replaced file in place.
  Status Commit();

 private:
  class Compressed;

  Status CannotWrite() const;

  std::string name_ = "standard output";
  std::string target_;     // the file Commit replaces, links followed
  std::string temporary_;  // beside it, until Commit
  int fd_ = -1;
  std::optional<google::protobuf::io::FileOutputStream> file_;
  std::unique_ptr<Compressed> compressed_;
  google::protobuf::io::ZeroCopyOutputStream* raw_ = nullptr;
  google::protobuf::io::ZeroCopyOutputStream* top_ = nullptr;
};

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_OUTPUT_OUTPUT_H_
