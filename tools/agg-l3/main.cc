// agg-l3: reads, writes and checks the binary layer-3 reports of the
// aggregation service, with their schema compiled in.

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>

#include "commands.h"
#include "decode_file.h"
#include "delimited_commands.h"
#include "diff_command.h"
#include "drift_check.h"
#include "each_lines.h"
#include "file_io.h"
#include "input_stream.h"
#include "output_stream.h"
#include "report_codec.h"
#include "status.h"
#include "version.h"

namespace {

namespace agg = ::ostrel::agg_l3;

constexpr const char* kProgram = "agg-l3";

// The one place where the tool speaks to standard error: warnings, then why
// it failed; returns the exit status.
int Finish(const agg::Status& status, const agg::Warnings& warnings = {}) {
  for (const std::string& warning : warnings) {
    std::cerr << kProgram << ": warning: " << warning << "\n";
  }
  if (!status.message().empty()) {
    std::cerr << kProgram << ": " << status.message() << "\n";
  }
  std::cerr << std::flush;
  return status.code();
}

struct Arguments {
  std::string type;
  std::string input;
  std::string output;
  std::string each;
  bool json = false;
  bool accept_loss = false;
  bool enums = false;
  bool delimited = false;
  bool gzip = false;
  bool compact = false;
  bool ignore_unknown = false;
  google::protobuf::util::JsonPrintOptions json_options;
};

// TYPE: a message type of the schema; FILE: an existing file or "-".
const CLI::Validator kReportType(
    [](std::string& type_name) {
      return agg::FindReportType(type_name) ? std::string()
                                            : agg::UnknownTypeError(type_name);
    },
    "");
const CLI::Validator kInputFile(
    [](std::string& path) {
      return path == "-" ? std::string() : CLI::ExistingFile(path);
    },
    "FILE");

CLI::App* AddReportCommand(CLI::App& app, const std::string& name,
                           const std::string& description, Arguments& args) {
  CLI::App* command = app.add_subcommand(name, description);
  command
      ->add_option("TYPE", args.type,
                   "Message type, by short name (RouteTableMsg) or full name")
      ->required()
      ->check(kReportType);
  command
      ->add_option("FILE", args.input,
                   "Input file; - or none for standard input")
      ->check(kInputFile);
  return command;
}

void AddConversionOptions(CLI::App& command, const std::string& json_help,
                          Arguments& args) {
  command.add_flag("--json", args.json, json_help);
  command.add_option("-o,--output", args.output,
                     "Output file; - or none for standard output. A regular "
                     "file, or the one a link leads to, is replaced only once "
                     "all of it is ready; a device or FIFO is written in "
                     "place");
  command.add_flag("-z,--gzip", args.gzip, "Compress the output with gzip");
}

// Every report command reads gzip input as it is, and length-delimited
// streams when told.
void AddDelimited(CLI::App& command, Arguments& args) {
  command.add_flag("--delimited", args.delimited,
                   "The input (decode, check) or output (encode) is a "
                   "stream of reports, each after its length as a varint, "
                   "as protobuf's delimited helpers write them");
}

void AddJsonOptions(CLI::App& decode, Arguments& args) {
  auto& json = args.json_options;
  decode.add_flag("--proto-names", json.preserve_proto_field_names,
                  "JSON: field names as the schema writes them (next_hop), "
                  "not lowerCamelCase (nextHop)");
  decode.add_flag("--enums-as-ints", json.always_print_enums_as_ints,
                  "JSON: enumeration values as numbers, not names");
  decode.add_flag("--with-defaults", json.always_print_primitive_fields,
                  "JSON: print unset scalar fields with their default "
                  "values, and unset lists as []");
  decode.add_flag("--compact", args.compact,
                  "JSON: the whole report on one line");
}

// Progress on a terminal, for inputs large enough to wait for.
agg::Progress ProgressFor(int input_fd, const std::string& list) {
  struct stat input;
  if (!::isatty(STDERR_FILENO) || ::fstat(input_fd, &input) != 0 ||
      (S_ISREG(input.st_mode) && input.st_size < (64 << 20))) {
    return nullptr;
  }
  return [list, total = S_ISREG(input.st_mode) ? input.st_size : 0](
             int64_t bytes, int64_t elements) {
    std::cerr << "\r" << (bytes >> 20) << " MiB";
    if (total > 0) std::cerr << " of " << (total >> 20) << " MiB";
    std::cerr << ", " << elements << " " << list << " " << std::flush;
  };
}

// Options that would otherwise be silently without effect.
agg::Status CheckCombination(const Arguments& args, bool encode) {
  const auto& json = args.json_options;
  const bool json_options = json.preserve_proto_field_names ||
                            json.always_print_enums_as_ints ||
                            json.always_print_primitive_fields || args.compact;
  if (json_options && !args.json && args.each.empty()) {
    return {agg::kCannotRun,
            "--proto-names, --enums-as-ints, --with-defaults and --compact "
            "shape JSON: add --json (or --each)"};
  }
  if (args.ignore_unknown &&
      (!args.json || args.delimited || !args.each.empty())) {
    return {agg::kCannotRun,
            "--ignore-unknown reads one whole JSON report: it needs --json, "
            "and takes neither --each nor --delimited"};
  }
  if (encode && args.delimited && !args.each.empty()) {
    return {agg::kCannotRun,
            "--delimited: encode reads a report per line (with --json), not "
            "the lines of --each, which make one report"};
  }
  return {};
}

// decode --each and encode --each: streamed, so output is written as it is
// made; a failure leaves what was written on standard output, but never
// replaces an -o file.
agg::Status RunEach(const google::protobuf::Descriptor& type,
                    const Arguments& args, bool decode,
                    agg::Warnings* warnings) {
  const std::string source = agg::SourceName(args.input);
  int input_fd;
  if (agg::Status opened = agg::OpenInput(args.input, &input_fd);
      !opened.ok()) {
    return opened;
  }
  google::protobuf::io::FileInputStream file(input_fd, 1 << 20);
  file.SetCloseOnDelete(input_fd != STDIN_FILENO);
  agg::InputStream in(&file);
  agg::OutputStream output;
  if (agg::Status opened = output.Open(args.output, args.gzip, false);
      !opened.ok()) {
    return opened;
  }
  agg::Status status;
  if (decode) {
    const agg::Progress progress = ProgressFor(input_fd, args.each);
    status = agg::DecodeEach(type, args.each, in.stream(), source,
                             output.stream(), warnings, args.accept_loss,
                             progress, args.json_options);
    if (progress) std::cerr << "\n";
  } else {
    status =
        agg::EncodeEach(type, args.each, in.stream(), source, output.stream());
  }
  // A read error ends the input early: whatever became of the rest, the
  // error is the cause.
  if (file.GetErrno() != 0) {
    return {agg::kCannotRun,
            "cannot read " + source + ": " + std::strerror(file.GetErrno())};
  }
  if (!in.error().empty()) return {agg::kMalformed, source + ": " + in.error()};
  if (!status.ok()) return status;
  return output.Commit();
}

// Writes a whole command's output once it is complete: not at all when the
// command failed (a check that found drift still prints its findings).
int Emit(const agg::Status& status, const std::string& output,
         const std::string& output_path, const agg::Warnings& warnings = {},
         bool gzip = false) {
  if (status.code() > agg::kDrift) return Finish(status, warnings);
  const agg::Status written = agg::WriteWhole(output_path, output, gzip);
  return Finish(written.ok() ? status : written, warnings);
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  CLI::App app("Reads, writes and checks the layer-3 reports of " +
                   agg::SchemaFile().name() + ".",
               kProgram);
  app.require_subcommand(1);
  app.set_version_flag("--version", agg::VersionText,
                       "Print the tool, schema and protobuf versions");
  app.footer(
      "Exit status: 0 done, 1 check found what the schema does not know (or "
      "encode --ignore-unknown skipped names), 2 malformed input, 3 usage "
      "error or unreadable or unwritable file, 4 decode --json refused "
      "values JSON cannot hold exactly.");

  CLI::App* types =
      app.add_subcommand("types", "List the message types and field counts");
  types->add_flag("--enums", args.enums,
                  "List the enumerations and their values instead");
  CLI::App* schema = app.add_subcommand(
      "schema", "Print the compiled-in schema file as .proto text");

  CLI::App* decode = AddReportCommand(
      app, "decode", "Binary report to text format or JSON", args);
  AddConversionOptions(*decode,
                       "Print the JSON mapping instead of text format. What "
                       "JSON cannot hold exactly (strings that are not UTF-8, "
                       "NaN payloads, records this schema does not know) is "
                       "refused with exit status 4, naming each by its path",
                       args);
  decode->add_flag("--accept-loss", args.accept_loss,
                   "With --json or --each: print the JSON anyway, without "
                   "what it cannot hold, and list each loss on standard "
                   "error");
  AddJsonOptions(*decode, args);
  AddDelimited(*decode, args);
  decode->add_option(
      "--each", args.each,
      "Stream: one JSON line per element of this list, the report's other "
      "fields first, in constant memory");
  decode->footer(
      "Text format keeps what the schema does not know, by field number. "
      "With --each, output is written as it is made: on an error, standard "
      "output keeps the lines before it (an -o file is not replaced).");
  CLI::App* encode = AddReportCommand(
      app, "encode", "Text format or JSON to a binary report", args);
  AddConversionOptions(*encode, "Read the JSON mapping, not text format", args);
  AddDelimited(*encode, args);
  encode->add_flag("--ignore-unknown", args.ignore_unknown,
                   "JSON: skip names the type has no field for instead of "
                   "failing; each is named on standard error, and the exit "
                   "status is 1 when any was skipped");
  encode->add_option("--each", args.each,
                     "Read the JSON lines of decode --each for this list, in "
                     "constant memory");
  CLI::App* check = AddReportCommand(
      app, "check",
      "Tell whether a binary report is well-formed, and list what in it this "
      "schema does not know",
      args);
  AddDelimited(*check, args);

  const agg::DiffCommand diff(app, kReportType, kInputFile);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 && std::cout.flush() ? agg::kOk : agg::kCannotRun;
  }
  // "-" names standard input or output, as an empty path does below.
  if (args.input == "-") args.input.clear();
  if (args.output == "-") args.output.clear();

