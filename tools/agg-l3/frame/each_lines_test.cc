#include "frame/each_lines.h"

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/util/json_util.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "format/report_codec.h"
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
    Exactness exactness(Format::kJson, false);
    result.status = DecodeEach(*FindReportType(type), field, &input, "in",
                               &output, exactness);
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
// the very same bytes, and every line is what the runtime prints for it.
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
      std::istringstream each(lines.output);
      for (std::string line; std::getline(each, line);) {
        auto report = NewReport(*type);
        std::string runtime;
        ASSERT_TRUE(
            google::protobuf::util::JsonStringToMessage(line, report.get())
                .ok());
        ASSERT_TRUE(
            google::protobuf::util::MessageToJsonString(*report, &runtime)
                .ok());
        EXPECT_EQ(line, runtime);
      }
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

// Element lines are parsed in batches; what the lines say, and which line
// an error is on, must not depend on where batches start and end.
TEST(EachLines, ManyElementLinesEncodeAsOneByOne) {
  const std::string header = "{\"lrouterId\":\"a\"}\n";
  std::string lines = header;
  std::string expected_routes;
  for (int i = 0; i < 9000; ++i) {
    const std::string network = std::to_string(i);
    // Compact lines are batched; spaced ones, and one whose brackets hold
    // two elements, are not.
    lines +=
        i % 1000 == 7   ? "{ \"route\": [{\"network\":\"" + network + "\"}] }\n"
        : i % 1000 == 8 ? "{\"route\":[{\"network\":\"" + network +
                              "\"},{\"nextHop\":\"h\"}]}\n"
                        : "{\"route\":[{\"network\":\"" + network + "\"}]}\n";
    expected_routes += "route { network: \"" + network + "\" }" +
                       (i % 1000 == 8 ? " route { next_hop: \"h\" }" : "") +
                       " ";
    if (i == 5000) lines += "{\"timestamp\":\"9\"}\n";  // late
  }
  const Result encoded = Encode("RouteTableMsg", "route", lines);
  ASSERT_TRUE(encoded.status.ok()) << encoded.status.message();
  auto report = testdata::NewMessage("RouteTableMsg");
  ASSERT_TRUE(report->ParseFromString(encoded.output));
  EXPECT_EQ(report->ShortDebugString(),
            "lrouter_id: \"a\" timestamp: 9 " +
                expected_routes.substr(0, expected_routes.size() - 1));

  // A bad element deep in a batch: the error names its line.
  lines = header;
  for (int i = 0; i < 6000; ++i) {
    lines += i == 4500 ? "{\"route\":[{\"network\":5}]}\n"
                       : "{\"route\":[{\"network\":\"n\"}]}\n";
  }
  const Result bad = Encode("RouteTableMsg", "route", lines);
  EXPECT_EQ(bad.status.code(), kMalformed);
  EXPECT_EQ(bad.status.message().substr(0, 15), "in, line 4502: ");
}

}  // namespace
}  // namespace ostrel::agg_l3
