// Byte-exact wire vectors for the messages of agg_svc_l3_msg.proto.
//
// Each message is written in text format (so every field name is checked
// against the registered schema), serialized, and compared with bytes worked
// out independently from the published field numbers and wire types:
// a renumbered or retyped field, a wrong tag, a wrong varint, length or float
// encoding, or fields written out of order all show up as a byte mismatch.
// The bytes are then parsed back and must give the same message and the same
// bytes again.
//
// Types are found by name in the generated pool, as a generic consumer finds
// them.

#include "wire_vectors.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/unknown_field_set.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::testdata {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;
using google::protobuf::Message;
using google::protobuf::TextFormat;
using google::protobuf::io::ArrayInputStream;
using google::protobuf::io::ArrayOutputStream;
using google::protobuf::util::MessageDifferencer;

constexpr char kFile[] = "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto";

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    if (!hex.empty()) hex.push_back(' ');
    hex.push_back(kDigits[c >> 4]);
    hex.push_back(kDigits[c & 15]);
  }
  return hex;
}

// Serializes through a stream that hands out 3-byte buffers, so that records
// straddle buffer boundaries.
std::string SerializeInSmallBlocks(const Message& message) {
  std::string buffer(message.ByteSizeLong() + 16, '\0');
  ArrayOutputStream output(buffer.data(), static_cast<int>(buffer.size()), 3);
  EXPECT_TRUE(message.SerializeToZeroCopyStream(&output));
  buffer.resize(static_cast<size_t>(output.ByteCount()));
  return buffer;
}

// The text form of `type` must serialize to exactly `hex`; the bytes `input`
// (by default `hex` itself) must parse, whole or fed one byte at a time, into
// a message equal to the text form that serializes to `hex` again.
void ExpectWireRoundTrip(const std::string& type, const char* text,
                         const char* hex, const char* input = nullptr) {
  std::unique_ptr<Message> from_text = NewMessage(type);
  ASSERT_NE(from_text, nullptr) << type << " is not registered";
  ASSERT_TRUE(TextFormat::ParseFromString(text, from_text.get()))
      << "text does not parse as " << type << ": " << text;
  const std::string expected = FromHex(hex);

  EXPECT_EQ(from_text->ByteSizeLong(), expected.size());
  EXPECT_EQ(ToHex(from_text->SerializeAsString()), ToHex(expected));
  EXPECT_EQ(ToHex(SerializeInSmallBlocks(*from_text)), ToHex(expected));

  const std::string wire = input == nullptr ? expected : FromHex(input);
  for (int block_size : {-1, 1}) {
    SCOPED_TRACE(block_size < 0 ? "parsed whole" : "parsed byte by byte");
    std::unique_ptr<Message> parsed = NewMessage(type);
    ArrayInputStream stream(wire.data(), static_cast<int>(wire.size()),
                            block_size);
    ASSERT_TRUE(parsed->ParseFromZeroCopyStream(&stream));
    EXPECT_TRUE(MessageDifferencer::Equals(*from_text, *parsed))
        << "expected: " << from_text->ShortDebugString()
        << "\nparsed:   " << parsed->ShortDebugString();
    EXPECT_TRUE(parsed->GetReflection()->GetUnknownFields(*parsed).empty());
    EXPECT_EQ(ToHex(parsed->SerializeAsString()), ToHex(expected));
  }
}

class WireVectorEveryField : public testing::TestWithParam<EveryFieldVector> {};

TEST_P(WireVectorEveryField, SetsEveryFieldAndRoundTrips) {
  const EveryFieldVector& row = GetParam();
  ExpectWireRoundTrip(row.type, row.text, row.hex);
  std::unique_ptr<Message> message = NewMessage(row.type);
  ASSERT_TRUE(TextFormat::ParseFromString(row.text, message.get()));
  std::vector<const FieldDescriptor*> set;
  message->GetReflection()->ListFields(*message, &set);
  EXPECT_EQ(set.size(),
            static_cast<size_t>(message->GetDescriptor()->field_count()));
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, WireVectorEveryField, testing::ValuesIn(EveryFieldVectors()),
    [](const testing::TestParamInfo<EveryFieldVector>& info) {
      return std::string(info.param.type);
    });

// The rows list the published messages in their published order: a message
// missing, added or moved in the schema file shows here.
TEST(WireVectorCoverage, OneRowPerMessageTypeInDeclarationOrder) {
  const FileDescriptor* file =
      DescriptorPool::generated_pool()->FindFileByName(kFile);
  ASSERT_NE(file, nullptr);
  std::vector<std::string> declared, rows;
  for (int i = 0; i < file->message_type_count(); ++i) {
    declared.push_back(file->message_type(i)->name());
  }
  for (const EveryFieldVector& row : EveryFieldVectors()) {
    rows.push_back(row.type);
  }
  EXPECT_EQ(rows, declared);
  EXPECT_EQ(declared.size(), 58u);
}

class WireVectorSmall : public testing::TestWithParam<RecordVector> {};

TEST_P(WireVectorSmall, RoundTrip) {
  const RecordVector& row = GetParam();
  ExpectWireRoundTrip(row.type, row.text, row.hex, row.input);
}

INSTANTIATE_TEST_SUITE_P(Records, WireVectorSmall,
                         testing::ValuesIn(RecordVectors()),
                         [](const testing::TestParamInfo<RecordVector>& info) {
                           return std::string(info.param.name);
                         });

// The broken encodings other tests feed their readers are broken indeed.
TEST(WireVectorMalformed, NoParserAccepts) {
  for (const auto& vector : MalformedVectors()) {
    EXPECT_FALSE(NewMessage(vector.type)->ParseFromString(FromHex(vector.hex)))
        << vector.name;
  }
}

}  // namespace
}  // namespace ostrel::testdata
