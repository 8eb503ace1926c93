#include "format/drift_check.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "json_exactness.h"

namespace ostrel::agg_l3 {

const char* WireTypeName(WireType wire_type) {
  switch (wire_type) {
    case wire::kVarint:
      return "varint";
    case wire::kFixed64:
      return "64-bit";
    case wire::kLengthDelimited:
      return "length-delimited";
    case wire::kStartGroup:
      return "group";
    case wire::kEndGroup:
      return "end-group";
    case wire::kFixed32:
      return "32-bit";
  }
  return "invalid";
}

namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::io::CodedInputStream;

}  // namespace

// What the walk needs of a message type, looked up once per process: the
// schema's lookups by number (a hash) and of a field's type (a call_once)
// would otherwise run for every record of a report.
struct WireLayout {
  struct Field {
    const FieldDescriptor* field;
    WireType wire_type;
    const WireLayout* message;  // of a message field, else null (groups too)
    FieldDescriptor::Type type;
  };
  // Field numbers up to this are found in a table, the rare larger ones by
  // the schema's own lookup.
  static constexpr int kTabled = 1024;

  // The field of that number, or null.
  const Field* Find(int number) const {
    if (number < static_cast<int>(by_number.size())) {
      const int index = by_number[number];
      return index < 0 ? nullptr : &fields[index];
    }
    if (number <= kTabled) return nullptr;
    const FieldDescriptor* field = type->FindFieldByNumber(number);
    return field == nullptr ? nullptr : &fields[field->index()];
  }

  const Descriptor* type;
  std::vector<Field> fields;   // by FieldDescriptor::index()
  std::vector<int> by_number;  // index into fields, -1 for none
};

