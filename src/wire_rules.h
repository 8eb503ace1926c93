// The wire format as the protobuf runtime's message parser enforces it, which
// is stricter than what CodedInputStream alone reads. Everything here that
// walks encoded reports by hand (agg-l3's drift walk, the streaming reader)
// must accept and reject exactly what a whole-message parse does, so it
// takes the rules from this one place.

#ifndef OSTREL_SRC_WIRE_RULES_H_
#define OSTREL_SRC_WIRE_RULES_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/coded_stream.h>

#include <cstdint>
#include <limits>

namespace ostrel::wire {

enum WireType : int {
  kVarint = 0,
  kFixed64 = 1,
  kLengthDelimited = 2,
  kStartGroup = 3,
  kEndGroup = 4,
  kFixed32 = 5,
};

// Tags and lengths take at most five bytes; other varints at most ten.
inline constexpr int kMaxTagOrLengthBytes = 5;
inline constexpr int kMaxVarintBytes = 10;
// Lengths, and so whole messages, stay below 2 GiB.
inline constexpr uint64_t kMaxLength = std::numeric_limits<int32_t>::max();

// How deep messages and groups nest, the report itself counting as one.
inline int MaxDepth() {
  return google::protobuf::io::CodedInputStream::GetDefaultRecursionLimit();
}

constexpr int FieldNumber(uint32_t tag) { return static_cast<int>(tag >> 3); }
constexpr int WireTypeOf(uint32_t tag) { return static_cast<int>(tag & 7); }
constexpr uint32_t MakeTag(int number, WireType type) {
  return (static_cast<uint32_t>(number) << 3) | type;
}

// Field number 0 and wire types 6 and 7 never occur in a valid encoding.
constexpr bool IsValidTag(uint32_t tag) {
  return FieldNumber(tag) != 0 && WireTypeOf(tag) <= kFixed32;
}

// A group ends only with the end-group tag of its own field number.
constexpr bool ClosesGroup(uint32_t start_tag, uint32_t tag) {
  return tag == MakeTag(FieldNumber(start_tag), kEndGroup);
}

// The wire type that a field of the schema is written with (none of our
// schemas packs a repeated field).
inline WireType WireTypeFor(const google::protobuf::FieldDescriptor& field) {
  using google::protobuf::FieldDescriptor;
  switch (field.type()) {
    case FieldDescriptor::TYPE_DOUBLE:
    case FieldDescriptor::TYPE_FIXED64:
    case FieldDescriptor::TYPE_SFIXED64:
      return kFixed64;
    case FieldDescriptor::TYPE_FLOAT:
    case FieldDescriptor::TYPE_FIXED32:
    case FieldDescriptor::TYPE_SFIXED32:
      return kFixed32;
    case FieldDescriptor::TYPE_STRING:
    case FieldDescriptor::TYPE_BYTES:
    case FieldDescriptor::TYPE_MESSAGE:
      return kLengthDelimited;
    case FieldDescriptor::TYPE_GROUP:
      return kStartGroup;
    default:  // the integer types, bool and enumerations
      return kVarint;
  }
}

// Reads a length prefix; false if it is cut off, longer than its five
// bytes, or 2 GiB or more.
inline bool ReadLength(google::protobuf::io::CodedInputStream* input,
                       uint32_t* length) {
  const int start = input->CurrentPosition();
  uint64_t value;
  if (!input->ReadVarint64(&value) ||
      input->CurrentPosition() - start > kMaxTagOrLengthBytes ||
      value > kMaxLength) {
    return false;
  }
  *length = static_cast<uint32_t>(value);
  return true;
}

}  // namespace ostrel::wire

#endif  // OSTREL_SRC_WIRE_RULES_H_
