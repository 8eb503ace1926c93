#include "format/stream_printer.h"

#include <algorithm>

namespace ostrel::agg_l3 {

StreamPrinter::StreamPrinter(google::protobuf::io::ZeroCopyOutputStream* output)
    : output_(output) {}

StreamPrinter::~StreamPrinter() { Flush(); }

bool StreamPrinter::Flush() {
  if (next_ != limit_) output_->BackUp(static_cast<int>(limit_ - next_));
  next_ = limit_ = nullptr;
  return !failed_;
}

void StreamPrinter::AppendAcross(std::string_view text) {
  while (!text.empty() && !failed_) {
    if (next_ == limit_) {
      void* data;
      int size;
      if (!output_->Next(&data, &size)) {
        failed_ = true;
        next_ = limit_ = nullptr;
        return;
      }
      next_ = static_cast<char*>(data);
      limit_ = next_ + size;
    }
    const size_t taken =
        std::min(text.size(), static_cast<size_t>(limit_ - next_));
    std::memcpy(next_, text.data(), taken);
    next_ += taken;
    text.remove_prefix(taken);
  }
}

const std::vector<const google::protobuf::FieldDescriptor*>&
StreamPrinter::SetFields(const google::protobuf::Message& message,
                         const google::protobuf::Reflection& reflection,
                         int depth) {
  const size_t level = static_cast<size_t>(depth);
  // A deque grown at its end keeps its elements where they are.
  if (fields_.size() <= level) fields_.resize(level + 1);
  reflection.ListFields(message, &fields_[level]);
  return fields_[level];
}

const std::vector<std::string>& StreamPrinter::Prefixes(
    const google::protobuf::Descriptor& type, int depth) {
  std::vector<std::string>& prefixes = prefixes_[{&type, depth}];
  if (prefixes.empty()) prefixes = MakePrefixes(type, depth);
  return prefixes;
}

}  // namespace ostrel::agg_l3
