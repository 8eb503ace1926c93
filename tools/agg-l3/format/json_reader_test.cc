#include "format/json_reader.h"

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
  for (const auto& entry : std::filesystem::directory_iterator(EXAMPLES_DIR)) {
    if (entry.path().extension() != ".txtpb") continue;
    std::ifstream file(entry.path());
    std::stringstream text;
    text << file.rdbuf();
    const std::string marker = "# proto-message: ";
    const size_t at = text.str().find(marker) + marker.size();
    reports.emplace_back(text.str().substr(at, text.str().find('\n', at) - at),
                         text.str());
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

// Inputs where the runtime's parser has a rule of its own; the reader must
// agree with it on each, accepting or refusing and reading the same.
TEST(ReadJson, AgreesWithTheRuntimeOnEdgeCases) {
  const struct {
    const char* type;
    std::string json;
  } kCases[] = {
      {"RouteEntryMsg", R"({"adminDistance": 5, "admin_distance": 6})"},
      {"RouteEntryMsg", R"({"AdminDistance": 5})"},
      {"RouteEntryMsg", R"({"admin_distance": "+5"})"},
      {"RouteEntryMsg", R"({"admin_distance": "05"})"},
      {"RouteEntryMsg", R"({"admin_distance": " 5"})"},
      {"RouteEntryMsg", R"({"admin_distance": "5.0"})"},
      {"RouteEntryMsg", R"({"admin_distance": "1e2"})"},
      {"RouteEntryMsg", R"({"admin_distance": 1e2})"},
      {"RouteEntryMsg", R"({"admin_distance": 100e-2})"},
      {"RouteEntryMsg", R"({"admin_distance": 1.5e1})"},
      {"RouteEntryMsg", R"({"admin_distance": -0.0})"},
      {"RouteEntryMsg", R"({"admin_distance": 5.5})"},
      {"RouteEntryMsg", R"({"admin_distance": -2147483648})"},
      {"RouteEntryMsg", R"({"admin_distance": true})"},
      {"RouteEntryMsg", R"({"admin_distance": 1, "admin_distance": null})"},
      {"RouteEntryMsg", R"({"admin_distance": [1]})"},
      {"RouteEntryMsg", R"({"admin_distance": {}})"},
      {"RouteEntryMsg", R"({"network": 5})"},
      {"RouteEntryMsg", R"({"network": "\u0000\/\ud83d\ude00"})"},
      {"RouteEntryMsg", R"({"network": "\ud800"})"},
      {"RouteEntryMsg", R"({"network": "\udc00"})"},
      {"RouteEntryMsg", R"({"network": "x",})"},
      {"RouteEntryMsg", R"({"lrouter_port_uuid": []})"},
      {"RouteEntryMsg", R"({"lrouter_port_uuid": 1})"},
      {"RouteEntryMsg", R"({"color": 1})"},
      {"RouteEntryMsg", R"({"": 1})"},
      {"RouteEntryMsg", R"({"zz": [{"": 1}]})"},
      {"RouteTableMsg", R"({"route": {"network": "a"}})"},
      {"RouteTableMsg", R"({"route": [{"network": "a"}, null, [[{}]]]})"},
      {"RouteTableMsg", R"({"route": [], "route": [{}], "route": null})"},
      {"RouteTableMsg", R"({"route": [1]})"},
      {"RouteTableMsg", R"({"route": [,]})"},
      {"RouteTableMsg", R"({"error": {"error_code": 1}, "error": {}})"},
      {"RouteTableMsg", R"({"error": {"error_code": -0}})"},
      {"RouteTableMsg", R"({"error": {"error_code": "-0"}})"},
      {"RouteTableMsg", R"({"error": {"error_code": 4294967296}})"},
      {"RouteTableMsg", R"({"timestamp": "9007199254740993"})"},
      {"RouteTableMsg", R"({"timestamp": -9223372036854775808})"},
      {"RouteTableMsg", R"({"timestamp": 9223372036854775808})"},
      {"RouteTableMsg", "[]"},
      {"RouteTableMsg", "null"},
      {"RouteTableMsg", ""},
      {"RouteTableMsg", "{} {}"},
      {"RouteTableMsg", std::string("{}\0", 3)},
      {"RouteTableMsg", "{,}"},
      {"BgpNeighborEntryMsg", R"({"bgp_connection_state": "IDLE"})"},
      {"BgpNeighborEntryMsg", R"({"bgpConnectionState": 1.0})"},
      {"BgpNeighborEntryMsg", R"({"bgp_connection_state": 99})"},
      {"BgpNeighborEntryMsg", R"({"bgp_connection_state": -1})"},
      {"BgpNeighborEntryMsg", R"({"bgp_connection_state": "1"})"},
      {"BgpNeighborEntryMsg", R"({"bgp_connection_state": "99"})"},
      {"BgpNeighborEntryMsg", R"({"bgp_connection_state": "idle"})"},
      {"BgpNeighborEntryMsg", R"({"bgp_connection_state": true})"},
      {"BgpNeighborEntryMsg", R"({"gracefull_restart": "true"})"},
      {"BgpNeighborEntryMsg", R"({"gracefull_restart": "N"})"},
      {"BgpNeighborEntryMsg", R"({"gracefull_restart": 1})"},
      {"BgpNeighborEntryMsg", R"({"hold_time": 18446744073709551615})"},
      {"BgpNeighborEntryMsg", R"({"hold_time": "18446744073709551615"})"},
      {"BgpNeighborEntryMsg", R"({"hold_time": 1e19})"},
      {"BgpNeighborEntryMsg", R"({"hold_time": -1})"},
      {"BgpNeighborEntryMsg",
       R"({"negotiated_capability_value": [["a"], null, "b"], "x": 1})"},
      {"BgpNeighborEntryMsg", R"({"negotiated_capability_value": "a"})"},
      {"EdgeNodeStatusMsg", R"({"r_await": 1.5, "w_await": "1.5"})"},
      {"EdgeNodeStatusMsg", R"({"r_await": "NaN", "w_await": "-Infinity"})"},
      {"EdgeNodeStatusMsg", R"({"r_await": "nan", "w_await": "inf"})"},
      {"EdgeNodeStatusMsg", R"({"r_await": "1e39"})"},
      {"EdgeNodeStatusMsg", R"({"r_await": "1e-50", "w_await": "1.5\n"})"},
      {"EdgeNodeStatusMsg", R"({"r_await": 3.4028235e38})"},
      {"EdgeNodeStatusMsg", R"({"r_await": 3.4028236e38})"},
      {"EdgeNodeStatusMsg", R"({"r_await": 16777217, "w_await": -0})"},
      {"EdgeNodeStatusMsg", R"({"r_await": 9007199254740993})"},
      {"EdgeNodeStatusMsg", R"({"r_await": -0.0, "w_await": "-0"})"},
      {"EdgeNodeStatusMsg", R"({"r_await": 1e-50, "w_await": 1e-400})"},
      {"EdgeNodeStatusMsg", R"({"r_await": 1e400})"},
  };
  for (const auto& c : kCases) {
    for (bool ignore_unknown : {false, true}) {
      ExpectSameAsRuntime(c.type, c.json, ignore_unknown);
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

// The errors, placed; first where the reader refuses what the runtime takes:
// numbers the runtime would round, an empty name (the runtime reads {"": {}}
// in a list's element as some other field), and text that is not JSON.
TEST(ReadJson, NamesWhereAndWhy) {
  const struct {
    const char* type;
    const char* json;
    const char* error;
  } kCases[] = {
      {"RouteTableMsg", R"({"timestamp": 9007199254740993.0})",
       "timestamp: 9007199254740993.0 is rounded when read as a double: "
       "write its digits"},
      {"RouteTableMsg", R"({"timestamp": 9.007199254740993e15})",
       "timestamp: 9.007199254740993e15 is rounded when read as a double: "
       "write its digits"},
      {"RouteTableMsg", R"({"timestamp": -9223372036854775809})",
       "timestamp: -9223372036854775809 is out of range for int64"},
      {"RouteTableMsg", R"({"timestamp": 1e400})",
       "line 1, column 15: Number too big to be stored in double."},
      {"RouteTableMsg", R"({"timestamp": 1e300})",
       "timestamp: 1e300 is out of range for int64"},
      {"RouteTableMsg", R"({"route": [{}, {"admin_distance": 2147483648}]})",
       "route[1].admin_distance: 2147483648 is out of range for int32"},
      {"BgpNeighborEntryMsg", R"({"hold_time": 18446744073709551616})",
       "hold_time: 18446744073709551616 is out of range for uint64"},
      {"BgpNeighborEntryMsg", R"({"hold_time": 1.8446744073709552e19})",
       "hold_time: 1.8446744073709552e19 is out of range for uint64"},
      {"OspfDatabaseMsg", R"({"ospf_database": [{"": {}}]})",
       "ospf_database[0].\"\": an empty name names no field"},
      {"BgpNeighborEntryMsg", R"({"hold_time": 1e-400})",
       "hold_time: 1e-400 is not an integer"},
      {"RouteTableMsg", "{\n  \"lrouter_id\": 'x'}",
       "line 2, column 17: Invalid value."},
      {"RouteTableMsg", "{lrouter_id: \"x\"}",
       "line 1, column 2: Missing a name for object member."},
      {"RouteTableMsg", "{\"timestamp\": 0e400}",
       "line 1, column 15: Number too big to be stored in double."},
      {"RouteTableMsg", "\f{}", "line 1, column 1: Invalid value."},
      {"RouteTableMsg", "{\"timestamp\": 5.}",
       "line 1, column 17: Miss fraction part in number."},
      {"RouteTableMsg", "{\"lrouter_id\": \"a\tb\"}",
       "line 1, column 18: Invalid escape character in string."},
      // The errors every reading gives, placed.
      {"RouteTableMsg", "{\n\n  \"route\": [{\"network\": 1}]}",
       "route[0].network: 1 is no value for string"},
      {"RouteTableMsg", "{\"route\": [{}, {\"colour\": 1}]}",
       "route[1].colour: RouteEntryMsg has no such field"},
      {"RouteTableMsg", "{\n  \"route\": [\n    {},\n    {\"network\" \"x\"}]}",
       "line 4, column 16: Missing a colon after a name of object member."},
      {"RouteTableMsg", "{\"route\": [\n{}\n",
       "line 3, column 1: Missing a comma or ']' after "
       "an array element."},
      {"RouteTableMsg", "[1]", "line 1, column 1: expected a JSON object"},
      {"RouteTableMsg", "{\"lrouter_uuid\": {\"x\": {}}}",
       "lrouter_uuid.x: UuidMsg has no such field"},
  };
  for (const auto& c : kCases) {
    for (int chunk : {0, 1}) {
      EXPECT_EQ(Ours(c.type, c.json, false, chunk).error, c.error) << c.json;
    }
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
