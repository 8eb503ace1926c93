// Runs the built agg-l3 diff on crafted report pairs: exit statuses, lines,
// JSON lines parsed back.

#include <gmock/gmock.h>
#include <google/protobuf/struct.pb.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/delimited_message_util.h>
#include <google/protobuf/util/json_util.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace {

namespace fs = std::filesystem;
namespace l3 = ::ostrel::ruk::agg_service::l3;
using ::testing::HasSubstr;

std::string Read(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

struct Result {
  int exit_code;
  std::string out;
  std::string err;
};

class DiffCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "agg-l3-diff.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes the route table given as text format, plus `tail` bytes.
  std::string Routes(const std::string& name, const std::string& text,
                     const std::string& tail = "") {
    l3::RouteTableMsg table;
    EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(text, &table));
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << table.SerializeAsString() + tail;
    return path;
  }

  // Writes the route tables as a length-delimited log, `cut` bytes short.
  std::string Log(const std::string& name,
                  const std::vector<const char*>& texts, size_t cut = 0) {
    std::string bytes;
    for (const char* text : texts) {
      l3::RouteTableMsg table;
      EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(text, &table));
      google::protobuf::io::StringOutputStream out(&bytes);
      EXPECT_TRUE(google::protobuf::util::SerializeDelimitedToZeroCopyStream(
          table, &out));
    }
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        << bytes.substr(0, bytes.size() - cut);
    return path;
  }

  Result Run(const std::string& args) {
    const std::string command = std::string(AGG_L3) + " " + args + " >" +
                                (dir_ / "out").string() + " 2>" +
                                (dir_ / "err").string();
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read(dir_ / "out"),
            Read(dir_ / "err")};
  }

  // One run of `command` + args: its exit status, its standard output
  // ("?": not checked) and a part of its standard error.
  struct Case {
    std::string args;
    int exit_code;
    std::string out;
    std::string err;
  };
  template <size_t N>
  void Expect(const std::string& command, const Case (&cases)[N]) {
    for (const Case& c : cases) {
      const Result result = Run(command + " " + c.args);
      EXPECT_EQ(result.exit_code, c.exit_code) << c.args << "\n" << result.err;
      if (c.out != "?") EXPECT_EQ(result.out, c.out) << c.args;
      EXPECT_THAT(result.err, HasSubstr(c.err)) << c.args;
    }
  }

  fs::path dir_;
};

const char kOld[] = R"(timestamp: 1
  route { network: "10.1.0.0/16" next_hop: "192.0.2.1" admin_distance: 20 }
  route { network: "10.2.0.0/16" next_hop: "192.0.2.1" })";
const char kNew[] = R"(timestamp: 2
  route { network: "10.2.0.0/16" next_hop: "192.0.2.1" }
  route { network: "10.1.0.0/16" next_hop: "192.0.2.1" admin_distance: 1 })";

// Logs are compared record by record, each line naming its record; a record
// only one log has is named by its router too. gzip is read as it is.
TEST_F(DiffCliTest, DelimitedLogsRecordByRecord) {
  const std::string old_log = Log("old.log", {kOld, kOld});
  const std::string new_log = Log("new.log", {kOld, kNew,
                                              R"(lrouter_id: "r1" lrouter_uuid {
                           left: 4552182777004425216 right: 42 })"});
  const std::string cut_log = Log("cut.log", {kOld, kNew}, 3);
  ASSERT_EQ(std::system(("gzip -k " + new_log).c_str()), 0);
  const std::string changes =
      "record 2: changed route[network=10.1.0.0/16, next_hop=192.0.2.1]"
      ".admin_distance: 20 -> 1\nrecord 2: changed timestamp: 1 -> 2\n";
  const std::string router =
      "(lrouter_id=r1, lrouter_uuid=3f2c9a1e-0000-0000-0000-00000000002a)\n";
  const Case cases[] = {
      {old_log + " " + old_log, 0, "", ""},
      {old_log + " " + new_log, 1, changes + "added record 3 " + router, ""},
      {old_log + " " + new_log + ".gz", 1, changes + "added record 3 " + router,
       ""},
      {"--json " + new_log + " " + old_log, 1,
       "{\"record\":2,\"path\":\"route[network=10.1.0.0/16, "
       "next_hop=192.0.2.1].admin_distance\",\"kind\":\"changed\",\"old\":1,"
       "\"new\":20,\"steps\":[{\"field\":\"route\",\"key\":{\"network\":"
       "\"10.1.0.0/16\",\"next_hop\":\"192.0.2.1\"}},{\"field\":"
       "\"admin_distance\"}]}\n{\"record\":2,\"path\":\"timestamp\",\"kind\":"
       "\"changed\",\"old\":\"2\",\"new\":\"1\",\"steps\":[{\"field\":"
       "\"timestamp\"}]}\n{\"record\":3,\"kind\":\"removed\",\"key\":{"
       "\"lrouter_id\":\"r1\",\"lrouter_uuid\":\"3f2c9a1e-0000-0000-0000-"
       "00000000002a\"}}\n",
       ""},
      // A cut last record: the differences before it, then where.
      {old_log + " " + cut_log, 2, "?", cut_log + ": record 2"},
      // A report given as a log says what it looks like.
      {Routes("whole", kOld) + " " + old_log, 2, "?",
       "this looks like a single report, not a length-delimited stream"},
  };
  Expect("diff --delimited RouteTableMsg", cases);
}

