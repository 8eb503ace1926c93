#include "drift_check.h"

#include <google/protobuf/io/coded_stream.h>

#include <map>
#include <utility>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::io::CodedInputStream;

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

std::string Record(WireType wire_type, uint64_t value) {
  const bool sized =
      wire_type == wire::kLengthDelimited || wire_type == wire::kStartGroup;
  return std::string(WireTypeName(wire_type)) + (sized ? ", " : " ") +
         std::to_string(value) + (sized ? " bytes" : "");
}

std::string Child(const std::string& path, const std::string& name) {
  return path.empty() ? name : path + "." + name;
}

class Walker {
 public:
  explicit Walker(std::string_view bytes)
      : input_(reinterpret_cast<const uint8_t*>(bytes.data()),
               static_cast<int>(bytes.size())) {
    // A limit at the end lets the root be walked like any sub-message.
    input_.PushLimit(static_cast<int>(bytes.size()));
  }

  WireWalk Run(const Descriptor& type) && {
    WalkMessage(type, "", 0);
    return std::move(walk_);
  }

 private:
  // Each walking step returns false once the bytes turned out malformed,
  // with the malformation recorded.
  bool WalkMessage(const Descriptor& type, const std::string& path, int depth) {
    std::map<int, int> elements_seen;
    while (input_.BytesUntilLimit() > 0) {
      const size_t offset = Position();
      uint32_t tag;
      if (!ReadTag(path, &tag)) return false;
      const int number = wire::FieldNumber(tag);
      const WireType wire_type = static_cast<WireType>(wire::WireTypeOf(tag));
      if (wire_type == wire::kEndGroup) {
        return Fail(offset, path, "end-group tag outside a group");
      }
      const FieldDescriptor* field = type.FindFieldByNumber(number);
      if (field == nullptr || wire_type != wire::WireTypeFor(*field)) {
        Drift drift{field == nullptr ? Drift::Kind::kUnknownField
                                     : Drift::Kind::kWrongWireType,
                    Child(path, field == nullptr ? std::to_string(number)
                                                 : field->name()),
                    number,
                    wire_type,
                    0,
                    offset,
                    field};
        if (!SkipValue(tag, offset, drift.path, depth, &drift.value)) {
          return false;
        }
        walk_.drift.push_back(std::move(drift));
        continue;
      }
      std::string field_path = Child(path, field->name());
      if (field->is_repeated()) {
        field_path += "[" + std::to_string(elements_seen[number]++) + "]";
      }
      if (!WalkField(*field, tag, offset, field_path, depth)) return false;
    }
    return true;
  }

  bool WalkField(const FieldDescriptor& field, uint32_t tag, size_t offset,
                 const std::string& path, int depth) {
    if (field.type() == FieldDescriptor::TYPE_MESSAGE) {
      uint64_t length;
      if (!ReadLength(path, &length)) return false;
      if (depth + 1 > wire::MaxDepth()) return TooDeep(offset, path);
      const auto limit = input_.PushLimit(static_cast<int>(length));
      const bool ok = WalkMessage(*field.message_type(), path, depth + 1);
      input_.PopLimit(limit);
      return ok;
    }
    uint64_t value;
    if (!SkipValue(tag, offset, path, depth, &value)) return false;
    // Closed enumerations, as in every proto2 schema: the parser keeps a value
    // the enumeration does not declare as an unknown field. It tests the
    // varint's low 32 bits.
    if (field.type() == FieldDescriptor::TYPE_ENUM) {
      const int32_t number = static_cast<int32_t>(value);
      if (field.enum_type()->FindValueByNumber(number) == nullptr) {
        walk_.drift.push_back({Drift::Kind::kRejectedEnumValue, path,
                               field.number(), wire::kVarint,
                               static_cast<uint64_t>(int64_t{number}), offset,
                               &field});
      }
    }
    return true;
  }

  // Skips the value of a record whose tag, read from `tag_offset`, was
  // `tag`; `value` receives what a report shows of it (see Drift::value).
  bool SkipValue(uint32_t tag, size_t tag_offset, const std::string& path,
                 int depth, uint64_t* value) {
    const size_t offset = Position();
    switch (wire::WireTypeOf(tag)) {
      case wire::kVarint:
        return ReadVarint(path, "varint", wire::kMaxVarintBytes, value);
      case wire::kFixed64:
        return input_.ReadLittleEndian64(value) ||
               Fail(offset, path, "64-bit value cut off");
      case wire::kFixed32: {
        uint32_t fixed;
        if (!input_.ReadLittleEndian32(&fixed)) {
          return Fail(offset, path, "32-bit value cut off");
        }
        *value = fixed;
        return true;
      }
      case wire::kLengthDelimited:
        if (!ReadLength(path, value)) return false;
        input_.Skip(static_cast<int>(*value));
        return true;
      case wire::kStartGroup: {
        size_t end_tag_offset;
        if (!SkipGroup(tag, tag_offset, path, depth + 1, &end_tag_offset)) {
          return false;
        }
        *value = end_tag_offset - offset;
        return true;
      }
      case wire::kEndGroup:
        break;  // callers see to end-group tags before they skip a value
    }
    return Fail(offset, path, "end-group tag outside a group");
  }

