#include "frame/each_lines.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/util/json_util.h>
#include <ostrel/report_stream.h>

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "format/drift_check.h"
#include "format/json_printer.h"
#include "format/json_reader.h"
#include "format/report_codec.h"
#include "frame/lines.h"

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

// Ends the stream once the report's fields outside the streamed list have
// taken more than their share, until the first element lifts the budget.
class HeaderBudget : public google::protobuf::io::ZeroCopyInputStream {
 public:
  explicit HeaderBudget(google::protobuf::io::ZeroCopyInputStream* input)
      : input_(input) {}

  bool Next(const void** data, int* size) override {
    if (!lifted_ && input_->ByteCount() >= kBudget) {
      exceeded_ = true;
      return false;
    }
    return input_->Next(data, size);
  }
  void BackUp(int count) override { input_->BackUp(count); }
  bool Skip(int count) override { return input_->Skip(count); }
  int64_t ByteCount() const override { return input_->ByteCount(); }

  void Lift() { lifted_ = true; }
  bool exceeded() const { return exceeded_; }

  // A read ahead of the reader's may reach a buffer past the budget.
  static constexpr int64_t kBudget = kMaxLineBytes;

 private:
  google::protobuf::io::ZeroCopyInputStream* const input_;
  bool lifted_ = false;
  bool exceeded_ = false;
};

Status TooMuchOutsideTheList(std::string_view source,
                             const google::protobuf::FieldDescriptor& field) {
  return {kMalformed, std::string(source) + ": the report's fields outside " +
                          field.name() + " take more than " +
                          std::to_string(HeaderBudget::kBudget >> 20) +
                          " MiB, the most a line may be"};
}

}  // namespace

Status DecodeEach(
    const google::protobuf::Descriptor& type, const std::string& field_name,
    google::protobuf::io::ZeroCopyInputStream* input, std::string_view source,
    google::protobuf::io::ZeroCopyOutputStream* output, Exactness& exactness,
    google::protobuf::util::JsonPrintOptions options, Progress* progress) {
  const FieldDescriptor* field;
  if (Status found = FindList(type, field_name, &field); !found.ok()) {
    return found;
  }

  HeaderBudget budget(input);
  stream::ReportReader reader(&budget, type, {field->name()});
  options.add_whitespace = false;  // a report per line
  JsonPrinter out(options, output);
  // Element lines reuse one report holding a single element.
  const std::unique_ptr<Message> line = NewReport(type);
  const auto* reflection = line->GetReflection();
  int64_t elements = 0;
  int64_t late_bytes = 0;
  while (!out.failed() && reader.Next()) {
    line->Clear();
    std::string element;
    Message* judged = line.get();
    switch (reader.event()) {
      case stream::ReportReader::kHeader:
        line->CopyFrom(reader.header());
        budget.Lift();
        break;
      case stream::ReportReader::kElement:
        // Paths name the element by its index in the whole report.
        element = field->name() + "[" + std::to_string(elements++) + "]";
        if (field->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
          if (!exactness.JudgeString(reader.element_string(), element)) {
            if (!exactness.accept_loss()) return exactness.Refusal(source);
            continue;
          }
          reflection->AddString(line.get(), field, reader.element_string());
        } else {
          judged = reflection->AddMessage(line.get(), field);
          // A merge into the empty element is a copy, without CopyFrom's
          // walk of both messages to see that one is not inside the other.
          judged->MergeFrom(reader.element());
          // Bytes that hold only what JSON holds exactly need no walk.
          if (JsonExactMessage(*field->message_type(),
                               reader.element_bytes())) {
            judged = nullptr;
          }
        }
        if (progress && elements % 4096 == 0) {
          progress->Update(reader.offset(), elements);
        }
        break;
      case stream::ReportReader::kLateField:
        late_bytes += static_cast<int64_t>(reader.record().size());
        if (late_bytes > HeaderBudget::kBudget) {
          return TooMuchOutsideTheList(source, *field);
        }
        line->ParseFromString(reader.record());
        break;
    }
    if (judged != nullptr &&
        !exactness.Judge(judged, judged == line.get() ? "" : element)) {
      return exactness.Refusal(source);
    }
    out.Print(*line);
    out.Write("\n");
  }
  if (progress) progress->Update(reader.offset(), elements);
  if (budget.exceeded()) return TooMuchOutsideTheList(source, *field);
  if (!reader.ok()) {
    return {kMalformed, std::string(source) + ": " + reader.error()};
  }
  if (!out.Flush()) return {kCannotRun, "cannot write the output"};
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
  int64_t outside_bytes = 0;  // of lines that are not elements
  const auto take = [&](Message* parsed, size_t bytes) -> Status {
    const int count = reflection->FieldSize(*parsed, field);
    if (count == 0 && (outside_bytes += bytes) > kMaxLineBytes) {
      return {kMalformed, std::string(source) +
                              ": the report's fields "
                              "outside " +
                              field->name() + " take more than " +
                              std::to_string(kMaxLineBytes >> 20) +
                              " MiB, the most a line may be"};
    }
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
    return {};
  };
  std::string text;
  LineReader lines(input, source);
  // Until the output fails: the input may have no end.
  while (!(writer && writer->failed()) && lines.Next(&text)) {
    if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
    line->Clear();
    if (Status read = ReadJson(text, line.get()); !read.ok()) {
      return {kMalformed, std::string(source) + ", line " +
                              std::to_string(lines.number()) + ": " +
                              read.message()};
    }
    if (Status taken = take(line.get(), text.size()); !taken.ok()) {
      return taken;
    }
  }
  if (Status read = lines.status(); !read.ok()) return read;
  if (!writer) writer.emplace(output, *header, *field);
  bool ok = writer->Finish();
  writer.reset();
  if (late->ByteSizeLong() > 0) {
    google::protobuf::io::CodedOutputStream out(output);
    late->SerializeToCodedStream(&out);
    ok = ok && !out.HadError();
  }
  if (!ok) return {kCannotRun, "cannot write the output"};
  return {};
}

}  // namespace ostrel::agg_l3
