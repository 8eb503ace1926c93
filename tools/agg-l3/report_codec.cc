#include "report_codec.h"

#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>
#include <google/protobuf/util/type_resolver_util.h>

#include <algorithm>
#include <cctype>
#include <numeric>

#include "drift_check.h"
#include "json_integers.h"
#include "json_printer.h"
#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "unknown_json.h"
#include "wire_rules.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::Message;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(c));
  return lower;
}

size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  std::iota(row.begin(), row.end(), 0);
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                         diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string Position(std::string_view text, size_t offset) {
  const std::string_view before = text.substr(0, offset);
  const size_t line_start = before.rfind('\n') + 1;  // npos + 1 is 0
  return "line " +
         std::to_string(std::count(before.begin(), before.end(), '\n') + 1) +
         ", column " + std::to_string(offset - line_start + 1);
}

class FirstError : public google::protobuf::io::ErrorCollector {
 public:
  void AddError(int line, google::protobuf::io::ColumnNumber column,
                const std::string& message) override {
    if (!error_.empty()) return;
    error_ = "line " + std::to_string(line + 1) + ", column " +
             std::to_string(column + 1) + ": " + message;
  }
  const std::string& error() const { return error_; }

 private:
  std::string error_;
};

// Hands out its input one byte at a time, for LocateJsonError.
class ByteByByte : public google::protobuf::io::ZeroCopyInputStream {
 public:
  explicit ByteByByte(std::string_view input) : input_(input) {}

  bool Next(const void** data, int* size) override {
    if (position_ >= input_.size()) return false;
    *data = input_.data() + position_++;
    *size = 1;
    return true;
  }
  void BackUp(int count) override { position_ -= count; }
  bool Skip(int count) override {
    position_ = std::min(position_ + count, input_.size());
    return position_ < input_.size();
  }
  int64_t ByteCount() const override { return position_; }

 private:
  std::string_view input_;
  size_t position_ = 0;
};

// The runtime's JSON message for a syntax error is the reason, then a line
// with a snippet of the input around the failing byte, then a caret line
// under that byte; for any other error it names the field's path instead.
// Fed the input byte by byte, the parser holds little more than the last
// byte, so the snippet ends where the input fed so far ends, which places
// the caret in the whole input.
std::string LocateJsonError(const Descriptor& type, std::string_view json,
                            const std::string& error) {
  const size_t reason_end = error.find('\n');
  if (reason_end == std::string::npos) return error;
  std::unique_ptr<google::protobuf::util::TypeResolver> resolver(
      google::protobuf::util::NewTypeResolverForDescriptorPool(
          "type.googleapis.com", type.file()->pool()));
  ByteByByte input(json);
  std::string ignored;
  google::protobuf::io::StringOutputStream output(&ignored);
  const std::string located =
      google::protobuf::util::JsonToBinaryStream(
          resolver.get(), "type.googleapis.com/" + type.full_name(), &input,
          &output)
          .message()
          .ToString();
  const size_t fed = static_cast<size_t>(input.ByteCount());
  size_t offset = fed == 0 ? 0 : fed - 1;
  const size_t snippet_start = located.find('\n') + 1;
  const size_t caret_line = located.rfind('\n');
  if (snippet_start > 0 && caret_line >= snippet_start) {
    const std::string_view snippet = std::string_view(located).substr(
        snippet_start, caret_line - snippet_start);
    const size_t caret = located.size() - caret_line - 2;
    if (snippet.size() <= fed && caret <= snippet.size() &&
        json.substr(fed - snippet.size(), snippet.size()) == snippet) {
      offset = fed - snippet.size() + caret;
    }
  }
  return Position(json, offset) + ": " + error.substr(0, reason_end);
}

Status Malformed(std::string why) { return {kMalformed, std::move(why)}; }

}  // namespace

const google::protobuf::FileDescriptor& SchemaFile() {
  return *ruk::agg_service::l3::RouteTableMsg::descriptor()->file();
}

const Descriptor* FindReportType(std::string_view name) {
  const std::string package = SchemaFile().package() + ".";
  if (!name.empty() && name.front() == '.') name.remove_prefix(1);
  if (name.substr(0, package.size()) == package) {
    name.remove_prefix(package.size());
  }
  return SchemaFile().FindMessageTypeByName(std::string(name));
}

std::vector<std::string> ClosestReportTypes(std::string_view name,
                                            size_t count) {
  const std::string wanted = Lower(name);
  std::vector<std::pair<size_t, std::string>> ranked;
  for (int i = 0; i < SchemaFile().message_type_count(); ++i) {
    const std::string& candidate = SchemaFile().message_type(i)->name();
    ranked.emplace_back(EditDistance(wanted, Lower(candidate)), candidate);
  }
  std::stable_sort(
      ranked.begin(), ranked.end(),
      [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> closest;
  for (size_t i = 0; i < count && i < ranked.size(); ++i) {
    closest.push_back(ranked[i].second);
  }
  return closest;
}

std::unique_ptr<Message> NewReport(const Descriptor& type) {
  return std::unique_ptr<Message>(
      google::protobuf::MessageFactory::generated_factory()
          ->GetPrototype(&type)
          ->New());
}

void Print(const Message& report, Format format,
           const google::protobuf::util::JsonPrintOptions& json,
           google::protobuf::io::ZeroCopyOutputStream* output) {
  if (format == Format::kText) {
    google::protobuf::TextFormat::Print(report, output);
    return;
  }
  JsonPrinter printer(json, output);
  printer.Print(report);
  // A line of its own also when compact, so that reports appended to a
  // file make JSON lines.
  if (!json.add_whitespace) printer.Write("\n");
}

bool TextStart::CertainlyMalformed(std::string_view text) {
  if (decided_) return false;
  const size_t first = text.find_first_not_of(" \t\r\n\f\v", blank_);
  if (first == std::string_view::npos) {
    blank_ = text.size();
    return false;
  }
  decided_ = true;
  const auto byte = static_cast<unsigned char>(text[first]);
  return byte < 0x20 || byte == 0x7f;
}

Status Encode(const Descriptor& type, std::string_view text, Format format,
              std::string* output, std::vector<std::string>* skipped) {
  if (text.size() > wire::kMaxLength) {
    return Malformed("larger than any input the parsers take (2 GiB)");
  }
  const std::unique_ptr<Message> report = NewReport(type);
  if (format == Format::kText) {
    google::protobuf::TextFormat::Parser parser;
    FirstError errors;
    parser.RecordErrorsTo(&errors);
    google::protobuf::io::ArrayInputStream input(text.data(),
                                                 static_cast<int>(text.size()));
    if (!parser.Parse(&input, report.get())) return Malformed(errors.error());
  } else {
    const google::protobuf::StringPiece json(text.data(), text.size());
    auto status =
        google::protobuf::util::JsonStringToMessage(json, report.get());
    if (!status.ok() && skipped != nullptr) {
      // Names are looked for only when the strict parse failed: finding
      // them holds the whole document as generic JSON.
      google::protobuf::util::JsonParseOptions lenient;
      lenient.ignore_unknown_fields = true;
      report->Clear();
      status = google::protobuf::util::JsonStringToMessage(json, report.get(),
                                                           lenient);
      if (status.ok()) *skipped = UnknownJsonNames(type, text);
    }
    if (!status.ok()) {
      return Malformed(
          LocateJsonError(type, text, status.message().ToString()));
    }
    if (std::string finding = CheckJsonIntegers(type, text); !finding.empty()) {
      return Malformed(finding);
    }
  }
  *output = report->SerializeAsString();
  return {};
}

}  // namespace ostrel::agg_l3
