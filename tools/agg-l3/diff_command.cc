#include "diff_command.h"

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <ostrel/report_diff.h>

#include <cstdio>
#include <iostream>

#include "delimited.h"
#include "file_io.h"
#include "input_stream.h"
#include "json_loss.h"
#include "report_codec.h"

namespace ostrel::agg_l3 {
namespace {

namespace diff = ::ostrel::report_diff;

// Prints differences as they are found, a line each; in a comparison of
// delimited streams each line names its record ("record 3: changed ...",
// {"record":3,"path":...}).
class Printer {
 public:
  explicit Printer(bool json) : json_(json) {}

  void Print(const diff::Difference& d, int64_t record) {
    differ_ = true;
    std::string line = json_ ? diff::ToJson(d) : diff::ToLine(d);
    // A value JSON cannot hold exactly is left out of the line.
    if (json_ && ((d.old_value && !d.old_value->json_losses.empty()) ||
                  (d.new_value && !d.new_value->json_losses.empty()))) {
      if (unholdable_.size() < 10) unholdable_.push_back(d.path);
      return;
    }
    if (record >= 0) {
      const std::string index = std::to_string(record);
      line = json_ ? "{\"record\":" + index + "," + line.substr(1)
                   : "record " + index + ": " + line;
    }
    Write(line);
  }

  // A record that only one of two delimited streams has.
  void PrintRecordOnlyIn(bool added, int64_t record) {
    differ_ = true;
    const std::string index = std::to_string(record);
    const char* kind = added ? "added" : "removed";
    Write(json_ ? "{\"record\":" + index + ",\"kind\":\"" + kind + "\"}"
                : std::string(kind) + " record " + index);
  }

  // The exit status once everything was compared.
  Status Outcome() const {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      return CannotWriteOutput();
    }
    if (!unholdable_.empty()) {
      std::string paths;
      for (const std::string& path : unholdable_) {
        paths += (paths.empty() ? "" : ", ") + path;
      }
      return {kJsonCannotHold,
              "JSON cannot hold strings that are not UTF-8; "
              "left out the differences at " +
                  paths + " (the text lines show them)"};
    }
    return differ_ ? Status(kDiffer, "") : Status();
  }

 private:
  static void Write(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }

  const bool json_;
  bool differ_ = false;
  std::vector<std::string> unholdable_;  // paths of values JSON cannot hold
};

// ReadInput and OpenInput take an empty path for standard input.
std::string InputPath(const std::string& name) {
  return name == "-" ? std::string() : name;
}

std::string Source(const std::string& name) {
  return SourceName(InputPath(name));
}

}  // namespace

DiffCommand::DiffCommand(CLI::App& app, const CLI::Validator& report_type,
                         const CLI::Validator& input_file)
    : command_(app.add_subcommand(
          "diff",
          "Show what changed between two reports, lists matched by key")) {
  command_
      ->add_option("TYPE", type_,
                   "Message type, by short name (RouteTableMsg) or full name")
      ->required()
      ->check(report_type);
  command_
      ->add_option("OLD", old_path_, "The earlier report; - for standard input")
      ->check(input_file);
  command_
      ->add_option("NEW", new_path_, "The later report; - for standard input")
      ->check(input_file);
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
  command_->add_flag("--delimited", delimited_,
                     "OLD and NEW are length-delimited streams of reports: "
                     "compare record N of each, in constant memory; lines "
                     "name their record");
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
    return std::cout ? Status() : CannotWriteOutput();
  }
  if (old_path_.empty() || new_path_.empty()) {
    return {kCannotRun, "diff needs TYPE OLD NEW (or --keys TYPE)"};
  }
  if (old_path_ == "-" && new_path_ == "-") {
    return {kCannotRun, "diff: only one of OLD and NEW can be standard input"};
  }
  if (delimited_) return RunDelimited(type, keys, notes);

  // The old report is held as bytes and indexed; the new one is streamed.
  // Either may be gzip, recognised by its first bytes.
  std::string old_report;  // no more than 2 GiB, the most a report takes
  Status status =
      ReadDecompressed(InputPath(old_path_), Source(old_path_), &old_report);
  int new_fd = -1;
  if (status.ok()) status = OpenInput(InputPath(new_path_), &new_fd);
  if (!status.ok()) return status;
  google::protobuf::io::FileInputStream new_file(new_fd, 1 << 20);
  new_file.SetCloseOnDelete(new_path_ != "-");
  InputStream new_report(&new_file);

  Printer printer(json_);
  const diff::Sink sink{
      [&](const diff::Difference& d) { printer.Print(d, -1); },
      [notes](const std::string& note) { notes->push_back(note); }, json_};
  diff::ReadError read_error;
  const bool read = diff::Compare(old_report, new_report.stream(), type, keys,
                                  sink, &read_error);
  const Status printed = printer.Outcome();
  if (printed.code() == kCannotRun) return printed;
  if (!read) {
    const std::string& name = read_error.in_new_report ? new_path_ : old_path_;
    return {kMalformed, Source(name) + ": " + read_error.message};
  }
  if (!new_report.error().empty()) {
    return {kMalformed, Source(new_path_) + ": " + new_report.error()};
  }
  return printed;
}