namespace {

std::string Record(WireType wire_type, uint64_t value) {
  const bool sized =
      wire_type == wire::kLengthDelimited || wire_type == wire::kStartGroup;
  return std::string(WireTypeName(wire_type)) + (sized ? ", " : " ") +
         std::to_string(value) + (sized ? " bytes" : "");
}

// Called with the lock held; a type that contains itself is found in
// `known` while its fields are still being filled in.
const WireLayout& LayoutLocked(const Descriptor& type,
                               std::map<const Descriptor*, WireLayout>* known) {
  if (const auto found = known->find(&type); found != known->end()) {
    return found->second;
  }
  WireLayout& layout = (*known)[&type];
  layout.type = &type;
  int largest = 0;
  for (int i = 0; i < type.field_count(); ++i) {
    largest = std::max(largest, type.field(i)->number());
  }
  layout.by_number.assign(std::min(largest, WireLayout::kTabled) + 1, -1);
  for (int i = 0; i < type.field_count(); ++i) {
    const FieldDescriptor& field = *type.field(i);
    const bool message = field.type() == FieldDescriptor::TYPE_MESSAGE;
    layout.fields.push_back(
        {&field, wire::WireTypeFor(field),
         message ? &LayoutLocked(*field.message_type(), known) : nullptr,
         field.type()});
    if (field.number() <= WireLayout::kTabled)
      layout.by_number[field.number()] = i;
  }
  return layout;
}

const WireLayout& LayoutOf(const Descriptor& type) {
  static std::mutex mutex;
  static auto* known = new std::map<const Descriptor*, WireLayout>;
  std::lock_guard<std::mutex> lock(mutex);
  return LayoutLocked(type, known);
}

enum class Varint { kRead, kCut, kTooLong };

// Reads the varint at `*p` of at most `max_bytes` (up to 10) bytes, as
// CodedInputStream reads it (a tenth byte's high bits are dropped), and
// moves `*p` past it. kCut: the bytes end before it does.
inline Varint ReadVarint(const uint8_t** p, const uint8_t* end, int max_bytes,
                         uint64_t* value) {
  const uint8_t* const at = *p;
  if (at < end && *at < 0x80) {
    *value = *at;
    *p = at + 1;
    return Varint::kRead;
  }
  uint64_t result = 0;
  for (int i = 0; i < max_bytes; ++i) {
    if (i >= end - at) return Varint::kCut;
    const uint8_t byte = at[i];
    result |= static_cast<uint64_t>(byte & 0x7f) << (7 * i);
    if (byte < 0x80) {
      *value = result;
      *p = at + i + 1;
      return Varint::kRead;
    }
  }
  return Varint::kTooLong;
}

// How a record read in place turned out.
enum class InPlace { kClean, kNotClean, kCut };

// What a varint that was not read makes of its record.
InPlace NotRead(Varint read) {
  return read == Varint::kCut ? InPlace::kCut : InPlace::kNotClean;
}

bool Clean(const WireLayout& layout, const uint8_t* p, const uint8_t* end,
           int depth, bool json);

// Reads the record at `*p` of a message of `layout` at `depth` in place,
// with no path and no stream, and moves `*p` past it when it is clean:
// well formed, known to the schema with its wire type, no group (groups
// are left to the walk below) and, with `json`, nothing JSON cannot hold
// (json_exactness.h). kCut: the bytes end inside it.
InPlace CleanRecord(const WireLayout& layout, const uint8_t** at,
                    const uint8_t* end, int depth, bool json) {
  const uint8_t* p = *at;
  uint64_t tag, value;
  if (Varint read = ReadVarint(&p, end, wire::kMaxTagOrLengthBytes, &tag);
      read != Varint::kRead) {
    return NotRead(read);
  }
  const auto tag32 = static_cast<uint32_t>(tag);
  if (!wire::IsValidTag(tag32)) return InPlace::kNotClean;
  const WireLayout::Field* field = layout.Find(wire::FieldNumber(tag32));
  if (field == nullptr || field->wire_type != wire::WireTypeOf(tag32)) {
    return InPlace::kNotClean;
  }
  Varint read;
  switch (field->wire_type) {
    case wire::kVarint:
      read = ReadVarint(&p, end, wire::kMaxVarintBytes, &value);
      if (read != Varint::kRead) return NotRead(read);
      if (field->type == FieldDescriptor::TYPE_ENUM &&
          field->field->enum_type()->FindValueByNumber(
              static_cast<int32_t>(value)) == nullptr) {
        return InPlace::kNotClean;
      }
      break;
    case wire::kFixed64:
      if (end - p < 8) return InPlace::kCut;
      if (json && field->type == FieldDescriptor::TYPE_DOUBLE) {
        double number;
        std::memcpy(&number, p, sizeof number);
        if (!json_exactness::Holds(number)) return InPlace::kNotClean;
      }
      p += 8;
      break;
    case wire::kFixed32:
      if (end - p < 4) return InPlace::kCut;
      if (json && field->type == FieldDescriptor::TYPE_FLOAT) {
        float number;
        std::memcpy(&number, p, sizeof number);
        if (!json_exactness::Holds(number)) return InPlace::kNotClean;
      }
      p += 4;
      break;
    case wire::kLengthDelimited:
      read = ReadVarint(&p, end, wire::kMaxTagOrLengthBytes, &value);
      if (read != Varint::kRead) return NotRead(read);
      if (value > static_cast<uint64_t>(end - p)) return InPlace::kCut;
      if (field->message != nullptr &&
          (depth + 1 > wire::MaxDepth() ||
           !Clean(*field->message, p, p + value, depth + 1, json))) {
        return InPlace::kNotClean;
      }
      if (json && field->type == FieldDescriptor::TYPE_STRING &&
          json_exactness::FirstNonUtf8(
              std::string_view(reinterpret_cast<const char*>(p), value)) !=
              std::string_view::npos) {
        return InPlace::kNotClean;
      }
      p += value;
      break;
    default:
      return InPlace::kNotClean;
  }
  *at = p;
  return InPlace::kClean;
}

// Whether the message in [p, end) at `depth` is all clean records. Most
// reports' sub-messages are, and so are read at the speed of a bare walk
// of their tags; whatever is not, the walk below goes through again to say
// what and where.
bool Clean(const WireLayout& layout, const uint8_t* p, const uint8_t* end,
           int depth, bool json) {
  while (p < end) {
    if (CleanRecord(layout, &p, end, depth, json) != InPlace::kClean) {
      return false;
    }
  }
  return true;
}

class Walker {
 public:
  // `size`: where the report ends, when known before reading it, else -1.
  Walker(google::protobuf::io::ZeroCopyInputStream* input, int64_t size,
         size_t max_listed,
         const std::function<void(const Drift&)>* each = nullptr)
      : input_(input), size_(size), max_listed_(max_listed), each_(each) {
    // Lengths stay below 2 GiB: so does all a report can be.
    input_.SetTotalBytesLimit(static_cast<int>(wire::kMaxLength));
  }

