// Framing of length-delimited streams: reports written back to back, each
// after its byte length as a varint, as protobuf's
// util/delimited_message_util.h (and writeDelimitedTo/parseDelimitedFrom
// elsewhere) frame them. Collectors append reports to logs this way.
//
// Records are numbered from 1 and errors name the record and the byte
// offset of its length prefix. Nothing is allocated for a record's declared
// length before its bytes arrive, and a length that cannot fit in what is
// left of a file of known size is refused at once.

#ifndef OSTREL_TOOLS_AGG_L3_FRAME_DELIMITED_H_
#define OSTREL_TOOLS_AGG_L3_FRAME_DELIMITED_H_

#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::agg_l3 {

class DelimitedReader {
 public:
  // `input_size`: the bytes the input holds, when known, else -1.
  explicit DelimitedReader(google::protobuf::io::ZeroCopyInputStream* input,
                           int64_t input_size = -1)
      : input_(input), input_size_(input_size) {}

  // Reads the next record's length prefix. False at the clean end of the
  // stream and on a broken prefix; ok() tells the two apart.
  bool NextRecord();
  // The current record's bytes, as they arrive, until they are all there or
  // `stop` says of those read so far that no more can help; false (with
  // error()) when the stream ends first.
  bool ReadRecord(std::string* bytes,
                  const std::function<bool(std::string_view)>& stop = {});
  // The current record as a stream of its own; after reading it, call
  // FinishRecordStream, which skips what was left unread and tells whether
  // the record was whole.
  google::protobuf::io::ZeroCopyInputStream* RecordStream();
  bool FinishRecordStream();

  bool ok() const { return error_.empty(); }
  // "record 3 at byte 812: ...".
  const std::string& error() const { return error_; }
  // Makes the reader fail with `reason`, said of the current record.
  void Fail(const std::string& reason);

  int64_t number() const { return number_; }  // from 1
  int64_t offset() const { return offset_; }  // of the length prefix
  int64_t body_offset() const { return body_offset_; }
  uint32_t length() const { return length_; }

 private:
  google::protobuf::io::ZeroCopyInputStream* const input_;
  const int64_t input_size_;
  std::optional<google::protobuf::io::LimitingInputStream> record_;
  int64_t number_ = 0;
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

#endif  // OSTREL_TOOLS_AGG_L3_FRAME_DELIMITED_H_
