// The protobuf JSON mapping of a message, written straight from reflection.
//
// The runtime's own printer (util::MessageToJsonString) serializes the
// message, resolves its type into a second description and walks the bytes
// through a chain of writers; for a stream of small messages that costs
// more than the parse. This printer writes the same bytes, option for
// option, for the messages of our schemas (no maps, oneofs, bytes fields or
// well-known types), and writes them to a stream as it goes, so a large
// report never exists as a whole JSON string.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_JSON_PRINTER_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_JSON_PRINTER_H_

#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/message.h>
#include <google/protobuf/util/json_util.h>

#include <string>
#include <string_view>
#include <vector>

namespace ostrel::agg_l3 {

class JsonPrinter {
 public:
  // Honours add_whitespace, always_print_primitive_fields,
  // always_print_enums_as_ints and preserve_proto_field_names.
  JsonPrinter(const google::protobuf::util::JsonPrintOptions& options,
              google::protobuf::io::ZeroCopyOutputStream* output);
  ~JsonPrinter();  // flushes
  JsonPrinter(const JsonPrinter&) = delete;
  JsonPrinter& operator=(const JsonPrinter&) = delete;

  // What MessageToJsonString(message, &json, options) makes of `message`.
  void Print(const google::protobuf::Message& message);
  void Write(std::string_view raw);
  // `value` as a JSON string, escaped as the runtime escapes strings.
  void PrintString(const std::string& value);

  // Hands everything printed so far to the output; false once writing
  // failed.
  bool Flush();
  bool failed() const { return failed_; }

 private:
  void PrintObject(const google::protobuf::Message& message, int depth);
  // `reflection` is the message's, looked up once per message: the lookup
  // costs as much as printing a small value.
  void PrintField(const google::protobuf::Message& message,
                  const google::protobuf::Reflection& reflection,
                  const google::protobuf::FieldDescriptor& field, int depth);
  void PrintValue(const google::protobuf::Message& message,
                  const google::protobuf::Reflection& reflection,
                  const google::protobuf::FieldDescriptor& field, int index,
                  int depth);
  void PrintDefault(const google::protobuf::FieldDescriptor& field);
  void NewLine(int depth);
  void Name(const google::protobuf::FieldDescriptor& field);
  void DrainIfLarge();

  const google::protobuf::util::JsonPrintOptions options_;
  google::protobuf::io::ZeroCopyOutputStream* const output_;
  std::string buffer_;
  // The fields set in the message being printed at each depth, kept for the
  // next message there rather than allocated for each.
  std::vector<std::vector<const google::protobuf::FieldDescriptor*>> fields_;
  bool failed_ = false;
};

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_JSON_PRINTER_H_
