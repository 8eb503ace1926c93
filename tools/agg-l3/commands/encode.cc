// encode: text format or JSON to binary reports.
//
//   encode                 one report, written once all of it parsed;
//   encode --each LIST     the JSON lines of decode --each (each_lines.h);
//   encode --delimited     a record per report, written as each is read:
//                          text format split at "---" lines, or JSON lines.

#include "commands/commands.h"
#include "format/input_hints.h"
#include "format/report_codec.h"
#include "frame/delimited.h"
#include "frame/each_lines.h"
#include "frame/lines.h"
#include "wire_rules.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;

const char* FormatName(Format format) {
  return format == Format::kJson ? " in JSON" : " in text format";
}

Status EncodeWhole(const Options& options, Input& input, Output& output,
                   Warnings* warnings) {
  const Descriptor& type = *options.type;
  input.Limit(wire::kMaxLength, "the 2 GiB a report can take");
  // Parsed as it is read and serialized as it is written, so that the text
  // and the binary are never held beside the report.
  google::protobuf::Message* report = NewReportKeptToExit(type);
  std::vector<std::string> skipped;
  const Status parsed = Parse(input.stream(), options.format, report,
                              options.ignore_unknown ? &skipped : nullptr);
  // A read that failed ends the text early: that, not the parse, is why.
  if (Status read = input.status(); !read.ok()) return read;
  if (!parsed.ok()) {
    std::string why = parsed.message();
    const std::string hint = LooksLike(
        type, input.head(),
        options.format == Format::kJson ? InputForm::kJson : InputForm::kText);
    if (!hint.empty()) why += "; " + hint;
    return {kMalformed, input.name() + " is not a well-formed " + type.name() +
                            FormatName(options.format) + ": " + why};
  }
  for (const std::string& name : skipped) {
    warnings->push_back(input.name() + ": skipped " + name + ", which " +
                        type.name() + " has no field for");
  }
  if (!report->SerializeToZeroCopyStream(output.stream()) && !output.failed()) {
    return {kMalformed, input.name() + " makes a " + type.name() +
                            " larger than the 2 GiB a report can take"};
  }
  // The report is written, but it lacks what the input said.
  return {skipped.empty() ? kOk : kDrift, ""};
}

Status EncodeDelimited(const Options& options, Input& input, Output& output,
                       Progress& progress) {
  const Descriptor& type = *options.type;
  std::string binary;
  // Encodes `text`, report `number` from line `line` on, as a record.
  const auto encode = [&](const std::string& text, int64_t number,
                          int64_t line) -> Status {
    progress.Update(input.stream()->ByteCount(), number);
    if (Status encoded = Encode(type, text, options.format, &binary);
        !encoded.ok()) {
      return {kMalformed, input.name() + ", record " + std::to_string(number) +
                              " (from line " + std::to_string(line) +
                              "): " + encoded.message()};
    }
    if (!WriteDelimited(binary, output.stream())) {
      return {kCannotRun, "cannot write the output"};
    }
    return {};
  };
  std::string text;
  if (options.format == Format::kJson) {
    LineReader lines(input.stream(), input.name());
    int64_t number = 0;
    while (!output.failed() && lines.Next(&text)) {
      if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
      if (Status encoded = encode(text, ++number, lines.number());
          !encoded.ok()) {
        return encoded;
      }
    }
    return lines.status();
  }
  TextRecords records(input.stream(), input.name());
  while (!output.failed() && records.Next(&text)) {
    if (Status encoded = encode(text, records.number(), records.first_line());
        !encoded.ok()) {
      return encoded;
    }
  }
  return records.status();
}

}  // namespace

Status Encode(const Options& options, Input& input, Output& output,
              Warnings* warnings) {
  if (options.delimited) {
    Progress progress(options.progress, input, "records");
    return EncodeDelimited(options, input, output, progress);
  }
  if (!options.each.empty()) {
    return EncodeEach(*options.type, options.each, input.stream(), input.name(),
                      output.stream());
  }
  return EncodeWhole(options, input, output, warnings);
}

}  // namespace ostrel::agg_l3