  WireWalk Run(const Descriptor& type) && {
    WalkMessage(LayoutOf(type), size_, 0);
    return std::move(walk_);
  }

 private:
  // One step of the path from the report to where the walk is: a field of
  // the schema (with the element index of a list), or a field number the
  // schema does not know. Rendered only for what is reported.
  struct Step {
    const FieldDescriptor* field;
    int number;
    int index;  // -1 when not a list element
  };

  std::string Path() const {
    std::string path;
    for (const Step& step : path_) {
      if (!path.empty()) path += '.';
      path += step.field ? step.field->name() : std::to_string(step.number);
      if (step.index >= 0) path += "[" + std::to_string(step.index) + "]";
    }
    return path;
  }

  // Whether the walk is at the end of the message that ends at `end`; -1:
  // the report, which ends where the input does.
  bool AtEnd(int64_t end) {
    if (end >= 0) return Position() >= end;
    const void* data;
    int size;
    return !input_.GetDirectBufferPointer(&data, &size);
  }

  // Each walking step returns false once the bytes turned out malformed,
  // with the malformation recorded.
  bool WalkMessage(const WireLayout& layout, int64_t end, int depth) {
    std::vector<std::pair<int, int>> elements_seen;  // field number, count
    while (!AtEnd(end)) {
      const int64_t offset = Position();
      uint32_t tag;
      if (!ReadTag(&tag)) return false;
      const int number = wire::FieldNumber(tag);
      const WireType wire_type = static_cast<WireType>(wire::WireTypeOf(tag));
      if (wire_type == wire::kEndGroup) {
        return Fail(offset, "end-group tag outside a group");
      }
      const WireLayout::Field* known = layout.Find(number);
      const FieldDescriptor* field = known ? known->field : nullptr;
      if (known == nullptr || wire_type != known->wire_type) {
        path_.push_back({field, number, -1});
        uint64_t value;
        const bool ok = SkipValue(tag, offset, end, depth, &value);
        if (ok) {
          AddDrift(field == nullptr ? Drift::Kind::kUnknownField
                                    : Drift::Kind::kWrongWireType,
                   number, wire_type, value, offset, field);
        }
        path_.pop_back();
        if (!ok) return false;
        continue;
      }
      int index = -1;
      if (depth == 0 && !field->is_repeated()) NoteSingular(*field, offset);
      if (field->is_repeated()) {
        auto seen = std::find_if(
            elements_seen.begin(), elements_seen.end(),
            [number](const auto& entry) { return entry.first == number; });
        if (seen == elements_seen.end()) {
          seen = elements_seen.insert(seen, {number, 0});
        }
        index = seen->second++;
      }
      path_.push_back({field, number, index});
      const bool ok = WalkField(*known, tag, offset, end, depth);
      path_.pop_back();
      if (!ok) return false;
    }
    return true;
  }

  bool WalkField(const WireLayout::Field& known, uint32_t tag, int64_t offset,
                 int64_t end, int depth) {
    const FieldDescriptor& field = *known.field;
    if (known.message != nullptr) {
      uint64_t length;
      if (!ReadLength(end, &length)) return false;
      if (depth + 1 > wire::MaxDepth()) return TooDeep(offset);
      const void* data;
      int held;
      input_.GetDirectBufferPointerInline(&data, &held);
      if (length <= static_cast<uint64_t>(held)) {
        const auto* start = static_cast<const uint8_t*>(data);
        if (Clean(*known.message, start, start + length, depth + 1, false)) {
          return input_.Skip(static_cast<int>(length));
        }
      }
      const auto limit = input_.PushLimit(static_cast<int>(length));
      const bool ok = WalkMessage(
          *known.message, Position() + static_cast<int64_t>(length), depth + 1);
      input_.PopLimit(limit);
      return ok;
    }
    uint64_t value;
    if (!SkipValue(tag, offset, end, depth, &value)) return false;
    // Closed enumerations, as in every proto2 schema: the parser keeps a value
    // the enumeration does not declare as an unknown field. It tests the
    // varint's low 32 bits.
    if (known.type == FieldDescriptor::TYPE_ENUM) {
      const int32_t number = static_cast<int32_t>(value);
      if (field.enum_type()->FindValueByNumber(number) == nullptr) {
        AddDrift(Drift::Kind::kRejectedEnumValue, field.number(), wire::kVarint,
                 static_cast<uint64_t>(int64_t{number}), offset, &field);
      }
    }
    return true;
  }

