// The least any parser of a report must do: read every tag and every length,
// and descend into every sub-message, storing nothing. Its speed bounds what
// a real parse can reach on this machine.

#ifndef OSTREL_BENCH_WIRE_WALK_H_
#define OSTREL_BENCH_WIRE_WALK_H_

#include <google/protobuf/descriptor.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace ostrel::bench {

class WireWalker {
 public:
  // Learns from `type` which field numbers hold sub-messages, recursively.
  explicit WireWalker(const google::protobuf::Descriptor* type);

  // Returns the number of tags visited at every depth, or -1 when the bytes
  // are not well formed.
  int64_t Walk(const uint8_t* data, size_t size) const;

 private:
  struct Node {
    // Index by field number; null for scalars, strings and unknown numbers.
    std::vector<const Node*> children;
  };
  static int64_t WalkNode(const Node& node, const uint8_t* p,
                          const uint8_t* end);
  const Node* Build(const google::protobuf::Descriptor* type);

  std::vector<
      std::pair<const google::protobuf::Descriptor*, std::unique_ptr<Node>>>
      nodes_;
  const Node* root_;
};

}  // namespace ostrel::bench

#endif  // OSTREL_BENCH_WIRE_WALK_H_
