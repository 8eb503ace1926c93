// Several threads make the first descriptor use, the first generated-factory
// lookup and read one shared message, all at once. Its own process, so that
// those uses really are the first; run it under ThreadSanitizer (tsan preset).

#include <google/protobuf/message.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::ruk::agg_service::l3 {
namespace {

TEST(Concurrency, FirstUsesAndSharedReadsFromManyThreads) {
  BgpNeighborMsg shared;
  shared.set_lrouter_id("lr-1");
  for (int i = 0; i < 8; ++i) {
    auto* entry = shared.add_bgp_neighbor_msg();
    entry->set_remote_as(64500 + i);
    entry->add_neighbor_capability_value("route-refresh");
  }

  constexpr int kThreads = 8;
  std::atomic<int> waiting{kThreads};
  std::vector<const google::protobuf::Descriptor*> descriptors(kThreads);
  std::vector<const google::protobuf::Message*> prototypes(kThreads);
  std::vector<std::string> reads(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      descriptors[t] =
          t % 2 ? RouteTableMsg::descriptor()
                : OspfDatabaseMsg::descriptor()->file()->message_type(4);
      prototypes[t] =
          google::protobuf::MessageFactory::generated_factory()->GetPrototype(
              GreTunnelStatsMsg_KeepaliveAdminStateEnum_descriptor()
                  ->containing_type());
      for (const auto& entry : shared.bgp_neighbor_msg()) {
        reads[t] += std::to_string(entry.remote_as());
      }
      reads[t] += shared.GetReflection()->GetString(
          shared, shared.GetDescriptor()->FindFieldByName("lrouter_id"));
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(descriptors[t], RouteTableMsg::descriptor());
    EXPECT_EQ(prototypes[t], &GreTunnelStatsMsg::default_instance());
    EXPECT_EQ(reads[t], reads[0]);
  }
}

}  // namespace
}  // namespace ostrel::ruk::agg_service::l3