TEST_F(DiffCliTest, ExitStatusLikeDiff) {
  const std::string old_file = Routes("old", kOld);
  const std::string new_file = Routes("new", kNew);
  const std::string truncated = Routes("truncated", kNew, "\x22\x05\x0a");
  const Case cases[] = {
      {old_file + " " + old_file, 0, "", ""},
      {old_file + " " + new_file, 1,
       "changed route[network=10.1.0.0/16, next_hop=192.0.2.1]"
       ".admin_distance: 20 -> 1\nchanged timestamp: 1 -> 2\n",
       ""},
      {"--color=always --ignore timestamp " + old_file + " " + new_file, 1,
       "\033[33mchanged\033[m route[network=10.1.0.0/16, "
       "next_hop=192.0.2.1].admin_distance: 20 -> 1\n",
       ""},
      {"--summary " + old_file + " " + new_file, 1,
       "route: 1 changed\ntimestamp: 1 changed\n", ""},
      // -q stops at the first difference, so a fault after it goes unread;
      // one before it is found.
      {"-q " + old_file + " " + truncated, 1, "", ""},
      {"-q " + truncated + " " + new_file, 2, "", truncated + ": "},
      {"--key route= " + old_file + " " + new_file, 1,
       "changed route[0].network: \"10.1.0.0/16\" -> \"10.2.0.0/16\"\n"
       "removed route[0].admin_distance: 20\n"
       "changed route[1].network: \"10.2.0.0/16\" -> \"10.1.0.0/16\"\n"
       "added route[1].admin_distance: 1\n"
       "changed timestamp: 1 -> 2\n",
       ""},
      // Differences are printed as they are found, up to the fault.
      {old_file + " " + truncated, 2,
       "changed route[network=10.1.0.0/16, next_hop=192.0.2.1]"
       ".admin_distance: 20 -> 1\n",
       truncated + ": RouteTableMsg: element 2 of route at byte"},
      {old_file, 3, "", "NEW is required"},
      {old_file + " " + new_file + " --key route=metric", 3, "",
       "no singular field metric in RouteEntryMsg"},
      {old_file + " " + (dir_ / "missing").string(), 3, "", "missing"},
  };
  Expect("diff RouteTableMsg", cases);
  EXPECT_EQ(Run("diff RouteTableMsg - " + new_file + " <" + old_file).exit_code,
            1);
  EXPECT_EQ(Run("diff RouteTableMsg " + new_file + " - <" + new_file).exit_code,
            0);
  EXPECT_EQ(Run("diff RouteTableMsg - - <" + new_file).exit_code, 3);
  const Result keys = Run("diff --keys EdgeClusterStatusMsg");
  EXPECT_EQ(keys.exit_code, 0);
  EXPECT_THAT(keys.out, HasSubstr("peer.vtep_bfd local_ip.address,"));
}

TEST_F(DiffCliTest, JsonLinesParseBack) {
  const Result result = Run("diff RouteTableMsg --json " + Routes("old", kOld) +
                            " " + Routes("new", kOld + std::string(R"(
                              route { network: "10.3.0.0/16" }
                              lrouter_id: "new\n\"id\"")")));
  ASSERT_EQ(result.exit_code, 1) << result.err;
  std::vector<google::protobuf::Struct> lines;
  std::istringstream out(result.out);
  for (std::string line; std::getline(out, line);) {
    lines.emplace_back();
    ASSERT_TRUE(
        google::protobuf::util::JsonStringToMessage(line, &lines.back()).ok())
        << line;
  }
  ASSERT_EQ(lines.size(), 2u);
  const auto& added = lines[0].fields();
  EXPECT_EQ(added.at("path").string_value(), "route[network=10.3.0.0/16]");
  EXPECT_EQ(added.at("kind").string_value(), "added");
  EXPECT_EQ(
      added.at("new").struct_value().fields().at("network").string_value(),
      "10.3.0.0/16");
  EXPECT_EQ(added.count("old"), 0u);
  const auto& id = lines[1].fields();
  EXPECT_EQ(id.at("path").string_value(), "lrouter_id");
  EXPECT_EQ(id.at("new").string_value(), "new\n\"id\"");

  // A string JSON cannot hold is left out, and the exit status says so.
  const Result loss =
      Run("diff RouteTableMsg --json " + Routes("old", kOld) + " " +
          Routes("new", kOld + std::string("lrouter_id: \"\\377\"")));
  EXPECT_EQ(loss.exit_code, 4);
  EXPECT_EQ(loss.out, "");
  EXPECT_THAT(loss.err, HasSubstr("\n  lrouter_id: not UTF-8 from its byte 0"));
}

}  // namespace
