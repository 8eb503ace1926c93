// The agg-l3 command layer itself, in process, with the options chosen by
// the fuzzer: every command and mode (--delimited, --each, JSON and text,
// --accept-loss, diff with either side), on input as it is or gzipped on
// the way in. Beyond not crashing, whatever the tool writes as JSON must be
// UTF-8, and its exit status one of those it documents.
//
// The first three bytes choose: the command and its switches, the report
// type, and where diff's old report ends and the new one starts.

#include <google/protobuf/io/gzip_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <cstring>
#include <memory>
#include <string>

#include "commands/commands.h"
#include "fuzz_input.h"

namespace {

namespace agg = ::ostrel::agg_l3;

std::string Gzip(std::string_view bytes) {
  std::string compressed;
  {
    google::protobuf::io::StringOutputStream raw(&compressed);
    google::protobuf::io::GzipOutputStream::Options options;
    options.format = google::protobuf::io::GzipOutputStream::GZIP;
    google::protobuf::io::GzipOutputStream gzip(&raw, options);
    void* data;
    int size;
    while (!bytes.empty() && gzip.Next(&data, &size)) {
      const size_t taken = std::min(bytes.size(), static_cast<size_t>(size));
      std::memcpy(data, bytes.data(), taken);
      gzip.BackUp(size - static_cast<int>(taken));
      bytes.remove_prefix(taken);
    }
  }
  return compressed;
}

// The first repeated message field of `type`, for --each.
std::string FirstList(const google::protobuf::Descriptor& type) {
  for (int i = 0; i < type.field_count(); ++i) {
    if (type.field(i)->is_repeated()) return type.field(i)->name();
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t switches = data[0];
  const auto& file = ostrel::fuzz::ReportFile();
  agg::Options options;
  options.type = file.message_type(data[1] % file.message_type_count());
  constexpr agg::Command kCommands[] = {
      agg::Command::kDecode, agg::Command::kEncode, agg::Command::kCheck,
      agg::Command::kDiff};
  options.command = kCommands[switches & 3];
  options.format = switches & 4 ? agg::Format::kJson : agg::Format::kText;
  options.delimited = switches & 8;
  if (switches & 16) options.each = FirstList(*options.type);
  options.accept_loss = switches & 32;
  options.json.add_whitespace = !(switches & 64);
  options.decompress =
      switches & 128 ? agg::Decompress::kNone : agg::Decompress::kAuto;
  if (options.command == agg::Command::kEncode) {
    options.accept_loss = false;  // decode's
    if (options.delimited) options.each.clear();
  }
  if (options.command == agg::Command::kDiff ||
      options.command == agg::Command::kCheck) {
    options.each.clear();
  }
  if (options.format == agg::Format::kText) {
    options.json.add_whitespace = true;
  }
  // Some inputs of the commands that read binary spelled out as hex or
  // base64; some listed by decode --raw.
  constexpr agg::TextEncoding kEncodings[] = {
      agg::TextEncoding::kNone, agg::TextEncoding::kHex,
      agg::TextEncoding::kBase64, agg::TextEncoding::kNone};
  if (options.command != agg::Command::kEncode) {
    options.encoding = kEncodings[(data[2] >> 1) & 3];
  }
  options.raw = options.command == agg::Command::kDecode && (data[2] & 8) &&
                options.format == agg::Format::kText && !options.delimited &&
                options.each.empty() && !options.accept_loss;

  std::string_view body(reinterpret_cast<const char*>(data) + 3, size - 3);
  std::vector<std::string> contents;
  if (options.command == agg::Command::kDiff) {
    const size_t split = body.empty() ? 0 : data[2] % (body.size() + 1);
    contents = {std::string(body.substr(0, split)),
                std::string(body.substr(split))};
  } else {
    contents = {std::string(body)};
  }
  // Half the inputs arrive gzipped, for the inflating reader to see whole
  // archives as well as broken ones.
  if ((data[2] & 1) && options.decompress == agg::Decompress::kAuto) {
    for (std::string& content : contents) content = Gzip(content);
  }

  std::vector<std::unique_ptr<google::protobuf::io::ArrayInputStream>> raw;
  std::vector<std::unique_ptr<agg::Input>> inputs;
  for (const std::string& content : contents) {
    // Small blocks put every boundary across buffers.
    raw.push_back(std::make_unique<google::protobuf::io::ArrayInputStream>(
        content.data(), static_cast<int>(content.size()), 7));
    inputs.push_back(std::make_unique<agg::Input>());
    inputs.back()->OpenStream(raw.back().get(), "fuzz", options.decompress,
                              options.encoding);
  }
  std::string written;
  agg::Status status;
  agg::Warnings warnings;
  {
    google::protobuf::io::StringOutputStream sink(&written);
    agg::Output output;
    output.OpenStream(&sink, agg::Compression::kNone);
    status = agg::Run(options, inputs, output, &warnings);
  }
  ostrel::fuzz::Require(status.code() >= agg::kOk &&
                        status.code() <= agg::kCannotHold);
  const bool json_out =
      (options.command == agg::Command::kDecode &&
       (options.format == agg::Format::kJson || !options.each.empty())) ||
      (options.command == agg::Command::kDiff &&
       options.format == agg::Format::kJson);
  if (json_out) {
    ostrel::fuzz::Require(agg::FirstNonUtf8(written) == std::string::npos);
  }
  return 0;
}
