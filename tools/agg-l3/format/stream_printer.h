// What the report printers share: their output, gathered into large pieces
// before it goes to the stream, the fields set in the messages they walk,
// and numbers written as the runtime writes them.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_STREAM_PRINTER_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_STREAM_PRINTER_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/message.h>
#include <google/protobuf/stubs/strutil.h>

#include <charconv>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel::agg_l3 {

class StreamPrinter {
 public:
  explicit StreamPrinter(google::protobuf::io::ZeroCopyOutputStream* output);
  virtual ~StreamPrinter();  // flushes
  StreamPrinter(const StreamPrinter&) = delete;
  StreamPrinter& operator=(const StreamPrinter&) = delete;

  // `message` in the printer's format.
  virtual void Print(const google::protobuf::Message& message) = 0;
  void Write(std::string_view raw) { Append(raw); }

  // Gives the stream back the part of its buffer not printed into, so that
  // what was printed is all the stream holds; false once writing failed.
  bool Flush();
  bool failed() const { return failed_; }

 protected:
  // Printing goes straight into the stream's own buffer: a std::string in
  // between would cost a call for every piece and a second copy of all.
  void Append(std::string_view text) {
    if (text.size() < static_cast<size_t>(limit_ - next_)) {
      std::memcpy(next_, text.data(), text.size());
      next_ += text.size();
    } else {
      AppendAcross(text);
    }
  }
  void Append(char c) { Append(std::string_view(&c, 1)); }

  template <typename Integer>
  void AppendInteger(Integer value) {
    char digits[24];
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    Append(std::string_view(digits, static_cast<size_t>(end - digits)));
  }

  // The runtime's shortest form that reads back the same (inf and -inf for
  // the infinities).
  template <typename Real>
  void AppendShortest(Real value) {
    Append(sizeof(Real) == sizeof(float)
               ? google::protobuf::SimpleFtoa(static_cast<float>(value))
               : google::protobuf::SimpleDtoa(value));
  }

  // The fields set in `message`, by number, in a list kept for the next
  // message at `depth` rather than allocated for each; it stays valid while
  // the messages below are listed. `reflection` is the message's, looked up
  // once per message: the lookup costs as much as printing a small value.
  const std::vector<const google::protobuf::FieldDescriptor*>& SetFields(
      const google::protobuf::Message& message,
      const google::protobuf::Reflection& reflection, int depth);

  // What a printer writes before each field of `type` at `depth`, by the
  // field's index, and whatever it adds after them: made by MakePrefixes
  // once for each type and depth.
  const std::vector<std::string>& Prefixes(
      const google::protobuf::Descriptor& type, int depth);
  virtual std::vector<std::string> MakePrefixes(
      const google::protobuf::Descriptor& type, int depth) const = 0;

 private:
  void AppendAcross(std::string_view text);

  google::protobuf::io::ZeroCopyOutputStream* const output_;
  char* next_ = nullptr;  // in the stream's buffer, up to limit_
  char* limit_ = nullptr;
  std::deque<std::vector<const google::protobuf::FieldDescriptor*>> fields_;
  std::map<std::pair<const google::protobuf::Descriptor*, int>,
           std::vector<std::string>>
      prefixes_;
  bool failed_ = false;
};

// An enumeration's number, told apart from the other integers.
struct EnumNumber {
  int number;
};

// Calls `visit` with the value of `field` in `message` (element `index` of a
// list, -1 for a singular field) as its C++ type: EnumNumber for
// enumerations, const std::string& for strings, const Message& for
// messages.
template <typename Visitor>
void VisitValue(const google::protobuf::Message& message,
                const google::protobuf::Reflection& reflection,
                const google::protobuf::FieldDescriptor& field, int index,
                Visitor&& visit) {
  using google::protobuf::FieldDescriptor;
  const google::protobuf::Reflection& r = reflection;
  const bool list = index >= 0;
  switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      return visit(list ? r.GetRepeatedInt32(message, &field, index)
                        : r.GetInt32(message, &field));
    case FieldDescriptor::CPPTYPE_UINT32:
      return visit(list ? r.GetRepeatedUInt32(message, &field, index)
                        : r.GetUInt32(message, &field));
    case FieldDescriptor::CPPTYPE_INT64:
      return visit(list ? r.GetRepeatedInt64(message, &field, index)
                        : r.GetInt64(message, &field));
    case FieldDescriptor::CPPTYPE_UINT64:
      return visit(list ? r.GetRepeatedUInt64(message, &field, index)
                        : r.GetUInt64(message, &field));
    case FieldDescriptor::CPPTYPE_BOOL:
      return visit(list ? r.GetRepeatedBool(message, &field, index)
                        : r.GetBool(message, &field));
    case FieldDescriptor::CPPTYPE_FLOAT:
      return visit(list ? r.GetRepeatedFloat(message, &field, index)
                        : r.GetFloat(message, &field));
    case FieldDescriptor::CPPTYPE_DOUBLE:
      return visit(list ? r.GetRepeatedDouble(message, &field, index)
                        : r.GetDouble(message, &field));
    case FieldDescriptor::CPPTYPE_ENUM:
      return visit(
          EnumNumber{list ? r.GetRepeatedEnumValue(message, &field, index)
                          : r.GetEnumValue(message, &field)});
    case FieldDescriptor::CPPTYPE_STRING: {
      std::string scratch;
      return visit(
          list ? r.GetRepeatedStringReference(message, &field, index, &scratch)
               : r.GetStringReference(message, &field, &scratch));
    }
    case FieldDescriptor::CPPTYPE_MESSAGE:
      return visit(list ? r.GetRepeatedMessage(message, &field, index)
                        : r.GetMessage(message, &field));
  }
}

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_STREAM_PRINTER_H_
