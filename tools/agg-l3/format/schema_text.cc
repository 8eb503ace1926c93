#include "format/schema_text.h"

#include <google/protobuf/descriptor.pb.h>

#include <deque>
#include <functional>
#include <set>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;

// protoc writes each field's JSON name into the set; the files leave them
// to the default, and so does their text.
void DropJsonNames(google::protobuf::DescriptorProto* message) {
  for (auto& field : *message->mutable_field()) field.clear_json_name();
  for (auto& nested : *message->mutable_nested_type()) DropJsonNames(&nested);
}

const DescriptorPool& CommentedPool() {
  static const DescriptorPool* const pool = [] {
    auto* built = new DescriptorPool;
    google::protobuf::FileDescriptorSet set;
    set.ParseFromArray(kSchemaSet.data(), static_cast<int>(kSchemaSet.size()));
    for (auto& file : *set.mutable_file()) {
      for (auto& message : *file.mutable_message_type()) {
        DropJsonNames(&message);
      }
      built->BuildFile(file);
    }
    return built;
  }();
  return *pool;
}

google::protobuf::DebugStringOptions WithComments() {
  google::protobuf::DebugStringOptions options;
  options.include_comments = true;
  return options;
}

}  // namespace

std::string TypeText(const Descriptor& type) {
  // Breadth first from `type`; a nested type is printed with the message
  // that declares it, whose own uses are followed too.
  std::deque<const Descriptor*> waiting;
  std::set<const void*> seen;
  std::string text;
  const auto use = [&](const Descriptor* message,
                       const google::protobuf::EnumDescriptor* enumeration) {
    if (enumeration != nullptr) {
      message = enumeration->containing_type();
    } else if (message == nullptr) {
      return;  // a scalar
    }
    if (message == nullptr) {
      if (seen.insert(enumeration).second) {
        text += "\n" + enumeration->DebugStringWithOptions(WithComments());
      }
      return;
    }
    while (message->containing_type() != nullptr) {
      message = message->containing_type();
    }
    if (seen.insert(message).second) waiting.push_back(message);
  };
  const std::function<void(const Descriptor*)> follow =
      [&](const Descriptor* message) {
        for (int i = 0; i < message->field_count(); ++i) {
          use(message->field(i)->message_type(),
              message->field(i)->enum_type());
        }
        for (int i = 0; i < message->nested_type_count(); ++i) {
          follow(message->nested_type(i));
        }
      };
  use(CommentedPool().FindMessageTypeByName(type.full_name()), nullptr);
  while (!waiting.empty()) {
    const Descriptor* message = waiting.front();
    waiting.pop_front();
    text += (text.empty() ? "" : "\n") +
            message->DebugStringWithOptions(WithComments());
    follow(message);
  }
  return text;
}

}  // namespace ostrel::agg_l3
