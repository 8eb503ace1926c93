// Runs the built agg-l3 as its users do: through a shell, on the shipped
// examples and on crafted input, judging exit status, standard output and
// standard error.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <google/protobuf/compiler/parser.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/util/json_util.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "format/report_codec.h"
#include "version.h"
#include "wire_vectors.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr int kJsonCannotHold = 4;

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
    Result result = Shell("agg-l3 " + args + " <" + (dir_ / "stdin").string());
    fs::remove(dir_ / "stdin");
    return result;
  }

  // Runs shell text in which "agg-l3" stands for the tool, capturing its
  // output; the exit code of a command ended by a signal is -1.
  Result Shell(std::string command) {
    const std::string tool = AGG_L3;
    for (size_t at = 0; (at = command.find("agg-l3 ", at)) != std::string::npos;
         at += tool.size()) {
      command.replace(at, 6, tool);
    }
    const std::string redirected = "{ " + command + "\n} >" +
                                   (dir_ / "stdout").string() + " 2>" +
                                   (dir_ / "stderr").string();
    const int status = std::system(redirected.c_str());
    Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                  Read(dir_ / "stdout"), Read(dir_ / "stderr")};
    fs::remove(dir_ / "stdout");
    fs::remove(dir_ / "stderr");
    return result;
  }

  fs::path dir_;
};

std::string WithoutComments(const std::string& text) {
  std::istringstream lines(text);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("#", 0) != 0) kept += line + "\n";
  }
  return kept;
}

TEST_F(AggL3Test, ExamplesRoundTripThroughBinaryTextAndJson) {
  const auto& examples = ostrel::testdata::Examples();
  ASSERT_EQ(examples.size(), 6u);
  for (const ostrel::testdata::Example& example : examples) {
    SCOPED_TRACE(example.path);
    const std::string stem = fs::path(example.path).stem().string();
    const fs::path binary = dir_ / (stem + ".bin");
    const fs::path golden_json = fs::path(TESTDATA_DIR) / (stem + ".json");

    Result result = Run("encode " + example.type + " " + example.path + " -o " +
                        binary.string());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out + result.err, "");

    result = Run("decode " + example.type + " " + binary.string());
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, WithoutComments(example.text));

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

// Each file `schema` prints, after the line naming it, is .proto text that
// builds into the registered file, and keeps every comment of its source.
TEST_F(AggL3Test, SchemaPrintsTheRegisteredFilesWithTheirComments) {
  const Result result = Run("schema");
  ASSERT_EQ(result.exit_code, 0);
  const std::vector<const google::protobuf::FileDescriptor*> files =
      ostrel::agg_l3::SchemaFiles();
  ASSERT_EQ(files.size(), 3u);
  google::protobuf::DescriptorPool pool;
  for (auto file = files.rbegin(); file != files.rend(); ++file) {
    const std::string& name = (*file)->name();
    SCOPED_TRACE(name);
    const size_t start = result.out.find("// " + name + "\n");
    ASSERT_NE(start, std::string::npos);
    const size_t end = result.out.find("\n// ostrel/", start + 1);
    const std::string text = result.out.substr(start, end - start);

    google::protobuf::io::ArrayInputStream input(text.data(),
                                                 static_cast<int>(text.size()));
    CollectErrors errors;
    google::protobuf::io::Tokenizer tokenizer(&input, &errors);
    google::protobuf::FileDescriptorProto printed;
    google::protobuf::compiler::Parser parser;
    parser.RecordErrorsTo(&errors);
    ASSERT_TRUE(parser.Parse(&tokenizer, &printed)) << errors.errors;
    // Parsed text names types as written; building resolves them, so the
    // rebuilt file compares with the registered one field for field.
    printed.set_name(name);
    const google::protobuf::FileDescriptor* rebuilt = pool.BuildFile(printed);
    ASSERT_NE(rebuilt, nullptr);
    google::protobuf::FileDescriptorProto rebuilt_proto, registered;
    rebuilt->CopyTo(&rebuilt_proto);
    (*file)->CopyTo(&registered);
    std::string differences;
    google::protobuf::util::MessageDifferencer differencer;
    differencer.ReportDifferencesToString(&differences);
    EXPECT_TRUE(differencer.Compare(rebuilt_proto, registered)) << differences;

    std::istringstream source(Read(fs::path(PROTO_DIR) / name));
    for (std::string line; std::getline(source, line);) {
      const size_t comment = line.find("//");
      if (comment != std::string::npos) {
        EXPECT_THAT(text, HasSubstr(line.substr(comment)));
      }
    }
  }
}