  if (types->parsed()) {
    return Emit({}, args.enums ? agg::EnumList() : agg::TypeList(), "");
  }
  if (schema->parsed()) return Emit({}, agg::SchemaText(), "");
  if (diff.parsed()) {
    agg::Warnings notes;
    return Finish(diff.Run(&notes), notes);
  }

  if (agg::Status usable = CheckCombination(args, encode->parsed());
      !usable.ok()) {
    return Finish(usable);
  }
  const auto& type = *agg::FindReportType(args.type);
  agg::Warnings warnings;
  args.json_options.add_whitespace = !args.compact;
  if (args.delimited) {
    agg::DelimitedCommand command{
        decode->parsed()   ? agg::DelimitedCommand::kDecode
        : encode->parsed() ? agg::DelimitedCommand::kEncode
                           : agg::DelimitedCommand::kCheck};
    command.format = args.json ? agg::Format::kJson : agg::Format::kText;
    command.json = args.json_options;
    command.each = args.each;
    command.input = args.input;
    command.output = args.output;
    command.gzip_output = args.gzip;
    command.accept_loss = args.accept_loss;
    return Finish(agg::RunDelimited(type, command, &warnings), warnings);
  }
  if (!args.each.empty() && (decode->parsed() || encode->parsed())) {
    return Finish(RunEach(type, args, decode->parsed(), &warnings), warnings);
  }

