// Walks the wire bytes of a report against the compiled-in schema, to say
// where they carry what the schema does not know and where they stop being
// well-formed. The runtime's own parser answers neither: it files the first
// under unknown fields without a path and reports the second as a bare false.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_DRIFT_CHECK_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_DRIFT_CHECK_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/zero_copy_stream.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wire_rules.h"

namespace ostrel::agg_l3 {

using wire::WireType;

// One record that the schema's parser keeps only as an unknown field, or
// (kRepeatedSingular) one that it merges into an earlier one.
struct Drift {
  enum class Kind {
    kUnknownField,
    kWrongWireType,
    kRejectedEnumValue,
    // A singular field of the report met again: the runtime merges the two
    // (the last scalar wins, messages merge, lists append), which is what
    // becomes of reports written back to back into one input.
    kRepeatedSingular,
  };

  Kind kind;
  // Dotted path from the report's root, with the element index of repeated
  // fields ("route[3].lrouter_port_uuid"); an unknown field is named by its
  // number ("route[3].9"), as the text format prints it.
  std::string path;
  int field_number;
  WireType wire_type;
  // The value for varint and fixed records (an enumeration value as the
  // int32 the schema tests), the byte length for length-delimited ones and
  // groups; 0 for kRepeatedSingular.
  uint64_t value;
  size_t offset;  // of the record's tag
  // The schema's field of that number; null for kUnknownField.
  const google::protobuf::FieldDescriptor* field = nullptr;
};

// Where and why the bytes stop being a well-formed encoding.
struct Malformation {
  size_t offset;
  std::string path;  // of the message or field being read; empty at the root
  std::string reason;
};

struct WireWalk {
  // In wire order, up to the malformation if any, and at most the number
  // asked for; unlisted_drift counts the rest.
  std::vector<Drift> drift;
  int64_t unlisted_drift = 0;
  // kRepeatedSingular: each top-level field the first time it came again.
  std::vector<Drift> repeated;
  std::optional<Malformation> malformation;
};

// Accepts and rejects exactly what the runtime's parser does. The stream
// form walks its input as it reads it, holding only the path it is at;
// `size` is the input's, when known before reading it (else -1), for the
// messages on lengths that overrun it.
WireWalk WalkWire(const google::protobuf::Descriptor& type,
                  std::string_view bytes);
WireWalk WalkWire(const google::protobuf::Descriptor& type,
                  google::protobuf::io::ZeroCopyInputStream* input,
                  int64_t size, size_t max_listed);
// Hands each drift to `each` as it is found instead of listing it. Of a type
// without fields (google.protobuf.Empty) every record at the top is drift:
// so the records of bytes of any type are walked, groups checked whole.
WireWalk WalkWire(const google::protobuf::Descriptor& type,
                  std::string_view bytes,
                  const std::function<void(const Drift&)>& each);

const char* WireTypeName(WireType wire_type);  // "varint", "64-bit", ...

// Follows the top-level records of a report while its bytes arrive, to tell
// as soon as it is certain that no more bytes can make a well-formed report
// of them: a tag WalkWire rejects, a varint too long, or a record that would
// end past the 2 GiB a report can take. What it cannot decide (the inside of
// records, groups) it leaves to the walk of the whole input.
class TopLevelRecords {
 public:
  // `bytes` is everything read so far: a longer prefix at each call.
  bool CertainlyMalformed(std::string_view bytes);
  // As a reader's early stop (Input::ReadAll, DelimitedReader::ReadRecord).
  bool operator()(std::string_view bytes) { return CertainlyMalformed(bytes); }

 private:
  uint64_t next_ = 0;  // the offset of the next record's tag
  bool undecided_ = false;
};

struct WireLayout;

// Follows a report's bytes on their way from `input` to the runtime's
// parser, to tell once it read them all whether they hold only what the
// walk above finds nothing in and what JSON holds exactly
// (json_exactness.h): then the parsed report holds nothing a judge of
// exactness could find. It is sure only of what it could follow in bounded
// memory: a top-level record over kMaxHeld bytes, a group or a Skip leave
// it unsure.
class JsonExactWire : public google::protobuf::io::ZeroCopyInputStream {
 public:
  static constexpr size_t kMaxHeld = 1 << 20;

  JsonExactWire(const google::protobuf::Descriptor& type,
                google::protobuf::io::ZeroCopyInputStream* input);

  // Once the input ended.
  bool exact() const { return sure_ && cut_.empty(); }

  bool Next(const void** data, int* size) override;
  void BackUp(int count) override { input_->BackUp(count); }
  bool Skip(int count) override;
  int64_t ByteCount() const override { return input_->ByteCount(); }

 private:
  // Follows the bytes from `p`, which start a record, to `end`.
  void Read(const uint8_t* p, const uint8_t* end);
  // Where the first record in [p, end) that ends past `end` starts.
  const uint8_t* Records(const uint8_t* p, const uint8_t* end);

  const WireLayout& layout_;
  google::protobuf::io::ZeroCopyInputStream* const input_;
  int64_t read_ = 0;  // bytes followed so far
  bool sure_ = true;
  std::string cut_;  // a record the bytes so far end inside
};

// The same of the bytes of one message of `type` held whole: an element of
// a list, or a report read whole.
bool JsonExactMessage(const google::protobuf::Descriptor& type,
                      std::string_view bytes);

// "varint", "length-delimited", ...
const char* WireTypeName(WireType wire_type);

// One line each, without trailing newline.
std::string Describe(const Drift& drift);
std::string Describe(const Malformation& malformation);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_DRIFT_CHECK_H_
