// Registration and reflection as users meet them: finding types by name,
// the generated factory, default instances, enumeration machinery, and
// what parsing keeps of what it does not know.

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "wire_vectors.h"

namespace ostrel::ruk::agg_service::l3 {
namespace {

using google::protobuf::DescriptorPool;
using google::protobuf::MessageFactory;
using google::protobuf::UnknownField;
using testdata::FromHex;

TEST(Registration, TypesAndServiceAreFoundByName) {
  const DescriptorPool* pool = DescriptorPool::generated_pool();
  const auto* file =
      pool->FindFileByName("ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->message_type(4), RouteTableMsg::descriptor());
  EXPECT_EQ(file->message_type(54), FrrRouteCountMsg::descriptor());
  EXPECT_EQ(file->enum_type(2), RouteOrigin_descriptor());
  EXPECT_EQ(pool->FindMessageTypeByName(
                "ostrel.ruk.agg_service.l3.BgpNeighborEntryMsg"),
            BgpNeighborEntryMsg::descriptor());
  EXPECT_EQ(pool->FindServiceByName("ostrel.ruk.agg_service.l3.L3QueryService"),
            file->service(0));
  EXPECT_EQ(pool->FindMessageTypeByName("ostrel.ruk.UuidMsg"),
            UuidMsg::descriptor());
  EXPECT_FALSE(file->options().cc_generic_services());
}

TEST(Registration, AddDescIsIdempotentAndKeepsDefaultInstances) {
  const RouteTableMsg* before = &RouteTableMsg::default_instance();
  protobuf_AddDesc_ostrel_2fruk_2fagg_5fservice_2fl3_2fagg_5fsvc_5fl3_5fmsg_2eproto();
  protobuf_AddDesc_ostrel_2fruk_2fagg_5fservice_2fl3_2fagg_5fsvc_5fl3_5fmsg_2eproto();
  ostrel::ruk::protobuf_AddDesc_ostrel_2fruk_2fcore_5ftypes_2eproto();
  ostrel::ruk::agg_service::
      protobuf_AddDesc_ostrel_2fruk_2fagg_5fservice_2fagg_5fsvc_5fcommon_5ftypes_2eproto();
  protobuf_AssignDesc_ostrel_2fruk_2fagg_5fservice_2fl3_2fagg_5fsvc_5fl3_5fmsg_2eproto();
  EXPECT_EQ(&RouteTableMsg::default_instance(), before);
  EXPECT_EQ(DescriptorPool::generated_pool()->FindMessageTypeByName(
                "ostrel.ruk.agg_service.l3.RouteTableMsg"),
            RouteTableMsg::descriptor());
}

TEST(Registration, FactoryPrototypeIsTheDefaultInstance) {
  MessageFactory* factory = MessageFactory::generated_factory();
  EXPECT_EQ(factory->GetPrototype(RouteTableMsg::descriptor()),
            &RouteTableMsg::default_instance());
  const auto* file = RouteTableMsg::descriptor()->file();
  for (int i = 0; i < file->message_type_count(); ++i) {
    const google::protobuf::Message* prototype =
        factory->GetPrototype(file->message_type(i));
    ASSERT_NE(prototype, nullptr);
    EXPECT_EQ(prototype->GetDescriptor(), file->message_type(i));
    std::unique_ptr<google::protobuf::Message> fresh(prototype->New());
    const google::protobuf::Message& made = *fresh;
    EXPECT_EQ(typeid(made), typeid(*prototype));
  }
}

TEST(Registration, UnsetSubMessagesReadTheSubTypesDefaultInstance) {
  RouteTableMsg table;
  EXPECT_EQ(&table.error(), &ErrorMsg::default_instance());
  EXPECT_EQ(&table.lrouter_uuid(), &UuidMsg::default_instance());
  EXPECT_EQ(&EdgeClusterStatusMsg::default_instance().self(),
            &EdgeNodeStatusMsg::default_instance());
  EXPECT_EQ(&RemoteTunnelStatisticsMsg::default_instance().rx(),
            &InterSitePortCountersMsg::default_instance());
  EXPECT_EQ(&BgpNeighborEntryMsg::default_instance().neighbor_router_id(),
            &IpAddressMsg::default_instance());
}

TEST(Enumerations, ValidityFunctions) {
  struct Case {
    bool (*is_valid)(int);
    std::vector<int> valid, invalid;
  };
  const std::vector<Case> cases = {
      {LogicalRouterStatusMsg_LogicalRouterHaStatusEnum_IsValid,
       {0, 5},
       {6, 17, -1}},
      {LogicalRouterStatusMsg::LogicalRouterHaStatusEnum_IsValid, {5}, {17}},
      {GracefulRestartMode_IsValid, {0, 1, 2, 3}, {4, -1, -2147483647 - 1}},
      {EdgeNodeStatusEnum_IsValid, {0, 4}, {5, -1}},
      {RouteOrigin_IsValid, {0, 3}, {4}},
      {BgpNeighborStatusMsg_BgpConnectionState_IsValid, {0, 6}, {7}},
      {GreTunnelStatsMsg_KeepaliveAdminStateEnum_IsValid, {2}, {3}},
  };
  for (const Case& c : cases) {
    for (int v : c.valid) EXPECT_TRUE(c.is_valid(v)) << v;
    for (int v : c.invalid) EXPECT_FALSE(c.is_valid(v)) << v;
  }
}

TEST(Enumerations, BgpCapabilityAcceptsExactlyItsEighteenValues) {
  std::vector<int> accepted;
  for (int v = -2; v <= (1 << 17) + 1; ++v) {
    if (BgpNeighborEntryMsg_BgpCapability_IsValid(v)) accepted.push_back(v);
  }
  std::vector<int> expected = {0};
  for (int bit = 0; bit <= 16; ++bit) expected.push_back(1 << bit);
  EXPECT_EQ(accepted, expected);
  EXPECT_EQ(BgpNeighborEntryMsg::BgpCapability_ARRAYSIZE, 65537);
  EXPECT_EQ(BgpNeighborEntryMsg::BgpCapability_descriptor()->value_count(), 18);
}

// What parsing does not assign is kept and written back after the known
// fields, byte for byte.
TEST(UnknownFields, KeptAndWrittenBackAfterKnownFields) {
  const struct {
    const char* what;
    google::protobuf::Message* message;
    std::string input, output;
  } cases[] = {
      {"unknown number", new RouteTableMsg, FromHex("78 05 0A 01 61"),
       FromHex("0A 01 61 78 05")},
      {"known number, wrong wire type", new RouteTableMsg, FromHex("08 07"),
       FromHex("08 07")},
      {"rejected enumeration value", new GreTunnelStatsMsg,
       FromHex("78 07 10 01"), FromHex("10 01 78 07")},
      {"rejected value kept as its full varint", new GreTunnelStatusMsg,
       FromHex("10 FF FF FF FF 0F"), FromHex("10 FF FF FF FF 0F")},
      {"two-byte tag in a one-byte-tag class", new RouteEntryMsg,
       FromHex("80 01 5A"), FromHex("80 01 5A")},
      {"rejected gr_mode", new BgpNeighborEntryMsg,
       FromHex("B8 01 04 80 01 5A"), FromHex("80 01 5A B8 01 04")},
  };
  for (const auto& c : cases) {
    std::unique_ptr<google::protobuf::Message> owner(c.message);
    ASSERT_TRUE(c.message->ParseFromString(c.input)) << c.what;
    EXPECT_EQ(
        c.message->GetReflection()->GetUnknownFields(*c.message).field_count(),
        1)
        << c.what;
    EXPECT_EQ(c.message->SerializeAsString(), c.output) << c.what;
  }

  GreTunnelStatsMsg stats;
  ASSERT_TRUE(stats.ParseFromString(FromHex("78 07")));
  EXPECT_FALSE(stats.has_keepalive_admin_state());
  const UnknownField& kept = stats.unknown_fields().field(0);
  EXPECT_EQ(kept.number(), 15);
  EXPECT_EQ(kept.varint(), 7u);
}

}  // namespace
}  // namespace ostrel::ruk::agg_service::l3
