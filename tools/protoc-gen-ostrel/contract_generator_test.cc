#include "contract_generator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ostrel::protoc_gen {
namespace {

TEST(FileIdentifier, EscapesEverythingButLettersAndDigits) {
  const struct {
    const char* file;
    const char* id;
  } cases[] = {
      {"ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto",
       "ostrel_2fruk_2fagg_5fservice_2fl3_2fagg_5fsvc_5fl3_5fmsg_2eproto"},
      {"ostrel/ruk/core_types.proto", "ostrel_2fruk_2fcore_5ftypes_2eproto"},
      {"A-Z 09.proto", "A_2dZ_2009_2eproto"},
      {"\xff", "_ff"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileIdentifier(c.file), c.id) << c.file;
  }
}

std::vector<std::string> Lines(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs protoc's own C++ generator and the plugin on our largest schema: the
// plugin's output must be protoc's, line for line, with only insertions.
TEST(ContractGenerator, AddsToProtocsOutputAndChangesNothing) {
  const std::filesystem::path work =
      std::filesystem::temp_directory_path() / "contract_generator_test";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work / "plain");
  std::filesystem::create_directories(work / "ours");
  const std::string proto = "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto";
  const std::string protoc = std::string(PROTOC) + " -I" + PROTO_DIR + " ";
  ASSERT_EQ(std::system((protoc + "--cpp_out=" + (work / "plain").string() +
                         " " + proto)
                            .c_str()),
            0);
  ASSERT_EQ(
      std::system((protoc + "--plugin=protoc-gen-ostrel=" + PLUGIN +
                   " --ostrel_out=" + (work / "ours").string() + " " + proto)
                      .c_str()),
      0);

  for (const char* suffix : {".pb.h", ".pb.cc"}) {
    const std::string file =
        "ostrel/ruk/agg_service/l3/agg_svc_l3_msg" + std::string(suffix);
    const std::vector<std::string> plain = Lines(work / "plain" / file);
    const std::vector<std::string> ours = Lines(work / "ours" / file);
    ASSERT_GT(plain.size(), 1000u) << file;
    size_t next = 0;
    std::ostringstream inserted;
    for (const std::string& line : ours) {
      if (next < plain.size() && line == plain[next]) {
        ++next;
      } else {
        inserted << line << "\n";
      }
    }
    EXPECT_EQ(next, plain.size())
        << file << ": protoc's line " << next + 1 << " is missing or changed: "
        << plain[std::min(next, plain.size() - 1)];
    const std::string added = inserted.str();
    const auto count = [&added](const std::string& what) {
      size_t n = 0;
      for (size_t at = 0; (at = added.find(what, at)) != std::string::npos;
           ++at) {
        ++n;
      }
      return n;
    };
    if (std::string(suffix) == ".pb.cc") {
      EXPECT_EQ(count("CHECK failed: (&from) != (this): "), 58u);
      EXPECT_EQ(count("void protobuf_AddDesc_"), 1u);
    } else {
      EXPECT_EQ(count("int ByteSize() const"), 58u);
      EXPECT_EQ(count("#pragma push_macro(\"assert\")"), 16u);
      EXPECT_EQ(count("#pragma pop_macro(\"assert\")"), 16u);
      EXPECT_EQ(count(".Release();"), 69u);  // one per singular string
    }
  }
  std::filesystem::remove_all(work);
}

}  // namespace
}  // namespace ostrel::protoc_gen
