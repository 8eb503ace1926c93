// Any bytes, as JSON of any report type, with unknown names refused or
// skipped (by the type byte's quotient): agg-l3's JSON reader accepts what
// the runtime's JsonStringToMessage accepts, with the same bytes, and reads
// the same from 7-byte chunks as from the whole. It may refuse what the
// runtime takes only where it means to: a number the runtime would round,
// an empty name (which the runtime misreads in a list's element), or text
// that is not JSON.

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/util/json_util.h>
#include <rapidjson/reader.h>

#include <memory>
#include <string>

#include "fuzz_input.h"
#include "format/json_reader.h"

namespace {

bool IsJson(std::string_view text) {
  rapidjson::Reader reader;
  rapidjson::BaseReaderHandler<> ignore;
  rapidjson::MemoryStream bytes(text.data(), text.size());
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag |
                              rapidjson::kParseValidateEncodingFlag |
                              rapidjson::kParseNumbersAsStringsFlag |
                              rapidjson::kParseTrailingCommasFlag;
  return !reader.Parse<kFlags>(bytes, ignore).IsError();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using ostrel::fuzz::Require;
  ostrel::fuzz::FuzzInput input;
  if (!ostrel::fuzz::SplitInput(data, size, &input)) return 0;
  ostrel::agg_l3::JsonReadOptions options;
  options.ignore_unknown_fields =
      data[0] / ostrel::fuzz::ReportFile().message_type_count() % 2 == 1;
  const google::protobuf::Message* prototype =
      google::protobuf::MessageFactory::generated_factory()->GetPrototype(
          input.type);

  std::unique_ptr<google::protobuf::Message> runtime(prototype->New());
  google::protobuf::util::JsonParseOptions runtime_options;
  runtime_options.ignore_unknown_fields = options.ignore_unknown_fields;
  const bool runtime_ok =
      google::protobuf::util::JsonStringToMessage(
          google::protobuf::StringPiece(input.bytes.data(), input.bytes.size()),
          runtime.get(), runtime_options)
          .ok();

  std::unique_ptr<google::protobuf::Message> whole(prototype->New());
  const ostrel::agg_l3::Status read =
      ostrel::agg_l3::ReadJson(input.bytes, whole.get(), options);
  std::unique_ptr<google::protobuf::Message> chunked(prototype->New());
  google::protobuf::io::ArrayInputStream chunks(
      input.bytes.data(), static_cast<int>(input.bytes.size()), 7);
  const ostrel::agg_l3::Status read_chunked =
      ostrel::agg_l3::ReadJson(&chunks, chunked.get(), options);
  Require(read.message() == read_chunked.message());
  Require(whole->SerializeAsString() == chunked->SerializeAsString());

  if (read.ok()) {
    Require(runtime_ok);
    Require(whole->SerializeAsString() == runtime->SerializeAsString());
  } else if (runtime_ok) {
    const std::string& why = read.message();
    Require(!IsJson(input.bytes) ||
            why.find(" is rounded when read as a double") !=
                std::string::npos ||
            why.find(" is out of range for ") != std::string::npos ||
            why.find(" is not an integer") != std::string::npos ||
            why.find(" an empty name names no field") != std::string::npos);
  }
  return 0;
}