  // Notes a top-level singular field, for the second time it occurs.
  void NoteSingular(const FieldDescriptor& field, int64_t offset) {
    auto seen = std::find_if(
        singular_seen_.begin(), singular_seen_.end(),
        [&field](const auto& entry) { return entry.first == &field; });
    if (seen == singular_seen_.end()) {
      singular_seen_.push_back({&field, false});
    } else if (!std::exchange(seen->second, true)) {
      walk_.repeated.push_back({Drift::Kind::kRepeatedSingular, field.name(),
                                field.number(), wire::WireTypeFor(field), 0,
                                static_cast<size_t>(offset), &field});
    }
  }

  void AddDrift(Drift::Kind kind, int number, WireType wire_type,
                uint64_t value, int64_t offset, const FieldDescriptor* field) {
    if (each_ != nullptr) {
      (*each_)({kind, Path(), number, wire_type, value,
                static_cast<size_t>(offset), field});
      return;
    }
    if (walk_.drift.size() >= max_listed_) {
      ++walk_.unlisted_drift;
      return;
    }
    walk_.drift.push_back({kind, Path(), number, wire_type, value,
                           static_cast<size_t>(offset), field});
  }

  // Skips the value of a record whose tag, read from `tag_offset`, was
  // `tag`; `value` receives what a report shows of it (see Drift::value).
  bool SkipValue(uint32_t tag, int64_t tag_offset, int64_t end, int depth,
                 uint64_t* value) {
    const int64_t offset = Position();
    switch (wire::WireTypeOf(tag)) {
      case wire::kVarint:
        return ReadVarint("varint", wire::kMaxVarintBytes, value);
      case wire::kFixed64:
        return input_.ReadLittleEndian64(value) ||
               Fail(offset, "64-bit value cut off");
      case wire::kFixed32: {
        uint32_t fixed;
        if (!input_.ReadLittleEndian32(&fixed)) {
          return Fail(offset, "32-bit value cut off");
        }
        *value = fixed;
        return true;
      }
      case wire::kLengthDelimited: {
        if (!ReadLength(end, value)) return false;
        const int64_t start = Position();
        if (input_.Skip(static_cast<int>(*value))) return true;
        return Fail(offset,
                    "length " + std::to_string(*value) + " overruns the " +
                        std::to_string(Position() - start) + " bytes left");
      }
      case wire::kStartGroup: {
        int64_t end_tag_offset;
        if (!SkipGroup(tag, tag_offset, end, depth + 1, &end_tag_offset)) {
          return false;
        }
        *value = static_cast<uint64_t>(end_tag_offset - offset);
        return true;
      }
      case wire::kEndGroup:
        break;  // callers see to end-group tags before they skip a value
    }
    return Fail(offset, "end-group tag outside a group");
  }

  bool SkipGroup(uint32_t start_tag, int64_t start_offset, int64_t end,
                 int depth, int64_t* end_tag_offset) {
    if (depth > wire::MaxDepth()) return TooDeep(start_offset);
    const int number = wire::FieldNumber(start_tag);
    while (!AtEnd(end)) {
      const int64_t offset = Position();
      uint32_t tag;
      if (!ReadTag(&tag)) return false;
      if (wire::WireTypeOf(tag) == wire::kEndGroup) {
        *end_tag_offset = offset;
        if (wire::ClosesGroup(start_tag, tag)) return true;
        return Fail(offset, "group of field " + std::to_string(number) +
                                " closed by the end-group tag of field " +
                                std::to_string(wire::FieldNumber(tag)));
      }
      uint64_t ignored;
      if (!SkipValue(tag, offset, end, depth, &ignored)) return false;
    }
    return Fail(start_offset,
                "group of field " + std::to_string(number) + " never ends");
  }

  bool ReadTag(uint32_t* tag) {
    const int64_t offset = Position();
    uint64_t raw;
    if (!ReadVarint("tag", wire::kMaxTagOrLengthBytes, &raw)) return false;
    *tag = static_cast<uint32_t>(raw);
    if (wire::FieldNumber(*tag) == 0) return Fail(offset, "field number 0");
    if (!wire::IsValidTag(*tag)) {
      return Fail(offset, "wire type " +
                              std::to_string(wire::WireTypeOf(*tag)) +
                              " does not exist");
    }
    return true;
  }

