// Framing of text input: lines, and text-format reports one after another.
//
// A line is at most kMaxLineBytes long: a longer one is an error, never a
// truncation, and nothing is allocated for more than that.
//
// Text-format reports are separated by a line starting "---" (agg-l3 writes
// "--- record 2"): no line of a text-format message can start so, since
// strings end at the end of their line and no value starts with "--".

#ifndef OSTREL_TOOLS_AGG_L3_FRAME_LINES_H_
#define OSTREL_TOOLS_AGG_L3_FRAME_LINES_H_

#include <google/protobuf/io/zero_copy_stream.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "status.h"

namespace ostrel::agg_l3 {

inline constexpr size_t kMaxLineBytes = 64 << 20;

class LineReader {
 public:
  // `source` names the input in errors.
  LineReader(google::protobuf::io::ZeroCopyInputStream* input,
             std::string_view source)
      : input_(input), source_(source) {}

  // The next line, without its newline; false at the end of the input and
  // at a line too long (then status()).
  bool Next(std::string* line);
  int64_t number() const { return number_; }  // of the last line, from 1
  Status status() const;

 private:
  google::protobuf::io::ZeroCopyInputStream* const input_;
  const std::string source_;
  const char* data_ = nullptr;
  size_t size_ = 0;
  int64_t number_ = 0;
  bool too_long_ = false;
};

// The line that starts text-format report `number` (from 1) in a stream of
// them.
std::string TextRecordSeparator(int64_t number);

// Reports in text format, one after another, split at separator lines.
class TextRecords {
 public:
  TextRecords(google::protobuf::io::ZeroCopyInputStream* input,
              std::string_view source)
      : lines_(input, source), source_(source) {}

  // The next report's text; false at the end and on an error (status()).
  bool Next(std::string* text);
  int64_t number() const { return number_; }          // from 1
  int64_t first_line() const { return first_line_; }  // of the last report
  Status status() const;

 private:
  LineReader lines_;
  const std::string source_;
  int64_t number_ = 0;
  int64_t first_line_ = 1;
  bool separated_ = false;  // the last line read was a separator
  bool ended_ = false;
  std::string error_;
};

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FRAME_LINES_H_
