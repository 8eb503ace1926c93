#include "each_lines.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/util/json_util.h>
#include <ostrel/report_stream.h>

#include <memory>
#include <optional>

#include "report_codec.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

namespace stream = ::ostrel::report_stream;

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

Status CannotWriteOutput() { return {kCannotRun, "cannot write the output"}; }

bool WriteLine(const Message& message,
               google::protobuf::io::CodedOutputStream* out) {
  std::string line;
  if (!google::protobuf::util::MessageToJsonString(message, &line).ok()) {
    return false;
  }
  line += '\n';
  out->WriteString(line);
  return true;
}

}  // namespace

Status DecodeEach(const google::protobuf::Descriptor& type,
                  const std::string& field_name,
                  google::protobuf::io::ZeroCopyInputStream* input,
                  std::string_view source,
                  google::protobuf::io::ZeroCopyOutputStream* output,
                  Warnings* warnings, const Progress& progress) {
  const FieldDescriptor* field;
  if (Status found = FindList(type, field_name, &field); !found.ok()) {
    return found;
  }

  stream::ReportReader reader(input, type, {field->name()});
  google::protobuf::io::CodedOutputStream out(output);
  // Element lines reuse one report holding a single element.
  const std::unique_ptr<Message> line = NewReport(type);
  const auto* reflection = line->GetReflection();
  int64_t elements = 0;
  bool unknown_fields = false;
  while (reader.Next()) {
    line->Clear();
    switch (reader.event()) {
      case stream::ReportReader::kHeader:
        line->CopyFrom(reader.header());
        break;
      case stream::ReportReader::kElement:
        if (field->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
          reflection->AddString(line.get(), field, reader.element_string());
        } else {
          reflection->AddMessage(line.get(), field)->CopyFrom(reader.element());
        }
        ++elements;
        break;
      case stream::ReportReader::kLateField:
        line->ParseFromString(reader.record());
        break;
    }
    unknown_fields |= !reflection->GetUnknownFields(*line).empty();
    if (!WriteLine(*line, &out)) {
      return {kMalformed, std::string(source) + ": cannot print as JSON: " +
                              line->ShortDebugString()};
    }
    if (progress && reader.event() == stream::ReportReader::kElement &&
        elements % 4096 == 0) {
      progress(reader.offset(), elements);
    }
  }
  if (!reader.ok()) {
    return {kMalformed, std::string(source) + ": " + reader.error()};
  }
  if (unknown_fields) {
    warnings->push_back(std::string(source) +
                        ": records this schema does not know were left out "
                        "(JSON has no place for them); `agg-l3 check` lists "
                        "them");
  }
  out.Trim();
  if (out.HadError()) return CannotWriteOutput();
  return {};
}

Status EncodeEach(const google::protobuf::Descriptor& type,
                  const std::string& field_name, std::istream& lines,
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
  std::string text;
  for (int number = 1; std::getline(lines, text); ++number) {
    if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
    line->Clear();
    const auto status =
        google::protobuf::util::JsonStringToMessage(text, line.get());
    if (!status.ok()) {
      return {kMalformed, std::string(source) + ", line " +
                              std::to_string(number) + ": " +
                              status.message().ToString()};
    }
    const int count = reflection->FieldSize(*line, field);
    if (count > 0 && !writer) writer.emplace(output, *header, *field);
    for (int i = 0; i < count; ++i) {
      if (field->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
        writer->Add(reflection->GetRepeatedString(*line, field, i));
      } else {
        writer->Add(reflection->GetRepeatedMessage(*line, field, i));
      }
    }
    reflection->ClearField(line.get(), field);
    (writer ? late : header)->MergeFrom(*line);
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
