#include "format/drift_check.h"

#include <gmock/gmock.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "format/exactness.h"
#include "format/report_codec.h"
#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "wire_vectors.h"

namespace ostrel::agg_l3 {
namespace {

namespace l3 = ::ostrel::ruk::agg_service::l3;
using google::protobuf::Descriptor;
using google::protobuf::Message;

using ::testing::HasSubstr;

// Keeps the NUL bytes that a plain string literal would end at.
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// Each report holds one record the schema does not know; the walk reports
// it with its path, and its offset points at its tag.
TEST(DriftTest, ReportsTheOneRecordTheSchemaDoesNotKnow) {
  const struct {
    const Descriptor* type;
    std::string hex;
    Drift::Kind kind;
    std::string path;
    int field_number;
    WireType wire_type;
    int64_t value;
    std::string tag;
  } cases[] = {
      {l3::EdgeClusterStatusMsg::descriptor(),
       "12 00 12 08 22 00 22 04 12 02 18 2A", Drift::Kind::kUnknownField,
       "peer[1].vtep_bfd[1].remote_ip.3", 3, wire::kVarint, 42, "\x18\x2a"},
      {l3::EdgeClusterStatusMsg::descriptor(), "12 06 22 00 22 02 20 07",
       Drift::Kind::kRejectedEnumValue, "peer[0].vtep_bfd[1].status", 4,
       wire::kVarint, 7, "\x20\x07"},
      // A negative value of an enumeration with a two-byte tag.
      {l3::BgpNeighborMsg::descriptor(),
       "32 10 28 CC FC 03 B8 01 FF FF FF FF FF FF FF FF FF 01",
       Drift::Kind::kRejectedEnumValue, "bgp_neighbor_msg[0].gr_mode", 23,
       wire::kVarint, -1, "\xb8\x01"},
      {l3::RouteTableMsg::descriptor(), "22 00 22 00 22 00 22 02 30 07",
       Drift::Kind::kWrongWireType, "route[3].lrouter_port_uuid", 6,
       wire::kVarint, 7, "\x30\x07"},
      {l3::RouteTableMsg::descriptor(), "0A 01 61 4B 0D 05 00 00 00 4C",
       Drift::Kind::kUnknownField, "9", 9, wire::kStartGroup, 5, "\x4b\x0d"},
  };
  for (const auto& expected : cases) {
    SCOPED_TRACE(expected.hex);
    const std::string bytes = testdata::FromHex(expected.hex);
    const WireWalk walk = WalkWire(*expected.type, bytes);
    ASSERT_FALSE(walk.malformation) << Describe(*walk.malformation);
    ASSERT_EQ(walk.drift.size(), 1u);
    const Drift& drift = walk.drift[0];
    EXPECT_EQ(drift.kind, expected.kind);
    EXPECT_EQ(drift.path, expected.path);
    EXPECT_EQ(drift.field_number, expected.field_number);
    EXPECT_EQ(drift.wire_type, expected.wire_type);
    EXPECT_EQ(static_cast<int64_t>(drift.value), expected.value);
    EXPECT_EQ(bytes.substr(drift.offset, expected.tag.size()), expected.tag);
  }
}

struct MalformedCase {
  std::string name;
  std::string bytes;  // as a RouteTableMsg
  size_t offset;
  std::string path;
  std::string reason;
};

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class MalformedTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedTest, SaysWhereAndWhy) {
  const MalformedCase& expected = GetParam();
  const WireWalk walk =
      WalkWire(*l3::RouteTableMsg::descriptor(), expected.bytes);
  ASSERT_TRUE(walk.malformation);
  EXPECT_EQ(walk.malformation->offset, expected.offset);
  EXPECT_EQ(walk.malformation->path, expected.path);
  EXPECT_THAT(walk.malformation->reason, HasSubstr(expected.reason));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, MalformedTest,
    ::testing::Values(MalformedCase{"VarintCutOff", "\x10\xff", 1, "timestamp",
                                    "varint cut off"},
                      MalformedCase{"StringOverrunsItsMessage",
                                    "\x22\x05\x0a\x09"
                                    "abc",
                                    3, "route[0].route_type",
                                    "length 9 overruns the 3 bytes"},
                      MalformedCase{"WireTypeSeven", "\x0a\x01x\x0f", 3, "",
                                    "wire type 7 does not exist"},
                      MalformedCase{"FieldNumberZero",
                                    Bytes("\x22\x02\x02\x00"), 2, "route[0]",
                                    "field number 0"},
                      MalformedCase{"GroupNeverEnds", "\x4b\x08\x01", 0, "9",
                                    "group of field 9 never ends"},
                      MalformedCase{"GroupClosedByAnother", "\x4b\x54", 1, "9",
                                    "closed by the end-group tag of field 10"},
                      MalformedCase{"OverlongTag",
                                    Bytes("\x88\x80\x80\x80\x80\x00"), 0, "",
                                    "tag longer than 5 bytes"}),
    [](const auto& test) { return test.param.name; });

// The walk is only worth its reports if it judges exactly as the runtime
// does, which is what the remaining tests hold it to.

// Counts every unknown-field record kept anywhere in a parsed report.
int UnknownRecords(const Message& message) {
  const auto* reflection = message.GetReflection();
  int count = reflection->GetUnknownFields(message).field_count();
  std::vector<const google::protobuf::FieldDescriptor*> fields;
  reflection->ListFields(message, &fields);
  for (const auto* field : fields) {
    if (field->cpp_type() !=
        google::protobuf::FieldDescriptor::CPPTYPE_MESSAGE) {
      continue;
    }
    if (!field->is_repeated()) {
      count += UnknownRecords(reflection->GetMessage(message, field));
      continue;
    }
    for (int i = 0; i < reflection->FieldSize(message, field); ++i) {
      count +=
          UnknownRecords(reflection->GetRepeatedMessage(message, field, i));
    }
  }
  return count;
}

void ExpectSameJudgement(const Descriptor& type, const std::string& bytes) {
  const std::unique_ptr<Message> parsed = NewReport(type);
  const bool runtime_accepts = parsed->ParseFromString(bytes);
  const WireWalk walk = WalkWire(type, bytes);
  ASSERT_EQ(!walk.malformation, runtime_accepts)
      << type.name() << " " << ::testing::PrintToString(bytes)
      << (walk.malformation ? " " + Describe(*walk.malformation) : "");
  if (runtime_accepts) {
    ASSERT_EQ(walk.drift.size(), static_cast<size_t>(UnknownRecords(*parsed)))
        << type.name() << " " << ::testing::PrintToString(bytes);
  }
}

std::string Nested(int depth, const std::string& inner) {
  std::string bytes;
  for (int i = 0; i < depth; ++i) bytes += "\x4b";
  bytes += inner;
  for (int i = 0; i < depth; ++i) bytes += "\x4c";
  return bytes;
}

TEST(WalkWireTest, JudgesEdgeCasesAsTheRuntimeDoes) {
  const Descriptor& type = *l3::RouteTableMsg::descriptor();
  const std::string cases[] = {
      "",
      Bytes("\x00"),
      Bytes("\x80\x80\x80\x80\x00"),          // five-byte tag, number 0
      Bytes("\x88\x80\x80\x80\x00\x01"),      // five-byte tag of field 1
      Bytes("\x0a\x80\x80\x80\x80\x00"),      // five-byte length 0
      Bytes("\x0a\x80\x80\x80\x80\x80\x00"),  // six-byte length 0
      Bytes("\x10\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01"),  // ten-byte varint
      Bytes("\x10\xff\xff\xff\xff\xff\xff\xff\xff\xff\x7f"),
      Bytes(
          "\x10\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01"),  // eleven bytes
      Bytes("\x49\x01\x02\x03\x04\x05\x06\x07"),  // 64-bit value cut off
      Bytes("\x4d\x01\x02\x03\x04"),
      Bytes("\x22\x02\x0c\x00"),      // end-group tag closing an element
      Bytes("\x22\x03\x4b\x4c\x08"),  // element ends inside a group's field
      Bytes("\x4b\x22\x01\x0a\x4c"),  // known number inside an unknown group
      Bytes("\x08\x01\x0a\x00"),  // known number, wrong type, then the field
      Nested(99, ""),
      Nested(100, ""),
      Nested(101, ""),
      Bytes("\x22\x00\x22\x00\x1a\x02\x08\x01"),
  };
  for (const std::string& bytes : cases) ExpectSameJudgement(type, bytes);
}

// Reports written back to back parse as one: each singular top-level field
// met again is told once, where it comes again; lists, and fields inside
// sub-messages, are not what joining reports repeats.
TEST(WalkWireTest, TellsEachSingularTopLevelFieldMetAgainOnce) {
  // lrouter_id: "r1"; route { network: "n" }
  const std::string table = Bytes(
      "\x0a\x02"
      "r1"
      "\x22\x03\x12\x01"
      "n");
  // lrouter_id; route { network } twice, as one route's two values merge.
  const std::string inner_twice = Bytes(
      "\x0a\x01"
      "a"
      "\x22\x06\x12\x01"
      "x"
      "\x12\x01"
      "y");
  const struct {
    std::string name;
    std::string bytes;
    std::vector<std::pair<std::string, size_t>> repeated;  // path, offset
  } cases[] = {
      {"one report", table, {}},
      {"two joined", table + table, {{"lrouter_id", table.size()}}},
      {"three joined", table + table + table, {{"lrouter_id", table.size()}}},
      {"a list element again", Bytes("\x22\x00\x22\x00"), {}},
      {"inside an element", inner_twice, {}},
      {"one field twice",
       Bytes("\x10\x01\x0a\x00\x10\x02"),
       {{"timestamp", 4}}},
  };
  for (const auto& c : cases) {
    const WireWalk walk = WalkWire(*l3::RouteTableMsg::descriptor(), c.bytes);
    ASSERT_FALSE(walk.malformation) << c.name;
    EXPECT_TRUE(walk.drift.empty()) << c.name;
    std::vector<std::pair<std::string, size_t>> repeated;
    for (const Drift& drift : walk.repeated) {
      EXPECT_EQ(drift.kind, Drift::Kind::kRepeatedSingular) << c.name;
      repeated.emplace_back(drift.path, drift.offset);
    }
    EXPECT_EQ(repeated, c.repeated) << c.name;
  }
}

// The shipped examples in binary, each with its type (from its header).
std::vector<std::pair<const Descriptor*, std::string>> ExampleReports() {
  std::vector<std::pair<const Descriptor*, std::string>> reports;
  for (const auto& entry : std::filesystem::directory_iterator(EXAMPLES_DIR)) {
    if (entry.path().extension() != ".txtpb") continue;
    std::stringstream text;
    text << std::ifstream(entry.path()).rdbuf();
    const std::string header = "# proto-message: ";
    const size_t at = text.str().find(header) + header.size();
    const Descriptor* type =
        FindReportType(text.str().substr(at, text.str().find('\n', at) - at));
    std::string binary;
    if (Encode(*type, text.str(), Format::kText, &binary).ok()) {
      reports.emplace_back(type, binary);
    }
  }
  return reports;
}

TEST(TopLevelRecordsTest, DecidesAsSoonAsNoMoreBytesCanHelp) {
  const struct {
    std::string bytes;
    size_t decided_at;  // the prefix length it is certain at, or 0
  } cases[] = {
      {Bytes("\x10\x05\x00\x00"), 3},          // tag 0
      {Bytes("\x0c"), 1},                      // end group at the top
      {Bytes("\x0f"), 1},                      // wire type 7
      {Bytes("\x80\x80\x80\x80\x80\x01"), 5},  // tag of six bytes
      {Bytes("\x10\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff"), 11},
      {Bytes("\x0a\xff\xff\xff\xff\x07"), 6},  // ends past 2 GiB
      {Bytes("\x0a\x02\x00\x00\x0a\x02"), 0},  // cut, not wrong
      {Bytes("\x0b\x00\x0c\x00"), 0},          // groups: for the walk
  };
  for (const auto& c : cases) {
    TopLevelRecords records;
    size_t decided_at = 0;
    for (size_t n = 1; n <= c.bytes.size() && decided_at == 0; ++n) {
      if (records.CertainlyMalformed(std::string_view(c.bytes).substr(0, n))) {
        decided_at = n;
      }
    }
    EXPECT_EQ(decided_at, c.decided_at) << ::testing::PrintToString(c.bytes);
  }
}

// Whether JsonExactWire, handed `bytes` in pieces of `piece` bytes, finds
// them exact; when it does, or JsonExactElement does of them held whole,
// the judge of exactness must find nothing.
bool FollowedExact(const Descriptor& type, const std::string& bytes,
                   int piece) {
  google::protobuf::io::ArrayInputStream pieces(
      bytes.data(), static_cast<int>(bytes.size()), piece);
  JsonExactWire followed(type, &pieces);
  const std::unique_ptr<Message> report = NewReport(type);
  if (!report->ParseFromZeroCopyStream(&followed)) return false;
  if (followed.exact() || JsonExactElement(type, bytes)) {
    EXPECT_TRUE(Exactness(Format::kJson, false).Judge(report.get()))
        << ::testing::PrintToString(bytes);
  }
  return followed.exact();
}

TEST(WalkWireTest, JudgesMutatedExamplesAsTheRuntimeDoes) {
  const auto reports = ExampleReports();
  ASSERT_GE(reports.size(), 6u);
  std::mt19937 random(20261206);
  auto below = [&](size_t n) {
    return std::uniform_int_distribution<size_t>(0, n - 1)(random);
  };
  int exact = 0;
  for (const auto& [type, original] : reports) {
    EXPECT_TRUE(FollowedExact(*type, original, 1 + below(64))) << type->name();
    for (int i = 0; i < 1500; ++i) {
      std::string bytes = original;
      switch (below(4)) {
        case 0:
          bytes[below(bytes.size())] = static_cast<char>(below(256));
          break;
        case 1:
          bytes.resize(below(bytes.size()));
          break;
        case 2:
          bytes.insert(below(bytes.size()), 1, static_cast<char>(below(256)));
          break;
        default:
          bytes.erase(below(bytes.size()), 1 + below(3));
      }
      ExpectSameJudgement(*type, bytes);
      if (::testing::Test::HasFatalFailure()) return;
      // Followed in pieces of any size, bytes found exact parse into a
      // report in which the judge of exactness finds nothing.
      exact += FollowedExact(*type, bytes, 1 + below(64));
      // Read as it arrives, no prefix of a report the runtime takes is
      // ever judged certainly malformed.
      TopLevelRecords records;
      bool claimed = false;
      for (size_t n = 0; n <= bytes.size(); n += 1 + below(8)) {
        claimed |=
            records.CertainlyMalformed(std::string_view(bytes).substr(0, n));
      }
      if (claimed) {
        EXPECT_FALSE(NewReport(*type)->ParseFromString(bytes));
      }
    }
  }
  EXPECT_GT(exact, 500);  // mutations that leave the bytes exact
}

}  // namespace
}  // namespace ostrel::agg_l3
