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
#include <vector>

#include "format/stream_printer.h"

namespace ostrel::agg_l3 {

class JsonPrinter : public StreamPrinter {
 public:
  // Honours add_whitespace, always_print_primitive_fields,
  // always_print_enums_as_ints and preserve_proto_field_names.
  JsonPrinter(const google::protobuf::util::JsonPrintOptions& options,
              google::protobuf::io::ZeroCopyOutputStream* output);

  // What MessageToJsonString(message, &json, options) makes of `message`.
  void Print(const google::protobuf::Message& message) override;
  // `value` as a JSON string, escaped as the runtime escapes strings.
  void PrintString(const std::string& value);

 private:
  // Before each field of `type`, by its index: a comma, the line and the
  // member's name (the first member leaves out the comma).
  std::vector<std::string> MakePrefixes(
      const google::protobuf::Descriptor& type, int depth) const override;
  void PrintObject(const google::protobuf::Message& message,
                   const google::protobuf::Descriptor& type, int depth);
  void PrintField(const google::protobuf::Message& message,
                  const google::protobuf::Reflection& reflection,
                  const google::protobuf::FieldDescriptor& field, int depth);
  void PrintValue(const google::protobuf::Message& message,
                  const google::protobuf::Reflection& reflection,
                  const google::protobuf::FieldDescriptor& field, int index,
                  int depth);
  void PrintDefault(const google::protobuf::FieldDescriptor& field);
  template <typename Integer>
  void AppendQuoted(Integer value);
  template <typename Real>
  void AppendReal(Real value);
  void NewLine(int depth);

  const google::protobuf::util::JsonPrintOptions options_;
  std::string newline_ = "\n";  // and spaces enough for any depth so far
  std::string escape_;          // kept for the next escape
};

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_JSON_PRINTER_H_