// What grpcurl and buf take: the registered files, each with its comments.
TEST_F(AggL3Test, DescriptorSetHoldsTheFilesWithTheirComments) {
  const fs::path written = dir_ / "schema.protoset";
  const Result result = Run("schema --descriptor-set -o " + written.string());
  ASSERT_EQ(result.exit_code, 0) << result.err;
  google::protobuf::FileDescriptorSet set;
  ASSERT_TRUE(set.ParseFromString(Read(written)));
  ASSERT_EQ(set.file_size(), 3);
  for (google::protobuf::FileDescriptorProto file : set.file()) {
    SCOPED_TRACE(file.name());
    const google::protobuf::FileDescriptor* registered =
        google::protobuf::DescriptorPool::generated_pool()->FindFileByName(
            file.name());
    ASSERT_NE(registered, nullptr);
    int comments = 0;
    for (const auto& location : file.source_code_info().location()) {
      comments += !location.leading_comments().empty();
    }
    EXPECT_GT(comments, 0);
    file.clear_source_code_info();
    google::protobuf::FileDescriptorProto expected;
    registered->CopyTo(&expected);
    registered->CopyJsonNameTo(&expected);
    std::string differences;
    google::protobuf::util::MessageDifferencer differencer;
    differencer.ReportDifferencesToString(&differences);
    EXPECT_TRUE(differencer.Compare(file, expected)) << differences;
  }
}

// A route table whose one route is cut short after 9 of its 16 bytes.
constexpr char kTruncatedRoutes[] =
    "\x0a\x05t0-gw\x22\x10\x12\x0c"
    "10.20.1";

// Command lines and what the tool answers to each: see the data file.
TEST_F(AggL3Test, CommandLinesOfTheTable) {
  const auto cases =
      ostrel::testdata::ReadCases(TESTDATA_DIR "/command_lines.txt");
  ASSERT_GE(cases.size(), 50u);
  const std::string in_dir = "cd " + dir_.string() + " || exit 99; ";
  for (const ostrel::testdata::Case& c : cases) {
    SCOPED_TRACE(c.head.at(0));
    for (const std::string& command : c.Of("shell")) {
      ASSERT_EQ(Shell(in_dir + command).exit_code, 0) << command;
    }
    Write(dir_ / "stdin", c.values.count("hex")
                              ? ostrel::testdata::FromHex(c.Joined("hex"))
                              : c.Joined("in"));
    const Result result = Shell(in_dir + "<stdin agg-l3 " + c.Joined("args"));
    EXPECT_EQ(result.exit_code, std::stoi(c.Joined("exit"))) << result.err;
    EXPECT_THAT(result.err, HasSubstr(c.Joined("err")));
    if (!c.values.count("err")) EXPECT_EQ(result.err, "");
    if (c.values.count("out-part")) {
      EXPECT_THAT(result.out, HasSubstr(c.Joined("out-part")));
    } else {
      EXPECT_EQ(result.out,
                c.values.count("out") ? c.Joined("out") + "\n" : "");
    }
  }
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

  // Standard output that cannot take the text is a failure; the full device
  // is a node of our own, so that nothing can replace the system's.
  const fs::path full = dir_ / "full";
  if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
    EXPECT_NE(Shell("agg-l3 --version >" + full.string()).exit_code, 0);
  }
}

