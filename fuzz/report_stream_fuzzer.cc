// Any bytes, as any report type, read element by element: the reader must
// fail exactly when a whole-message parse fails, and otherwise rebuild the
// same message.

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>
#include <ostrel/report_stream.h>

#include <memory>
#include <string>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ostrel::fuzz::Parsed whole;
  if (!ostrel::fuzz::ParseInput(data, size, &whole)) return 0;
  const ostrel::fuzz::FuzzInput& input = whole.input;
  const google::protobuf::Message* prototype = whole.prototype;
  const bool parsed = whole.ok;

  // Small blocks put element boundaries across buffers.
  google::protobuf::io::ArrayInputStream stream(
      input.bytes.data(), static_cast<int>(input.bytes.size()), 5);
  ostrel::report_stream::ReportReader reader(&stream, *input.type, {});
  // Elements go into a message of their own; the header, final only at the
  // end (late fields), holds everything else.
  std::unique_ptr<google::protobuf::Message> lists(prototype->New());
  const auto* reflection = lists->GetReflection();
  while (reader.Next()) {
    if (reader.event() != ostrel::report_stream::ReportReader::kElement)
      continue;
    const auto* field = reader.field();
    if (field->cpp_type() ==
        google::protobuf::FieldDescriptor::CPPTYPE_STRING) {
      reflection->AddString(lists.get(), field, reader.element_string());
    } else {
      reflection->AddMessage(lists.get(), field)->CopyFrom(reader.element());
    }
  }
  ostrel::fuzz::Require(reader.ok() == parsed);
  if (!parsed) return 0;
  std::unique_ptr<google::protobuf::Message> rebuilt(prototype->New());
  rebuilt->CopyFrom(reader.header());
  rebuilt->MergeFrom(*lists);
  ostrel::fuzz::Require(rebuilt->SerializeAsString() ==
                        whole.message->SerializeAsString());
  return 0;
}
