// Length-delimited streams: reports written back to back, each after its
// byte length as a varint, the framing of protobuf's
// util/delimited_message_util.h (and of writeDelimitedTo/parseDelimitedFrom
// elsewhere). Collectors append reports to logs this way.
//
// Records are read one at a time, so a stream of any number of them takes
// the memory of its largest record; a record can also be streamed on
// without holding it (RecordStream).

#ifndef OSTREL_TOOLS_AGG_L3_DELIMITED_H_
#define OSTREL_TOOLS_AGG_L3_DELIMITED_H_

#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::agg_l3 {

class DelimitedReader {
 public:
  explicit DelimitedReader(google::protobuf::io::ZeroCopyInputStream* input)
      : input_(input) {}

  // Reads the next record's length prefix. False at the clean end of the
  // stream and on a broken prefix; ok() tells the two apart.
  bool NextRecord();
  // The current record's bytes, all of them; false (with error()) when the
  // stream ends first. Call once per record, or use RecordStream instead.
  bool ReadRecord(std::string* bytes);
  // The current record as a stream of its own; after reading it, call
  // FinishRecordStream, which skips what was left unread and tells whether
  // the record was whole.
  google::protobuf::io::ZeroCopyInputStream* RecordStream();
  bool FinishRecordStream();

  bool ok() const { return error_.empty(); }
  // "record 3 at byte 812: ...", or the reason a caller gave to Fail.
  const std::string& error() const { return error_; }
  // Makes the reader fail with `reason`, said of the current record.
  void Fail(const std::string& reason);

  int64_t index() const { return index_; }    // 0-based
  int64_t offset() const { return offset_; }  // of the length prefix
  int64_t body_offset() const { return body_offset_; }
  uint32_t length() const { return length_; }

 private:
  google::protobuf::io::ZeroCopyInputStream* const input_;
  std::optional<google::protobuf::io::LimitingInputStream> record_;
  int64_t index_ = -1;
  int64_t offset_ = 0;
  int64_t body_offset_ = 0;
  uint32_t length_ = 0;
  std::string error_;
};

// Writes a serialized report as one record, framed as the delimited
// helpers frame it; false when the output failed.
bool WriteDelimited(std::string_view report,
                    google::protobuf::io::ZeroCopyOutputStream* output);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_DELIMITED_H_
