#include "delimited_commands.h"

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <google/protobuf/text_format.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "delimited.h"
#include "drift_check.h"
#include "file_io.h"
#include "input_stream.h"
#include "json_loss.h"
#include "json_printer.h"
#include "output_stream.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::Message;

constexpr std::string_view kSeparator = "# record";

Status Broken(std::string_view source, const std::string& error) {
  return {kMalformed, std::string(source) + ": " + error};
}

// Why `record`, which starts at `offset` in the stream, is no report, with
// offsets in the stream.
std::string WhereMalformed(const Descriptor& type, const std::string& record,
                           int64_t offset) {
  WireWalk walk = WalkWire(type, record);
  if (!walk.malformation) return "rejected by the protobuf runtime";
  walk.malformation->offset += static_cast<size_t>(offset);
  return Describe(*walk.malformation);
}

bool Blank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

Status DecodeDelimited(const Descriptor& type,
                       google::protobuf::io::ZeroCopyInputStream* input,
                       std::string_view source, Format format,
                       google::protobuf::util::JsonPrintOptions json,
                       google::protobuf::io::ZeroCopyOutputStream* output,
                       Warnings* warnings, bool accept_loss) {
  DelimitedReader reader(input);
  const std::unique_ptr<Message> report = NewReport(type);
  json.add_whitespace = false;  // a report per line
  JsonPrinter out(json, output);
  std::string record;
  std::string text;
  while (reader.NextRecord() && reader.ReadRecord(&record)) {
    if (!report->ParseFromString(record)) {
      reader.Fail(WhereMalformed(type, record, reader.body_offset()));
      break;
    }
    if (format == Format::kText) {
      google::protobuf::TextFormat::PrintToString(*report, &text);
      out.Write(std::string(kSeparator) + " " + std::to_string(reader.index()) +
                "\n");
      out.Write(text);
    } else {
      const std::string root = "record " + std::to_string(reader.index());
      if (Status judged =
              JudgeLosses(JsonLosses(*report, root), accept_loss, warnings);
          !judged.ok()) {
        return {judged.code(), std::string(source) + ": " + judged.message()};
      }
      out.Print(*report);
      out.Write("\n");
    }
  }
  if (!reader.ok()) return Broken(source, reader.error());
  if (!out.Flush()) return CannotWriteOutput();
  return {};
}

Status DecodeEachDelimited(const Descriptor& type, const std::string& field,
                           google::protobuf::io::ZeroCopyInputStream* input,
                           std::string_view source,
                           const google::protobuf::util::JsonPrintOptions& json,
                           google::protobuf::io::ZeroCopyOutputStream* output,
                           Warnings* warnings, bool accept_loss) {
  const google::protobuf::FieldDescriptor* list;
  if (Status found = FindList(type, field, &list); !found.ok()) return found;
  DelimitedReader reader(input);
  while (reader.NextRecord()) {
    // The reader counts bytes from the record's own start.
    const std::string record = std::string(source) + ", record " +
                               std::to_string(reader.index()) + " at byte " +
                               std::to_string(reader.offset()) +
                               " (its report starts at byte " +
                               std::to_string(reader.body_offset()) + ")";
    Status decoded = DecodeEach(type, field, reader.RecordStream(), record,
                                output, warnings, accept_loss, nullptr, json);
    if (!reader.FinishRecordStream()) break;  // cut short: the reader says so
    if (!decoded.ok()) return decoded;
  }
  if (!reader.ok()) return Broken(source, reader.error());
  return {};
}

