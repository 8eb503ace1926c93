#include "format/stream_printer.h"

#include <algorithm>
#include <cstring>

namespace ostrel::agg_l3 {
namespace {

constexpr size_t kDrainAt = 1 << 16;

}  // namespace

StreamPrinter::StreamPrinter(google::protobuf::io::ZeroCopyOutputStream* output)
    : output_(output) {}

StreamPrinter::~StreamPrinter() { Flush(); }

void StreamPrinter::Write(std::string_view raw) {
  buffer_.append(raw);
  DrainIfLarge();
}

bool StreamPrinter::Flush() {
  std::string_view pending = buffer_;
  while (!pending.empty() && !failed_) {
    void* data;
    int size;
    if (!output_->Next(&data, &size)) {
      failed_ = true;
      break;
    }
    const size_t taken = std::min(pending.size(), static_cast<size_t>(size));
    std::memcpy(data, pending.data(), taken);
    pending.remove_prefix(taken);
    if (taken < static_cast<size_t>(size)) {
      output_->BackUp(size - static_cast<int>(taken));
    }
  }
  buffer_.clear();
  return !failed_;
}

void StreamPrinter::DrainIfLarge() {
  if (buffer_.size() >= kDrainAt) Flush();
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

}  // namespace ostrel::agg_l3
