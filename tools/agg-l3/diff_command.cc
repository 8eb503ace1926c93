#include "diff_command.h"

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <ostrel/report_diff.h>

#include <cstdio>
#include <iostream>

#include "commands.h"
#include "file_io.h"
#include "json_loss.h"
#include "report_codec.h"

namespace ostrel::agg_l3 {
namespace {

namespace diff = ::ostrel::report_diff;

}  // namespace

DiffCommand::DiffCommand(CLI::App& app)
    : command_(app.add_subcommand(
          "diff",
          "Show what changed between two reports, lists matched by key")) {
  command_
      ->add_option("TYPE", type_,
                   "Message type, by short name (RouteTableMsg) or full name")
      ->required()
      ->check(CLI::Validator(
          [](std::string& name) {
            return FindReportType(name) ? std::string()
                                        : UnknownTypeError(name);
          },
          ""));
  static const CLI::Validator kInputFile(
      [](std::string& path) {
        return path == "-" ? std::string() : CLI::ExistingFile(path);
      },
      "FILE");
  command_
      ->add_option("OLD", old_path_, "The earlier report; - for standard input")
      ->check(kInputFile);
  command_
      ->add_option("NEW", new_path_, "The later report; - for standard input")
      ->check(kInputFile);
  command_->add_flag("--keys", list_keys_,
                     "List each list of TYPE with the key that matches its "
                     "elements, and exit");
  command_
      ->add_option(
          "--key", keys_,
          "LIST=FIELD[,FIELD...]: match the elements of LIST by these fields "
          "(dotted into sub-messages); LIST= matches them by position")
      ->allow_extra_args(false);
  command_->add_flag("--json", json_,
                     "One JSON object per difference: path, kind, old, new");
  command_->footer(
      "Differences are printed as they are found: the new report is read "
      "once, against an index of the old one. Exit status: 0 no difference, "
      "1 differences, 2 malformed input (the differences before the fault "
      "stay printed), 3 usage error or unreadable file, 4 with --json, "
      "differences left out as their strings are not UTF-8.");
}

Status DiffCommand::Run(Warnings* notes) const {
  const google::protobuf::Descriptor& type = *FindReportType(type_);
  diff::Keys keys(type);
  for (const std::string& entry : keys_) {
    const size_t equals = entry.find('=');
    if (equals == entry.npos) {
      return {kCannotRun, "--key " + entry + ": expected LIST=FIELD,..."};
    }
    std::vector<std::string> fields;
    for (size_t start = equals + 1; start <= entry.size();) {
      size_t end = entry.find(',', start);
      if (end == entry.npos) end = entry.size();
      if (end > start) fields.push_back(entry.substr(start, end - start));
      start = end + 1;
    }
    std::string error;
    if (!keys.Set(entry.substr(0, equals), fields, &error)) {
      return {kCannotRun, "--key " + entry + ": " + error};
    }
  }
  if (list_keys_) {
    std::cout << keys.Describe() << std::flush;
    return std::cout ? Status() : Status(kCannotRun, "cannot write the output");
  }
  if (old_path_.empty() || new_path_.empty()) {
    return {kCannotRun, "diff needs TYPE OLD NEW (or --keys TYPE)"};
  }
  if (old_path_ == "-" && new_path_ == "-") {
    return {kCannotRun, "diff: only one of OLD and NEW can be standard input"};
  }
  // ReadInput and OpenInput take an empty path for standard input.
  const auto path = [](const std::string& name) {
    return name == "-" ? std::string() : name;
  };

  // The old report is held as bytes and indexed; the new one is streamed.
  std::string old_report;  // no more than 2 GiB, the most a report takes
  Status status = ReadInput(path(old_path_), &old_report);
  int new_fd = -1;
  if (status.ok()) status = OpenInput(path(new_path_), &new_fd);
  if (!status.ok()) return status;
  google::protobuf::io::FileInputStream new_report(new_fd, 1 << 20);
  new_report.SetCloseOnDelete(new_path_ != "-");

  bool differ = false;
  std::vector<std::string> unholdable;  // paths of values JSON cannot hold
  const diff::Sink sink{
      [&](const diff::Difference& d) {
        differ = true;
        const std::string line = json_ ? diff::ToJson(d) : diff::ToLine(d);
        // A string that is not UTF-8 would make the line no JSON at all.
        if (json_ && FirstNonUtf8(line) != std::string::npos) {
          if (unholdable.size() < 10) unholdable.push_back(d.path);
          return;
        }
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
      },
      [notes](const std::string& note) { notes->push_back(note); }, json_};
  diff::ReadError read_error;
  const bool read =
      diff::Compare(old_report, &new_report, type, keys, sink, &read_error);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    return {kCannotRun, "cannot write the output"};
  }
  if (!read) {
    const std::string& name = read_error.in_new_report ? new_path_ : old_path_;
    return {kMalformed,
            (name == "-" ? "<stdin>" : name) + ": " + read_error.message};
  }
  if (!unholdable.empty()) {
    std::string paths;
    for (const std::string& path : unholdable) {
      paths += (paths.empty() ? "" : ", ") + path;
    }
    return {kJsonCannotHold,
            "JSON cannot hold strings that are not UTF-8; "
            "left out the differences at " +
                paths + " (the text lines show them)"};
  }
  return differ ? Status(kDiffer, "") : Status();
}

}  // namespace ostrel::agg_l3
