#include "json_integers.h"

#include <gtest/gtest.h>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::agg_l3 {
namespace {

namespace l3 = ruk::agg_service::l3;

TEST(CheckJsonIntegers, HoldsEachIntegerTypeToItsRangeAsWritten) {
  const struct {
    const google::protobuf::Descriptor* type;
    std::string json;
    std::string finding;
  } cases[] = {
      {l3::RouteTableMsg::descriptor(),
       R"({"timestamp": -9223372036854775808})", ""},
      {l3::RouteTableMsg::descriptor(),
       R"({"timestamp": -9223372036854775809})",
       "timestamp: -9223372036854775809 is out of range for int64"},
      {l3::RouteTableMsg::descriptor(),
       R"({"timestamp": -9.223372036854775809e18})",
       "timestamp: -9.223372036854775809e18 is out of range for int64"},
      {l3::RouteTableMsg::descriptor(), R"({"timestamp": 9007199254740993.0})",
       ""},
      {l3::RouteTableMsg::descriptor(), R"({"timestamp": 9007199254740993.5})",
       "timestamp: 9007199254740993.5 is not an integer"},
      {l3::RouteTableMsg::descriptor(), R"({"timestamp": 12e-1})",
       "timestamp: 12e-1 is not an integer"},
      {l3::RouteTableMsg::descriptor(), R"({"timestamp": 1200E-2, "x": 1e999})",
       ""},
      {l3::RouteTableMsg::descriptor(),
       R"({"lrouter_id": "9223372036854775808", "route": [{}, {"adminDistance": -0}, {"admin_distance": 2147483648}]})",
       "route[2].admin_distance: 2147483648 is out of range for int32"},
      {l3::AddressFamilyMsg::descriptor(),
       R"({"countInPrefixes": 18446744073709551615})", ""},
      {l3::AddressFamilyMsg::descriptor(),
       R"({"countInPrefixes": 1.8446744073709551616e19})",
       "count_in_prefixes: 1.8446744073709551616e19 is out of range for "
       "uint64"},
      {l3::BgpNeighborEntryMsg::descriptor(), R"({"localPort": -1})",
       "local_port: -1 is out of range for uint32"},
      {l3::BgpNeighborEntryMsg::descriptor(), R"({"grMode": 4294967296})",
       "gr_mode: 4294967296 is out of range for int32"},
      // Not JSON: left to the runtime's parser, however deep.
      {l3::RouteTableMsg::descriptor(), std::string(100000, '[') + "1e99", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckJsonIntegers(*c.type, c.json), c.finding)
        << c.json.substr(0, 80);
  }
}

}  // namespace
}  // namespace ostrel::agg_l3
