#include "format/raw_listing.h"

#include <google/protobuf/empty.pb.h>
#include <google/protobuf/stubs/strutil.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "wire_rules.h"

namespace ostrel::agg_l3 {
namespace {

// Of no field: every record the walk meets is handed out as drift.
const google::protobuf::Descriptor& AnyMessage() {
  return *google::protobuf::Empty::descriptor();
}

size_t VarintSize(std::string_view bytes, size_t at) {
  size_t size = 1;
  while (static_cast<uint8_t>(bytes[at + size - 1]) >= 0x80) ++size;
  return size;
}

bool IsMessage(std::string_view bytes) {
  return !bytes.empty() &&
         !WalkWire(AnyMessage(), bytes, [](const Drift&) {}).malformation;
}

class Lister {
 public:
  explicit Lister(const std::function<void(std::string_view)>& write)
      : write_(write) {}
  ~Lister() { write_(text_); }

  // `bytes` are known to walk; `base` is their offset in the input.
  void List(std::string_view bytes, size_t base, int depth) {
    const std::string indent(2 * depth, ' ');
    WalkWire(AnyMessage(), bytes, [&](const Drift& record) {
      const size_t at = record.offset;
      const std::string comment = "  # byte " + std::to_string(base + at) +
                                  ", " + WireTypeName(record.wire_type) + "\n";
      text_ += indent + std::to_string(record.field_number);
      char hex[24];
      switch (record.wire_type) {
        case wire::kVarint:
          text_ += ": " + std::to_string(record.value) + comment;
          break;
        case wire::kFixed64:
          std::snprintf(hex, sizeof hex, "0x%016" PRIx64, record.value);
          text_ += std::string(": ") + hex + comment;
          break;
        case wire::kFixed32:
          std::snprintf(hex, sizeof hex, "0x%08" PRIx64, record.value);
          text_ += std::string(": ") + hex + comment;
          break;
        case wire::kLengthDelimited: {
          const size_t tag_size = VarintSize(bytes, at);
          const size_t start = at + tag_size + VarintSize(bytes, at + tag_size);
          Value(bytes.substr(start, record.value), base + start, depth, indent,
                comment);
          break;
        }
        default: {  // a group: its value is the length of what it holds
          const size_t start = at + VarintSize(bytes, at);
          Nested(bytes.substr(start, record.value), base + start, depth, indent,
                 comment);
        }
      }
      if (text_.size() >= (1 << 16)) {
        write_(text_);
        text_.clear();
      }
    });
  }

 private:
  void Value(std::string_view value, size_t base, int depth,
             const std::string& indent, const std::string& comment) {
    if (depth < wire::MaxDepth() && IsMessage(value)) {
      Nested(value, base, depth, indent, comment);
      return;
    }
    text_ +=
        ": \"" +
        google::protobuf::CEscape(std::string(value.data(), value.size())) +
        "\"" + comment;
  }

  void Nested(std::string_view value, size_t base, int depth,
              const std::string& indent, const std::string& comment) {
    text_ += " {" + comment;
    List(value, base, depth + 1);
    text_ += indent + "}\n";
  }

  const std::function<void(std::string_view)>& write_;
  std::string text_;
};

}  // namespace

std::optional<Malformation> ListRecords(
    std::string_view bytes,
    const std::function<void(std::string_view)>& write) {
  // Walked once whole before the first line, so that nothing is printed of
  // bytes that turn out malformed further on.
  WireWalk walk = WalkWire(AnyMessage(), bytes, [](const Drift&) {});
  if (walk.malformation) return walk.malformation;
  Lister(write).List(bytes, 0, 0);
  return std::nullopt;
}

}  // namespace ostrel::agg_l3
