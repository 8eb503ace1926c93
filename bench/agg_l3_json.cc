#include "agg_l3_json.h"

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <map>

#include "each_lines.h"
#include "report_codec.h"

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

std::string DecodeEachTo(const Descriptor& type, const std::string& wire) {
  std::string lines;
  google::protobuf::io::ArrayInputStream input(wire.data(),
                                               static_cast<int>(wire.size()));
  google::protobuf::io::StringOutputStream output(&lines);
  agg_l3::Warnings warnings;
  if (!agg_l3::DecodeEach(type, "route", &input, "bench", &output, &warnings)
           .ok()) {
    lines.clear();
  }
  return lines;
}

// The JSON of a report, whole or as lines, made once per report.
const std::string& Json(const Descriptor& type, const std::string& wire,
                        bool each) {
  static auto* texts = new std::map<std::pair<const void*, bool>, std::string>;
  std::string& text = (*texts)[{wire.data(), each}];
  if (text.empty()) {
    agg_l3::Warnings warnings;
    if (each) {
      text = DecodeEachTo(type, wire);
    } else {
      agg_l3::Decode(type, wire, agg_l3::Format::kJson, &text, &warnings);
    }
  }
  return text;
}

std::string EncodeOnce(const Descriptor& type, const std::string& json,
                       bool each) {
  std::string binary;
  if (!each) {
    agg_l3::Encode(type, json, agg_l3::Format::kJson, &binary);
    return binary;
  }
  google::protobuf::io::ArrayInputStream lines(json.data(),
                                               static_cast<int>(json.size()));
  google::protobuf::io::StringOutputStream output(&binary);
  agg_l3::EncodeEach(type, "route", &lines, "bench", &output);
  return binary;
}

}  // namespace

void AggL3Decode(benchmark::State& state, const std::string& wire,
                 const Descriptor& type, bool each) {
  const std::string& expected = Json(type, wire, each);
  bool ok = !expected.empty() && EncodeOnce(type, expected, each) == wire;
  for (auto _ : state) {
    agg_l3::Warnings warnings;
    if (each) {
      google::protobuf::io::ArrayInputStream input(
          wire.data(), static_cast<int>(wire.size()), 1 << 20);
      Discard output;
      ok &=
          agg_l3::DecodeEach(type, "route", &input, "bench", &output, &warnings)
              .ok();
    } else {
      std::string json;
      ok &= agg_l3::Decode(type, wire, agg_l3::Format::kJson, &json, &warnings)
                .ok();
      benchmark::DoNotOptimize(json.data());
    }
  }
  if (!ok) state.SkipWithError("JSON does not encode back to the report");
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(wire.size()));
}

void AggL3Encode(benchmark::State& state, const std::string& wire,
                 const Descriptor& type, bool each) {
  const std::string& json = Json(type, wire, each);
  bool ok = !json.empty();
  for (auto _ : state) {
    if (each) {
      google::protobuf::io::ArrayInputStream lines(
          json.data(), static_cast<int>(json.size()), 1 << 20);
      Discard output;
      ok &= agg_l3::EncodeEach(type, "route", &lines, "bench", &output).ok();
    } else {
      std::string binary;
      ok &= agg_l3::Encode(type, json, agg_l3::Format::kJson, &binary).ok();
      benchmark::DoNotOptimize(binary.data());
    }
  }
  if (!ok || EncodeOnce(type, json, each) != wire) {
    state.SkipWithError("encoded bytes differ from the report");
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(wire.size()));
}

}  // namespace ostrel::bench
