#include "delimited_commands.h"

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/delimited_message_util.h>
#include <gtest/gtest.h>

#include <sstream>

#include "wire_vectors.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::io::ArrayInputStream;
using google::protobuf::io::StringOutputStream;

struct Result {
  Status status;
  std::string output;
  Warnings warnings;
};

// `count` copies of a vector, as protobuf's delimited writer frames them;
// `starts` gets each record's offset.
std::string Stream(const testdata::EveryFieldVector& vector, int count,
                   std::vector<size_t>* starts = nullptr) {
  auto message = testdata::NewMessage(vector.type);
  message->ParseFromString(testdata::FromHex(vector.hex));
  std::string bytes;
  StringOutputStream output(&bytes);
  for (int i = 0; i < count; ++i) {
    if (starts) starts->push_back(static_cast<size_t>(output.ByteCount()));
    google::protobuf::util::SerializeDelimitedToZeroCopyStream(*message,
                                                               &output);
  }
  return bytes;
}

enum class Command { kDecodeText, kDecodeJson, kDecodeEach, kCheck };

Result RunOn(Command command, const google::protobuf::Descriptor& type,
             std::string_view bytes) {
  ArrayInputStream input(bytes.data(), static_cast<int>(bytes.size()), 5);
  Result result;
  StringOutputStream output(&result.output);
  const auto* list = [&]() -> const google::protobuf::FieldDescriptor* {
    for (int i = 0; i < type.field_count(); ++i) {
      if (type.field(i)->is_repeated()) return type.field(i);
    }
    return type.field(0);
  }();
  switch (command) {
    case Command::kDecodeText:
    case Command::kDecodeJson:
      result.status = DecodeDelimited(
          type, &input, "in",
          command == Command::kDecodeText ? Format::kText : Format::kJson, {},
          &output, &result.warnings);
      break;
    case Command::kDecodeEach:
      result.status = DecodeEachDelimited(type, list->name(), &input, "in", {},
                                          &output, &result.warnings);
      break;
    case Command::kCheck:
      result.status = CheckDelimited(type, &input, "in", &output);
      break;
  }
  return result;
}

Result Encode(const google::protobuf::Descriptor& type, const std::string& text,
              Format format) {
  std::istringstream lines(text);
  Result result;
  StringOutputStream output(&result.output);
  result.status = EncodeDelimited(type, lines, "in", format, &output);
  return result;
}

// Streams of 0, 1 and 7 reports of every type: decoding to text or JSON
// lines and encoding back gives the stream; check counts the records.
TEST(Delimited, StreamsOfEveryTypeRoundTrip) {
  for (const auto& vector : testdata::EveryFieldVectors()) {
    const auto& type = *testdata::VectorType(vector.type);
    for (int count : {0, 1, 7}) {
      SCOPED_TRACE(std::string(vector.type) + " x" + std::to_string(count));
      const std::string bytes = Stream(vector, count);
      for (Command command : {Command::kDecodeText, Command::kDecodeJson}) {
        const Result decoded = RunOn(command, type, bytes);
        ASSERT_TRUE(decoded.status.ok()) << decoded.status.message();
        const Result encoded = Encode(
            type, decoded.output,
            command == Command::kDecodeText ? Format::kText : Format::kJson);
        ASSERT_TRUE(encoded.status.ok()) << encoded.status.message();
        EXPECT_TRUE(encoded.output == bytes);
      }
      if (type.field(type.field_count() - 1)->is_repeated() ||
          type.field(0)->is_repeated()) {
        const Result lines = RunOn(Command::kDecodeEach, type, bytes);
        EXPECT_TRUE(lines.status.ok()) << lines.status.message();
      }
      const Result checked = RunOn(Command::kCheck, type, bytes);
      EXPECT_EQ(checked.status.code(), kOk);
      EXPECT_EQ(checked.output, "in: " + std::to_string(count) +
                                    " well-formed " + type.name() +
                                    (count == 1 ? " record" : " records") +
                                    ", nothing in them unknown to this "
                                    "schema\n");
    }
  }
}

// A stream cut anywhere in its last record: the whole commands write
// nothing and --each keeps the lines of the records before; every error
// names the last record and where it starts.
TEST(Delimited, ACutLastRecordIsAnErrorNamingIt) {
  const auto& vector = testdata::EveryFieldVectors().front();
  const auto& type = *testdata::VectorType(vector.type);
  std::vector<size_t> starts;
  const std::string bytes = Stream(vector, 3, &starts);
  const std::string whole_lines =
      RunOn(Command::kDecodeEach, type, bytes.substr(0, starts.back())).output;
  const std::string where =
      "in: record 2 at byte " + std::to_string(starts.back()) + ": ";
  for (size_t cut = starts.back() + 1; cut < bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    const std::string_view part = std::string_view(bytes).substr(0, cut);
    for (Command command :
         {Command::kDecodeText, Command::kDecodeJson, Command::kCheck}) {
      const Result result = RunOn(command, type, part);
      EXPECT_EQ(result.status.code(), kMalformed);
      EXPECT_EQ(result.status.message().substr(0, where.size()), where);
    }
    const Result lines = RunOn(Command::kDecodeEach, type, part);
    EXPECT_EQ(lines.status.code(), kMalformed);
    EXPECT_EQ(lines.output.substr(0, whole_lines.size()), whole_lines);
  }
}

// Offsets in errors and drift count from the start of the stream.
TEST(Delimited, ErrorsAndDriftNameTheRecordAndTheStreamOffset) {
  const auto& type = *testdata::VectorType("RouteTableMsg");
  // Record 0: lrouter_id "a"; record 1: an unknown field 9 = 1; record 2:
  // a string whose length runs past the record.
  const std::string bytes = testdata::FromHex(
      "03 0A 01 61"
      "02 48 01"
      "02 0A 05");
  const Result checked = RunOn(Command::kCheck, type, bytes);
  EXPECT_EQ(checked.status.code(), kMalformed);
  EXPECT_EQ(checked.status.message(),
            "in: record 2 at byte 7: at byte 9 in lrouter_id: length 5 "
            "overruns the 0 bytes left");
  const Result drift = RunOn(Command::kCheck, type, bytes.substr(0, 7));
  EXPECT_EQ(drift.status.code(), kDrift);
  EXPECT_EQ(drift.output,
            "  record 1: 9: unknown field 9 (varint 1) at byte 5\n"
            "in: 2 well-formed RouteTableMsg records, with 1 record (listed "
            "above) this schema does not know\n");
}

TEST(Delimited, EncodeErrorsNameTheRecordAndItsFirstLine) {
  const auto& type = *testdata::VectorType("RouteTableMsg");
  const Result text = Encode(type,
                             "# record 0\nlrouter_id: \"a\"\n# record 1\n"
                             "timestamp: x\n",
                             Format::kText);
  EXPECT_EQ(text.status.code(), kMalformed);
  EXPECT_EQ(text.status.message().substr(0, 35),
            "in: record 1 (from line 4): line 1,");
  const Result json =
      Encode(type, "{\"lrouterId\":\"a\"}\n\n{\"nope\":1}\n", Format::kJson);
  EXPECT_EQ(json.status.code(), kMalformed);
  EXPECT_EQ(json.status.message().substr(0, 28),
            "in: record 1 (from line 3): ");
}

}  // namespace
}  // namespace ostrel::agg_l3
