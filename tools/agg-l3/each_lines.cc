#include "each_lines.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/util/json_util.h>
#include <ostrel/report_stream.h>

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "element_batch.h"
#include "file_io.h"
#include "json_integers.h"
#include "json_loss.h"
#include "json_printer.h"
#include "report_codec.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

namespace stream = ::ostrel::report_stream;

}  // namespace

Status FindList(const google::protobuf::Descriptor& type,
                const std::string& name, const FieldDescriptor** field) {
  *field = type.FindFieldByName(name);
  if (*field != nullptr && stream::IsStreamable(**field)) return {};
  std::string lists;
  for (int i = 0; i < type.field_count(); ++i) {
    if (type.field(i)->is_repeated()) lists += " " + type.field(i)->name();
  }
  return {kCannotRun,
          type.name() + " has no list named " + name +
              (lists.empty() ? "; it has no lists" : "; its lists:" + lists)};
}

namespace {

// Accepted losses are listed one by one up to this many; an endless input
// must not grow the list without bound.
constexpr size_t kMaxListedLosses = 1000;

// One line of JSON lines: the longest an element's line may be.
constexpr size_t kMaxLineBytes = 64 << 20;

// The lines of a stream, without their newlines.
class LineReader {
 public:
  explicit LineReader(google::protobuf::io::ZeroCopyInputStream* input)
      : input_(input) {}

  // False at the end of the input, or at a line longer than kMaxLineBytes
  // (then too_long()).
  bool Next(std::string* line) {
    line->clear();
    bool any = false;
    while (true) {
      if (size_ == 0) {
        const void* data;
        int size;
        if (!input_->Next(&data, &size)) return any;
        data_ = static_cast<const char*>(data);
        size_ = static_cast<size_t>(size);
      }
      any = true;
      const char* newline =
          static_cast<const char*>(std::memchr(data_, '\n', size_));
      const size_t take =
          newline ? static_cast<size_t>(newline - data_) : size_;
      if (line->size() + take > kMaxLineBytes) {
        too_long_ = true;
        return false;
      }
      line->append(data_, take);
      const size_t used = newline ? take + 1 : take;
      data_ += used;
      size_ -= used;
      if (newline) return true;
    }
  }
  bool too_long() const { return too_long_; }

 private:
  google::protobuf::io::ZeroCopyInputStream* input_;
  const char* data_ = nullptr;
  size_t size_ = 0;
  bool too_long_ = false;
};

}  // namespace

Status DecodeEach(const google::protobuf::Descriptor& type,
                  const std::string& field_name,
                  google::protobuf::io::ZeroCopyInputStream* input,
                  std::string_view source,
                  google::protobuf::io::ZeroCopyOutputStream* output,
                  Warnings* warnings, bool accept_loss,
                  const Progress& progress,
                  google::protobuf::util::JsonPrintOptions options) {
  const FieldDescriptor* field;
  if (Status found = FindList(type, field_name, &field); !found.ok()) {
    return found;
  }

  stream::ReportReader reader(input, type, {field->name()});
  options.add_whitespace = false;  // a report per line
  JsonPrinter out(options, output);
  // Element lines reuse one report holding a single element.
  const std::unique_ptr<Message> line = NewReport(type);
  const auto* reflection = line->GetReflection();
  int64_t elements = 0;
  size_t unlisted_losses = 0;
  while (reader.Next()) {
    line->Clear();
    std::vector<JsonLoss> losses;
    switch (reader.event()) {
      case stream::ReportReader::kHeader:
        line->CopyFrom(reader.header());
        losses = JsonLosses(*line);
        break;
      case stream::ReportReader::kElement: {
        // Paths name the element by its index in the whole report.
        const std::string element =
            field->name() + "[" + std::to_string(elements) + "]";
        if (field->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
          reflection->AddString(line.get(), field, reader.element_string());
          losses = JsonLosses(reader.element_string(), element);
        } else {
          reflection->AddMessage(line.get(), field)->CopyFrom(reader.element());
          losses = JsonLosses(reader.element(), element);
        }
        ++elements;
        break;
      }
      case stream::ReportReader::kLateField:
        line->ParseFromString(reader.record());
        losses = JsonLosses(*line);
        break;
    }
    if (warnings->size() + losses.size() > kMaxListedLosses && accept_loss) {
      unlisted_losses += losses.size();
      losses.clear();
    }
    if (Status judged = JudgeLosses(losses, accept_loss, warnings);
        !judged.ok()) {
      return {judged.code(), std::string(source) + ": " + judged.message()};
    }
    out.Print(*line);
    out.Write("\n");
    if (progress && reader.event() == stream::ReportReader::kElement &&
        elements % 4096 == 0) {
      progress(reader.offset(), elements);
    }
  }
  if (!reader.ok()) {
    return {kMalformed, std::string(source) + ": " + reader.error()};
  }
  if (unlisted_losses > 0) {
    warnings->push_back("and " + std::to_string(unlisted_losses) +
                        " more values JSON does not hold");
  }
  if (!out.Flush()) return CannotWriteOutput();
  return {};
}

