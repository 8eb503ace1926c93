// Reading and writing reports one list element at a time.
//
// A parsed one-million-route table holds several times its wire size in
// memory, and nothing can be done with the first route until the last has
// been read. ReportReader walks the top level of a report's encoding instead:
// it hands out each element of the repeated fields the caller chose, parsed
// into one reused object, and gathers everything else into a header message
// (the report with those lists left empty). Memory stays bounded by the
// largest element. ReportWriter does the reverse, and writes exactly the bytes
// the whole message would serialize to.
//
// Both work for every message type through its descriptor; nothing is
// generated per type.
//
//   #include <ostrel/report_stream.h>
//   using ostrel::report_stream::ReportReader;
//
//   ReportReader reader(&input, *RouteTableMsg::descriptor(), {"route"});
//   while (reader.Next()) {
//     switch (reader.event()) {
//       case ReportReader::kHeader:   ... reader.header() ...
//       case ReportReader::kElement:  ... reader.element() ...
//       case ReportReader::kLateField: ... reader.header() changed ...
//     }
//   }
//   if (!reader.ok()) ... reader.error() ...

#ifndef OSTREL_REPORT_STREAM_H_
#define OSTREL_REPORT_STREAM_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/message.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::report_stream {

// Whether the reader and writer can stream a field one element at a time:
// a repeated message or string field.
bool IsStreamable(const google::protobuf::FieldDescriptor& field);

class ReportReader {
 public:
  enum Event {
    // The header, with every field that preceded the first streamed
    // element. Delivered once, before the first element (or at the end of a
    // report with no streamed element).
    kHeader,
    // One element of a streamed field: element() or element_string().
    kElement,
    // A record of the header that arrived after elements were delivered
    // (wire order is free). header() now includes it; field_number() and
    // offset() say what and where. The header then equals a whole-message
    // parse again, but a consumer that acted on the earlier header should
    // know.
    kLateField,
  };

  // Streams the repeated message or string fields named in `streamed` (none
  // means every repeated field). Unknown names make the reader fail at once.
  ReportReader(google::protobuf::io::ZeroCopyInputStream* input,
               const google::protobuf::Descriptor& report,
               const std::vector<std::string>& streamed);
  ~ReportReader();

  ReportReader(const ReportReader&) = delete;
  ReportReader& operator=(const ReportReader&) = delete;

  // Advances to the next event. False at the clean end of the report, and on
  // any error; ok() tells the two apart.
  bool Next();

  bool ok() const { return error_.empty(); }
  // What failed and where: "element 41 of route at byte 81920: ..."
  const std::string& error() const { return error_; }

  Event event() const { return event_; }
  const google::protobuf::Message& header() const { return *header_; }
  // The streamed field of the current element or late field.
  const google::protobuf::FieldDescriptor* field() const { return field_; }
  // For kLateField: the field number of the record (it may be unknown to the
  // schema).
  int field_number() const { return field_number_; }
  // Byte offset of the current record's tag in the input.
  int64_t offset() const { return offset_; }
  // Index of the current element within its field (0-based).
  int64_t index() const { return index_; }
  // The current element of a message field. The object is reused: copy what
  // must outlive the next call.
  const google::protobuf::Message& element() const { return *element_; }
  // The same, to change or to take (Swap) its contents: the next element is
  // parsed into it afresh.
  google::protobuf::Message* mutable_element() { return element_; }
  // The current element of a string field.
  const std::string& element_string() const { return string_element_; }
  // The current element's encoding as read (for a string, the string), until
  // the next call: equal encodings are equal elements, with no serializing.
  std::string_view element_bytes() const { return element_bytes_; }
  // For kLateField: the record itself, in canonical encoding; parsed into an
  // empty report it gives just what changed.
  const std::string& record() const { return scratch_; }

 private:
  bool Fail(const std::string& what);
  bool ReadRecord();
  bool ReadElement(const google::protobuf::FieldDescriptor* field,
                   uint32_t length);
  bool MergeHeaderRecord(const std::string& record);
  void RefreshStream();
  int64_t Position() const;

  google::protobuf::io::ZeroCopyInputStream* const input_;
  std::unique_ptr<google::protobuf::io::CodedInputStream> coded_;
  int64_t coded_base_ = 0;  // input offset where coded_ started
  const google::protobuf::Descriptor& report_;
  std::vector<const google::protobuf::FieldDescriptor*> streamed_;
  std::unique_ptr<google::protobuf::Message> header_;
  // One reused element object per streamed message field, by field index.
  std::vector<std::unique_ptr<google::protobuf::Message>> elements_;
  std::vector<int64_t> counts_;  // elements seen, by field index
  google::protobuf::Message* element_ = nullptr;
  std::string string_element_;
  std::string_view element_bytes_;
  std::string scratch_;
  bool header_delivered_ = false;
  // An element whose tag and length were read just before the header went
  // out; read on the next call.
  const google::protobuf::FieldDescriptor* pending_field_ = nullptr;
  int64_t pending_length_ = -1;
  bool done_ = false;
  Event event_ = kHeader;
  const google::protobuf::FieldDescriptor* field_ = nullptr;
  int field_number_ = 0;
  int64_t offset_ = 0;
  int64_t index_ = 0;
  std::string error_;
};

class ReportWriter {
 public:
  // Writes a report whose content is `header` plus the elements added for
  // `streamed` (a repeated message or string field of the header's type;
  // elements the header itself holds in that field are written first). The
  // header's fields numbered below the streamed field are written at once,
  // the rest by Finish().
  ReportWriter(google::protobuf::io::ZeroCopyOutputStream* output,
               const google::protobuf::Message& header,
               const google::protobuf::FieldDescriptor& streamed);
  ~ReportWriter();

  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;

  void Add(const google::protobuf::Message& element);
  void Add(const std::string& element);
  // True once the output failed: what is added after it is lost, so a
  // writer fed from a source without end can stop.
  bool failed() { return output_.HadError(); }

  // Writes the rest of the header. False if the output failed at any point.
  bool Finish();

 private:
  google::protobuf::io::CodedOutputStream output_;
  const google::protobuf::FieldDescriptor& streamed_;
  std::unique_ptr<google::protobuf::Message> tail_;
  uint32_t tag_;
};

}  // namespace ostrel::report_stream

// The names of the first release, kept for one more.
namespace ostrel::stream {
using ReportReader [[deprecated("use ostrel::report_stream::ReportReader")]] =
    ::ostrel::report_stream::ReportReader;
using ReportWriter [[deprecated("use ostrel::report_stream::ReportWriter")]] =
    ::ostrel::report_stream::ReportWriter;
[[deprecated("use ostrel::report_stream::IsStreamable")]] inline bool
IsStreamable(const google::protobuf::FieldDescriptor& field) {
  return ::ostrel::report_stream::IsStreamable(field);
}
}  // namespace ostrel::stream

#endif  // OSTREL_REPORT_STREAM_H_
