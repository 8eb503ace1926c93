// agg-l3: reads, writes and checks the binary layer-3 reports of the
// aggregation service, with their schema compiled in. This file only turns
// the command line into Options; commands.h runs them.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>

#include "commands/commands.h"
#include "completion.h"
#include "format/report_codec.h"
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

// Each exit status once, with the commands it concerns (empty: all), for
// every command's help.
struct ExitStatus {
  int code;
  std::string_view commands;
  const char* meaning;
};
constexpr ExitStatus kExitStatuses[] = {
    {0, "", "done"},
    {1, "check", "well-formed, with records this schema does not know"},
    {1, "encode", "--ignore-unknown skipped names"},
    {1, "diff", "the reports differ"},
    {2, "decode encode check diff",
     "malformed input, or input over a limit (what came before a fault in a "
     "stream stays written)"},
    {3, "",
     "usage error, unknown type, or a file that cannot be read or "
     "written"},
    {4, "decode", "values the output format cannot hold exactly"},
    {4, "diff", "--json left out differences whose strings are not UTF-8"},
};

// A command's help footer: what to know, an example, its exit statuses.
std::string Footer(std::string_view command, const std::string& note,
                   const std::string& example) {
  std::string footer = note.empty() ? "" : note + "\n\n";
  if (!example.empty()) footer += "Example:\n  " + example + "\n\n";
  footer += "Exit status:";
  for (const ExitStatus& status : kExitStatuses) {
    if (status.commands.empty() ||
        (" " + std::string(status.commands) + " ")
                .find(" " + std::string(command) + " ") != std::string::npos) {
      footer += "\n  " + std::to_string(status.code) + "  " + status.meaning;
    }
  }
  return footer;
}

// What the command line says, before it becomes Options.
struct Arguments {
  std::string type;
  std::vector<std::string> inputs;
  std::string old_report, new_report;
  bool json = false;
  bool compact = false;
  std::string decompress = "auto";
  bool gzip = false;
  std::string compress = "none";
  bool hex = false;
  bool base64 = false;
  std::string color = "auto";
  agg::Options options;
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
    "");

void AddType(CLI::App& command, Arguments& args) {
  command
      .add_option("TYPE", args.type,
                  "Message type, by short name (RouteTableMsg) or full name")
      ->required()
      ->check(kReportType)
      ->type_name("");
}

// Every command that reads reports takes them compressed or not.
void AddInput(CLI::App& command, Arguments& args) {
  command
      .add_option("--decompress", args.decompress,
                  "auto: gzip, zstd and xz input is recognised by its first "
                  "bytes; none: "
                  "the input is not compressed, whatever it starts with")
      ->check(CLI::IsMember({"auto", "none"}))
      ->type_name("WHEN");
}

// Commands that read binary reports also take them spelled out as text.
void AddBinaryAsText(CLI::App& command, Arguments& args) {
  CLI::Option* hex = command.add_flag(
      "--hex", args.hex,
      "The input is the bytes as hex digits (xxd -p, od -An -tx1), white "
      "space anywhere between them");
  command
      .add_flag("--base64", args.base64,
                "The input is the bytes in base64, white space anywhere")
      ->excludes(hex);
}

CLI::App* AddReportCommand(CLI::App& app, const std::string& name,
                           const std::string& description, Arguments& args) {
  CLI::App* command = app.add_subcommand(name, description);
  AddType(*command, args);
  command
      ->add_option("FILE", args.inputs,
                   "Input files, each read on its own; - or none for "
                   "standard input")
      ->check(kInputFile)
      ->type_name("");
  AddInput(*command, args);
  command->add_flag("--delimited", args.options.delimited,
                    "The input (decode, check) or output (encode) is a "
                    "stream of reports, each after its length as a varint, "
                    "as protobuf's delimited helpers write them");
  return command;
}

void AddConversionOptions(CLI::App& command, const std::string& json_help,
                          Arguments& args) {
  command.add_flag("--json", args.json, json_help);
  command
      .add_option("-o,--output", args.options.output,
                  "Output file; - or none for standard output. A regular "
                  "file, or the one a link leads to, is replaced only once "
                  "all of it is ready; a device or FIFO is written in place")
      ->type_name("OUT");
  CLI::Option* gzip =
      command.add_flag("-z,--gzip", args.gzip, "Compress the output with gzip");
  command
      .add_option("--compress", args.compress,
                  "Compress the output with gzip, zstd or xz (none: do not)")
      ->check(CLI::IsMember({"none", "gzip", "zstd", "xz"}))
      ->type_name("FORMAT")
      ->excludes(gzip);
}

// The JSON options that shape names and enumerations, which schema
// --json-schema follows too.
void AddJsonNameOptions(CLI::App& command, Arguments& args) {
  auto& json = args.options.json;
  command.add_flag("--proto-names", json.preserve_proto_field_names,
                   "JSON: field names as the schema writes them (next_hop), "
                   "not lowerCamelCase (nextHop)");
  command.add_flag("--enums-as-ints", json.always_print_enums_as_ints,
                   "JSON: enumeration values as numbers, not names");
}

