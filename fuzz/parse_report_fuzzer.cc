// Any bytes, as any report type: parsing fails cleanly or gives a message
// that serializes to exactly its size, reparses to the same bytes, survives
// text and JSON round trips, prints as text byte for byte as the runtime
// prints it, and whose drift check agrees with the parser.

#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>

#include <memory>
#include <string>

#include "format/drift_check.h"
#include "format/text_printer.h"
#include "fuzz_input.h"

namespace {

class SilentErrors : public google::protobuf::io::ErrorCollector {
  void AddError(int, int, const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ostrel::fuzz::Parsed whole;
  if (!ostrel::fuzz::ParseInput(data, size, &whole)) return 0;
  const ostrel::fuzz::FuzzInput& input = whole.input;
  const google::protobuf::Message* prototype = whole.prototype;
  const bool parsed = whole.ok;

  const ostrel::agg_l3::WireWalk walk =
      ostrel::agg_l3::WalkWire(*input.type, input.bytes);
  ostrel::fuzz::Require(walk.malformation.has_value() == !parsed);
  if (!parsed) return 0;

  const std::string bytes = whole.message->SerializeAsString();
  ostrel::fuzz::Require(bytes.size() == whole.message->ByteSizeLong());
  std::unique_ptr<google::protobuf::Message> again(prototype->New());
  ostrel::fuzz::Require(again->ParseFromString(bytes));
  ostrel::fuzz::Require(again->SerializeAsString() == bytes);

  // Text format prints unknown fields by number, which it cannot read back;
  // everything else it must.
  std::unique_ptr<google::protobuf::Message> known(prototype->New());
  known->CopyFrom(*whole.message);
  known->DiscardUnknownFields();
  const bool has_unknown_fields = known->SerializeAsString() != bytes;
  std::string text;
  ostrel::fuzz::Require(
      google::protobuf::TextFormat::PrintToString(*whole.message, &text));
  std::string ours;
  {
    google::protobuf::io::StringOutputStream output(&ours);
    ostrel::agg_l3::TextPrinter(&output).Print(*whole.message);
  }
  ostrel::fuzz::Require(ours == text);
  std::unique_ptr<google::protobuf::Message> from_text(prototype->New());
  SilentErrors silent;
  google::protobuf::TextFormat::Parser parser;
  parser.RecordErrorsTo(&silent);
  ostrel::fuzz::Require(parser.ParseFromString(text, from_text.get()) ||
                        has_unknown_fields);

  std::string json;
  if (google::protobuf::util::MessageToJsonString(*whole.message, &json).ok()) {
    std::unique_ptr<google::protobuf::Message> from_json(prototype->New());
    // JSON has no place for unknown fields, so the reading may differ.
    (void)google::protobuf::util::JsonStringToMessage(json, from_json.get());
  }
  return 0;
}