  bool SkipGroup(uint32_t start_tag, size_t start_offset,
                 const std::string& path, int depth, size_t* end_tag_offset) {
    if (depth > wire::MaxDepth()) return TooDeep(start_offset, path);
    const int number = wire::FieldNumber(start_tag);
    while (input_.BytesUntilLimit() > 0) {
      const size_t offset = Position();
      uint32_t tag;
      if (!ReadTag(path, &tag)) return false;
      if (wire::WireTypeOf(tag) == wire::kEndGroup) {
        *end_tag_offset = offset;
        if (wire::ClosesGroup(start_tag, tag)) return true;
        return Fail(offset, path,
                    "group of field " + std::to_string(number) +
                        " closed by the end-group tag of field " +
                        std::to_string(wire::FieldNumber(tag)));
      }
      uint64_t ignored;
      if (!SkipValue(tag, offset, path, depth, &ignored)) return false;
    }
    return Fail(start_offset, path,
                "group of field " + std::to_string(number) + " never ends");
  }

  bool ReadTag(const std::string& path, uint32_t* tag) {
    const size_t offset = Position();
    uint64_t raw;
    if (!ReadVarint(path, "tag", wire::kMaxTagOrLengthBytes, &raw)) {
      return false;
    }
    *tag = static_cast<uint32_t>(raw);
    if (wire::FieldNumber(*tag) == 0) {
      return Fail(offset, path, "field number 0");
    }
    if (!wire::IsValidTag(*tag)) {
      return Fail(offset, path,
                  "wire type " + std::to_string(wire::WireTypeOf(*tag)) +
                      " does not exist");
    }
    return true;
  }

  bool ReadLength(const std::string& path, uint64_t* length) {
    const size_t offset = Position();
    if (!ReadVarint(path, "length", wire::kMaxTagOrLengthBytes, length)) {
      return false;
    }
    const auto left = static_cast<uint64_t>(input_.BytesUntilLimit());
    if (Position() + *length > wire::kMaxLength) {
      return Fail(offset, path,
                  "length " + std::to_string(*length) +
                      " runs past the 2 GiB a report can take");
    }
    if (*length > left) {
      return Fail(offset, path,
                  "length " + std::to_string(*length) + " overruns the " +
                      std::to_string(left) + " bytes left");
    }
    return true;
  }

  bool ReadVarint(const std::string& path, const char* what, int max_bytes,
                  uint64_t* value) {
    const size_t offset = Position();
    const int left = input_.BytesUntilLimit();
    const bool read = input_.ReadVarint64(value);
    if (!read && left < wire::kMaxVarintBytes) {
      return Fail(offset, path, std::string(what) + " cut off");
    }
    if (!read || Position() - offset > static_cast<size_t>(max_bytes)) {
      return Fail(offset, path,
                  std::string(what) + " longer than " +
                      std::to_string(max_bytes) + " bytes");
    }
    return true;
  }

  bool TooDeep(size_t offset, const std::string& path) {
    return Fail(
        offset, path,
        "nested deeper than " + std::to_string(wire::MaxDepth()) + " levels");
  }

  bool Fail(size_t offset, const std::string& path, std::string reason) {
    walk_.malformation = Malformation{offset, path, std::move(reason)};
    return false;
  }

  size_t Position() const {
    return static_cast<size_t>(input_.CurrentPosition());
  }

  CodedInputStream input_;
  WireWalk walk_;
};

}  // namespace

WireWalk WalkWire(const Descriptor& type, std::string_view bytes) {
  if (bytes.size() > wire::kMaxLength) {
    return {{}, Malformation{0, "", "larger than any message can be (2 GiB)"}};
  }
  return Walker(bytes).Run(type);
}

namespace {

enum class Varint { kRead, kCut, kTooLong };

// Reads the varint at `*at` of at most `max_bytes` bytes.
Varint ReadPrefixVarint(std::string_view bytes, int max_bytes, uint64_t* at,
                        uint64_t* value) {
  *value = 0;
  for (int i = 0; i < max_bytes; ++i) {
    if (*at + i >= bytes.size()) return Varint::kCut;
    const auto byte = static_cast<uint8_t>(bytes[*at + i]);
    if (i < 10) *value |= static_cast<uint64_t>(byte & 0x7f) << (7 * i);
    if (byte < 0x80) {
      *at += i + 1;
      return Varint::kRead;
    }
  }
  return Varint::kTooLong;
}

}  // namespace

bool TopLevelRecords::CertainlyMalformed(std::string_view bytes) {
  while (!undecided_ && next_ < bytes.size()) {
    uint64_t at = next_;
    uint64_t tag;
    Varint read =
        ReadPrefixVarint(bytes, wire::kMaxTagOrLengthBytes, &at, &tag);
    if (read == Varint::kCut) return false;
    if (read == Varint::kTooLong ||
        !wire::IsValidTag(static_cast<uint32_t>(tag)) ||
        wire::WireTypeOf(static_cast<uint32_t>(tag)) == wire::kEndGroup) {
      return true;
    }
    uint64_t value;
    switch (wire::WireTypeOf(static_cast<uint32_t>(tag))) {
      case wire::kVarint:
        read = ReadPrefixVarint(bytes, wire::kMaxVarintBytes, &at, &value);
        break;
      case wire::kFixed64:
        at += 8;
        break;
      case wire::kFixed32:
        at += 4;
        break;
      case wire::kLengthDelimited:
        read = ReadPrefixVarint(bytes, wire::kMaxTagOrLengthBytes, &at, &value);
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
  }
  return drift.path;
}

std::string Describe(const Malformation& malformation) {
  return "at byte " + std::to_string(malformation.offset) +
         (malformation.path.empty() ? "" : " in " + malformation.path) + ": " +
         malformation.reason;
}

}  // namespace ostrel::agg_l3
