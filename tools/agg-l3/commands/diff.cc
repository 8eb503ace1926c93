// diff TYPE OLD NEW: what changed between two reports, one line per
// difference, lists matched by key (ostrel::report_diff). The old report is
// read whole and indexed, the new one streamed against it; with
// --delimited, two logs are compared record by record, one pair in memory
// at a time. Exit status like diff(1).

#include <ostrel/report_diff.h>

#include <functional>
#include <map>

#include "commands/commands.h"
#include "format/drift_check.h"
#include "format/input_hints.h"
#include "format/json_printer.h"
#include "frame/delimited.h"
#include "wire_rules.h"

namespace ostrel::agg_l3 {
namespace {

namespace report_diff = ::ostrel::report_diff;

// Prints differences as they are found, a line each; in a comparison of
// delimited streams each line names its record ("record 3: changed ...",
// {"record":3,"path":...}).
class Printer {
 public:
  // Nothing is printed once either input failed: its end was no end, and
  // what seems removed may only be unread.
  Printer(const Options& options, Output& output, const Input& old_input,
          const Input& new_input)
      : json_(options.format == Format::kJson),
        accept_loss_(options.accept_loss),
        quiet_(options.quiet),
        color_(options.color && options.format != Format::kJson),
        summary_(options.summary),
        out_({}, output.stream()),
        old_input_(old_input),
        new_input_(new_input) {}

  void Print(const report_diff::Difference& d, int64_t record) {
    if (old_input_.failed() || new_input_.failed()) return;
    differ_ = true;
    if (quiet_) return;
    if (summary_) {
      const std::string list = d.path.substr(0, d.path.find_first_of(".["));
      ++counts_[list][d.kind];
      return;
    }
    // The library leaves out of the JSON what it cannot hold exactly; such
    // a difference is refused, or with --accept-loss printed without it.
    if (json_) {
      bool lossy = false;
      for (const auto* value : {&d.old_value, &d.new_value}) {
        if (!*value) continue;
        for (const report_diff::JsonLoss& loss : (*value)->json_losses) {
          lossy = true;
          const std::string path =
              loss.path.empty() ? d.path : d.path + "." + loss.path;
          if (losses_.size() < Exactness::kMaxListed) {
            losses_.push_back(path + ": " + loss.what);
          } else {
            ++unlisted_;
          }
        }
      }
      if (lossy && !accept_loss_) return;
    }
    std::string line =
        json_ ? report_diff::ToJson(d, true) : report_diff::ToLine(d);
    if (color_) {
      static constexpr const char* kColors[] = {"\033[32m", "\033[31m",
                                                "\033[33m"};
      const size_t kind_end = line.find(' ');
      line = kColors[d.kind] + line.substr(0, kind_end) + "\033[m" +
             line.substr(kind_end);
    }
    if (record > 0) {
      const std::string number = std::to_string(record);
      line = json_ ? "{\"record\":" + number + "," + line.substr(1)
                   : "record " + number + ": " + line;
    }
    out_.Write(line + "\n");
  }

  // Whether more differences can change nothing printed.
  bool done() const { return failed() || (quiet_ && differ_); }

  // A record that only one of two delimited streams has, named by its
  // number and by what it reports on.
  void PrintRecordOnlyIn(bool added, int64_t record,
                         const report_diff::Keys::Identity& identity) {
    differ_ = true;
    if (quiet_) return;
    if (summary_) {
      ++counts_["record"][added ? report_diff::Difference::kAdded
                                : report_diff::Difference::kRemoved];
      return;
    }
    const std::string number = std::to_string(record);
    const char* kind = added ? "added" : "removed";
    if (json_) {
      out_.Write("{\"record\":" + number + ",\"kind\":\"" + kind + "\"" +
                 (identity.json.empty() ? "" : ",\"key\":" + identity.json) +
                 "}\n");
    } else {
      out_.Write(std::string(kind) + " record " + number +
                 (identity.text.empty() ? "" : " (" + identity.text + ")") +
                 "\n");
    }
  }

  bool failed() const { return out_.failed(); }

  // The exit status once everything was compared; with --accept-loss,
  // what was left out goes to `warnings`.
  Status Outcome(Warnings* warnings) {
    for (const auto& [list, kinds] : counts_) {
      static constexpr const char* kKinds[] = {"added", "removed", "changed"};
      std::string line = list + ":";
      for (int kind = 0; kind < 3; ++kind) {
        const auto found = kinds.find(kind);
        if (found == kinds.end()) continue;
        line += " " + std::to_string(found->second) + " " + kKinds[kind] + ",";
      }
      line.back() = '\n';
      out_.Write(line);
    }
    if (!out_.Flush()) return {kCannotRun, "cannot write the output"};
    std::string listed;
    for (const std::string& loss : losses_) {
      if (accept_loss_) {
        warnings->push_back("JSON does not hold " + loss + "; left out");
      } else {
        listed += "\n  " + loss;
      }
    }
    const std::string more =
        unlisted_ > 0 ? "and " + std::to_string(unlisted_) + " more" : "";
    if (accept_loss_ && !more.empty()) warnings->push_back(more);
    if (!accept_loss_ && !losses_.empty()) {
      return {kCannotHold,
              "JSON cannot hold these values exactly, so their differences "
              "were not written; the text lines show them, and --accept-loss "
              "writes the JSON without them:" +
                  listed + (more.empty() ? "" : "\n  " + more)};
    }
    return differ_ ? Status(kDiffer, "") : Status();
  }

