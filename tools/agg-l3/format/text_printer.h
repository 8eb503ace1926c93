// The protobuf text format of a message, written straight from reflection.
//
// The runtime's printer (TextFormat::Print) makes a string for every name
// and value and hands it through a virtual call and an indenting writer
// that looks at each byte; for a report of a million routes that is most
// of what `decode` does. This printer writes the same bytes as the default
// TextFormat::Printer, for the messages of our schemas (no maps, groups,
// extensions or Any), and writes them to a stream as it goes.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_TEXT_PRINTER_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_TEXT_PRINTER_H_

#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/message.h>

#include <string>
#include <vector>

#include "format/stream_printer.h"

namespace ostrel::agg_l3 {

class TextPrinter : public StreamPrinter {
 public:
  explicit TextPrinter(google::protobuf::io::ZeroCopyOutputStream* output)
      : StreamPrinter(output) {}

  // What TextFormat::Print(message, output) writes.
  void Print(const google::protobuf::Message& message) override;

 private:
  // What starts the lines of a message's fields at `depth`, by the field's
  // index in `type`: the indentation and the name, then ": " before a value
  // or " {\n" before a message; last, the line that closes a message opened
  // at `depth`.
  std::vector<std::string> MakePrefixes(
      const google::protobuf::Descriptor& type, int depth) const override;
  void PrintMessage(const google::protobuf::Message& message,
                    const google::protobuf::Descriptor& type, int depth);
  void PrintValue(const google::protobuf::Message& message,
                  const google::protobuf::Reflection& reflection,
                  const google::protobuf::FieldDescriptor& field, int index,
                  const std::vector<std::string>& lines, int depth);

  std::string escaped_;  // kept for the next string
};

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_TEXT_PRINTER_H_
