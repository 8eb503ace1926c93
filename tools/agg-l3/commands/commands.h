// The commands of agg-l3, each a composition of the same stages: an Input
// (input.h), a framing (whole report, delimited.h, lines.h, each_lines.h),
// a conversion held to one exactness rule (report_codec.h, exactness.h) and
// an Output (output.h). Run() is the one place where the stages' verdicts
// meet: what went wrong reading an input outranks whatever the command made
// of the bytes it got, and an -o file is put in place only when the command
// succeeded.

#ifndef OSTREL_TOOLS_AGG_L3_COMMANDS_COMMANDS_H_
#define OSTREL_TOOLS_AGG_L3_COMMANDS_COMMANDS_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/util/json_util.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "format/exactness.h"
#include "input/input.h"
#include "output/output.h"
#include "status.h"

namespace ostrel::agg_l3 {

enum class Command { kTypes, kSchema, kDecode, kEncode, kCheck, kDiff };

// Everything the command line chose.
struct Options {
  Command command = Command::kTypes;
  const google::protobuf::Descriptor* type = nullptr;
  std::vector<std::string> files;  // FILE..., or OLD and NEW; "-": stdin
  std::string output;              // -o; empty: standard output
  Format format = Format::kText;   // --json
  bool delimited = false;
  std::string each;  // the list of --each
  bool accept_loss = false;
  Compression compression = Compression::kNone;  // of the output
  Decompress decompress = Decompress::kAuto;
  TextEncoding encoding = TextEncoding::kNone;    // --hex, --base64
  bool raw = false;                               // decode --raw
  bool descriptor_set = false;                    // schema --descriptor-set
  bool json_schema = false;                       // schema --json-schema
  google::protobuf::util::JsonPrintOptions json;  // add_whitespace: !--compact
  bool ignore_unknown = false;                    // encode --json
  bool enums = false;                             // types --enums
  bool list_keys = false;                         // diff --keys
  std::vector<std::string> keys;                  // diff --key LIST=FIELD,...
  std::vector<std::string> ignore;                // diff --ignore PATH
  bool summary = false;                           // diff --summary
  bool quiet = false;                             // diff -q
  bool color = false;                             // diff: kinds in color
  bool progress = false;  // on a terminal: show how far a long input is
};

// Options that would otherwise be silently without effect, or clash.
Status CheckOptions(const Options& options);

// Runs the command on inputs opened from options.files and the output
// opened from options.output, as the command line does.
Status Run(const Options& options, Warnings* warnings);

// The same on inputs and an output already opened (tests, the fuzzer).
Status Run(const Options& options, std::vector<std::unique_ptr<Input>>& inputs,
           Output& output, Warnings* warnings);

// The TYPE argument's error when FindReportType rejects `name`.
std::string UnknownTypeError(std::string_view name);

// "1 file", "2 files": a count in a message.
std::string Plural(int64_t count, const std::string& noun);

// The commands, each given its inputs (one, or OLD and NEW for diff) and
// the output. Whole modes write only once they have succeeded; streamed
// ones (--each, --delimited) as they go, and stop once the output fails.
// decode's `number`: of several files, this one's (from 1), which makes
// its report a record, separated from the others as --delimited
// separates them.
Status Types(const Options& options, Output& output);
Status Schema(const Options& options, Output& output);
Status Decode(const Options& options, Input& input, Output& output,
              Warnings* warnings, int64_t number = 0);
Status Encode(const Options& options, Input& input, Output& output,
              Warnings* warnings);
Status Check(const Options& options, Input& input, Output& output,
             Warnings* warnings);
// check's verdict on a file that failed, beside the others' (several
// files, or --json); `status` says why.
void CheckFailed(const Options& options, const std::string& name,
                 const Status& status, Output& output);
Status Diff(const Options& options, Input& old_input, Input& new_input,
            Output& output, Warnings* warnings);
Status DiffKeys(const Options& options, Output& output);  // diff --keys

// Progress on standard error, for long commands on a terminal: called now
// and then with the bytes read and the elements or records seen, and once
// more at the end with the totals.
class Progress {
 public:
  Progress(bool enabled, const Input& input, std::string unit);
  ~Progress();
  void Update(int64_t bytes, int64_t count);

 private:
  bool enabled_;
  int64_t total_;
  std::string unit_;
  int64_t bytes_ = 0;
  int64_t count_ = 0;
  bool shown_ = false;
};

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_COMMANDS_COMMANDS_H_
