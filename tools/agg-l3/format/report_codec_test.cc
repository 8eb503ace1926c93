#include "format/report_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::agg_l3 {
namespace {

namespace l3 = ::ostrel::ruk::agg_service::l3;
using ::testing::ElementsAre;
using ::testing::StartsWith;

TEST(FindReportTypeTest, TakesShortAndFullNamesOfTheSchemaFiles) {
  const struct {
    std::string name;
    const google::protobuf::Descriptor* type;
  } cases[] = {
      {"RouteTableMsg", l3::RouteTableMsg::descriptor()},
      {"ostrel.ruk.agg_service.l3.OspfDatabaseMsg",
       l3::OspfDatabaseMsg::descriptor()},
      {".ostrel.ruk.agg_service.l3.GreTunnelStatsMsg",
       l3::GreTunnelStatsMsg::descriptor()},
      {"routetablemsg", nullptr},
      {"ostrel.ruk.UuidMsg", ostrel::ruk::UuidMsg::descriptor()},
      {"UuidMsg", ostrel::ruk::UuidMsg::descriptor()},
      {"ostrel.ruk.agg_service.UuidMsg", nullptr},  // another package's
      {"ErrorMsg", ostrel::ruk::agg_service::ErrorMsg::descriptor()},
      {"ostrel.ruk.agg_service.l3.", nullptr},
      {"", nullptr},
  };
  for (const auto& [name, type] : cases) {
    EXPECT_EQ(FindReportType(name), type) << name;
  }
}

TEST(ClosestReportTypesTest, PutsTheIntendedNameFirst) {
  EXPECT_THAT(ClosestReportTypes("RouteTabelMsg", 1),
              ElementsAre("RouteTableMsg"));
  EXPECT_THAT(ClosestReportTypes("bgpneighbormsg", 1),
              ElementsAre("BgpNeighborMsg"));
  EXPECT_THAT(ClosestReportTypes("OspfDatabase", 1),
              ElementsAre("OspfDatabaseMsg"));
  EXPECT_EQ(ClosestReportTypes("x").size(), 3u);
}

// Text format errors, placed; JSON's are the JSON reader's, and the
// command line's table shows a wrong value kind.
TEST(EncodeTest, SaysWhereAndProducesNothing) {
  const struct {
    const google::protobuf::Descriptor* type;
    std::string text, error_start;
  } cases[] = {
      {l3::RouteTableMsg::descriptor(),
       "lrouter_id: \"t0-gw\"\nlrouter_idd: 1\n",
       "line 2, column 12: Message type "
       "\"ostrel.ruk.agg_service.l3.RouteTableMsg\" has no field named "
       "\"lrouter_idd\""},
      {l3::EdgeClusterStatusMsg::descriptor(),
       "self {\n  status: SIDEWAYS\n}\n",
       "line 3, column 1: Unknown enumeration value of \"SIDEWAYS\""},
      {l3::RouteTableMsg::descriptor(), "route {\n  admin_distance: 1\n",
       "line 3, column 1"},
  };
  for (const auto& c : cases) {
    std::string output;
    const Status status = Encode(*c.type, c.text, Format::kText, &output);
    EXPECT_EQ(status.code(), kMalformed) << c.text;
    EXPECT_THAT(status.message(), StartsWith(c.error_start));
    EXPECT_EQ(output, "");
  }
}

}  // namespace
}  // namespace ostrel::agg_l3
