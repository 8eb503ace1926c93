#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/wire_format_lite.h>
#include <gtest/gtest.h>
#include <ostrel/report_stream.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "wire_vectors.h"

namespace ostrel::report_stream {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::internal::WireFormatLite;
using google::protobuf::io::ArrayInputStream;
using google::protobuf::io::ArrayOutputStream;
using google::protobuf::io::CodedInputStream;
using google::protobuf::io::StringOutputStream;
using ostrel::ruk::agg_service::l3::RouteTableMsg;

struct StreamResult {
  bool ok = false;
  std::string error;
  std::unique_ptr<Message> rebuilt;  // header plus every element, in order
  int late_fields = 0;
  int64_t elements = 0;
};

// Reads `bytes` element by element (in blocks of `block` bytes) and rebuilds
// the whole report from the events, as a consumer that stores everything
// would.
StreamResult Stream(const Descriptor* type, const std::string& bytes,
                    int block = -1,
                    const std::vector<std::string>& streamed = {}) {
  ArrayInputStream input(bytes.data(), static_cast<int>(bytes.size()), block);
  ReportReader reader(&input, *type, streamed);
  StreamResult result;
  std::vector<std::pair<const FieldDescriptor*, std::string>> elements;
  bool header_seen = false;
  while (reader.Next()) {
    // No event comes with, or after, an error.
    EXPECT_TRUE(reader.ok()) << reader.error();
    switch (reader.event()) {
      case ReportReader::kHeader:
        EXPECT_FALSE(header_seen);
        header_seen = true;
        break;
      case ReportReader::kElement:
        EXPECT_TRUE(header_seen);
        ++result.elements;
        elements.emplace_back(
            reader.field(),
            reader.field()->cpp_type() == FieldDescriptor::CPPTYPE_STRING
                ? reader.element_string()
                : reader.element().SerializeAsString());
        break;
      case ReportReader::kLateField:
        ++result.late_fields;
        break;
    }
  }
  result.ok = reader.ok();
  result.error = reader.error();
  if (!result.ok) return result;
  EXPECT_TRUE(header_seen);
  result.rebuilt = testdata::NewMessage(type->name());
  result.rebuilt->CopyFrom(reader.header());
  const auto* reflection = result.rebuilt->GetReflection();
  for (const auto& [field, value] : elements) {
    if (field->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
      reflection->AddString(result.rebuilt.get(), field, value);
    } else {
      EXPECT_TRUE(reflection->AddMessage(result.rebuilt.get(), field)
                      ->ParseFromString(value));
    }
  }
  return result;
}

// The top-level records of an encoding, each with its tag.
std::vector<std::string> Records(const std::string& bytes) {
  std::vector<std::string> records;
  CodedInputStream input(reinterpret_cast<const uint8_t*>(bytes.data()),
                         static_cast<int>(bytes.size()));
  while (true) {
    const int start = input.CurrentPosition();
    const uint32_t tag = input.ReadTag();
    if (tag == 0) break;
    EXPECT_TRUE(WireFormatLite::SkipField(&input, tag));
    records.push_back(bytes.substr(start, input.CurrentPosition() - start));
  }
  return records;
}

// Same outcome as a whole-message parse of the same bytes: both fail, or
// both succeed with the same content, byte for byte.
void ExpectSameAsWholeParse(const Descriptor* type, const std::string& bytes,
                            int block = -1) {
  std::unique_ptr<Message> whole = testdata::NewMessage(type->name());
  const bool whole_ok = whole->ParseFromString(bytes);
  StreamResult streamed = Stream(type, bytes, block);
  ASSERT_EQ(streamed.ok, whole_ok) << streamed.error;
  if (whole_ok) {
    EXPECT_EQ(streamed.rebuilt->SerializeAsString(),
              whole->SerializeAsString());
  } else {
    EXPECT_NE(streamed.error, "");
  }
}

bool HasStreamableField(const Descriptor* type) {
  for (int i = 0; i < type->field_count(); ++i) {
    if (IsStreamable(*type->field(i))) return true;
  }
  return false;
}

// Header records that follow the first list element.
int LateRecords(const Descriptor* type, const std::string& bytes) {
  int late = 0;
  bool element_seen = false;
  for (const std::string& record : Records(bytes)) {
    CodedInputStream input(reinterpret_cast<const uint8_t*>(record.data()),
                           static_cast<int>(record.size()));
    const FieldDescriptor* field = type->FindFieldByNumber(
        WireFormatLite::GetTagFieldNumber(input.ReadTag()));
    const bool element = field != nullptr && field->is_repeated();
    late += element_seen && !element;
    element_seen |= element;
  }
  return late;
}

std::string Unknown(int number, uint64_t value) {
  std::string record;
  {
    StringOutputStream sink(&record);
    google::protobuf::io::CodedOutputStream out(&sink);
    out.WriteTag(
        WireFormatLite::MakeTag(number, WireFormatLite::WIRETYPE_VARINT));
    out.WriteVarint64(value);
  }
  return record;
}

TEST(ReportReader, EveryVectorInAnyRecordOrderMatchesTheWholeParse) {
  int types = 0;
  for (const auto& vector : testdata::EveryFieldVectors()) {
    const Descriptor* type = testdata::VectorType(vector.type);
    if (!HasStreamableField(type)) continue;
    ++types;
    SCOPED_TRACE(vector.type);
    const std::string canonical = testdata::FromHex(vector.hex);
    std::vector<std::string> records = Records(canonical);

    // Lists split into runs, singular fields after the lists, unknown
    // fields in between, and buffers that split records.
    std::string reversed, interleaved;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
      reversed += *it;
    }
    for (size_t i = 0; i < records.size(); ++i) {
      interleaved += records[i] + Unknown(1000 + static_cast<int>(i), i);
    }
    for (const std::string& bytes : {canonical, reversed, interleaved}) {
      for (int block : {-1, 1, 7}) {
        ExpectSameAsWholeParse(type, bytes, block);
      }
    }
    EXPECT_EQ(Stream(type, reversed).late_fields, LateRecords(type, reversed));
  }
  EXPECT_GE(types, 30);
}

