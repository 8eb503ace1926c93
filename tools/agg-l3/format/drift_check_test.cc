#include "format/drift_check.h"

#include <gmock/gmock.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>
#include <gtest/gtest.h>

#include <random>

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

// The cases of testdata/wire_walk.txt, which describes them.
TEST(WireWalkTest, FindsWhatTheTableSays) {
  const char* const kinds[] = {"unknown field", "wrong wire type",
                               "rejected enumeration value"};
  const auto cases = testdata::ReadCases(TESTDATA_DIR "/wire_walk.txt");
  ASSERT_GE(cases.size(), 26u);
  for (const testdata::Case& c : cases) {
    SCOPED_TRACE(c.head.at(1));
    const std::string bytes = testdata::FromHex(c.Joined("hex"));
    const WireWalk walk = WalkWire(*testdata::VectorType(c.head.at(2)), bytes);
    const std::string& kind = c.head.at(0);
    if (kind == "decided") {
      TopLevelRecords records;
      size_t decided_at = 0;
      for (size_t n = 1; n <= bytes.size() && decided_at == 0; ++n) {
        if (records.CertainlyMalformed(std::string_view(bytes).substr(0, n))) {
          decided_at = n;
        }
      }
      EXPECT_EQ(decided_at, std::stoul(c.Joined("decided")));
    } else if (kind == "malformed") {
      ASSERT_TRUE(walk.malformation);
      EXPECT_EQ(walk.malformation->offset, std::stoul(c.Joined("offset")));
      EXPECT_EQ(walk.malformation->path, c.Joined("path"));
      EXPECT_THAT(walk.malformation->reason, HasSubstr(c.Joined("reason")));
    } else if (kind == "repeated") {
      ASSERT_FALSE(walk.malformation) << Describe(*walk.malformation);
      EXPECT_TRUE(walk.drift.empty());
      std::vector<std::string> repeated;
      for (const Drift& drift : walk.repeated) {
        EXPECT_EQ(drift.kind, Drift::Kind::kRepeatedSingular);
        repeated.push_back(drift.path + " " + std::to_string(drift.offset));
      }
      EXPECT_EQ(repeated, c.Of("repeated"));
    } else {
      ASSERT_FALSE(walk.malformation) << Describe(*walk.malformation);
      ASSERT_EQ(walk.drift.size(), 1u);
      const Drift& drift = walk.drift[0];
      EXPECT_EQ(kinds[static_cast<int>(drift.kind)], c.Joined("kind"));
      EXPECT_EQ(drift.path, c.Joined("path"));
      EXPECT_EQ(drift.field_number, std::stoi(c.Joined("field")));
      EXPECT_EQ(WireTypeName(drift.wire_type), c.Joined("wire"));
      EXPECT_EQ(static_cast<int64_t>(drift.value),
                std::stoll(c.Joined("value")));
      const std::string at = testdata::FromHex(c.Joined("at"));
      EXPECT_EQ(bytes.substr(drift.offset, at.size()), at);
    }
  }
}

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
  const auto cases =
      testdata::ReadCases(OSTREL_TEST_DATA "/edge_encodings.txt");
  ASSERT_GE(cases.size(), 24u);
  for (const testdata::Case& c : cases) {
    ExpectSameJudgement(type, testdata::FromHex(c.Joined("hex")));
  }
  for (int depth : {99, 100, 101}) ExpectSameJudgement(type, Nested(depth, ""));
}

// Whether JsonExactWire, handed `bytes` in pieces of `piece` bytes, finds
// them exact; when it does, or JsonExactMessage does of them held whole,
// the judge of exactness must find nothing.
bool FollowedExact(const Descriptor& type, const std::string& bytes,
                   int piece) {
  google::protobuf::io::ArrayInputStream pieces(
      bytes.data(), static_cast<int>(bytes.size()), piece);
  JsonExactWire followed(type, &pieces);
  const std::unique_ptr<Message> report = NewReport(type);
  if (!report->ParseFromZeroCopyStream(&followed)) return false;
  if (followed.exact() || JsonExactMessage(type, bytes)) {
    EXPECT_TRUE(Exactness(Format::kJson, false).Judge(report.get()))
        << ::testing::PrintToString(bytes);
  }
  return followed.exact();
}

TEST(WalkWireTest, JudgesMutatedExamplesAsTheRuntimeDoes) {
  std::vector<std::pair<const Descriptor*, std::string>> reports;
  for (const testdata::Example& example : testdata::Examples()) {
    const Descriptor* type = FindReportType(example.type);
    ASSERT_TRUE(Encode(*type, example.text, Format::kText,
                       &reports.emplace_back(type, "").second)
                    .ok());
  }
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
