#include "commands/commands.h"

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <new>

#include "format/report_codec.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::EnumDescriptor;
using google::protobuf::FileDescriptor;

// The message types and the enumerations of the schema files, in
// declaration order, each named relative to its package.
std::vector<const Descriptor*> MessageTypes() {
  std::vector<const Descriptor*> types;
  for (const FileDescriptor* file : SchemaFiles()) {
    for (int i = 0; i < file->message_type_count(); ++i) {
      types.push_back(file->message_type(i));
    }
  }
  return types;
}

std::vector<const EnumDescriptor*> Enumerations() {
  std::vector<const EnumDescriptor*> enums;
  for (const FileDescriptor* file : SchemaFiles()) {
    for (int i = 0; i < file->enum_type_count(); ++i) {
      enums.push_back(file->enum_type(i));
    }
  }
  for (const Descriptor* type : MessageTypes()) {
    for (int j = 0; j < type->enum_type_count(); ++j) {
      enums.push_back(type->enum_type(j));
    }
  }
  return enums;
}

std::string TypeList() {
  size_t width = 0;
  for (const Descriptor* type : MessageTypes()) {
    width = std::max(width, type->name().size());
  }
  std::string list;
  for (const Descriptor* type : MessageTypes()) {
    list += type->name() + std::string(width + 2 - type->name().size(), ' ') +
            Plural(type->field_count(), "field") + "\n";
  }
  return list;
}

std::string EnumList() {
  std::string list;
  for (const EnumDescriptor* enumeration : Enumerations()) {
    const std::string name = enumeration->full_name().substr(
        enumeration->file()->package().size() + 1);
    list += name + " (" + Plural(enumeration->value_count(), "value") + ")\n";
    for (int i = 0; i < enumeration->value_count(); ++i) {
      list += "  " + enumeration->value(i)->name() + " = " +
              std::to_string(enumeration->value(i)->number()) + "\n";
    }
  }
  return list;
}

}  // namespace

Status CheckOptions(const Options& options) {
  const auto& json = options.json;
  const bool json_options =
      json.preserve_proto_field_names || json.always_print_enums_as_ints ||
      json.always_print_primitive_fields || !json.add_whitespace;
  if (json_options && options.format != Format::kJson && options.each.empty()) {
    return {kCannotRun,
            "--proto-names, --enums-as-ints, --with-defaults and --compact "
            "shape JSON: add --json (or --each; for schema, --json-schema)"};
  }
  if (options.ignore_unknown && (options.format != Format::kJson ||
                                 options.delimited || !options.each.empty())) {
    return {kCannotRun,
            "--ignore-unknown reads one whole JSON report: it needs --json, "
            "and takes neither --each nor --delimited"};
  }
  if (options.command == Command::kEncode && options.delimited &&
      !options.each.empty()) {
    return {kCannotRun,
            "--delimited: encode reads a report per line (with --json), not "
            "the lines of --each, which make one report"};
  }
  if (options.raw && (options.format == Format::kJson || options.delimited ||
                      !options.each.empty() || options.accept_loss)) {
    return {kCannotRun,
            "--raw lists the records of one input exactly, as text: it "
            "takes none of --json, --delimited, --each and --accept-loss"};
  }
  if (options.json_schema && options.type == nullptr) {
    return {kCannotRun, "--json-schema describes one TYPE: name it"};
  }
  if (options.descriptor_set &&
      (options.type != nullptr || options.json_schema)) {
    return {kCannotRun,
            "--descriptor-set writes all the schema files, of no TYPE and "
            "without --json-schema"};
  }
  if (options.command == Command::kDiff && !options.list_keys &&
      options.files.size() != 2) {
    return {kCannotRun, "diff needs TYPE OLD NEW (or --keys TYPE)"};
  }
  if (options.command == Command::kEncode && options.files.size() > 1 &&
      !options.delimited) {
    return {kCannotRun,
            "encode writes one report: several files need --delimited, "
            "which writes a record for each of their reports"};
  }
  if (options.command != Command::kDiff &&
      std::count(options.files.begin(), options.files.end(), "-") > 1) {
    return {kCannotRun, "standard input (-) can be read only once"};
  }
  return {};
}

