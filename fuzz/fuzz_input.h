// Fuzz inputs name their report type in the first byte (its index in the
// schema file, modulo the type count), so one target reaches every type and
// a corpus entry says what it is.

#ifndef OSTREL_FUZZ_FUZZ_INPUT_H_
#define OSTREL_FUZZ_FUZZ_INPUT_H_

#include <google/protobuf/descriptor.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::fuzz {

struct FuzzInput {
  const google::protobuf::Descriptor* type;
  std::string_view bytes;
};

inline const google::protobuf::FileDescriptor& ReportFile() {
  return *ostrel::ruk::agg_service::l3::RouteTableMsg::descriptor()->file();
}

inline bool SplitInput(const uint8_t* data, size_t size, FuzzInput* input) {
  if (size == 0) return false;
  input->type =
      ReportFile().message_type(data[0] % ReportFile().message_type_count());
  input->bytes =
      std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1);
  return true;
}

// Stops the run, so that libFuzzer keeps the input that broke an invariant.
inline void Require(bool condition) {
  if (!condition) std::abort();
}

struct Parsed {
  FuzzInput input;
  const google::protobuf::Message* prototype;
  std::unique_ptr<google::protobuf::Message> message;
  bool ok;  // whether a whole-message parse accepted the bytes
};

// The input, parsed as a whole into a fresh message of its type; false for
// an empty input.
inline bool ParseInput(const uint8_t* data, size_t size, Parsed* parsed) {
  if (!SplitInput(data, size, &parsed->input)) return false;
  parsed->prototype =
      google::protobuf::MessageFactory::generated_factory()->GetPrototype(
          parsed->input.type);
  parsed->message.reset(parsed->prototype->New());
  parsed->ok = parsed->message->ParseFromArray(
      parsed->input.bytes.data(), static_cast<int>(parsed->input.bytes.size()));
  return true;
}

}  // namespace ostrel::fuzz

#endif  // OSTREL_FUZZ_FUZZ_INPUT_H_
