// Hostile and broken input: every parse must end in a clean result (false,
// or the documented true), never a crash, a hang, a huge allocation or a
// leak. Run under the sanitizer presets to check the last three.

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>
#include <google/protobuf/wire_format_lite.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "wire_vectors.h"

namespace ostrel::ruk::agg_service::l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::internal::WireFormatLite;
using google::protobuf::io::CodedInputStream;
using testdata::FromHex;
using testdata::NewMessage;

// Offsets at which a top-level record ends.
std::vector<size_t> RecordEnds(const std::string& bytes) {
  std::vector<size_t> ends = {0};
  CodedInputStream input(reinterpret_cast<const uint8_t*>(bytes.data()),
                         static_cast<int>(bytes.size()));
  while (uint32_t tag = input.ReadTag()) {
    EXPECT_TRUE(WireFormatLite::SkipField(&input, tag));
    ends.push_back(static_cast<size_t>(input.CurrentPosition()));
  }
  return ends;
}

// A prefix that ends between two records is a shorter, valid report; one
// that ends inside a record must fail.
TEST(MalformedInput, EveryVectorTruncatedAtEveryByte) {
  for (const auto& vector : testdata::EveryFieldVectors()) {
    SCOPED_TRACE(vector.type);
    const std::string bytes = FromHex(vector.hex);
    const std::vector<size_t> ends = RecordEnds(bytes);
    std::unique_ptr<Message> message = NewMessage(vector.type);
    for (size_t length = 0; length < bytes.size(); ++length) {
      const bool at_boundary =
          std::find(ends.begin(), ends.end(), length) != ends.end();
      EXPECT_EQ(message->ParseFromArray(bytes.data(), static_cast<int>(length)),
                at_boundary)
          << "prefix of " << length << " bytes";
    }
  }
}

TEST(MalformedInput, BrokenEncodingsFail) {
  for (const auto& vector : testdata::MalformedVectors()) {
    EXPECT_FALSE(NewMessage(vector.type)->ParseFromString(FromHex(vector.hex)))
        << vector.name;
  }
  EXPECT_GE(testdata::MalformedVectors().size(), 18u);
}

// Every field of every type, arriving with a wire type other than its own,
// is kept as an unknown field and written back unchanged.
TEST(MalformedInput, WrongWireTypeAtEveryField) {
  const auto* file = RouteTableMsg::descriptor()->file();
  int checked = 0;
  for (int i = 0; i < file->message_type_count(); ++i) {
    const Descriptor* type = file->message_type(i);
    for (int j = 0; j < type->field_count(); ++j) {
      const FieldDescriptor* field = type->field(j);
      const auto own = WireFormatLite::WireTypeForFieldType(
          static_cast<WireFormatLite::FieldType>(field->type()));
      std::string record;
      google::protobuf::io::StringOutputStream sink(&record);
      {
        google::protobuf::io::CodedOutputStream out(&sink);
        if (own == WireFormatLite::WIRETYPE_LENGTH_DELIMITED) {
          out.WriteTag(WireFormatLite::MakeTag(
              field->number(), WireFormatLite::WIRETYPE_VARINT));
          out.WriteVarint32(300);
        } else {
          out.WriteTag(WireFormatLite::MakeTag(
              field->number(), WireFormatLite::WIRETYPE_LENGTH_DELIMITED));
          out.WriteVarint32(1);
          out.WriteRaw("x", 1);
        }
      }
      std::unique_ptr<Message> message = NewMessage(type->name());
      ASSERT_TRUE(message->ParseFromString(record)) << field->full_name();
      const auto* reflection = message->GetReflection();
      EXPECT_EQ(field->is_repeated() ? reflection->FieldSize(*message, field)
                                     : reflection->HasField(*message, field),
                0)
          << field->full_name();
      EXPECT_EQ(reflection->GetUnknownFields(*message).field_count(), 1)
          << field->full_name();
      EXPECT_EQ(message->SerializeAsString(), record) << field->full_name();
      ++checked;
    }
  }
  EXPECT_EQ(checked, 291);
}

}  // namespace
}  // namespace ostrel::ruk::agg_service::l3
