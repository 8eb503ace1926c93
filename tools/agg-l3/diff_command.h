// agg-l3 diff TYPE OLD NEW: what changed between two reports, one line per
// difference, with lists matched by key. Exit status like diff(1).

#ifndef OSTREL_TOOLS_AGG_L3_DIFF_COMMAND_H_
#define OSTREL_TOOLS_AGG_L3_DIFF_COMMAND_H_

#include <google/protobuf/descriptor.h>

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "status.h"

namespace ostrel::report_diff {
class Keys;
}

namespace ostrel::agg_l3 {

class DiffCommand {
 public:
  // Registers the subcommand and its arguments on `app`, checking them as
  // the other commands check theirs.
  DiffCommand(CLI::App& app, const CLI::Validator& report_type,
              const CLI::Validator& input_file);

  bool parsed() const { return command_->parsed(); }
  // After parsing: prints the differences as they are found. kDiffer when
  // there were any; `notes` gets remarks such as keys that are not unique.
  Status Run(Warnings* notes) const;

 private:
  // OLD and NEW as length-delimited streams, compared record by record.
  Status RunDelimited(const google::protobuf::Descriptor& type,
                      const report_diff::Keys& keys, Warnings* notes) const;

  CLI::App* command_;
  std::string type_;
  std::string old_path_;
  std::string new_path_;
  std::vector<std::string> keys_;  // LIST=FIELD,...
  bool list_keys_ = false;
  bool json_ = false;
  bool delimited_ = false;
};

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_DIFF_COMMAND_H_
