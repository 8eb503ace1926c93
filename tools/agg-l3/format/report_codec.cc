#include "format/report_codec.h"

#include <google/protobuf/arena.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>

#include <algorithm>
#include <cctype>
#include <numeric>

#include "format/drift_check.h"
#include "format/json_printer.h"
#include "format/json_reader.h"
#include "format/text_printer.h"
#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
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

// The runtime's tokenizer reports a fault and reads on to the end of its
// input, so a malformed endless stream would never be answered: this stream
// ends where the first fault was found.
class UntilFirstError : public google::protobuf::io::ZeroCopyInputStream {
 public:
  UntilFirstError(ZeroCopyInputStream* input, const FirstError* errors)
      : input_(input), errors_(errors) {}
  bool Next(const void** data, int* size) override {
    return errors_->error().empty() && input_->Next(data, size);
  }
  void BackUp(int count) override { input_->BackUp(count); }
  bool Skip(int count) override { return input_->Skip(count); }
  int64_t ByteCount() const override { return input_->ByteCount(); }

 private:
  ZeroCopyInputStream* input_;
  const FirstError* errors_;
};

Status Malformed(std::string why) { return {kMalformed, std::move(why)}; }

JsonReadOptions JsonOptions(const std::vector<std::string>* skipped) {
  JsonReadOptions options;
  options.ignore_unknown_fields = skipped != nullptr;
  return options;
}

}  // namespace

const google::protobuf::FileDescriptor& SchemaFile() {
  return *ruk::agg_service::l3::RouteTableMsg::descriptor()->file();
}

std::vector<const google::protobuf::FileDescriptor*> SchemaFiles() {
  std::vector<const google::protobuf::FileDescriptor*> files = {&SchemaFile()};
  for (int i = 0; i < SchemaFile().dependency_count(); ++i) {
    files.push_back(SchemaFile().dependency(i));
  }
  return files;
}

const Descriptor* FindReportType(std::string_view name) {
  if (!name.empty() && name.front() == '.') name.remove_prefix(1);
  for (const google::protobuf::FileDescriptor* file : SchemaFiles()) {
    const std::string package = file->package() + ".";
    std::string_view short_name = name;
    if (short_name.substr(0, package.size()) == package) {
      short_name.remove_prefix(package.size());
    }
    if (const Descriptor* type =
            file->FindMessageTypeByName(std::string(short_name))) {
      return type;
    }
  }
  return nullptr;
}

std::vector<std::string> ClosestReportTypes(std::string_view name,
                                            size_t count) {
  const std::string wanted = Lower(name);
  std::vector<std::pair<size_t, std::string>> ranked;
  for (const google::protobuf::FileDescriptor* file : SchemaFiles()) {
    for (int i = 0; i < file->message_type_count(); ++i) {
      const std::string& candidate = file->message_type(i)->name();
      ranked.emplace_back(EditDistance(wanted, Lower(candidate)), candidate);
    }
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

Message* NewReportKeptToExit(const Descriptor& type) {
  static google::protobuf::Arena* kept = nullptr;  // not destroyed at exit
  delete kept;
  kept = new google::protobuf::Arena;
  return google::protobuf::MessageFactory::generated_factory()
      ->GetPrototype(&type)
      ->New(kept);
}

std::unique_ptr<StreamPrinter> NewPrinter(
    Format format, const google::protobuf::util::JsonPrintOptions& json,
    google::protobuf::io::ZeroCopyOutputStream* output) {
  if (format == Format::kText) return std::make_unique<TextPrinter>(output);
  return std::make_unique<JsonPrinter>(json, output);
}

void Print(const Message& report, Format format,
           const google::protobuf::util::JsonPrintOptions& json,
           google::protobuf::io::ZeroCopyOutputStream* output) {
  const std::unique_ptr<StreamPrinter> printer =
      NewPrinter(format, json, output);
  printer->Print(report);
  // A line of its own also when compact, so that reports appended to a
  // file make JSON lines.
  if (format == Format::kJson && !json.add_whitespace) printer->Write("\n");
}

Status Encode(const Descriptor& type, std::string_view text, Format format,
              std::string* output, std::vector<std::string>* skipped) {
  if (text.size() > wire::kMaxLength) {
    return Malformed("larger than any input the parsers take (2 GiB)");
  }
  const std::unique_ptr<Message> report = NewReport(type);
  Status read;
  if (format == Format::kText) {
    google::protobuf::io::ArrayInputStream input(text.data(),
                                                 static_cast<int>(text.size()));
    read = Parse(&input, format, report.get());
  } else {
    read = ReadJson(text, report.get(), JsonOptions(skipped), skipped);
  }
  if (!read.ok()) return read;
  *output = report->SerializeAsString();
  return {};
}

Status Parse(google::protobuf::io::ZeroCopyInputStream* text, Format format,
             Message* report, std::vector<std::string>* skipped) {
  if (format == Format::kJson) {
    return ReadJson(text, report, JsonOptions(skipped), skipped);
  }
  google::protobuf::TextFormat::Parser parser;
  FirstError errors;
  parser.RecordErrorsTo(&errors);
  UntilFirstError input(text, &errors);
  if (!parser.Parse(&input, report)) return Malformed(errors.error());
  return {};
}

}  // namespace ostrel::agg_l3
