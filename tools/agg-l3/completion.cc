#include "completion.h"

#include <google/protobuf/descriptor.h>
#include <ostrel/report_diff.h>
#include <ostrel/report_stream.h>

#include <sstream>

#include "format/report_codec.h"

namespace ostrel::agg_l3 {
namespace {

using ::google::protobuf::Descriptor;

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool TakesValue(const CLI::Option& option) {
  return option.nonpositional() && option.get_items_expected_max() > 0;
}

// The option's value as help shows it decides what completes it: a set of
// choices (CLI11 writes them "WHEN:{auto,none}"), the lists of TYPE (LIST),
// those lists as diff's --key names them (LIST=FIELDS), a file (OUT).
std::vector<std::string> Values(const CLI::Option& option,
                                const Descriptor* type) {
  const std::string value = option.get_type_name();
  std::vector<std::string> values;
  if (size_t open = value.find(":{"); open != std::string::npos) {
    std::istringstream choices(value.substr(open + 2, value.size() - open - 3));
    for (std::string choice; std::getline(choices, choice, ',');) {
      values.push_back(choice);
    }
  } else if (value == "OUT") {
    values.push_back(":files");
  } else if (value == "LIST" && type != nullptr) {
    for (int i = 0; i < type->field_count(); ++i) {
      if (report_stream::IsStreamable(*type->field(i))) {
        values.push_back(type->field(i)->name());
      }
    }
  } else if (value == "LIST=FIELDS" && type != nullptr) {
    // One line per list: its path, a space, its key.
    std::istringstream lists(report_diff::Keys(*type).Describe());
    for (std::string line; std::getline(lists, line);) {
      values.push_back(line.substr(0, line.find(' ')) + "=");
    }
  }
  return values;
}

// The positional option that the word at `index` among a command's
// positional words fills, or null.
const CLI::Option* Positional(const CLI::App& command, size_t index) {
  for (const CLI::Option* option : command.get_options()) {
    if (!option->get_positional() || option->nonpositional()) continue;
    const size_t count = option->get_items_expected_max();
    if (index < count) return option;
    index -= count;
  }
  return nullptr;
}

}  // namespace

std::string Completions(CLI::App& app, const std::vector<std::string>& words) {
  if (words.empty()) return "";
  const std::string& word = words.back();
  CLI::App* command = nullptr;
  const Descriptor* type = nullptr;
  const CLI::Option* value_of = nullptr;  // the option `word` is a value of
  size_t positionals = 0;                 // of the command, before `word`
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    CLI::App& current = command != nullptr ? *command : app;
    if (words[i] == "--raw") {
      ++positionals;  // in place of TYPE: what follows are files
    } else if (words[i].size() > 1 && words[i][0] == '-') {
      const CLI::Option* option = current.get_option_no_throw(words[i]);
      if (option != nullptr && TakesValue(*option)) {
        if (i + 2 == words.size()) value_of = option;
        ++i;
      }
    } else if (command == nullptr) {
      const std::vector<CLI::App*> named = app.get_subcommands(
          [&](CLI::App* each) { return each->check_name(words[i]); });
      if (named.empty()) return "";
      command = named.front();
    } else {
      const CLI::Option* positional = Positional(*command, positionals++);
      if (positional != nullptr && positional->get_name() == "TYPE") {
        type = FindReportType(words[i]);
      }
    }
  }

  std::string prefix;  // of each candidate, not completed itself
  std::vector<std::pair<std::string, std::string>> candidates;
  CLI::App& current = command != nullptr ? *command : app;
  if (const size_t equals = word.find('='); value_of == nullptr &&
                                            StartsWith(word, "--") &&
                                            equals != std::string::npos) {
    prefix = word.substr(0, equals + 1);
    value_of = current.get_option_no_throw(word.substr(0, equals));
    if (value_of == nullptr || !TakesValue(*value_of)) return "";
  }
  if (value_of != nullptr) {
    for (const std::string& value : Values(*value_of, type)) {
      candidates.push_back({prefix + value, ""});
    }
  } else if (StartsWith(word, "-")) {
    for (const CLI::Option* option : current.get_options()) {
      for (const std::string& name : option->get_snames()) {
        candidates.push_back({"-" + name, option->get_description()});
      }
      for (const std::string& name : option->get_lnames()) {
        candidates.push_back({"--" + name, option->get_description()});
      }
    }
  } else if (command == nullptr) {
    for (const CLI::App* each :
         app.get_subcommands([](CLI::App*) { return true; })) {
      candidates.push_back({each->get_name(), each->get_description()});
    }
  } else if (const CLI::Option* positional =
                 Positional(*command, positionals)) {
    if (positional->get_name() != "TYPE") return ":files\n";
    for (const auto* file : SchemaFiles()) {
      for (int i = 0; i < file->message_type_count(); ++i) {
        const Descriptor& each = *file->message_type(i);
        candidates.push_back({word.find('.') == std::string::npos
                                  ? each.name()
                                  : each.full_name(),
                              ""});
      }
    }
  }

  std::string lines;
  for (const auto& [candidate, description] : candidates) {
    if (candidate == ":files") return ":files\n";
    if (!StartsWith(candidate, word)) continue;
    lines += candidate + (description.empty() ? "" : "\t" + description) + "\n";
  }
  return lines;
}

}  // namespace ostrel::agg_l3