  bool ReadLength(int64_t end, uint64_t* length) {
    const int64_t offset = Position();
    if (!ReadVarint("length", wire::kMaxTagOrLengthBytes, length)) {
      return false;
    }
    if (static_cast<uint64_t>(Position()) + *length > wire::kMaxLength) {
      return Fail(offset, "length " + std::to_string(*length) +
                              " runs past the 2 GiB a report can take");
    }
    if (end >= 0 && Position() + static_cast<int64_t>(*length) > end) {
      return Fail(offset, "length " + std::to_string(*length) +
                              " overruns the " +
                              std::to_string(end - Position()) + " bytes left");
    }
    return true;
  }

  bool ReadVarint(const char* what, int max_bytes, uint64_t* value) {
    const int64_t offset = Position();
    const bool read = input_.ReadVarint64(value);
    const int64_t taken = Position() - offset;
    if (!read && AtEnd(-1)) return Fail(offset, std::string(what) + " cut off");
    if (!read || taken > max_bytes) {
      return Fail(offset, std::string(what) + " longer than " +
                              std::to_string(max_bytes) + " bytes");
    }
    return true;
  }

  bool TooDeep(int64_t offset) {
    return Fail(offset, "nested deeper than " +
                            std::to_string(wire::MaxDepth()) + " levels");
  }

  bool Fail(int64_t offset, std::string reason) {
    walk_.malformation =
        Malformation{static_cast<size_t>(offset), Path(), std::move(reason)};
    return false;
  }

  int64_t Position() const { return input_.CurrentPosition(); }

  CodedInputStream input_;
  const int64_t size_;
  const size_t max_listed_;
  const std::function<void(const Drift&)>* const each_;
  std::vector<Step> path_;
  // Top-level singular fields seen, and whether told to occur again.
  std::vector<std::pair<const FieldDescriptor*, bool>> singular_seen_;
  WireWalk walk_;
};

}  // namespace

WireWalk WalkWire(const Descriptor& type,
                  google::protobuf::io::ZeroCopyInputStream* input,
                  int64_t size, size_t max_listed) {
  return Walker(input, size, max_listed).Run(type);
}

WireWalk WalkWire(const Descriptor& type, std::string_view bytes,
                  const std::function<void(const Drift&)>& each) {
  if (bytes.size() > wire::kMaxLength) {
    return {{},
            0,
            {},
            Malformation{0, "", "larger than any message can be (2 GiB)"}};
  }
  google::protobuf::io::ArrayInputStream input(bytes.data(),
                                               static_cast<int>(bytes.size()));
  return Walker(&input, static_cast<int64_t>(bytes.size()),
                std::numeric_limits<size_t>::max(), each ? &each : nullptr)
      .Run(type);
}

WireWalk WalkWire(const Descriptor& type, std::string_view bytes) {
  return WalkWire(type, bytes, nullptr);
}

bool TopLevelRecords::CertainlyMalformed(std::string_view bytes) {
  const auto* const begin = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint8_t* const end = begin + bytes.size();
  uint64_t at;
  // The varint at `at`, moving `at` past it.
  const auto read_varint = [&](int max_bytes, uint64_t* value) {
    const uint8_t* p = begin + at;
    const Varint read = ReadVarint(&p, end, max_bytes, value);
    at = static_cast<uint64_t>(p - begin);
    return read;
  };
  while (!undecided_ && next_ < bytes.size()) {
    at = next_;
    uint64_t tag;
    Varint read = read_varint(wire::kMaxTagOrLengthBytes, &tag);
    if (read == Varint::kCut) return false;
    if (read == Varint::kTooLong ||
        !wire::IsValidTag(static_cast<uint32_t>(tag)) ||
        wire::WireTypeOf(static_cast<uint32_t>(tag)) == wire::kEndGroup) {
      return true;
    }
    uint64_t value;
    switch (wire::WireTypeOf(static_cast<uint32_t>(tag))) {
      case wire::kVarint:
        read = read_varint(wire::kMaxVarintBytes, &value);
        break;
      case wire::kFixed64:
        at += 8;
        break;
      case wire::kFixed32:
        at += 4;
        break;
      case wire::kLengthDelimited:
        read = read_varint(wire::kMaxTagOrLengthBytes, &value);
        if (read == Varint::kRead) {
          if (value > wire::kMaxLength) return true;
          at += value;
        }
        break;
      default:  // a group: its end takes a walk to find
        undecided_ = true;
        return false;
    }
    if (read == Varint::kCut) return false;
    if (read == Varint::kTooLong || at > wire::kMaxLength) return true;
    next_ = at;
  }
  return false;
}

