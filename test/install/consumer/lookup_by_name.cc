// Finds a type of the schema by name, as a generic decoder does: no header
// of the library, no symbol of it referenced.

#include <google/protobuf/descriptor.h>

#include <cstdio>

int main() {
  const auto* descriptor =
      google::protobuf::DescriptorPool::generated_pool()->FindMessageTypeByName(
          "ostrel.ruk.agg_service.l3.BgpNeighborMsg");
  if (descriptor == nullptr) {
    std::puts("ostrel.ruk.agg_service.l3.BgpNeighborMsg: not registered");
    return 1;
  }
  std::printf("%s: %d fields\n", descriptor->full_name().c_str(),
              descriptor->field_count());
}
