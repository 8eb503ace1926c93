#include "agg_l3_json.h"

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <map>
#include <memory>

#include "commands/commands.h"

namespace ostrel::bench {
namespace {

using google::protobuf::Descriptor;

// Takes output and forgets it, as a pipe to a fast reader would.
class Discard : public google::protobuf::io::ZeroCopyOutputStream {
 public:
  bool Next(void** data, int* size) override {
    *data = buffer_;
    *size = sizeof buffer_;
    count_ += sizeof buffer_;
    return true;
  }
  void BackUp(int count) override { count_ -= count; }
  int64_t ByteCount() const override { return count_; }

 private:
  char buffer_[1 << 16];
  int64_t count_ = 0;
};

// What `agg-l3 decode|encode --json [--each route] TYPE` does with `input`,
// through the tool's own command layer, writing to `output`.
bool RunTool(agg_l3::Command command, const Descriptor& type, bool each,
             const std::string& input,
             google::protobuf::io::ZeroCopyOutputStream* output) {
  agg_l3::Options options;
  options.command = command;
  options.type = &type;
  options.format = agg_l3::Format::kJson;
  options.json.add_whitespace = true;
  if (each) options.each = "route";
  google::protobuf::io::ArrayInputStream raw(
      input.data(), static_cast<int>(input.size()), 1 << 20);
  std::vector<std::unique_ptr<agg_l3::Input>> inputs;
  inputs.push_back(std::make_unique<agg_l3::Input>());
  inputs.back()->OpenStream(&raw, "bench", agg_l3::Decompress::kNone);
  agg_l3::Output out;
  out.OpenStream(output, agg_l3::Compression::kNone);
  agg_l3::Warnings warnings;
  return agg_l3::Run(options, inputs, out, &warnings).ok();
}

std::string RunToString(agg_l3::Command command, const Descriptor& type,
                        bool each, const std::string& input) {
  std::string result;
  {
    google::protobuf::io::StringOutputStream output(&result);
    if (!RunTool(command, type, each, input, &output)) return "";
  }
  return result;
}

// The JSON of a report, whole or as lines, made once per report.
const std::string& Json(const Descriptor& type, const std::string& wire,
                        bool each) {
  static auto* texts = new std::map<std::pair<const void*, bool>, std::string>;
  std::string& text = (*texts)[{wire.data(), each}];
  if (text.empty()) {
    text = RunToString(agg_l3::Command::kDecode, type, each, wire);
  }
  return text;
}

}  // namespace

void AggL3Decode(benchmark::State& state, const std::string& wire,
                 const Descriptor& type, bool each) {
  const std::string& expected = Json(type, wire, each);
  bool ok = !expected.empty() &&
            RunToString(agg_l3::Command::kEncode, type, each, expected) == wire;
  for (auto _ : state) {
    Discard output;
    ok &= RunTool(agg_l3::Command::kDecode, type, each, wire, &output);
  }
  if (!ok) state.SkipWithError("JSON does not encode back to the report");
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(wire.size()));
}

void AggL3Encode(benchmark::State& state, const std::string& wire,
                 const Descriptor& type, bool each) {
  const std::string& json = Json(type, wire, each);
  bool ok = !json.empty() &&
            RunToString(agg_l3::Command::kEncode, type, each, json) == wire;
  for (auto _ : state) {
    Discard output;
    ok &= RunTool(agg_l3::Command::kEncode, type, each, json, &output);
  }
  if (!ok) state.SkipWithError("encoded bytes differ from the report");
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(wire.size()));
}

}  // namespace ostrel::bench
