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

struct EncodeErrorCase {
  std::string name;
  const google::protobuf::Descriptor* type;
  Format format;
  std::string input;
  std::string error_start;
};

void PrintTo(const EncodeErrorCase& c, std::ostream* os) { *os << c.name; }

class EncodeErrorTest : public ::testing::TestWithParam<EncodeErrorCase> {};

TEST_P(EncodeErrorTest, SaysWhereAndProducesNothing) {
  const EncodeErrorCase& c = GetParam();
  std::string output;
  const Status status = Encode(*c.type, c.input, c.format, &output);
  EXPECT_EQ(status.code(), kMalformed);
  EXPECT_THAT(status.message(), StartsWith(c.error_start));
  EXPECT_EQ(output, "");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, EncodeErrorTest,
    ::testing::Values(
        EncodeErrorCase{"TextWrongValueKind", l3::RouteTableMsg::descriptor(),
                        Format::kText,
                        "lrouter_id: \"t0-gw\"\nroute {\n  network: 5\n}\n",
                        "line 3, column 12: Expected string"},
        EncodeErrorCase{"TextUnknownFieldName", l3::RouteTableMsg::descriptor(),
                        Format::kText,
                        "lrouter_id: \"t0-gw\"\nlrouter_idd: \"x\"\n",
                        "line 2, column 12: Message type "
                        "\"ostrel.ruk.agg_service.l3.RouteTableMsg\" has no "
                        "field named \"lrouter_idd\""},
        EncodeErrorCase{"TextUnknownEnumerationValue",
                        l3::EdgeClusterStatusMsg::descriptor(), Format::kText,
                        "self {\n  status: SIDEWAYS\n}\n",
                        "line 3, column 1: Unknown enumeration value of "
                        "\"SIDEWAYS\""},
        EncodeErrorCase{"TextUnterminatedMessage",
                        l3::RouteTableMsg::descriptor(), Format::kText,
                        "route {\n  admin_distance: 1\n", "line 3, column 1"},
        EncodeErrorCase{"JsonSyntax", l3::RouteTableMsg::descriptor(),
                        Format::kJson,
                        "{\"lrouterId\": \"t0-gw\",\n"
                        " \"route\": [{\"network\": \"a\",, }]}",
                        "line 2, column 28: Missing a name for object member."},
        EncodeErrorCase{"JsonCutOff", l3::RouteTableMsg::descriptor(),
                        Format::kJson, "{\n  \"lrouterId\": \"t0-gw\"",
                        "line 2, column 23: Missing a comma or '}' after an "
                        "object member."},
        EncodeErrorCase{"JsonUnknownFieldIsNamedByPath",
                        l3::RouteTableMsg::descriptor(), Format::kJson,
                        "{\"route\": [{\"netwrk\": \"a\"}]}",
                        "route[0].netwrk: RouteEntryMsg has no such field"}),
    [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace ostrel::agg_l3
