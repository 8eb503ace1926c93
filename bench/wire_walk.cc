#include "wire_walk.h"

#include <algorithm>

namespace ostrel::bench {
namespace {

// Returns null when the varint runs past `end` or past ten bytes.
inline const uint8_t* ReadVarint(const uint8_t* p, const uint8_t* end,
                                 uint64_t* value) {
  if (p < end && *p < 0x80) {
    *value = *p;
    return p + 1;
  }
  uint64_t result = 0;
  for (int shift = 0; shift < 70 && p < end; shift += 7) {
    uint8_t byte = *p++;
    result |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (byte < 0x80) {
      *value = result;
      return p;
    }
  }
  return nullptr;
}

}  // namespace

WireWalker::WireWalker(const google::protobuf::Descriptor* type)
    : root_(Build(type)) {}

const WireWalker::Node* WireWalker::Build(
    const google::protobuf::Descriptor* type) {
  for (const auto& [known, node] : nodes_) {
    if (known == type) return node.get();
  }
  nodes_.emplace_back(type, std::make_unique<Node>());
  Node* node = nodes_.back().second.get();
  int max_number = 0;
  for (int i = 0; i < type->field_count(); ++i) {
    max_number = std::max(max_number, type->field(i)->number());
  }
  node->children.assign(max_number + 1, nullptr);
  for (int i = 0; i < type->field_count(); ++i) {
    const google::protobuf::FieldDescriptor* field = type->field(i);
    if (field->type() == google::protobuf::FieldDescriptor::TYPE_MESSAGE) {
      node->children[field->number()] = Build(field->message_type());
    }
  }
  return node;
}

int64_t WireWalker::Walk(const uint8_t* data, size_t size) const {
  return WalkNode(*root_, data, data + size);
}

int64_t WireWalker::WalkNode(const Node& node, const uint8_t* p,
                             const uint8_t* end) {
  int64_t tags = 0;
  while (p < end) {
    uint64_t tag, value;
    if ((p = ReadVarint(p, end, &tag)) == nullptr) return -1;
    ++tags;
    switch (tag & 7) {
      case 0:
        if ((p = ReadVarint(p, end, &value)) == nullptr) return -1;
        break;
      case 1:
        p += 8;
        break;
      case 5:
        p += 4;
        break;
      case 2: {
        if ((p = ReadVarint(p, end, &value)) == nullptr) return -1;
        if (value > static_cast<uint64_t>(end - p)) return -1;
        uint64_t number = tag >> 3;
        if (number < node.children.size() && node.children[number]) {
          int64_t inner = WalkNode(*node.children[number], p, p + value);
          if (inner < 0) return -1;
          tags += inner;
        }
        p += value;
        break;
      }
      default:
        return -1;
    }
  }
  return p == end ? tags : -1;
}

}  // namespace ostrel::bench