Status EncodeEach(const google::protobuf::Descriptor& type,
                  const std::string& field_name,
                  google::protobuf::io::ZeroCopyInputStream* input,
                  std::string_view source,
                  google::protobuf::io::ZeroCopyOutputStream* output) {
  const FieldDescriptor* field;
  if (Status found = FindList(type, field_name, &field); !found.ok()) {
    return found;
  }

  const std::unique_ptr<Message> header = NewReport(type);
  // What came after the first element and belongs to the report itself;
  // written after the list, where a parse merges it just the same.
  const std::unique_ptr<Message> late = NewReport(type);
  const std::unique_ptr<Message> line = NewReport(type);
  const auto* reflection = line->GetReflection();
  std::optional<stream::ReportWriter> writer;
  // The elements of a parsed line or batch to the writer, the rest to the
  // header, or after the first element to what comes late.
  const auto take = [&](Message* parsed) {
    const int count = reflection->FieldSize(*parsed, field);
    if (count > 0 && !writer) writer.emplace(output, *header, *field);
    for (int i = 0; i < count; ++i) {
      if (field->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
        writer->Add(reflection->GetRepeatedString(*parsed, field, i));
      } else {
        writer->Add(reflection->GetRepeatedMessage(*parsed, field, i));
      }
    }
    reflection->ClearField(parsed, field);
    (writer ? late : header)->MergeFrom(*parsed);
  };
  const auto parse_line = [&](const std::string& text, int number) -> Status {
    line->Clear();
    const auto status =
        google::protobuf::util::JsonStringToMessage(text, line.get());
    std::string error = status.ok() ? CheckJsonIntegers(type, text)
                                    : status.message().ToString();
    if (!error.empty()) {
      return {kMalformed, std::string(source) + ", line " +
                              std::to_string(number) + ": " + error};
    }
    take(line.get());
    return {};
  };
  ElementBatch batch(*field);
  const auto parse_batch = [&]() -> Status {
    if (batch.empty()) return {};
    if (batch.Parse(line.get()) &&
        CheckJsonIntegers(type, batch.document()).empty()) {
      take(line.get());
    } else {  // line by line, for the error and its line
      for (const auto& [number, text] : batch.lines()) {
        if (Status parsed = parse_line(text, number); !parsed.ok()) {
          return parsed;
        }
      }
    }
    batch.Clear();
    return {};
  };
  std::string text;
  LineReader lines(input);
  int number = 1;
  for (; lines.Next(&text); ++number) {
    if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
    const bool gathered = batch.Take(text, number);
    if (gathered && !batch.full()) continue;
    if (Status parsed = parse_batch(); !parsed.ok()) return parsed;
    if (gathered) continue;
    if (Status parsed = parse_line(text, number); !parsed.ok()) return parsed;
  }
  if (Status parsed = parse_batch(); !parsed.ok()) return parsed;
  if (lines.too_long()) {
    return {kMalformed, std::string(source) + ", line " +
                            std::to_string(number) + ": longer than " +
                            std::to_string(kMaxLineBytes >> 20) +
                            " MiB, the most a line may be"};
  }
  if (!writer) writer.emplace(output, *header, *field);
  bool ok = writer->Finish();
  writer.reset();
  if (late->ByteSizeLong() > 0) {
    google::protobuf::io::CodedOutputStream out(output);
    late->SerializeToCodedStream(&out);
    ok = ok && !out.HadError();
  }
  if (!ok) return CannotWriteOutput();
  return {};
}

}  // namespace ostrel::agg_l3