 private:
  const bool json_;
  const bool accept_loss_;
  const bool quiet_;
  const bool color_;
  const bool summary_;
  std::map<std::string, std::map<int, int64_t>> counts_;  // list, kind
  JsonPrinter out_;  // for its buffered writing
  const Input& old_input_;
  const Input& new_input_;
  bool differ_ = false;
  std::vector<std::string> losses_;  // what JSON cannot hold, listed
  int64_t unlisted_ = 0;
};

Status ReadKeys(const Options& options, report_diff::Keys* keys) {
  for (const std::string& entry : options.keys) {
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
    if (!keys->Set(entry.substr(0, equals), fields, &error)) {
      return {kCannotRun, "--key " + entry + ": " + error};
    }
  }
  return {};
}

// `error` in `input`, and what the input looks like when that is the
// likely cause ("did you mean --delimited?").
Status Malformed(const Options& options, const Input& input,
                 const std::string& error) {
  const std::string hint =
      LooksLike(*options.type, input.head(),
                options.delimited ? InputForm::kDelimited : InputForm::kBinary);
  return {kMalformed,
          input.name() + ": " + error + (hint.empty() ? "" : "; " + hint)};
}

Status DiffWhole(const Options& options, const report_diff::Keys& keys,
                 const report_diff::Ignore& ignore, Input& old_input,
                 Input& new_input, Printer& printer, Warnings* notes) {
  for (Input* input : {&old_input, &new_input}) {
    input->Limit(wire::kMaxLength, "the 2 GiB a report can take");
  }
  std::string old_report;
  TopLevelRecords records;
  if (Status read = old_input.ReadAll(&old_report, std::ref(records));
      !read.ok()) {
    return read;
  }
  const report_diff::Sink sink{
      [&](const report_diff::Difference& d) { printer.Print(d, 0); },
      [notes](const std::string& note) { notes->push_back(note); },
      options.format == Format::kJson, options.quiet};
  report_diff::ReadError error;
  if (!report_diff::Compare(old_report, new_input.stream(), *options.type, keys,
                            ignore, sink, &error)) {
    return Malformed(options, error.in_new_report ? new_input : old_input,
                     error.message);
  }
  return {};
}

Status DiffDelimited(const Options& options, const report_diff::Keys& keys,
                     const report_diff::Ignore& ignore, Input& old_input,
                     Input& new_input, Printer& printer, Warnings* notes) {
  const auto& type = *options.type;
  DelimitedReader old_log(old_input.stream(), old_input.size());
  DelimitedReader new_log(new_input.stream(), new_input.size());
  // One record of each at a time: the old one held as bytes, the new one
  // streamed against it, so memory does not grow with the number of records.
  std::string old_report;
  while (!printer.done()) {
    TopLevelRecords records;
    const bool has_old = old_log.NextRecord() &&
                         old_log.ReadRecord(&old_report, std::ref(records));
    if (!old_log.ok()) return Malformed(options, old_input, old_log.error());
    const bool has_new = new_log.NextRecord();
    if (!new_log.ok()) return Malformed(options, new_input, new_log.error());
    if (!has_old && !has_new) break;
    const int64_t record = new_log.number();
    if (!has_old || !has_new) {
      // A record only one log has is read all the same: a cut or broken
      // tail is an error, not an addition. Where the old log has ended, its
      // buffer holds the new record, so one record is held, as elsewhere.
      DelimitedReader& log = has_old ? old_log : new_log;
      Input& input = has_old ? old_input : new_input;
      if (has_new && !new_log.ReadRecord(&old_report, std::ref(records))) {
        return Malformed(options, new_input, new_log.error());
      }
      if (const WireWalk walk = WalkWire(type, old_report); walk.malformation) {
        log.Fail(Describe(*walk.malformation));
        return Malformed(options, input, log.error());
      }
      printer.PrintRecordOnlyIn(has_new, record, keys.IdentityOf(old_report));
      continue;
    }
    const std::string prefix = "record " + std::to_string(record) + ": ";
    const report_diff::Sink sink{
        [&](const report_diff::Difference& d) { printer.Print(d, record); },
        [&](const std::string& note) { notes->push_back(prefix + note); },
        options.format == Format::kJson, options.quiet};
    report_diff::ReadError error;
    const bool compared = report_diff::Compare(
        old_report, new_log.RecordStream(), type, keys, ignore, sink, &error);
    if (!new_log.FinishRecordStream()) {
      return Malformed(options, new_input, new_log.error());
    }
    if (!compared) {
      return Malformed(options, error.in_new_report ? new_input : old_input,
                       prefix + error.message);
    }
  }
  return {};
}

}  // namespace

Status DiffKeys(const Options& options, Output& output) {
  report_diff::Keys keys(*options.type);
  if (Status read = ReadKeys(options, &keys); !read.ok()) return read;
  output.Write(keys.Describe());
  return {};
}

Status Diff(const Options& options, Input& old_input, Input& new_input,
            Output& output, Warnings* notes) {
  report_diff::Keys keys(*options.type);
  if (Status read = ReadKeys(options, &keys); !read.ok()) return read;
  report_diff::Ignore ignore(*options.type);
  for (const std::string& path : options.ignore) {
    std::string error;
    if (!ignore.Add(path, &error)) {
      return {kCannotRun, "--ignore " + path + ": " + error};
    }
  }
  Printer printer(options, output, old_input, new_input);
  const Status compared = options.delimited
                              ? DiffDelimited(options, keys, ignore, old_input,
                                              new_input, printer, notes)
                              : DiffWhole(options, keys, ignore, old_input,
                                          new_input, printer, notes);
  const Status printed = printer.Outcome(notes);
  if (printed.code() == kCannotRun) return printed;
  return compared.ok() ? printed : compared;
}

}  // namespace ostrel::agg_l3
