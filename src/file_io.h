// Whole-file input and all-or-nothing output for the tool.

#ifndef OSTREL_SRC_FILE_IO_H_
#define OSTREL_SRC_FILE_IO_H_

#include <string>
#include <string_view>

namespace ostrel::agg_l3 {

// Reads all of `path`, or of standard input when `path` is empty. On failure
// returns false with `error` naming the file and the reason.
bool ReadInput(const std::string& path, std::string* contents,
               std::string* error);

// Writes `contents` to `path`, or to standard output when `path` is empty.
// A file is replaced in one step (a temporary file beside it, renamed), so
// readers see either the old file or the whole new one, never a part.
bool WriteOutput(const std::string& path, std::string_view contents,
                 std::string* error);

// Output written as it is produced: to standard output, or to a temporary
// file beside `path` that Commit() renames over it; dropped uncommitted, the
// temporary file goes and `path` stays as it was.
class OutputFile {
 public:
  ~OutputFile();
  // The path, or empty for standard output.
  bool Open(const std::string& path, std::string* error);
  int fd() const { return fd_; }
  bool Commit(std::string* error);

 private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
};

// The input file's descriptor, or standard input's when `path` is empty.
int OpenInput(const std::string& path, std::string* error);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_SRC_FILE_IO_H_