TEST(ReportReader, TruncatedAnywhereAgreesWithTheWholeParse) {
  for (const auto& vector : testdata::EveryFieldVectors()) {
    const Descriptor* type = testdata::VectorType(vector.type);
    if (!HasStreamableField(type)) continue;
    SCOPED_TRACE(vector.type);
    const std::string bytes = testdata::FromHex(vector.hex);
    for (size_t length = 0; length < bytes.size(); ++length) {
      ExpectSameAsWholeParse(type, bytes.substr(0, length));
    }
  }
}

// Encodings CodedInputStream tolerates but the message parser rejects (and
// their neighbours it accepts), and the broken ones: the reader sides with
// the message parser.
TEST(ReportReader, EncodingLimitsAgreeWithTheWholeParse) {
  const auto groups = [](const std::string& open, int depth) {
    std::string bytes;
    for (int i = 0; i < depth; ++i) bytes += open;
    for (int i = 0; i < depth; ++i) bytes += testdata::FromHex("FC 3E");
    return bytes;
  };
  const auto edges =
      testdata::ReadCases(OSTREL_TEST_DATA "/edge_encodings.txt");
  ASSERT_GE(edges.size(), 24u);
  for (const testdata::Case& c : edges) {
    SCOPED_TRACE(c.head.at(0));
    ExpectSameAsWholeParse(RouteTableMsg::descriptor(),
                           testdata::FromHex(c.Joined("hex")));
  }
  for (const std::string& bytes :
       {"\x22\xCC\x03" + groups(testdata::FromHex("FB 3E"), 99),
        groups(testdata::FromHex("FB 3E"), 100),
        groups(testdata::FromHex("FB 3E"), 101)}) {
    ExpectSameAsWholeParse(RouteTableMsg::descriptor(), bytes);
  }
  for (const auto& vector : testdata::MalformedVectors()) {
    SCOPED_TRACE(vector.name);
    for (int block : {-1, 1}) {
      ExpectSameAsWholeParse(testdata::VectorType(vector.type),
                             testdata::FromHex(vector.hex), block);
    }
  }
  // Nesting inside an element counts from the report, not the element.
  for (int depth : {97, 98, 99, 100}) {
    std::string element = groups(testdata::FromHex("FB 3E"), depth);
    std::string bytes = "\x22";
    google::protobuf::io::StringOutputStream sink(&bytes);
    {
      google::protobuf::io::CodedOutputStream out(&sink);
      out.WriteVarint32(static_cast<uint32_t>(element.size()));
      out.WriteString(element);
    }
    SCOPED_TRACE(depth);
    ExpectSameAsWholeParse(RouteTableMsg::descriptor(), bytes);
  }
}