void AddJsonOptions(CLI::App& decode, Arguments& args) {
  auto& json = args.options.json;
  AddJsonNameOptions(decode, args);
  decode.add_flag("--with-defaults", json.always_print_primitive_fields,
                  "JSON: print unset scalar fields with their default "
                  "values, and unset lists as []");
  decode.add_flag("--compact", args.compact,
                  "JSON: the whole report on one line");
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  agg::Options& options = args.options;
  CLI::App app("Reads, writes and checks the layer-3 reports of " +
                   agg::SchemaFile().name() + ".",
               kProgram);
  app.require_subcommand(1);
  app.set_version_flag("--version", agg::VersionText,
                       "Print the tool, schema and protobuf versions");
  app.footer(Footer("decode encode check diff", "",
                    "agg-l3 decode --json RouteTableMsg route_table.bin"));

  CLI::App* types =
      app.add_subcommand("types", "List the message types and field counts");
  types->add_flag("--enums", options.enums,
                  "List the enumerations and their values instead");
  types->footer(Footer("types", "", "agg-l3 types --enums"));
  CLI::App* schema = app.add_subcommand(
      "schema",
      "Print the compiled-in schema files as .proto text with their "
      "comments, or TYPE and the types it uses");
  schema
      ->add_option("TYPE", args.type,
                   "Message type, by short name (RouteTableMsg) or full name")
      ->check(kReportType)
      ->type_name("");
  schema
      ->add_option("-o,--output", options.output,
                   "Output file; - or none for standard output")
      ->type_name("OUT");
  schema->add_flag("--descriptor-set", options.descriptor_set,
                   "Write the FileDescriptorSet of the schema files, with "
                   "their comments, as grpcurl and buf take it (binary)");
  schema->add_flag("--json-schema", options.json_schema,
                   "Print a JSON Schema (2020-12) of the JSON that decode "
                   "--json prints for TYPE, with the same --proto-names and "
                   "--enums-as-ints");
  AddJsonNameOptions(*schema, args);
  schema->footer(Footer(
      "schema", "",
      "agg-l3 schema --json-schema RouteTableMsg -o route_table.schema.json"));

  CLI::App* decode = AddReportCommand(
      app, "decode", "Binary report to text format or JSON", args);
  AddConversionOptions(*decode,
                       "Print the JSON mapping instead of text format. What "
                       "JSON cannot hold exactly (strings that are not UTF-8, "
                       "NaN payloads, records this schema does not know) is "
                       "refused with exit status 4, naming each by its path",
                       args);
  decode->add_flag("--accept-loss", options.accept_loss,
                   "Print anyway, leaving out what the format cannot hold "
                   "exactly, and list each value left out on standard error");
  AddJsonOptions(*decode, args);
  AddBinaryAsText(*decode, args);
  decode->add_flag("--raw", options.raw,
                   "No TYPE: list the records of any protobuf input by field "
                   "number and wire type with their byte offsets, nested "
                   "messages where the bytes parse as one");
  // decode --raw FILE: the first word after the options is the input.
  decode->preparse_callback([&, decode](size_t) {
    if (std::find(argv, argv + argc, std::string("--raw")) != argv + argc) {
      decode->remove_option(decode->get_option("TYPE"));
    }
  });
  decode
      ->add_option("--each", options.each,
                   "Stream: one JSON line per element of this list, the "
                   "report's other fields first, in constant memory")
      ->type_name("LIST");
  decode->footer(Footer(
      "decode",
      "Text format keeps what the schema does not know, by field number, "
      "but prints every NaN as nan. With --each and --delimited, output is "
      "written as it is made: on an error, standard output keeps what came "
      "before it (an -o file is not replaced).",
      "agg-l3 decode --each route RouteTableMsg table.bin | grep nextHop"));
  CLI::App* encode = AddReportCommand(
      app, "encode", "Text format or JSON to a binary report", args);
  AddConversionOptions(*encode, "Read the JSON mapping, not text format", args);
  encode->add_flag("--ignore-unknown", options.ignore_unknown,
                   "JSON: skip names the type has no field for instead of "
                   "failing; each is named on standard error, and the exit "
                   "status is 1 when any was skipped");
  encode
      ->add_option("--each", options.each,
                   "Read the JSON lines of decode --each for this list, in "
                   "constant memory")
      ->type_name("LIST");
  encode->footer(Footer(
      "encode", "",
      "agg-l3 encode RouteTableMsg route_table.txtpb -o route_table.bin"));
  CLI::App* check = AddReportCommand(
      app, "check",
      "Tell whether a binary report is well-formed, and list what in it this "
      "schema does not know",
      args);
  check->add_flag("--json", args.json,
                  "One JSON object per finding (file, record, path, "
                  "fieldNumber, wireType, offset, kind, value, message), "
                  "then one with the file's verdict");
  AddBinaryAsText(*check, args);
  check->footer(
      Footer("check",
             "Several files get a verdict each; the exit status is the worst.",
             "agg-l3 check --delimited RouteTableMsg collector.log"));

  CLI::App* diff = app.add_subcommand(
      "diff", "Show what changed between two reports, lists matched by key");
  AddType(*diff, args);
  diff->add_option("OLD", args.old_report,
                   "The earlier report; - for standard input")
      ->check(kInputFile)
      ->type_name("")
      ->required();
  diff->add_option("NEW", args.new_report,
                   "The later report; - for standard input")
      ->check(kInputFile)
      ->type_name("")
      ->required();
  AddInput(*diff, args);
  AddBinaryAsText(*diff, args);
  diff->add_flag("--keys", options.list_keys,
                 "List each list of TYPE with the key that matches its "
                 "elements, and exit");
  diff->add_option("--key", options.keys,
                   "LIST=FIELD[,FIELD...]: match the elements of LIST by "
                   "these fields (dotted into sub-messages); LIST= matches "
                   "them by position")
      ->allow_extra_args(false)
      ->type_name("LIST=FIELDS");
  diff->add_option("--ignore", options.ignore,
                   "Leave out differences at PATH and below (repeatable): "
                   "timestamp, route[*].admin_distance; [*] is any key or "
                   "position")
      ->allow_extra_args(false)
      ->type_name("PATH");
  diff->add_flag("--json", args.json,
                 "One JSON object per difference: path, its steps with each "
                 "element's key, kind, old, new");
  diff->add_flag("--accept-loss", options.accept_loss,
                 "With --json: print differences whose values JSON cannot "
                 "hold exactly without those values, listing each on "
                 "standard error");
  diff->add_flag("--summary", options.summary,
                 "Counts per list and kind instead of the differences");
  diff->add_option("--color", args.color,
                   "auto: added, removed and changed in color on a terminal "
                   "unless NO_COLOR is set; always; never")
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->type_name("WHEN");
  diff->add_flag("-q,--quiet", options.quiet,
                 "Print nothing; the exit status tells whether the reports "
                 "differ, reading no further than the first difference");
  diff->add_flag("--delimited", options.delimited,
                 "OLD and NEW are length-delimited streams of reports: "
                 "compare record N of each, in constant memory; lines name "
                 "their record, and a record only one has what it reports "
                 "on");
  diff->footer(Footer(
      "diff",
      "Differences are printed as they are found: the new report is read "
      "once, against an index of the old one.",
      "agg-l3 diff RouteTableMsg monday.bin tuesday.bin"));

  // diff --keys TYPE needs no reports.
  diff->preparse_callback([&](size_t) {
    if (std::find(argv, argv + argc, std::string("--keys")) != argv + argc) {
      for (CLI::Option* report : diff->get_options()) {
        if (report->get_name() == "OLD" || report->get_name() == "NEW") {
          report->required(false);
        }
      }
    }
  });

  // The shell completions ask what fits at the cursor; not a command of
  // its own in help, since no one types it.
  if (argc > 1 && argv[1] == std::string_view(agg::kCompleteCommand)) {
    std::cout << agg::Completions(app, {argv + 2, argv + argc});
    return std::cout.flush() ? agg::kOk : agg::kCannotRun;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) {  // --help, --version
      app.exit(error);
      return std::cout.flush() ? agg::kOk : agg::kCannotRun;
    }
    return Finish(
        {agg::kCannotRun, std::string(error.what()) + " (see agg-l3 --help)"});
  }

  options.command = types->parsed()    ? agg::Command::kTypes
                    : schema->parsed() ? agg::Command::kSchema
                    : decode->parsed() ? agg::Command::kDecode
                    : encode->parsed() ? agg::Command::kEncode
                    : check->parsed()  ? agg::Command::kCheck
                                       : agg::Command::kDiff;
  options.type = agg::FindReportType(args.type);
  options.format = args.json || options.json_schema ? agg::Format::kJson
                                                    : agg::Format::kText;
  options.encoding = args.hex      ? agg::TextEncoding::kHex
                     : args.base64 ? agg::TextEncoding::kBase64
                                   : agg::TextEncoding::kNone;
  options.json.add_whitespace = !args.compact;
  options.decompress = args.decompress == "none" ? agg::Decompress::kNone
                                                 : agg::Decompress::kAuto;
  options.compression = args.gzip                 ? agg::Compression::kGzip
                        : args.compress == "gzip" ? agg::Compression::kGzip
                        : args.compress == "zstd" ? agg::Compression::kZstd
                        : args.compress == "xz"   ? agg::Compression::kXz
                                                  : agg::Compression::kNone;
  options.progress = ::isatty(STDERR_FILENO) != 0;
  options.color =
      args.color == "always" ||
      (args.color == "auto" && options.output.empty() &&
       ::isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr);
  if (options.command == agg::Command::kDiff) {
    for (const std::string* file : {&args.old_report, &args.new_report}) {
      if (!file->empty()) options.files.push_back(*file);
    }
  } else if (options.command != agg::Command::kTypes &&
             options.command != agg::Command::kSchema) {
    options.files = args.inputs;
    if (options.files.empty()) options.files.push_back("-");
  }
  agg::Warnings warnings;
  const agg::Status status = agg::Run(options, &warnings);
  return Finish(status, warnings);
}
