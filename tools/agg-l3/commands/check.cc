// check: whether binary reports are well-formed, and what in them this
// schema does not know. The input is walked as it is read, in the memory of
// the path being walked and the findings listed (at most
// Exactness::kMaxListed; the rest are counted).

#include "commands/commands.h"
#include "format/drift_check.h"
#include "format/input_hints.h"
#include "format/json_printer.h"
#include "frame/delimited.h"
#include "json_exactness.h"
#include "wire_rules.h"

namespace ostrel::agg_l3 {
namespace {

constexpr size_t kMaxListed = Exactness::kMaxListed;

const char* KindName(Drift::Kind kind) {
  switch (kind) {
    case Drift::Kind::kUnknownField:
      return "unknown field";
    case Drift::Kind::kWrongWireType:
      return "wrong wire type";
    case Drift::Kind::kRejectedEnumValue:
      return "rejected enumeration value";
    case Drift::Kind::kRepeatedSingular:
      return "repeated singular field";
  }
  return "";
}

// Starts a JSON line about the file `name`. JSON strings hold only UTF-8,
// so "file" leaves out a name's other bytes; a name that has some is also
// given whole, in base64, as "fileBytes".
void BeginFileLine(JsonPrinter& out, const std::string& name) {
  out.Write("{\"file\":");
  out.PrintString(name);
  if (json_exactness::FirstNonUtf8(name) != std::string::npos) {
    std::string base64;
    google::protobuf::Base64Escape(name, &base64);
    out.Write(",\"fileBytes\":\"" + base64 + "\"");
  }
}

// What check found in one input, told as text (the verdict, then a line per
// finding; singular fields met again as warnings) or as a JSON object per
// finding and a last one with the verdict.
class Findings {
 public:
  Findings(const Options& options, const std::string& name, Output& output,
           Warnings* warnings)
      : options_(options),
        name_(name),
        warnings_(warnings),
        json_(options.format == Format::kJson),
        out_({}, output.stream()) {}

  // What a walk found, of record `record` (0: a whole report) whose bytes
  // start at `offset`.
  void Add(WireWalk& walk, int64_t record, int64_t offset) {
    const std::string source =
        record > 0 ? "record " + std::to_string(record) + ": " : "";
    for (Drift& drift : walk.drift) {
      drift.offset += static_cast<size_t>(offset);
      if (json_) {
        Print(drift, record);
      } else {
        listed_.push_back(source + Describe(drift));
      }
    }
    count_ += static_cast<int64_t>(walk.drift.size()) + walk.unlisted_drift;
    for (Drift& repeated : walk.repeated) {
      repeated.offset += static_cast<size_t>(offset);
      ++repeated_;
      if (json_) {
        Print(repeated, record);
      } else {
        warnings_->push_back(name_ + ": " + source + Describe(repeated));
      }
    }
  }
  // Findings held to be listed at the end; JSON prints them at once.
  size_t listed() const { return listed_.size(); }

  // The verdict on `records` well-formed records (-1: one whole report):
  // kDrift when anything was found that this schema does not know.
  Status Verdict(int64_t records) {
    const std::string& type = options_.type->name();
    if (json_) {
      BeginFileLine(out_, name_);
      out_.Write(",\"type\":\"" + type + "\",\"wellFormed\":true");
      if (records >= 0) out_.Write(",\"records\":" + std::to_string(records));
      out_.Write(",\"unknown\":" + std::to_string(count_) +
                 ",\"repeatedSingular\":" + std::to_string(repeated_) + "}\n");
    } else {
      std::string text =
          name_ + ": " +
          (records < 0 ? "a well-formed " + type
                       : Plural(records, "well-formed " + type + " record"));
      if (count_ == 0) {
        text += records < 0 ? ", nothing in it unknown to this schema\n"
                            : ", nothing in them unknown to this schema\n";
      } else {
        text += " with " + Plural(count_, "record") +
                " this schema does not know:\n";
        for (const std::string& line : listed_) text += "  " + line + "\n";
        if (static_cast<int64_t>(listed_.size()) < count_) {
          text +=
              "  and " + std::to_string(count_ - listed_.size()) + " more\n";
        }
      }
      out_.Write(text);
    }
    return {count_ == 0 ? kOk : kDrift, ""};
  }

 private:
  void Print(const Drift& drift, int64_t record) {
    BeginFileLine(out_, name_);
    if (record > 0) out_.Write(",\"record\":" + std::to_string(record));
    out_.Write(",\"path\":");
    out_.PrintString(drift.path);
    out_.Write(",\"fieldNumber\":" + std::to_string(drift.field_number) +
               ",\"wireType\":\"" + WireTypeName(drift.wire_type) +
               "\",\"offset\":" + std::to_string(drift.offset) +
               ",\"kind\":\"" + KindName(drift.kind) + "\"");
    if (drift.kind == Drift::Kind::kRejectedEnumValue) {
      out_.Write(",\"value\":" +
                 std::to_string(static_cast<int32_t>(drift.value)));
    } else if (drift.kind != Drift::Kind::kRepeatedSingular) {
      out_.Write(",\"value\":" + std::to_string(drift.value));
    }
    out_.Write(",\"message\":");
    out_.PrintString(Describe(drift));
    out_.Write("}\n");
  }

  const Options& options_;
  const std::string name_;
  Warnings* const warnings_;
  const bool json_;
  JsonPrinter out_;  // for its buffered writing and its strings
  std::vector<std::string> listed_;
  int64_t count_ = 0;
  int64_t repeated_ = 0;
};

Status CheckWhole(const Options& options, Input& input, Findings& findings) {
  const auto& type = *options.type;
  input.Limit(wire::kMaxLength, "the 2 GiB a report can take");
  WireWalk walk = WalkWire(type, input.stream(), input.size(), kMaxListed);
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
  findings.Add(walk, 0, 0);
  return findings.Verdict(-1);
}

Status CheckDelimited(const Options& options, Input& input, Findings& findings,
                      Progress& progress) {
  const auto& type = *options.type;
  DelimitedReader reader(input.stream(), input.size());
  while (reader.NextRecord()) {
    progress.Update(reader.offset(), reader.number());
    WireWalk walk = WalkWire(type, reader.RecordStream(), reader.length(),
                             kMaxListed - findings.listed());
    // A record cut short is that, whatever the walk made of its bytes.
    if (!reader.FinishRecordStream()) break;
    if (walk.malformation) {
      walk.malformation->offset += static_cast<size_t>(reader.body_offset());
      reader.Fail(Describe(*walk.malformation));
      break;
    }
    findings.Add(walk, reader.number(), reader.body_offset());
  }
  if (Status read = input.status(); !read.ok()) return read;
  if (!reader.ok()) return {kMalformed, input.name() + ": " + reader.error()};
  return findings.Verdict(reader.number() - 1);
}

}  // namespace

Status Check(const Options& options, Input& input, Output& output,
             Warnings* warnings) {
  Findings findings(options, input.name(), output, warnings);
  if (!options.delimited) return CheckWhole(options, input, findings);
  Progress progress(options.progress, input, "records");
  return CheckDelimited(options, input, findings, progress);
}

void CheckFailed(const Options& options, const std::string& name,
                 const Status& status, Output& output) {
  if (options.format != Format::kJson) {
    output.Write(status.message() + "\n");
    return;
  }
  JsonPrinter out({}, output.stream());
  BeginFileLine(out, name);
  out.Write(",\"type\":\"" + options.type->name() +
            "\",\"wellFormed\":false,\"error\":");
  out.PrintString(status.message());
  out.Write("}\n");
}

}  // namespace ostrel::agg_l3
