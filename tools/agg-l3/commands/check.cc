// check: whether binary reports are well-formed, and what in them this
// schema does not know. The input is walked as it is read, in the memory of
// the path being walked and the findings listed (at most
// Exactness::kMaxListed; the rest are counted).

#include "commands/commands.h"
#include "format/drift_check.h"
#include "format/input_hints.h"
#include "frame/delimited.h"
#include "wire_rules.h"

namespace ostrel::agg_l3 {
namespace {

constexpr size_t kMaxListed = Exactness::kMaxListed;

std::string Plural(int64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The verdict on what `well_formed` says was read, then the findings'
// lines: kDrift when there was any.
Status Verdict(const std::vector<std::string>& listed, int64_t count,
               const std::string& well_formed, bool records, Output& output) {
  std::string text = well_formed;
  if (count == 0) {
    text += records ? ", nothing in them unknown to this schema\n"
                    : ", nothing in it unknown to this schema\n";
  } else {
    text +=
        " with " + Plural(count, "record") + " this schema does not know:\n";
    for (const std::string& line : listed) text += "  " + line + "\n";
    if (static_cast<int64_t>(listed.size()) < count) {
      text += "  and " + std::to_string(count - listed.size()) + " more\n";
    }
  }
  output.Write(text);
  return {count == 0 ? kOk : kDrift, ""};
}

Status CheckWhole(const Options& options, Input& input, Output& output) {
  const auto& type = *options.type;
  input.Limit(wire::kMaxLength, "the 2 GiB a report can take");
  const WireWalk walk =
      WalkWire(type, input.stream(), input.size(), kMaxListed);
  if (Status read = input.status(); !read.ok()) return read;
  if (walk.malformation) {
    std::string why = Describe(*walk.malformation);
    if (const std::string hint =
            LooksLike(type, input.head(), InputForm::kBinary);
        !hint.empty()) {
      why += "; " + hint;
    }
    return {kMalformed,
            input.name() + " is not a well-formed " + type.name() + ": " + why};
  }
  std::vector<std::string> listed;
  for (const Drift& drift : walk.drift) listed.push_back(Describe(drift));
  return Verdict(
      listed, static_cast<int64_t>(walk.drift.size()) + walk.unlisted_drift,
      input.name() + ": a well-formed " + type.name(), false, output);
}

Status CheckDelimited(const Options& options, Input& input, Output& output,
                      Progress& progress) {
  const auto& type = *options.type;
  DelimitedReader reader(input.stream(), input.size());
  std::vector<std::string> listed;
  int64_t count = 0;
  while (reader.NextRecord()) {
    progress.Update(reader.offset(), reader.number());
    WireWalk walk = WalkWire(type, reader.RecordStream(), reader.length(),
                             kMaxListed - listed.size());
    // A record cut short is that, whatever the walk made of its bytes.
    if (!reader.FinishRecordStream()) break;
    if (walk.malformation) {
      walk.malformation->offset += static_cast<size_t>(reader.body_offset());
      reader.Fail(Describe(*walk.malformation));
      break;
    }
    for (Drift& drift : walk.drift) {
      drift.offset += static_cast<size_t>(reader.body_offset());
      listed.push_back("record " + std::to_string(reader.number()) + ": " +
                       Describe(drift));
    }
    count += static_cast<int64_t>(walk.drift.size()) + walk.unlisted_drift;
  }
  if (Status read = input.status(); !read.ok()) return read;
  if (!reader.ok()) return {kMalformed, input.name() + ": " + reader.error()};
  return Verdict(
      listed, count,
      input.name() + ": " +
          Plural(reader.number() - 1, "well-formed " + type.name() + " record"),
      true, output);
}

}  // namespace

Status Check(const Options& options, Input& input, Output& output) {
  if (!options.delimited) return CheckWhole(options, input, output);
  Progress progress(options.progress, input, "records");
  return CheckDelimited(options, input, output, progress);
}

}  // namespace ostrel::agg_l3
