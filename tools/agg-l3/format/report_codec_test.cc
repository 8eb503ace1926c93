#include "format/report_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::agg_l3 {
namespace {

namespace l3 = ::ostrel::ruk::agg_service::l3;
using ::testing::ElementsAre;

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

}  // namespace
}  // namespace ostrel::agg_l3
