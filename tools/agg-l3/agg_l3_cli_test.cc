// Runs the built agg-l3 as its users do: through a shell, on the shipped
// examples and on crafted input, judging exit status, standard output and
// standard error.

#include <gmock/gmock.h>
#include <google/protobuf/compiler/parser.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report_codec.h"
#include "version.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string Read(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

void Write(const fs::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

struct Result {
  int exit_code;
  std::string out;
  std::string err;
};

class AggL3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "agg-l3.XXXXXX");
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // `args` is shell text: tests quote what needs quoting.
  Result Run(const std::string& args, const std::string& input = "") {
    Write(dir_ / "stdin", input);
    const std::string command =
        std::string(AGG_L3) + " " + args + " <" + (dir_ / "stdin").string() +
        " >" + (dir_ / "stdout").string() + " 2>" + (dir_ / "stderr").string();
    const int status = std::system(command.c_str());
    Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                  Read(dir_ / "stdout"), Read(dir_ / "stderr")};
    fs::remove(dir_ / "stdin");
    fs::remove(dir_ / "stdout");
    fs::remove(dir_ / "stderr");
    return result;
  }

  fs::path dir_;
};

struct Example {
  fs::path text;
  std::string type;
};

std::vector<Example> Examples() {
  std::vector<Example> examples;
  for (const auto& entry : fs::directory_iterator(EXAMPLES_DIR)) {
    if (entry.path().extension() != ".txtpb") continue;
    const std::string text = Read(entry.path());
    const std::string header = "# proto-message: ";
    const size_t at = text.find(header) + header.size();
    examples.push_back(
        {entry.path(), text.substr(at, text.find('\n', at) - at)});
  }
  return examples;
}

std::string WithoutComments(const std::string& text) {
  std::istringstream lines(text);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("#", 0) != 0) kept += line + "\n";
  }
  return kept;
}

TEST_F(AggL3Test, ExamplesRoundTripThroughBinaryTextAndJson) {
  const std::vector<Example> examples = Examples();
  ASSERT_EQ(examples.size(), 6u);
  for (const Example& example : examples) {
    SCOPED_TRACE(example.text.filename().string());
    const std::string stem = example.text.stem().string();
    const fs::path binary = dir_ / (stem + ".bin");
    const fs::path golden_json = fs::path(TESTDATA_DIR) / (stem + ".json");

    Result result = Run("encode " + example.type + " " + example.text.string() +
                        " -o " + binary.string());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out + result.err, "");

    result = Run("decode " + example.type + " " + binary.string());
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, WithoutComments(Read(example.text)));

    result = Run("decode --json " + example.type, Read(binary));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, Read(golden_json));
    EXPECT_EQ(result.err, "");

    result = Run("encode --json " + example.type + " " + golden_json.string());
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(result.out == Read(binary)) << "JSON and text encode apart";

    result = Run("check " + example.type + " " + binary.string());
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, binary.string() + ": a well-formed " + example.type +
                              ", nothing in it unknown to this schema\n");
  }
}

TEST_F(AggL3Test, TypesListsTheMessagesOrTheEnumerations) {
  const Result types = Run("types");
  EXPECT_EQ(types.exit_code, 0);
  EXPECT_EQ(types.out, Read(fs::path(TESTDATA_DIR) / "types.txt"));
  const Result enums = Run("types --enums");
  EXPECT_EQ(enums.exit_code, 0);
  EXPECT_EQ(enums.out, Read(fs::path(TESTDATA_DIR) / "enums.txt"));
}

class CollectErrors : public google::protobuf::io::ErrorCollector {
 public:
  void AddError(int line, google::protobuf::io::ColumnNumber column,
                const std::string& message) override {
    errors += std::to_string(line + 1) + ":" + std::to_string(column + 1) +
              ": " + message + "\n";
  }
  std::string errors;
};

