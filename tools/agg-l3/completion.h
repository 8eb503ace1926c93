// What fits at the cursor of a partly typed agg-l3 command line, for the
// bash, zsh and fish completions, which ask the tool itself: so they know
// every command and option of the flag table in main.cc, and the types and
// lists of the compiled-in schema, without a copy of either.

#ifndef OSTREL_TOOLS_AGG_L3_COMPLETION_H_
#define OSTREL_TOOLS_AGG_L3_COMPLETION_H_

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace ostrel::agg_l3 {

// The hidden command that the completions run: agg-l3 __complete WORD...
inline constexpr const char* kCompleteCommand = "__complete";

// Given the words after the program name, the last one (perhaps empty)
// being completed: one candidate a line that begins with that word, with a
// tab and a description for commands and options; or the one line
// ":files" where a file name goes. Lists for diff's --key end with "=":
// the shells add no space after those.
std::string Completions(CLI::App& app, const std::vector<std::string>& words);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_COMPLETION_H_