Status DiffCommand::RunDelimited(const google::protobuf::Descriptor& type,
                                 const diff::Keys& keys,
                                 Warnings* notes) const {
  int old_fd = -1;
  int new_fd = -1;
  Status status = OpenInput(InputPath(old_path_), &old_fd);
  if (status.ok()) status = OpenInput(InputPath(new_path_), &new_fd);
  if (!status.ok()) return status;
  google::protobuf::io::FileInputStream old_file(old_fd, 1 << 20);
  google::protobuf::io::FileInputStream new_file(new_fd, 1 << 20);
  old_file.SetCloseOnDelete(old_path_ != "-");
  new_file.SetCloseOnDelete(new_path_ != "-");
  InputStream old_input(&old_file);
  InputStream new_input(&new_file);
  DelimitedReader old_log(old_input.stream());
  DelimitedReader new_log(new_input.stream());

  // One record of each at a time: the old one held as bytes, the new one
  // streamed against it, so memory does not grow with the number of records.
  Printer printer(json_);
  std::string old_report;
  int64_t record = 0;
  std::string fault;  // which file broke, and where
  for (;; ++record) {
    const bool has_old =
        old_log.NextRecord() && old_log.ReadRecord(&old_report);
    if (!old_log.ok()) break;
    const bool has_new = new_log.NextRecord();
    if (!new_log.ok()) break;
    if (!has_old || !has_new) {
      if (!has_old && !has_new) break;
      printer.PrintRecordOnlyIn(has_new, record);
      if (has_new) {
        new_log.RecordStream();  // skipped unread
        if (!new_log.FinishRecordStream()) break;
      }
      continue;
    }
    const std::string prefix = "record " + std::to_string(record) + ": ";
    const diff::Sink sink{
        [&](const diff::Difference& d) { printer.Print(d, record); },
        [&](const std::string& note) { notes->push_back(prefix + note); },
        json_};
    diff::ReadError read_error;
    if (!diff::Compare(old_report, new_log.RecordStream(), type, keys, sink,
                       &read_error)) {
      fault = Source(read_error.in_new_report ? new_path_ : old_path_) + ": " +
              prefix + read_error.message;
      break;
    }
    if (!new_log.FinishRecordStream()) break;
  }
  const Status printed = printer.Outcome();
  if (printed.code() == kCannotRun) return printed;
  if (fault.empty() && !old_log.ok())
    fault = Source(old_path_) + ": " + old_log.error();
  if (fault.empty() && !new_log.ok())
    fault = Source(new_path_) + ": " + new_log.error();
  for (const auto* input : {&old_input, &new_input}) {
    if (fault.empty() && !input->error().empty()) {
      fault = Source(input == &old_input ? old_path_ : new_path_) + ": " +
              input->error();
    }
  }
  if (!fault.empty()) return {kMalformed, fault};
  return printed;
}

}  // namespace ostrel::agg_l3