TEST_F(AggL3Test, SchemaPrintsProtoTextOfTheRegisteredFile) {
  const Result result = Run("schema");
  ASSERT_EQ(result.exit_code, 0);

  google::protobuf::io::ArrayInputStream input(
      result.out.data(), static_cast<int>(result.out.size()));
  CollectErrors errors;
  google::protobuf::io::Tokenizer tokenizer(&input, &errors);
  google::protobuf::FileDescriptorProto printed;
  google::protobuf::compiler::Parser parser;
  parser.RecordErrorsTo(&errors);
  ASSERT_TRUE(parser.Parse(&tokenizer, &printed)) << errors.errors;

  // Parsed text names types as written; building resolves them, so the
  // rebuilt file compares with the registered one field for field.
  const google::protobuf::FileDescriptor& schema = ostrel::agg_l3::SchemaFile();
  google::protobuf::DescriptorPool pool;
  for (int i = 0; i < schema.dependency_count(); ++i) {
    google::protobuf::FileDescriptorProto dependency;
    schema.dependency(i)->CopyTo(&dependency);
    ASSERT_NE(pool.BuildFile(dependency), nullptr);
  }
  printed.set_name(schema.name());
  const google::protobuf::FileDescriptor* rebuilt = pool.BuildFile(printed);
  ASSERT_NE(rebuilt, nullptr);

  google::protobuf::FileDescriptorProto rebuilt_proto;
  rebuilt->CopyTo(&rebuilt_proto);
  google::protobuf::FileDescriptorProto registered;
  schema.CopyTo(&registered);
  std::string differences;
  google::protobuf::util::MessageDifferencer differencer;
  differencer.ReportDifferencesToString(&differences);
  EXPECT_TRUE(differencer.Compare(rebuilt_proto, registered)) << differences;
}

// Bytes a newer producer adds to the edge cluster example: the node's
// status takes a value this schema lacks (self.status = 5), a field 4
// appears, and `peer` (field 2) arrives once as a varint.
constexpr char kNewerRecords[] = "\x0a\x02\x10\x05\x20\x01\x10\x07";

TEST_F(AggL3Test, CheckListsDriftWithPathsAndDecodeKeepsIt) {
  const fs::path example = fs::path(EXAMPLES_DIR) / "edge_cluster_status.txtpb";
  const Result encoded = Run("encode EdgeClusterStatusMsg " + example.string());
  ASSERT_EQ(encoded.exit_code, 0) << encoded.err;
  const std::string newer = encoded.out + kNewerRecords;
  const size_t at = encoded.out.size();

  const Result check = Run("check EdgeClusterStatusMsg", newer);
  EXPECT_EQ(check.exit_code, 1) << check.err;
  EXPECT_EQ(check.out,
            "<stdin>: a well-formed EdgeClusterStatusMsg with 3 records this "
            "schema does not know:\n"
            "  self.status: field 2 value 5 rejected by enumeration "
            "EdgeNodeStatusEnum at byte " +
                std::to_string(at + 2) +
                "\n"
                "  4: unknown field 4 (varint 1) at byte " +
                std::to_string(at + 4) +
                "\n"
                "  peer: field 2 as varint 7 where the schema has "
                "length-delimited at byte " +
                std::to_string(at + 6) + "\n");

  const Result text = Run("decode EdgeClusterStatusMsg", newer);
  EXPECT_EQ(text.exit_code, 0);
  EXPECT_THAT(text.out, HasSubstr("  2: 5\n}\n"));
  EXPECT_THAT(text.out, HasSubstr("\n4: 1\n2: 7\n"));

  const Result json = Run("decode --json EdgeClusterStatusMsg", newer);
  EXPECT_EQ(json.exit_code, 0);
  EXPECT_THAT(json.err, StartsWith("agg-l3: warning: JSON has no place"));
  EXPECT_THAT(json.err, HasSubstr("  4: unknown field 4 (varint 1)"));
}

struct BadInputCase {
  std::string name;
  std::string args;
  std::string input;
  int exit_code;
  std::string message;
};

void PrintTo(const BadInputCase& c, std::ostream* os) { *os << c.name; }

class BadInputTest : public AggL3Test,
                     public ::testing::WithParamInterface<BadInputCase> {};

TEST_P(BadInputTest, ExitsWithAMessageAndNoOutput) {
  const BadInputCase& c = GetParam();
  const Result result = Run(c.args, c.input);
  EXPECT_EQ(result.exit_code, c.exit_code);
  EXPECT_THAT(result.err, HasSubstr(c.message));
  EXPECT_EQ(result.out, "");
}

// A route table whose one route is cut short after 9 of its 16 bytes.
constexpr char kTruncatedRoutes[] =
    "\x0a\x05t0-gw\x22\x10\x12\x0c"
    "10.20.1";

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadInputTest,
    ::testing::Values(
        BadInputCase{"DecodeTruncated", "decode RouteTableMsg",
                     kTruncatedRoutes, 2,
                     "agg-l3: <stdin> is not a well-formed RouteTableMsg: at "
                     "byte 8 in route[0]: length 16 overruns the 9 bytes "
                     "left\n"},
        BadInputCase{"CheckTruncated", "check RouteTableMsg", kTruncatedRoutes,
                     2, "is not a well-formed RouteTableMsg: at byte 8"},
        BadInputCase{"DecodeGarbage", "decode BgpNeighborMsg",
                     "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 2,
                     "is not a well-formed BgpNeighborMsg: at byte 0: tag "
                     "longer than 5 bytes"},
        BadInputCase{"EncodeTextSyntax", "encode RouteTableMsg",
                     "lrouter_id: \"t0-gw\"\nroute {\n  network: 5\n}\n", 2,
                     "agg-l3: <stdin> is not a RouteTableMsg in text format: "
                     "line 3, column 12: Expected string"},
        BadInputCase{"UnknownType", "decode RouteTabelMsg", "", 3,
                     "no message type 'RouteTabelMsg' in "
                     "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto; "
                     "closest: RouteTableMsg, "},
        BadInputCase{"MissingFile", "check RouteTableMsg /nonexistent/r.bin",
                     "", 3, "File does not exist: /nonexistent/r.bin"},
        BadInputCase{"UnwritableOutput",
                     "encode RouteTableMsg -o /nonexistent/r.bin",
                     "lrouter_id: \"t0-gw\"", 3,
                     "agg-l3: cannot write /nonexistent/r.bin: No such file"},
        BadInputCase{"NoCommand", "", "", 3, "A subcommand is required"}),
    [](const auto& test) { return test.param.name; });

