#include "each_lines.h"

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "report_codec.h"
#include "wire_vectors.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::io::ArrayInputStream;
using google::protobuf::io::StringOutputStream;

struct Result {
  Status status;
  std::string output;
};

Result Decode(const std::string& type, const std::string& field,
              const std::string& bytes) {
  Result result;
  ArrayInputStream input(bytes.data(), static_cast<int>(bytes.size()), 3);
  {
    StringOutputStream output(&result.output);
    Warnings warnings;
    result.status = DecodeEach(*FindReportType(type), field, &input, "in",
                               &output, &warnings);
  }
  return result;
}

Result Encode(const std::string& type, const std::string& field,
              const std::string& lines) {
  Result result;
  ArrayInputStream input(lines.data(), static_cast<int>(lines.size()), 5);
  {
    StringOutputStream output(&result.output);
    result.status =
        EncodeEach(*FindReportType(type), field, &input, "in", &output);
  }
  return result;
}

// Every list of every type: decoding to lines and encoding them back gives
// the very same bytes.
TEST(EachLines, EveryListOfEveryVectorRoundTrips) {
  int lists = 0;
  for (const auto& vector : testdata::EveryFieldVectors()) {
    const auto* type = FindReportType(vector.type);
    const std::string bytes = testdata::FromHex(vector.hex);
    for (int i = 0; i < type->field_count(); ++i) {
      if (!type->field(i)->is_repeated()) continue;
      const std::string field = type->field(i)->name();
      SCOPED_TRACE(std::string(vector.type) + "." + field);
      const Result lines = Decode(vector.type, field, bytes);
      ASSERT_TRUE(lines.status.ok()) << lines.status.message();
      // One line for each of the vector's two elements, each as a report
      // holding just that element.
      const std::string element_line =
          "\n{\"" + type->field(i)->json_name() + "\":[";
      size_t element_lines = 0;
      for (size_t at = 0;
           (at = lines.output.find(element_line, at)) != std::string::npos;
           ++at) {
        ++element_lines;
      }
      EXPECT_EQ(element_lines, 2u) << lines.output;
      const Result encoded = Encode(vector.type, field, lines.output);
      ASSERT_TRUE(encoded.status.ok()) << encoded.status.message();
      EXPECT_EQ(encoded.output, bytes);
      ++lists;
    }
  }
  EXPECT_EQ(lists, 42);
}

TEST(EachLines, LateRecordsGetALineOfTheirOwn) {
  // lrouter_uuid (5) before the route (4) and lrouter_id (1) after it.
  const std::string bytes = testdata::FromHex(
      "2A 09 09 07 00 00 00 00 00 00 00 22 02 12 00 0A 01 61");
  const Result lines = Decode("RouteTableMsg", "route", bytes);
  ASSERT_TRUE(lines.status.ok());
  EXPECT_EQ(lines.output,
            "{\"lrouterUuid\":{\"left\":\"7\"}}\n"
            "{\"route\":[{\"network\":\"\"}]}\n"
            "{\"lrouterId\":\"a\"}\n");
  const Result encoded = Encode("RouteTableMsg", "route", lines.output);
  ASSERT_TRUE(encoded.status.ok());
  // The same report, the late field written after the list.
  EXPECT_EQ(encoded.output,
            testdata::FromHex(
                "22 02 12 00 2A 09 09 07 00 00 00 00 00 00 00 0A 01 61"));
}

TEST(EachLines, Failures) {
  const std::string two_routes =
      testdata::FromHex("22 02 12 00 22 03 12 05 61");
  const Result broken = Decode("RouteTableMsg", "route", two_routes);
  EXPECT_EQ(broken.status.code(), kMalformed);
  EXPECT_EQ(broken.output, "{}\n{\"route\":[{\"network\":\"\"}]}\n");
  EXPECT_EQ(broken.status.message(),
            "in: RouteTableMsg: element 1 of route at byte 4: malformed");

  const Result truncated =
      Decode("RouteTableMsg", "route", two_routes.substr(0, 7));
  EXPECT_EQ(truncated.status.code(), kMalformed);
  EXPECT_NE(truncated.status.message().find(
                "element 1 of route at byte 4: truncated"),
            std::string::npos);

  const Result no_list = Decode("RouteTableMsg", "lrouter_id", two_routes);
  EXPECT_EQ(no_list.status.code(), kCannotRun);
  EXPECT_EQ(no_list.status.message(),
            "RouteTableMsg has no list named lrouter_id; its lists: route");

  const Result bad_line =
      Encode("RouteTableMsg", "route", "{}\n{\"route\":[{\"nope\":1}]}\n");
  EXPECT_EQ(bad_line.status.code(), kMalformed);
  EXPECT_NE(bad_line.status.message().find("in, line 2: "), std::string::npos);
}

}  // namespace
}  // namespace ostrel::agg_l3