namespace {

// The command on its inputs, all open: one, or OLD and NEW for diff.
// `number`: of several files, this one's, from 1.
Status RunOn(const Options& options, const std::vector<Input*>& inputs,
             Output& output, Warnings* warnings, int64_t number) {
  // Streamed modes count their records or elements; a whole report shows
  // its bytes.
  std::vector<std::unique_ptr<Progress>> progress;
  if (options.each.empty() && !options.delimited) {
    for (Input* input : inputs) {
      progress.push_back(
          std::make_unique<Progress>(options.progress, *input, ""));
      input->Watch([shown = progress.back().get()](int64_t bytes) {
        shown->Update(bytes, -1);
      });
    }
  }
  Status status;
  switch (options.command) {
    case Command::kTypes:
      status = Types(options, output);
      break;
    case Command::kSchema:
      status = Schema(options, output);
      break;
    case Command::kDecode:
      status = Decode(options, *inputs[0], output, warnings, number);
      break;
    case Command::kEncode:
      status = Encode(options, *inputs[0], output, warnings);
      break;
    case Command::kCheck:
      status = Check(options, *inputs[0], output, warnings);
      break;
    case Command::kDiff:
      status = options.list_keys
                   ? DiffKeys(options, output)
                   : Diff(options, *inputs[0], *inputs[1], output, warnings);
      break;
  }
  // The input's own failure is the cause of whatever became of the rest.
  for (const Input* input : inputs) {
    if (Status read = input->status(); !read.ok()) return read;
  }
  return status;
}

// An -o file is put in place only when the command succeeded.
Status Finish(const Status& status, Output& output) {
  if (status.code() > kDrift) return status;
  if (Status committed = output.Commit(); !committed.ok()) return committed;
  return status;
}

// Opens input `index` of options.files, or hands out one opened before.
using OpenInput = std::function<Status(size_t index, Input** input)>;

// The command on its files: diff on both at once, any other on each in
// turn, opened only when its turn comes. decode and encode stop at the
// first file that fails; check gives every file its verdict, the exit
// status the worst of them.
Status RunOnFiles(const Options& options, const OpenInput& open, Output& output,
                  Warnings* warnings) {
  if (options.command == Command::kDiff || options.files.size() <= 1) {
    std::vector<Input*> inputs(options.files.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
      if (Status opened = open(i, &inputs[i]); !opened.ok()) return opened;
    }
    const Status status = RunOn(options, inputs, output, warnings, 0);
    if (options.command == Command::kCheck && status.code() > kDrift &&
        options.format == Format::kJson) {
      CheckFailed(options, inputs[0]->name(), status, output);
    }
    return status;
  }
  ExitCode worst = kOk;
  int64_t failed = 0;
  for (size_t i = 0; i < options.files.size(); ++i) {
    Input* input = nullptr;
    Status status = open(i, &input);
    if (status.ok()) {
      status = RunOn(options, {input}, output, warnings,
                     static_cast<int64_t>(i) + 1);
    }
    if (status.code() > kDrift) {
      if (options.command != Command::kCheck) return status;
      CheckFailed(options, input ? input->name() : options.files[i], status,
                  output);
      ++failed;
    }
    worst = std::max(worst, status.code());
  }
  if (failed == 0) return {worst, ""};
  return {worst, Plural(failed, "file") + " of " +
                     std::to_string(options.files.size()) + " failed"};
}

Status RunFiles(const Options& options, Warnings* warnings) {
  Output output;
  if (Status opened = output.Open(options.output, options.compression);
      !opened.ok()) {
    return opened;
  }
  // diff's inputs are all open at once; the files of the other commands
  // one at a time, so that any number of them can be named.
  std::vector<std::unique_ptr<Input>> inputs;
  const OpenInput open = [&](size_t index, Input** input) -> Status {
    if (options.command != Command::kDiff) inputs.clear();
    inputs.push_back(std::make_unique<Input>());
    if (Status opened = inputs.back()->Open(
            options.files[index], options.decompress, options.encoding);
        !opened.ok()) {
      return opened;
    }
    for (size_t i = 0; i + 1 < inputs.size(); ++i) {
      if (inputs[i]->SharesBytesWith(*inputs.back())) {
        return {kCannotRun, inputs[i]->name() + " and " +
                                inputs.back()->name() +
                                " are one input that can be read only once"};
      }
    }
    *input = inputs.back().get();
    return {};
  };
  return Finish(RunOnFiles(options, open, output, warnings), output);
}

}  // namespace

Status Run(const Options& options, Warnings* warnings) {
  if (Status usable = CheckOptions(options); !usable.ok()) return usable;
  // Memory can run out below every limit of ours (ulimit -v, a small
  // container): then the command fails like any other, its -o file
  // untouched and its temporary file removed on the way out.
  try {
    return RunFiles(options, warnings);
  } catch (const std::bad_alloc&) {
    return {kCannotRun, "out of memory"};
  }
}

Status Run(const Options& options, std::vector<std::unique_ptr<Input>>& inputs,
           Output& output, Warnings* warnings) {
  if (Status usable = CheckOptions(options); !usable.ok()) return usable;
  Options opened = options;
  opened.files.resize(inputs.size());
  const OpenInput open = [&](size_t index, Input** input) {
    *input = inputs[index].get();
    return Status();
  };
  return Finish(RunOnFiles(opened, open, output, warnings), output);
}

Status Types(const Options& options, Output& output) {
  output.Write(options.enums ? EnumList() : TypeList());
  return {};
}

std::string Plural(int64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string UnknownTypeError(std::string_view name) {
  std::string error = "no message type '" + std::string(name) + "' in " +
                      SchemaFile().name() + "; closest: ";
  const std::vector<std::string> closest = ClosestReportTypes(name);
  for (size_t i = 0; i < closest.size(); ++i) {
    error += (i == 0 ? "" : ", ") + closest[i];
  }
  return error;
}

Progress::Progress(bool enabled, const Input& input, std::string unit)
    : enabled_(enabled && input.is_terminal_or_large()),
      total_(input.size()),
      unit_(std::move(unit)) {}

Progress::~Progress() {
  if (!shown_) return;
  Update(bytes_, count_);
  std::cerr << "\n" << std::flush;
}

void Progress::Update(int64_t bytes, int64_t count) {
  bytes_ = bytes;
  count_ = count;
  // A stream of unknown size is worth showing once it is large.
  if (!enabled_ || (!shown_ && total_ < 0 && bytes < (64 << 20))) return;
  shown_ = true;
  std::cerr << "\r" << (bytes >> 20) << " MiB";
  if (total_ > 0) std::cerr << " of " << (total_ >> 20) << " MiB";
  if (count >= 0) std::cerr << ", " << count << " " << unit_;
  std::cerr << " " << std::flush;
}

}  // namespace ostrel::agg_l3