TEST_F(AggL3Test, OutputFileIsReplacedWholeOrNotAtAll) {
  const fs::path output = dir_ / "report.bin";
  Write(output, "old");
  ASSERT_EQ(chmod(output.c_str(), 0640), 0);

  Result result = Run("encode RouteTableMsg -o " + output.string(),
                      "lrouter_id: \"t0-gw\"\nroute { network: }\n");
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_EQ(Read(output), "old");

  result = Run("encode RouteTableMsg -o " + output.string(),
               "lrouter_id: \"t0-gw\"\n");
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Read(output), "\x0a\x05t0-gw");
  EXPECT_EQ(fs::status(output).permissions(), fs::perms::owner_read |
                                                  fs::perms::owner_write |
                                                  fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1)
      << "a temporary file was left behind";
}

TEST_F(AggL3Test, EveryCommandHasHelp) {
  for (const std::string command :
       {"", "types", "schema", "decode", "encode", "check"}) {
    const Result result = Run(command + " --help");
    EXPECT_EQ(result.exit_code, 0) << command;
    EXPECT_THAT(result.out, HasSubstr("Usage: agg-l3 " + command)) << command;
  }
}

TEST_F(AggL3Test, DashIsStandardInputOrOutput) {
  const std::string text = "lrouter_id: \"t0-gw\"\nroute { network: \"n\" }\n";
  const std::string binary = Run("encode RouteTableMsg", text).out;
  ASSERT_FALSE(binary.empty());
  Write(dir_ / "lines", Run("decode RouteTableMsg --each route", binary).out);
  const struct {
    std::string with_dash, without;
    const std::string& input;
  } cases[] = {
      {"encode RouteTableMsg - -o -", "encode RouteTableMsg", text},
      {"decode RouteTableMsg -", "decode RouteTableMsg", binary},
      {"decode RouteTableMsg --each route - -o -",
       "decode RouteTableMsg --each route", binary},
      {"encode RouteTableMsg --each route -",
       "encode RouteTableMsg --each route " + (dir_ / "lines").string(), ""},
      {"check RouteTableMsg -", "check RouteTableMsg", binary},
  };
  for (const auto& c : cases) {
    const Result with_dash =
        Run(c.with_dash, c.input.empty() ? Read(dir_ / "lines") : c.input);
    const Result without = Run(c.without, c.input);
    EXPECT_EQ(with_dash.exit_code, 0) << c.with_dash << ": " << with_dash.err;
    EXPECT_EQ(with_dash.out, without.out) << c.with_dash;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1)
      << "a file named - was written";
}

TEST_F(AggL3Test, VersionNamesToolSchemaDescriptionAndRuntime) {
  const google::protobuf::FileDescriptor& schema = ostrel::agg_l3::SchemaFile();
  google::protobuf::FileDescriptorProto registered;
  schema.CopyTo(&registered);
  const Result result = Run("--version");
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_THAT(
      result.out,
      StartsWith("agg-l3 " AGG_L3_VERSION "\nschema " + schema.name() +
                 ": 58 message types, description sha256 " +
                 ostrel::agg_l3::Sha256Hex(registered.SerializeAsString()) +
                 "\nprotobuf 3.21."));
  EXPECT_THAT(result.out, ::testing::MatchesRegex(
                              ".*, runtime /.*/libprotobuf\\.so\\.[0-9.]+\n"));

  // Standard output that cannot take the text is a failure.
  const std::string full = std::string(AGG_L3) + " --version >/dev/full";
  EXPECT_NE(std::system(full.c_str()), 0);
}

TEST(Sha256HexTest, KnownAnswers) {
  EXPECT_EQ(ostrel::agg_l3::Sha256Hex(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(ostrel::agg_l3::Sha256Hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