TEST(Sha256HexTest, KnownAnswers) {
  EXPECT_EQ(ostrel::agg_l3::Sha256Hex(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(ostrel::agg_l3::Sha256Hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// Values JSON holds exactly, or refuses by their path: see the data file.
TEST_F(AggL3Test, JsonHoldsValuesExactlyOrRefusesThem) {
  std::ifstream table(fs::path(TESTDATA_DIR) / "json_fidelity.txt");
  int cases = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string name, type, lost, hex;
    words >> name >> type >> lost;
    std::getline(words, hex);
    SCOPED_TRACE(name);
    ++cases;
    const std::string binary = ostrel::testdata::FromHex(hex);
    const Result json = Run("decode --json " + type, binary);
    if (lost == "-") {
      ASSERT_EQ(json.exit_code, 0) << json.err;
      EXPECT_EQ(json.err, "");
      Write(dir_ / "in.json", json.out);
      const Result back =
          Run("encode --json " + type + " " + (dir_ / "in.json").string());
      EXPECT_EQ(back.exit_code, 0) << back.err;
      EXPECT_TRUE(back.out == binary) << json.out;
      continue;
    }
    EXPECT_EQ(json.exit_code, kJsonCannotHold);
    EXPECT_EQ(json.out, "");
    EXPECT_THAT(json.err, HasSubstr(" " + lost + ": "));
    EXPECT_THAT(json.err, HasSubstr("text format"));
    const Result lossy = Run("decode --json --accept-loss " + type, binary);
    EXPECT_EQ(lossy.exit_code, 0);
    EXPECT_THAT(lossy.out, StartsWith("{"));
    EXPECT_THAT(lossy.err, HasSubstr(" " + lost + ": "));
  }
  EXPECT_GE(cases, 20);
}

// A file is decoded as it is read; what goes wrong, or what JSON cannot
// hold, is told as for standard input, from the file read again.
TEST_F(AggL3Test, DecodingAFileSaysWhatDecodingItsBytesSays) {
  const std::string unknown_field = std::string(
      "\x0a\x01"
      "a"
      "\x48\x01",
      5);
  for (const std::string& bytes : {std::string(kTruncatedRoutes), unknown_field,
                                   std::string("\x0a\x01"
                                               "a",
                                               3)}) {
    const fs::path file = dir_ / "report.bin";
    Write(file, bytes);
    for (const std::string format : {"", "--json "}) {
      const Result piped = Run("decode " + format + "RouteTableMsg", bytes);
      Result named = Run("decode " + format + "RouteTableMsg " + file.string());
      EXPECT_EQ(named.exit_code, piped.exit_code);
      EXPECT_EQ(named.out, piped.out);
      for (size_t at;
           (at = named.err.find(file.string())) != std::string::npos;) {
        named.err.replace(at, file.string().size(), "<stdin>");
      }
      EXPECT_EQ(named.err, piped.err);
    }
  }
}

TEST_F(AggL3Test, JsonOptionsPrintAsTheRuntimeDoes) {
  using google::protobuf::util::JsonPrintOptions;
  const fs::path text = fs::path(EXAMPLES_DIR) / "route_table.txtpb";
  const std::string binary = Run("encode RouteTableMsg " + text.string()).out;
  auto report = ostrel::agg_l3::NewReport(
      *ostrel::agg_l3::FindReportType("RouteTableMsg"));
  ASSERT_TRUE(report->ParseFromString(binary));
  const struct {
    const char* flags;
    bool whitespace, proto_names, enum_ints, defaults;
  } cases[] = {
      {"", true, false, false, false},
      {"--compact", false, false, false, false},
      {"--proto-names", true, true, false, false},
      {"--enums-as-ints --compact", false, false, true, false},
      {"--with-defaults --proto-names", true, true, false, true},
  };
  for (const auto& c : cases) {
    JsonPrintOptions options;
    options.add_whitespace = c.whitespace;
    options.preserve_proto_field_names = c.proto_names;
    options.always_print_enums_as_ints = c.enum_ints;
    options.always_print_primitive_fields = c.defaults;
    std::string expected;
    ASSERT_TRUE(
        google::protobuf::util::MessageToJsonString(*report, &expected, options)
            .ok());
    const Result result =
        Run(std::string("decode --json RouteTableMsg ") + c.flags, binary);
    EXPECT_EQ(result.exit_code, 0) << c.flags;
    // Compact JSON ends its line too, so that reports append as JSON lines.
    EXPECT_EQ(result.out, expected + (c.whitespace ? "" : "\n")) << c.flags;
  }
}

}  // namespace