RouteTableMsg LargeTable(int routes) {
  RouteTableMsg table;
  table.set_lrouter_id("lr-large");
  table.mutable_lrouter_uuid()->set_left(7);
  for (int i = 0; i < routes; ++i) {
    auto* route = table.add_route();
    route->set_network("10." + std::to_string(i >> 16) + "." +
                       std::to_string((i >> 8) & 255) + "." +
                       std::to_string(i & 255) + "/32");
    route->set_next_hop("192.0.2.1");
    route->set_admin_distance(i % 250);
  }
  return table;
}

TEST(ReportReader, LargeReportMatchesTheWholeParse) {
  const std::string bytes = LargeTable(50000).SerializeAsString();
  ExpectSameAsWholeParse(RouteTableMsg::descriptor(), bytes, 4096);
}

TEST(ReportReader, OnlyChosenListsAreStreamed) {
  const std::string bytes = LargeTable(3).SerializeAsString();
  StreamResult result =
      Stream(RouteTableMsg::descriptor(), bytes, -1, {"route"});
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.elements, 3);
  // lrouter_uuid (5) follows the routes (4).
  EXPECT_EQ(result.late_fields, 1);

  ArrayInputStream input(bytes.data(), static_cast<int>(bytes.size()));
  ReportReader wrong(&input, *RouteTableMsg::descriptor(), {"lrouter_id"});
  EXPECT_FALSE(wrong.Next());
  EXPECT_NE(wrong.error().find("not a repeated"), std::string::npos);
  ArrayInputStream other(bytes.data(), static_cast<int>(bytes.size()));
  ReportReader missing(&other, *RouteTableMsg::descriptor(), {"routes"});
  EXPECT_FALSE(missing.Next());
  EXPECT_NE(missing.error().find("has no field routes"), std::string::npos);
}

// Programs written against the first release still build and get the same
// answers under the old names.
TEST(ReportReader, FirstReleaseNamesStillServe) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  static_assert(std::is_same_v<ostrel::stream::ReportReader, ReportReader>);
  static_assert(std::is_same_v<ostrel::stream::ReportWriter, ReportWriter>);
  const Descriptor* type = RouteTableMsg::descriptor();
  for (int i = 0; i < type->field_count(); ++i) {
    EXPECT_EQ(ostrel::stream::IsStreamable(*type->field(i)),
              IsStreamable(*type->field(i)))
        << type->field(i)->name();
  }
#pragma GCC diagnostic pop
}

TEST(ReportWriter, SaysWhenTheOutputFailed) {
  char room[64];
  ArrayOutputStream output(room, sizeof room);
  ReportWriter writer(&output, RouteTableMsg(),
                      *RouteTableMsg::descriptor()->FindFieldByName("route"));
  ostrel::ruk::agg_service::l3::RouteEntryMsg route;
  route.set_network("10.0.0.0/8");
  writer.Add(route);
  EXPECT_FALSE(writer.failed());
  route.set_network(std::string(sizeof room, 'n'));
  writer.Add(route);
  EXPECT_TRUE(writer.failed());
  EXPECT_FALSE(writer.Finish());
}

TEST(ReportWriter, WritesTheWholeMessagesBytes) {
  for (const auto& vector : testdata::EveryFieldVectors()) {
    const Descriptor* type = testdata::VectorType(vector.type);
    SCOPED_TRACE(vector.type);
    std::unique_ptr<Message> whole = testdata::NewMessage(type->name());
    ASSERT_TRUE(whole->ParseFromString(testdata::FromHex(vector.hex)));
    whole->GetReflection()->MutableUnknownFields(whole.get())->AddVarint(99, 5);
    const auto* reflection = whole->GetReflection();
    for (int i = 0; i < type->field_count(); ++i) {
      const FieldDescriptor* field = type->field(i);
      if (!HasStreamableField(type) || !field->is_repeated()) continue;
      std::unique_ptr<Message> header = testdata::NewMessage(type->name());
      header->CopyFrom(*whole);
      header->GetReflection()->ClearField(header.get(), field);
      std::string written;
      {
        StringOutputStream sink(&written);
        ReportWriter writer(&sink, *header, *field);
        for (int j = 0; j < reflection->FieldSize(*whole, field); ++j) {
          if (field->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
            writer.Add(reflection->GetRepeatedString(*whole, field, j));
          } else {
            writer.Add(reflection->GetRepeatedMessage(*whole, field, j));
          }
        }
        EXPECT_TRUE(writer.Finish());
      }
      EXPECT_EQ(written, whole->SerializeAsString()) << field->name();
    }
  }
}

}  // namespace
}  // namespace ostrel::report_stream
