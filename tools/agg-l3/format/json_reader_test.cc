#include "format/json_reader.h"

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>
#include <gtest/gtest.h>

#include "wire_vectors.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Message;

struct Outcome {
  bool ok;
  std::string bytes;  // when ok
  std::string error;
};

Outcome Runtime(std::string_view type, const std::string& json,
                bool ignore_unknown = false) {
  std::unique_ptr<Message> message = testdata::NewMessage(type);
  google::protobuf::util::JsonParseOptions options;
  options.ignore_unknown_fields = ignore_unknown;
  const auto status =
      google::protobuf::util::JsonStringToMessage(json, message.get(), options);
  return {status.ok(), message->SerializeAsString(),
          status.message().ToString()};
}

// Read from chunks of `chunk` bytes, or all at once when 0.
Outcome Ours(std::string_view type, const std::string& json,
             bool ignore_unknown = false, int chunk = 0,
             std::vector<std::string>* skipped = nullptr) {
  std::unique_ptr<Message> message = testdata::NewMessage(type);
  JsonReadOptions options;
  options.ignore_unknown_fields = ignore_unknown;
  Status status;
  if (chunk == 0) {
    status = ReadJson(json, message.get(), options, skipped);
  } else {
    google::protobuf::io::ArrayInputStream input(
        json.data(), static_cast<int>(json.size()), chunk);
    status = ReadJson(&input, message.get(), options, skipped);
  }
  return {status.ok(), message->SerializeAsString(), status.message()};
}

void ExpectSameAsRuntime(std::string_view type, const std::string& json,
                         bool ignore_unknown = false) {
  const Outcome runtime = Runtime(type, json, ignore_unknown);
  for (int chunk : {0, 1}) {
    const Outcome ours = Ours(type, json, ignore_unknown, chunk);
    EXPECT_EQ(ours.ok, runtime.ok)
        << type << " " << json << "\nours: " << ours.error
        << "\nruntime: " << runtime.error;
    if (ours.ok && runtime.ok) EXPECT_EQ(ours.bytes, runtime.bytes) << json;
  }
}

// Every message type with every field set, and the shipped examples, as the
// runtime prints them, with either spelling of the names.
TEST(ReadJson, ReadsWhatTheRuntimePrintsAsTheRuntimeDoes) {
  std::vector<std::pair<std::string, std::string>> reports;  // type, text
  for (const auto& vector : testdata::EveryFieldVectors()) {
    reports.emplace_back(vector.type, vector.text);
  }
  for (const testdata::Example& example : testdata::Examples()) {
    reports.emplace_back(example.type, example.text);
  }
  ASSERT_GT(reports.size(), 60u);
  for (const auto& [type, text] : reports) {
    std::unique_ptr<Message> message = testdata::NewMessage(type);
    ASSERT_TRUE(
        google::protobuf::TextFormat::ParseFromString(text, message.get()))
        << type;
    for (bool original_names : {false, true}) {
      google::protobuf::util::JsonPrintOptions print;
      print.preserve_proto_field_names = original_names;
      print.add_whitespace = original_names;
      std::string json;
      ASSERT_TRUE(
          google::protobuf::util::MessageToJsonString(*message, &json, print)
              .ok());
      const Outcome ours = Ours(type, json);
      ASSERT_TRUE(ours.ok) << type << ": " << ours.error;
      EXPECT_EQ(ours.bytes, message->SerializeAsString()) << type;
    }
  }
}

struct Case {
  std::string kind, type, json, error;
};

// The cases of testdata/json_reader_cases.txt, as its header describes them.
std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const testdata::Case& c :
       testdata::ReadCases(TESTDATA_DIR "/json_reader_cases.txt")) {
    cases.push_back(
        {c.head.at(0), c.head.at(1), c.Joined("json"), c.Joined("error")});
  }
  return cases;
}

// Where the runtime's parser has a rule of its own, the reader agrees with
// it, accepting or refusing and reading the same; where the reader refuses,
// it names where and why.
TEST(ReadJson, AgreesWithTheRuntimeOrNamesWhereAndWhy) {
  std::vector<Case> cases = Cases();
  ASSERT_GT(cases.size(), 90u);
  // What a line of text cannot hold.
  cases.push_back({"agree", "RouteTableMsg", std::string("{}\0", 3), ""});
  cases.push_back(
      {"error", "RouteTableMsg", "\f{}", "line 1, column 1: Invalid value."});
  cases.push_back({"error", "RouteTableMsg", "{\"lrouter_id\": \"a\tb\"}",
                   "line 1, column 18: Invalid escape character in string."});
  for (const Case& c : cases) {
    if (c.kind == "agree") {
      ExpectSameAsRuntime(c.type, c.json, false);
      ExpectSameAsRuntime(c.type, c.json, true);
      continue;
    }
    for (int chunk : {0, 1}) {
      EXPECT_EQ(Ours(c.type, c.json, false, chunk).error, c.error) << c.json;
    }
  }
  // Depth: the runtime takes 100 nested objects, not 101; lists are free.
  for (int depth : {99, 100}) {
    std::string json = R"({"x": )";
    for (int i = 0; i < depth; ++i) json += R"({"x": )";
    json += std::string(200, '[') + std::string(200, ']');
    json += std::string(depth + 1, '}');
    ExpectSameAsRuntime("RouteTableMsg", json, true);
  }
}

TEST(ReadJson, ListsEachSkippedNameOnce) {
  std::vector<std::string> skipped;
  const Outcome ours = Ours("RouteTableMsg",
                            R"({"route": [{"color": {"deep": [1]}, "network":
                            "a"}, {"color": 2}], "zz": null, "lrouter_id": "r",
                            "lrouterUuid": {"v": 1}})",
                            true, 0, &skipped);
  ASSERT_TRUE(ours.ok) << ours.error;
  EXPECT_EQ(skipped, (std::vector<std::string>{"lrouter_uuid.v",
                                               "route[].color", "zz"}));
}

}  // namespace
}  // namespace ostrel::agg_l3
