// decode: binary reports to text format or JSON.
//
//   decode                 one report, parsed whole, printed once it parsed
//                          and was judged exact;
//   decode --each LIST     JSON lines, one per element (each_lines.h);
//   decode --delimited     a report per record, printed as each is read:
//                          text after a "--- record N" line, or JSON lines.

#include <ostrel/report_stream.h>

#include <functional>

#include "commands/commands.h"
#include "format/drift_check.h"
#include "format/input_hints.h"
#include "format/raw_listing.h"
#include "format/report_codec.h"
#include "frame/delimited.h"
#include "frame/each_lines.h"
#include "frame/lines.h"
#include "wire_rules.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::Message;

// Why `bytes`, which the runtime rejected as a `type`, are none, with
// offsets from `offset` on.
std::string WhereMalformed(const Descriptor& type, std::string_view bytes,
                           int64_t offset = 0) {
  WireWalk walk = WalkWire(type, bytes);
  if (!walk.malformation) return "rejected by the protobuf runtime";
  walk.malformation->offset += static_cast<size_t>(offset);
  return Describe(*walk.malformation);
}

Status NotAReport(const Input& input, const Descriptor& type,
                  std::string_view bytes, InputForm form) {
  std::string why = WhereMalformed(type, bytes);
  if (const std::string hint = LooksLike(type, bytes, form); !hint.empty()) {
    why += "; " + hint;
  }
  return {kMalformed,
          input.name() + " is not a well-formed " + type.name() + ": " + why};
}

Status DecodeWhole(const Options& options, Input& input, Output& output,
                   Exactness& exactness, int64_t number) {
  const Descriptor& type = *options.type;
  Message* report = NewReportKeptToExit(type);
  std::string bytes;
  const int64_t size = input.size();
  // Whether the bytes, followed as they are parsed, hold only what JSON
  // holds exactly: then the parsed report needs no walk to judge it.
  bool exact = false;
  const bool to_json = options.format == Format::kJson;
  if (size >= 0 && static_cast<uint64_t>(size) <= wire::kMaxLength) {
    // A file is parsed as it is read, never held beside the report, and
    // read again only to say where it is malformed.
    JsonExactWire followed(type, input.stream());
    if (!report->ParseFromZeroCopyStream(to_json ? &followed
                                                 : input.stream())) {
      if (Status read = input.status(); !read.ok()) return read;
      if (Status read = input.ReadAgain(&bytes); !read.ok()) return read;
      return NotAReport(input, type, bytes, InputForm::kBinary);
    }
    exact = to_json && followed.exact();
  } else {
    input.Limit(wire::kMaxLength, "the 2 GiB a report can take");
    TopLevelRecords records;
    if (Status read = input.ReadAll(&bytes, std::ref(records)); !read.ok()) {
      return read;
    }
    if (!report->ParseFromString(bytes)) {
      return NotAReport(input, type, bytes, InputForm::kBinary);
    }
    exact = to_json && JsonExactMessage(type, bytes);
  }
  if (Status read = input.status(); !read.ok()) return read;
  if (!exact && !exactness.Judge(report)) {
    return exactness.Refusal(input.name());
  }
  google::protobuf::util::JsonPrintOptions json = options.json;
  if (number > 0) {
    json.add_whitespace = false;  // a report per line
    if (options.format == Format::kText) {
      output.Write(TextRecordSeparator(number) + "\n");
    }
  }
  Print(*report, options.format, json, output.stream());
  return {};
}

// The records of bytes of any type, whole: nothing is printed of an input
// that turns out malformed.
Status DecodeRaw(Input& input, Output& output) {
  input.Limit(wire::kMaxLength, "the 2 GiB a message can take");
  std::string bytes;
  TopLevelRecords records;
  if (Status read = input.ReadAll(&bytes, std::ref(records)); !read.ok()) {
    return read;
  }
  if (const auto malformation = ListRecords(
          bytes, [&](std::string_view text) { output.Write(text); })) {
    return {kMalformed, input.name() + " is not well-formed protobuf: " +
                            Describe(*malformation)};
  }
  return {};
}

Status DecodeDelimited(const Options& options, Input& input, Output& output,
                       Exactness& exactness, Progress& progress) {
  const Descriptor& type = *options.type;
  DelimitedReader reader(input.stream(), input.size());
  google::protobuf::util::JsonPrintOptions json = options.json;
  json.add_whitespace = false;  // a report per line
  const std::unique_ptr<StreamPrinter> out =
      NewPrinter(options.format, json, output.stream());
  const std::unique_ptr<Message> report = NewReport(type);
  std::string record;
  while (!out->failed() && reader.NextRecord()) {
    const std::string source =
        input.name() + ", record " + std::to_string(reader.number());
    progress.Update(reader.offset(), reader.number());
    if (!options.each.empty()) {
      const Status decoded =
          DecodeEach(type, options.each, reader.RecordStream(), source,
                     output.stream(), exactness, options.json);
      if (!reader.FinishRecordStream()) break;  // cut short: the reader says
      if (!decoded.ok()) return decoded;
      continue;
    }
    TopLevelRecords records;
    if (!reader.ReadRecord(&record, std::ref(records))) {
      break;
    }
    if (!report->ParseFromString(record)) {
      reader.Fail(WhereMalformed(type, record, reader.body_offset()));
      break;
    }
    if (!exactness.Judge(report.get())) return exactness.Refusal(source);
    if (options.format == Format::kText) {
      out->Write(TextRecordSeparator(reader.number()) + "\n");
    }
    out->Print(*report);
    if (options.format == Format::kJson) out->Write("\n");
    // A record at a time, so that a live log prints as it arrives.
    out->Flush();
    output.Flush();
  }
  if (!reader.ok()) return {kMalformed, input.name() + ": " + reader.error()};
  if (!out->Flush()) return {kCannotRun, "cannot write the output"};
  return {};
}

}  // namespace

Status Decode(const Options& options, Input& input, Output& output,
              Warnings* warnings, int64_t number) {
  // The lines of --each are JSON, whatever --json says.
  Exactness exactness(options.each.empty() ? options.format : Format::kJson,
                      options.accept_loss);
  if (options.raw) return DecodeRaw(input, output);
  Status status;
  if (options.delimited) {
    Progress progress(options.progress, input, "records");
    status = DecodeDelimited(options, input, output, exactness, progress);
  } else if (!options.each.empty()) {
    Progress progress(options.progress, input, options.each);
    status =
        DecodeEach(*options.type, options.each, input.stream(), input.name(),
                   output.stream(), exactness, options.json, &progress);
  } else {
    status = DecodeWhole(options, input, output, exactness, number);
  }
  if (options.accept_loss) exactness.ListLosses(warnings);
  return status;
}

}  // namespace ostrel::agg_l3
