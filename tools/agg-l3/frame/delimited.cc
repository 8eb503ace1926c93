#include "frame/delimited.h"

#include <google/protobuf/io/coded_stream.h>

#include "wire_rules.h"

namespace ostrel::agg_l3 {

void DelimitedReader::Fail(const std::string& reason) {
  if (!error_.empty()) return;
  error_ = "record " + std::to_string(number_) + " at byte " +
           std::to_string(offset_) + ": " + reason;
}

bool DelimitedReader::NextRecord() {
  if (!error_.empty()) return false;
  record_.reset();
  ++number_;
  offset_ = input_->ByteCount();
  const void* data;
  int size = 0;
  while (size == 0) {
    if (!input_->Next(&data, &size)) return false;  // the clean end
  }
  input_->BackUp(size);
  uint64_t length;
  bool read;
  {
    // One short-lived coded stream per prefix: a long-lived one would stop
    // at its 2 GiB total limit however small the records.
    google::protobuf::io::CodedInputStream coded(input_);
    read = coded.ReadVarint64(&length);
  }
  body_offset_ = input_->ByteCount();
  if (!read) {
    Fail("its length prefix is cut short or not a varint");
    return false;
  }
  if (length > wire::kMaxLength) {
    Fail("its length prefix says " + std::to_string(length) +
         " bytes, more than a report can hold (2 GiB)");
    return false;
  }
  if (input_size_ >= 0 &&
      body_offset_ + static_cast<int64_t>(length) > input_size_) {
    Fail("its length prefix says " + std::to_string(length) +
         " bytes, but only " + std::to_string(input_size_ - body_offset_) +
         " follow");
    return false;
  }
  length_ = static_cast<uint32_t>(length);
  return true;
}

bool DelimitedReader::ReadRecord(
    std::string* bytes, const std::function<bool(std::string_view)>& stop) {
  bytes->clear();
  const void* data;
  int size;
  while (bytes->size() < length_ && !(stop && stop(*bytes)) &&
         input_->Next(&data, &size)) {
    const size_t wanted = length_ - bytes->size();
    const size_t taken = std::min(wanted, static_cast<size_t>(size));
    bytes->append(static_cast<const char*>(data), taken);
    if (taken < static_cast<size_t>(size)) {
      input_->BackUp(size - static_cast<int>(taken));
    }
  }
  if (bytes->size() == length_ || (stop && stop(*bytes))) return true;
  Fail("cut short: " + std::to_string(bytes->size()) + " of its " +
       std::to_string(length_) + " bytes are there");
  return false;
}

google::protobuf::io::ZeroCopyInputStream* DelimitedReader::RecordStream() {
  record_.emplace(input_, length_);
  return &*record_;
}

bool DelimitedReader::FinishRecordStream() {
  // Past what the consumer left unread: then the stream is at the next
  // prefix, and a record cut short shows as one.
  const int64_t left = length_ - record_->ByteCount();
  const bool whole = left <= 0 || record_->Skip(static_cast<int>(left));
  record_.reset();
  if (whole) return true;
  Fail("cut short: the stream ends within its " + std::to_string(length_) +
       " bytes");
  return false;
}

bool WriteDelimited(std::string_view report,
                    google::protobuf::io::ZeroCopyOutputStream* output) {
  google::protobuf::io::CodedOutputStream coded(output);
  coded.WriteVarint32(static_cast<uint32_t>(report.size()));
  coded.WriteRaw(report.data(), static_cast<int>(report.size()));
  coded.Trim();
  return !coded.HadError();
}

}  // namespace ostrel::agg_l3
