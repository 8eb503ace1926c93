// Whole-file input and all-or-nothing output for the tool.

#ifndef OSTREL_TOOLS_AGG_L3_FILE_IO_H_
#define OSTREL_TOOLS_AGG_L3_FILE_IO_H_

#include <functional>
#include <string>
#include <string_view>

#include "status.h"

namespace ostrel::agg_l3 {

// Reads all of `path`, or of standard input when `path` is empty, but no
// more than the 2 GiB a report can take; `certainly_malformed`, when given,
// sees the bytes read so far after each read and stops the reading early by
// returning true (the parse of what was read then says where and why).
// Failures name the file and the reason.
Status ReadInput(
    const std::string& path, std::string* contents,
    const std::function<bool(std::string_view)>& certainly_malformed = {});

// Writes `contents` to `path`, or to standard output when `path` is empty.
// A regular file (or one that does not exist yet) is replaced in one step,
// through a temporary file beside it renamed over it, so readers see either
// the old file or the whole new one; a symbolic link stays, and the file it
// leads to is replaced. Anything else (a device, a FIFO) is written in
// place.
Status WriteOutput(const std::string& path, std::string_view contents);

// Output written as it is produced, to where WriteOutput would write; a
// temporary file is renamed into place by Commit(), and removed when the
// object goes uncommitted or the program is ended by SIGINT, SIGTERM,
// SIGHUP, SIGPIPE or SIGABRT.
class OutputFile {
 public:
  ~OutputFile();
  // The path, or empty for standard output.
  Status Open(const std::string& path);
  int fd() const { return fd_; }
  Status Commit();

 private:
  std::string path_;  // where the output goes, links followed
  std::string temporary_;
  int fd_ = -1;
};

// A failure to read `path` (empty: standard input), with errno's reason.
Status CannotRead(const std::string& path);

// A stream of output that failed somewhere after it was opened.
inline Status CannotWriteOutput() {
  return {kCannotRun, "cannot write the output"};
}

// How messages name the input `path`: itself, or "<stdin>" when empty.
inline std::string SourceName(const std::string& path) {
  return path.empty() ? "<stdin>" : path;
}

// The input file's descriptor, or standard input's when `path` is empty.
Status OpenInput(const std::string& path, int* fd);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FILE_IO_H_
