// agg-l3: reads, writes and checks the binary layer-3 reports of the
// aggregation service, with their schema compiled in.

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "commands.h"
#include "file_io.h"
#include "report_codec.h"

namespace {

namespace agg = ::ostrel::agg_l3;

struct Arguments {
  std::string type;
  std::string input;
  std::string output;
  bool json = false;
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
  command
      ->add_option("FILE", args.input, "Input file (default: standard input)")
      ->check(CLI::ExistingFile);
  return command;
}

void AddConversionOptions(CLI::App& command, const std::string& json_help,
                          Arguments& args) {
  command.add_flag("--json", args.json, json_help);
  command.add_option("-o,--output", args.output,
                     "Output file, replaced only once all of it is ready "
                     "(default: standard output)");
}

int Emit(const agg::Outcome& outcome, const std::string& output_path) {
  std::cerr << outcome.diagnostics << std::flush;
  if (outcome.exit_code > agg::kDrift) return outcome.exit_code;
  std::string error;
  if (!agg::WriteOutput(output_path, outcome.output, &error)) {
    std::cerr << "agg-l3: " << error << "\n";
    return agg::kCannotRun;
  }
  return outcome.exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  CLI::App app("Reads, writes and checks the layer-3 reports of " +
                   agg::SchemaFile().name() + ".",
               "agg-l3");
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 done, 1 check found what the schema does not know, "
      "2 malformed input, 3 usage error or unreadable or unwritable file.");

  CLI::App* types =
      app.add_subcommand("types", "List the message types and field counts");
  types->add_flag("--enums", args.enums,
                  "List the enumerations and their values instead");
  CLI::App* schema = app.add_subcommand(
      "schema", "Print the compiled-in schema file as .proto text");

  CLI::App* decode = AddReportCommand(
      app, "decode", "Binary report to text format or JSON", args);
  AddConversionOptions(*decode,
                       "Print the JSON mapping instead of text format. JSON "
                       "has no place for unknown fields: they are left out, "
                       "and a warning names them",
                       args);
  decode->footer(
      "Text format keeps what the schema does not know, by field number.");
  CLI::App* encode = AddReportCommand(
      app, "encode", "Text format or JSON to a binary report", args);
  AddConversionOptions(*encode, "Read the JSON mapping, not text format", args);
  AddReportCommand(
      app, "check",
      "Tell whether a binary report is well-formed, and list what in it this "
      "schema does not know",
      args);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? agg::kOk : agg::kCannotRun;
  }

  if (types->parsed()) {
    return Emit(args.enums ? agg::ListEnums() : agg::ListTypes(), "");
  }
  if (schema->parsed()) return Emit(agg::PrintSchema(), "");

  std::string input;
  std::string error;
  if (!agg::ReadInput(args.input, &input, &error)) {
    std::cerr << "agg-l3: " << error << "\n";
    return agg::kCannotRun;
  }
  const auto& type = *agg::FindReportType(args.type);
  const std::string source = args.input.empty() ? "<stdin>" : args.input;
  const auto format = args.json ? agg::Format::kJson : agg::Format::kText;
  if (decode->parsed()) {
    return Emit(agg::DecodeReport(type, input, format, source), args.output);
  }
  if (encode->parsed()) {
    return Emit(agg::EncodeReport(type, input, format, source), args.output);
  }
  return Emit(agg::CheckReport(type, input, source), "");
}