  // Whole reports are held in memory: reading stops past 2 GiB, and as
  // soon as the input is certainly malformed.
  agg::TopLevelRecords records;
  agg::TextStart text;
  const auto certainly_malformed = [&](std::string_view bytes) {
    return encode->parsed() ? text.CertainlyMalformed(bytes)
                            : records.CertainlyMalformed(bytes);
  };
  const std::string source = agg::SourceName(args.input);
  const auto format = args.json ? agg::Format::kJson : agg::Format::kText;
  std::string input;
  if (decode->parsed()) {
    // Printed as it is made: the report has parsed by then, and an -o
    // file is still replaced only once complete.
    agg::OutputStream out;
    if (agg::Status opened = out.Open(args.output, args.gzip, false);
        !opened.ok()) {
      return Finish(opened);
    }
    agg::Status status;
    if (!args.input.empty()) {
      status = agg::DecodeFile(type, args.input, format, out.stream(),
                               &warnings, args.accept_loss, args.json_options,
                               certainly_malformed);
    } else if (status = agg::ReadDecompressed("", source, &input,
                                              certainly_malformed);
               status.ok()) {
      status =
          agg::DecodeReport(type, input, format, source, out.stream(),
                            &warnings, args.accept_loss, args.json_options);
    }
    if (!status.ok()) return Finish(status, warnings);
    return Finish(out.Commit(), warnings);
  }
  if (agg::Status read = agg::ReadDecompressed(args.input, source, &input,
                                               certainly_malformed);
      !read.ok()) {
    return Finish(read);
  }
  std::string output;
  if (encode->parsed()) {
    const agg::Status status = agg::EncodeReport(
        type, input, format, source, &output, args.ignore_unknown, &warnings);
    return Emit(status, output, args.output, warnings, args.gzip);
  }
  return Emit(agg::CheckReport(type, input, source, &output), output, "");
}
