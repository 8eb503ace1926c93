// Looks a type of the schema up by name only, the way a generic consumer
// (a gateway, a logger, a dynamic decoder) does: no header of the library,
// no symbol referenced. Exit 0 when the outcome matches the expectation.

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
  const bool expect_missing =
      argc > 1 && std::strcmp(argv[1], "--expect-missing") == 0;
  const auto* descriptor =
      google::protobuf::DescriptorPool::generated_pool()->FindMessageTypeByName(
          "ostrel.ruk.agg_service.l3.BgpNeighborMsg");
  if (descriptor == nullptr) {
    std::puts("ostrel.ruk.agg_service.l3.BgpNeighborMsg: not registered");
    return expect_missing ? 0 : 1;
  }
  const google::protobuf::Message* prototype =
      google::protobuf::MessageFactory::generated_factory()->GetPrototype(
          descriptor);
  std::unique_ptr<google::protobuf::Message> message(prototype->New());
  const auto* field = descriptor->FindFieldByName("local_as");
  message->GetReflection()->SetUInt32(message.get(), field, 65001);
  std::printf("%s\n", message->ShortDebugString().c_str());
  return expect_missing ? 1 : 0;
}
