// How the steps of agg-l3 report back: done, or the exit status the program
// ends with and why. Messages never carry the program's name: main.cc puts it
// in front of everything it writes to standard error.

#ifndef OSTREL_TOOLS_AGG_L3_STATUS_H_
#define OSTREL_TOOLS_AGG_L3_STATUS_H_

#include <string>
#include <utility>
#include <vector>

namespace ostrel::agg_l3 {

enum ExitCode : int {
  kOk = 0,
  kDrift = 1,       // check: well-formed, but carries what the schema lacks
  kDiffer = 1,      // diff: the reports differ
  kMalformed = 2,   // the input is not what the command was told it is
  kCannotRun = 3,   // usage, unknown type, unreadable or unwritable file
  kCannotHold = 4,  // values the output format cannot hold exactly
};

class Status {
 public:
  Status() = default;
  Status(ExitCode code, std::string message)
      : code_(code), message_(std::move(message)) {}

  bool ok() const { return code_ == kOk; }
  ExitCode code() const { return code_; }
  // Empty, or what went wrong, starting with what it concerns.
  const std::string& message() const { return message_; }

 private:
  ExitCode code_ = kOk;
  std::string message_;
};

// What the user should know although the command succeeded, a line each.
using Warnings = std::vector<std::string>;

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_STATUS_H_