JsonExactWire::JsonExactWire(const Descriptor& type,
                             google::protobuf::io::ZeroCopyInputStream* input)
    : layout_(LayoutOf(type)), input_(input) {}

bool JsonExactWire::Next(const void** data, int* size) {
  if (!input_->Next(data, size)) return false;
  // After a BackUp the stream hands out bytes read already.
  const int64_t start = input_->ByteCount() - *size;
  const int64_t from = std::max(read_, start);
  if (sure_ && start + *size > from) {
    const auto* piece = static_cast<const uint8_t*>(*data);
    Read(piece + (from - start), piece + *size);
  }
  read_ = std::max(read_, start + *size);
  return true;
}

bool JsonExactWire::Skip(int count) {
  sure_ = false;  // bytes not seen
  return input_->Skip(count);
}

const uint8_t* JsonExactWire::Records(const uint8_t* p, const uint8_t* end) {
  while (p < end) {
    switch (CleanRecord(layout_, &p, end, 0, true)) {
      case InPlace::kClean:
        continue;
      case InPlace::kCut:
        return p;
      case InPlace::kNotClean:
        sure_ = false;
        return end;
    }
  }
  return p;
}

void JsonExactWire::Read(const uint8_t* p, const uint8_t* end) {
  // The record the last piece ended in, completed from this one in steps
  // that double what is held.
  while (!cut_.empty() && p < end) {
    const size_t held = cut_.size();
    const size_t take = std::min<size_t>(end - p, std::max<size_t>(held, 4096));
    cut_.append(reinterpret_cast<const char*>(p), take);
    const auto* begin = reinterpret_cast<const uint8_t*>(cut_.data());
    const size_t used = Records(begin, begin + cut_.size()) - begin;
    if (!sure_) return;
    if (used == 0) {  // still cut
      p += take;
      if (cut_.size() > kMaxHeld) sure_ = false;
      continue;
    }
    p += used - held;
    cut_.clear();
  }
  const uint8_t* rest = Records(p, end);
  if (!sure_ || rest == end) return;
  if (static_cast<size_t>(end - rest) > kMaxHeld) {
    sure_ = false;
    return;
  }
  cut_.assign(reinterpret_cast<const char*>(rest), end - rest);
}

bool JsonExactMessage(const Descriptor& type, std::string_view bytes) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  return Clean(LayoutOf(type), p, p + bytes.size(), 1, true);
}

std::string Describe(const Drift& drift) {
  const std::string at = " at byte " + std::to_string(drift.offset);
  const std::string number = "field " + std::to_string(drift.field_number);
  switch (drift.kind) {
    case Drift::Kind::kUnknownField:
      return drift.path + ": unknown " + number + " (" +
             Record(drift.wire_type, drift.value) + ")" + at;
    case Drift::Kind::kWrongWireType:
      return drift.path + ": " + number + " as " +
             Record(drift.wire_type, drift.value) + " where the schema has " +
             WireTypeName(wire::WireTypeFor(*drift.field)) + at;
    case Drift::Kind::kRejectedEnumValue: {
      const auto* enumeration = drift.field->enum_type();
      // Relative to its package: the full name repeats it on every line.
      const std::string name = enumeration->full_name().substr(
          enumeration->file()->package().size() + 1);
      return drift.path + ": " + number + " value " +
             std::to_string(static_cast<int32_t>(drift.value)) +
             " rejected by enumeration " + name + at;
    }
    case Drift::Kind::kRepeatedSingular:
      return drift.path + ": " + number + " occurs again" + at +
             ", merged into the first as when reports are joined into one";
  }
  return drift.path;
}

std::string Describe(const Malformation& malformation) {
  return "at byte " + std::to_string(malformation.offset) +
         (malformation.path.empty() ? "" : " in " + malformation.path) + ": " +
         malformation.reason;
}

}  // namespace ostrel::agg_l3
