// Whole-file input and all-or-nothing output for the tool.

#ifndef OSTREL_TOOLS_AGG_L3_FILE_IO_H_
#define OSTREL_TOOLS_AGG_L3_FILE_IO_H_

#include <string>
#include <string_view>

#include "status.h"

namespace ostrel::agg_l3 {

// Reads all of `path`, or of standard input when `path` is empty. Failures
// name the file and the reason.
Status ReadInput(const std::string& path, std::string* contents);

// Writes `contents` to `path`, or to standard output when `path` is empty.
// A file is replaced in one step (a temporary file beside it, renamed), so
// readers see either the old file or the whole new one, never a part.
Status WriteOutput(const std::string& path, std::string_view contents);

// Output written as it is produced: to standard output, or to a temporary
// file beside `path` that Commit() renames over it; dropped uncommitted, the
// temporary file goes and `path` stays as it was.
class OutputFile {
 public:
  ~OutputFile();
  // The path, or empty for standard output.
  Status Open(const std::string& path);
  int fd() const { return fd_; }
  Status Commit();

 private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
};

// The input file's descriptor, or standard input's when `path` is empty.
Status OpenInput(const std::string& path, int* fd);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FILE_IO_H_