Status EncodeDelimited(const Descriptor& type, std::istream& text,
                       std::string_view source, Format format,
                       google::protobuf::io::ZeroCopyOutputStream* output) {
  int64_t index = 0;
  int first_line = 1;
  std::string report_text;
  std::string binary;
  // Encodes what was gathered as record `index`.
  const auto encode = [&]() -> Status {
    if (Status encoded = Encode(type, report_text, format, &binary);
        !encoded.ok()) {
      return Broken(source, "record " + std::to_string(index) + " (from line " +
                                std::to_string(first_line) +
                                "): " + encoded.message());
    }
    if (!WriteDelimited(binary, output)) return CannotWriteOutput();
    ++index;
    return {};
  };
  std::string line;
  bool gathering = false;  // text format: a separator started a record
  for (int number = 1; std::getline(text, line); ++number) {
    if (format == Format::kJson) {
      if (Blank(line)) continue;
      report_text = line;
      first_line = number;
      if (Status encoded = encode(); !encoded.ok()) return encoded;
    } else if (line.compare(0, kSeparator.size(), kSeparator) == 0) {
      if (gathering || !Blank(report_text)) {
        if (Status encoded = encode(); !encoded.ok()) return encoded;
      }
      report_text.clear();
      first_line = number + 1;
      gathering = true;
    } else {
      report_text += line + "\n";
    }
  }
  if (format == Format::kText && (gathering || !Blank(report_text))) {
    return encode();
  }
  return {};
}

Status CheckDelimited(const Descriptor& type,
                      google::protobuf::io::ZeroCopyInputStream* input,
                      std::string_view source,
                      google::protobuf::io::ZeroCopyOutputStream* output) {
  DelimitedReader reader(input);
  JsonPrinter out({}, output);  // for its buffered writing
  std::string record;
  int64_t unknown = 0;
  while (reader.NextRecord() && reader.ReadRecord(&record)) {
    WireWalk walk = WalkWire(type, record);
    if (walk.malformation) {
      walk.malformation->offset += static_cast<size_t>(reader.body_offset());
      reader.Fail(Describe(*walk.malformation));
      break;
    }
    for (Drift& drift : walk.drift) {
      drift.offset += static_cast<size_t>(reader.body_offset());
      out.Write("  record " + std::to_string(reader.index()) + ": " +
                Describe(drift) + "\n");
      ++unknown;
    }
  }
  if (!reader.ok()) return Broken(source, reader.error());
  const auto records = [](int64_t count, const std::string& what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
  };
  out.Write(std::string(source) + ": " +
            records(reader.index(), "well-formed " + type.name() + " record") +
            (unknown == 0 ? ", nothing in them unknown to this schema\n"
                          : ", with " + records(unknown, "record") +
                                " (listed above) this schema does not know\n"));
  if (!out.Flush()) return CannotWriteOutput();
  return {unknown == 0 ? kOk : kDrift, ""};
}

Status RunDelimited(const Descriptor& type, const DelimitedCommand& command,
                    Warnings* warnings) {
  const std::string source = SourceName(command.input);
  int fd;
  if (Status opened = OpenInput(command.input, &fd); !opened.ok()) {
    return opened;
  }
  google::protobuf::io::FileInputStream file(fd, 1 << 20);
  file.SetCloseOnDelete(fd != STDIN_FILENO);
  InputStream input(&file);
  OutputStream output;
  if (Status opened = output.Open(command.output, command.gzip_output,
                                  /*hold_back=*/command.each.empty());
      !opened.ok()) {
    return opened;
  }
  Status status;
  switch (command.kind) {
    case DelimitedCommand::kDecode:
      status =
          command.each.empty()
              ? DecodeDelimited(type, input.stream(), source, command.format,
                                command.json, output.stream(), warnings,
                                command.accept_loss)
              : DecodeEachDelimited(type, command.each, input.stream(), source,
                                    command.json, output.stream(), warnings,
                                    command.accept_loss);
      break;
    case DelimitedCommand::kEncode: {
      InputStreamBuffer buffer(input.stream());
      std::istream text(&buffer);
      status =
          EncodeDelimited(type, text, source, command.format, output.stream());
      break;
    }
    case DelimitedCommand::kCheck:
      status = CheckDelimited(type, input.stream(), source, output.stream());
      break;
  }
  // A cut archive can end exactly between records.
  if (!input.error().empty()) return Broken(source, input.error());
  if (file.GetErrno() != 0) {
    return {kCannotRun,
            "cannot read " + source + ": " + std::strerror(file.GetErrno())};
  }
  if (status.code() > kDrift) return status;
  if (Status committed = output.Commit(); !committed.ok()) return committed;
  return status;
}

}  // namespace ostrel::agg_l3
