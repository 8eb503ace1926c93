#include "format/input_hints.h"

#include <google/protobuf/util/delimited_message_util.h>
#include <gtest/gtest.h>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::agg_l3 {
namespace {

namespace l3 = ruk::agg_service::l3;

std::string Delimited(const l3::RouteTableMsg& table, int count) {
  std::string bytes;
  google::protobuf::io::StringOutputStream output(&bytes);
  for (int i = 0; i < count; ++i) {
    google::protobuf::util::SerializeDelimitedToZeroCopyStream(table, &output);
  }
  return bytes;
}

TEST(LooksLike, NamesWhatTheInputLooksLike) {
  l3::RouteTableMsg table;
  table.set_lrouter_id("lr-1");
  table.set_timestamp(17);
  table.add_route()->set_network("10.0.0.0/8");
  const std::string report = table.SerializeAsString();
  const std::string log = Delimited(table, 3);
  const std::string json = "  {\"lrouterId\": \"lr-1\"}\n";
  const std::string text = "lrouter_id: \"lr-1\"\n";

  const struct {
    std::string input;
    InputForm expected;
    std::string hint;
  } cases[] = {
      {json, InputForm::kBinary,
       "this looks like JSON: did you mean encode --json?"},
      {text, InputForm::kBinary,
       "this looks like text format: did you mean encode?"},
      {log, InputForm::kBinary,
       "this looks like a length-delimited stream: did you mean --delimited?"},
      {"\x28\xb5\x2f\xfd rest", InputForm::kBinary,
       "this looks like zstd-compressed data: decompress it first"},
      {std::string("\xfd"
                   "7zXZ\0",
                   6),
       InputForm::kJson,
       "this looks like xz-compressed data: decompress it first"},
      {"\x1f\x8b\x08", InputForm::kText,
       "this looks like gzip-compressed data: decompress it first"},
      {json, InputForm::kText, "this looks like JSON: did you mean --json?"},
      {report, InputForm::kText, "this looks binary: did you mean decode?"},
      {report, InputForm::kJson, "this looks binary: did you mean decode?"},
      {text, InputForm::kJson, "this looks like text format: drop --json"},
      {report, InputForm::kDelimited,
       "this looks like a single report, not a length-delimited stream: drop "
       "--delimited"},
      {json, InputForm::kDelimited,
       "this looks like JSON: did you mean encode --json?"},
      // Looking like what was expected, or like nothing: no hint.
      {"", InputForm::kBinary, ""},
      {"\x08\x80", InputForm::kBinary, ""},
      {json, InputForm::kJson, ""},
      {text, InputForm::kText, ""},
      {"\x0a\x80", InputForm::kDelimited, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LooksLike(*l3::RouteTableMsg::descriptor(), c.input, c.expected),
              c.hint)
        << testing::PrintToString(c.input);
  }
}

}  // namespace
}  // namespace ostrel::agg_l3
