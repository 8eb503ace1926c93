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
#include "drift_check.h"
#include "each_lines.h"
#include "file_io.h"
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
};

CLI::App* AddReportCommand(CLI::App& app, const std::string& name,
                           const std::string& description, Arguments& args) {
  static const CLI::Validator kReportType(
      [](std::string& type_name) {
        return agg::FindReportType(type_name)
                   ? std::string()
                   : agg::UnknownTypeError(type_name);
      },
      "");
  CLI::App* command = app.add_subcommand(name, description);
  command
      ->add_option("TYPE", args.type,
                   "Message type, by short name (RouteTableMsg) or full name")
      ->required()
      ->check(kReportType);
  static const CLI::Validator kInputFile(
      [](std::string& path) {
        return path == "-" ? std::string() : CLI::ExistingFile(path);
      },
      "FILE");
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

// decode --each and encode --each: streamed, so output is written as it is
// made; a failure leaves what was written on standard output, but never
// replaces an -o file.
agg::Status RunEach(const google::protobuf::Descriptor& type,
                    const Arguments& args, bool decode,
                    agg::Warnings* warnings) {
  const std::string source = args.input.empty() ? "<stdin>" : args.input;
  agg::OutputFile output;
  int input_fd;
  if (agg::Status opened = agg::OpenInput(args.input, &input_fd);
      !opened.ok()) {
    return opened;
  }
  google::protobuf::io::FileInputStream in(input_fd, 1 << 20);
  in.SetCloseOnDelete(input_fd != STDIN_FILENO);
  if (agg::Status opened = output.Open(args.output); !opened.ok()) {
    return opened;
  }
  agg::Status status;
  {
    google::protobuf::io::FileOutputStream out(output.fd());
    if (decode) {
      const agg::Progress progress = ProgressFor(input_fd, args.each);
      status = agg::DecodeEach(type, args.each, &in, source, &out, warnings,
                               args.accept_loss, progress);
      if (progress) std::cerr << "\n";
    } else {
      status = agg::EncodeEach(type, args.each, &in, source, &out);
    }
    // A read error ends the input early: whatever became of the rest, the
    // error is the cause.
    if (in.GetErrno() != 0) {
      status = {agg::kCannotRun,
                "cannot read " + source + ": " + std::strerror(in.GetErrno())};
    }
    if (!out.Flush() && status.ok()) {
      status = {agg::kCannotRun, "cannot write the output"};
    }
  }
  if (!status.ok()) return status;
  return output.Commit();
}

// Writes a whole command's output once it is complete: not at all when the
// command failed (a check that found drift still prints its findings).
int Emit(const agg::Status& status, const std::string& output,
         const std::string& output_path, const agg::Warnings& warnings = {}) {
  if (status.code() > agg::kDrift) return Finish(status, warnings);
  const agg::Status written = agg::WriteOutput(output_path, output);
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
      "Exit status: 0 done, 1 check found what the schema does not know, "
      "2 malformed input, 3 usage error or unreadable or unwritable file, "
      "4 decode --json refused values JSON cannot hold exactly.");

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
  encode->add_option("--each", args.each,
                     "Read the JSON lines of decode --each for this list, in "
                     "constant memory");
  AddReportCommand(
      app, "check",
      "Tell whether a binary report is well-formed, and list what in it this "
      "schema does not know",
      args);

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

  const auto& type = *agg::FindReportType(args.type);
  agg::Warnings warnings;
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
  std::string input;
  if (agg::Status read =
          agg::ReadInput(args.input, &input, certainly_malformed);
      !read.ok()) {
    return Finish(read);
  }
  const std::string source = args.input.empty() ? "<stdin>" : args.input;
  const auto format = args.json ? agg::Format::kJson : agg::Format::kText;
  std::string output;
  if (decode->parsed()) {
    const agg::Status status = agg::DecodeReport(
        type, input, format, source, &output, &warnings, args.accept_loss);
    return Emit(status, output, args.output, warnings);
  }
  if (encode->parsed()) {
    const agg::Status status =
        agg::EncodeReport(type, input, format, source, &output);
    return Emit(status, output, args.output);
  }
  return Emit(agg::CheckReport(type, input, source, &output), output, "");
}
