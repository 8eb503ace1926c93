// The registered description of agg_svc_l3_msg.proto, checked against the
// schema as published: these tests catch a mistyped, misnumbered, reordered
// or missing field, message or enumeration in our .proto file. The messages
// and their order are checked against the wire vectors' rows, one per type.

#include <gmock/gmock.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "wire_vectors.h"

namespace ostrel::ruk::agg_service::l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;
using google::protobuf::FileDescriptorProto;

const FileDescriptor* File() { return RouteTableMsg::descriptor()->file(); }

// What schema_shape.txt says of the published schema.
const testdata::Case& Shape() {
  static const auto* shape = new testdata::Case(
      testdata::ReadCases(OSTREL_TEST_DATA "/schema_shape.txt").at(0));
  return *shape;
}

TEST(SchemaDescription, SerializesToThePublishedSize) {
  FileDescriptorProto proto;
  File()->CopyTo(&proto);
  const std::string bytes = proto.SerializeAsString();
  EXPECT_EQ(bytes.size(), 14586u);
  // java_generic_services and py_generic_services, and no other option.
  EXPECT_EQ(bytes.substr(bytes.size() - 8),
            std::string("\x42\x06\x88\x01\x01\x90\x01\x01", 8));
}

TEST(SchemaDescription, FileLevelShape) {
  const FileDescriptor* file = File();
  EXPECT_EQ(file->name(), "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto");
  EXPECT_EQ(file->package(), "ostrel.ruk.agg_service.l3");
  ASSERT_EQ(file->dependency_count(), 2);
  EXPECT_EQ(file->dependency(0)->name(), "ostrel/ruk/core_types.proto");
  EXPECT_EQ(file->dependency(1)->name(),
            "ostrel/ruk/agg_service/agg_svc_common_types.proto");
  EXPECT_EQ(file->public_dependency_count(), 0);
  EXPECT_EQ(file->extension_count(), 0);
  EXPECT_TRUE(file->options().java_generic_services());
  EXPECT_TRUE(file->options().py_generic_services());
  EXPECT_FALSE(file->options().has_cc_generic_services());
  EXPECT_FALSE(file->options().has_optimize_for());
}

TEST(SchemaDescription, EnumerationsAndService) {
  const FileDescriptor* file = File();
  ASSERT_EQ(file->enum_type_count(), 3);
  EXPECT_EQ(file->enum_type(0)->name(), "GracefulRestartMode");
  EXPECT_EQ(file->enum_type(1)->name(), "EdgeNodeStatusEnum");
  EXPECT_EQ(file->enum_type(2)->name(), "RouteOrigin");

  std::vector<std::string> nested;
  for (int i = 0; i < file->message_type_count(); ++i) {
    const Descriptor* message = file->message_type(i);
    EXPECT_EQ(message->nested_type_count(), 0) << message->name();
    EXPECT_EQ(message->oneof_decl_count(), 0) << message->name();
    for (int j = 0; j < message->enum_type_count(); ++j) {
      nested.push_back(message->enum_type(j)->full_name());
    }
  }
  const std::string p = "ostrel.ruk.agg_service.l3.";
  EXPECT_EQ(nested, Shape().Of("enumeration"));

  ASSERT_EQ(file->service_count(), 1);
  const auto* service = file->service(0);
  EXPECT_EQ(service->full_name(), p + "L3QueryService");
  ASSERT_EQ(service->method_count(), 1);
  EXPECT_EQ(service->method(0)->name(), "GetDrRoutesDetail");
  EXPECT_EQ(service->method(0)->input_type()->full_name(),
            "ostrel.ruk.UuidMsg");
  EXPECT_EQ(service->method(0)->output_type(), RouteTableMsg::descriptor());
}

// Counts by kind, and numbering: a uint64 swapped for an int64 keeps the
// description's size, but not these counts.
TEST(SchemaDescription, FieldKindsAndNumbering) {
  std::map<std::string, int> kinds;  // "optional string": how many
  int total = 0;
  for (int i = 0; i < File()->message_type_count(); ++i) {
    const Descriptor* message = File()->message_type(i);
    for (int j = 0; j < message->field_count(); ++j) {
      const FieldDescriptor* field = message->field(j);
      EXPECT_EQ(field->number(), j + 1) << field->full_name();
      EXPECT_FALSE(field->has_default_value()) << field->full_name();
      EXPECT_FALSE(field->is_packed()) << field->full_name();
      ASSERT_NE(field->label(), FieldDescriptor::LABEL_REQUIRED);
      const std::string type =
          field->type() == FieldDescriptor::TYPE_MESSAGE ? "message"
          : field->type() == FieldDescriptor::TYPE_ENUM  ? "enum"
                                                         : field->type_name();
      ++kinds[(field->is_repeated() ? "repeated " : "optional ") + type];
      ++total;
    }
  }
  EXPECT_EQ(total, 291);
  std::vector<std::string> counted;
  for (const auto& [kind, count] : kinds) {
    counted.push_back(kind + " " + std::to_string(count));
  }
  EXPECT_EQ(counted, Shape().Of("fields"));
}

}  // namespace
}  // namespace ostrel::ruk::agg_service::l3
