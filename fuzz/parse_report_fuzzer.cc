// Any bytes, as any report type: parsing fails cleanly or gives a message
// that serializes to exactly its size, reparses to the same bytes, survives
// text and JSON round trips, and whose drift check agrees with the parser.

#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "drift_check.h"
#include "fuzz_input.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ostrel::fuzz::FuzzInput input;
  if (!ostrel::fuzz::SplitInput(data, size, &input)) return 0;
  const google::protobuf::Message* prototype =
      google::protobuf::MessageFactory::generated_factory()->GetPrototype(
          input.type);
  std::unique_ptr<google::protobuf::Message> message(prototype->New());
  const bool parsed = message->ParseFromArray(
      input.bytes.data(), static_cast<int>(input.bytes.size()));

  const ostrel::agg_l3::WireWalk walk =
      ostrel::agg_l3::WalkWire(*input.type, input.bytes);
  Require(walk.malformation.has_value() == !parsed);
  if (!parsed) return 0;

  const std::string bytes = message->SerializeAsString();
  Require(bytes.size() == message->ByteSizeLong());
  std::unique_ptr<google::protobuf::Message> again(prototype->New());
  Require(again->ParseFromString(bytes));
  Require(again->SerializeAsString() == bytes);

  std::string text;
  Require(google::protobuf::TextFormat::PrintToString(*message, &text));
  std::unique_ptr<google::protobuf::Message> from_text(prototype->New());
  google::protobuf::TextFormat::ParseFromString(text, from_text.get());

  std::string json;
  if (google::protobuf::util::MessageToJsonString(*message, &json).ok()) {
    std::unique_ptr<google::protobuf::Message> from_json(prototype->New());
    // JSON has no place for unknown fields, so the reading may differ.
    (void)google::protobuf::util::JsonStringToMessage(json, from_json.get());
  }
  return 0;
}
