// Wire vectors of agg_svc_l3_msg.proto, shared by every test that needs real
// reports: each pairs a message in text format with the bytes it encodes to,
// worked out from the published field numbers and wire types. They are read
// from wire_vectors.txt.

#ifndef OSTREL_TEST_WIRE_VECTORS_H_
#define OSTREL_TEST_WIRE_VECTORS_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::testdata {

struct EveryFieldVector {
  const char* type;
  const char* text;
  const char* hex;
};

// One per message type, every field set; lists have two elements.
const std::vector<EveryFieldVector>& EveryFieldVectors();

struct RecordVector {
  const char* name;
  const char* type;
  const char* text;
  const char* hex;
  // Non-canonical bytes that parse to the same message (records out of field
  // order, a singular field given twice, a varint wider than its field);
  // null: `hex` itself.
  const char* input;
};

// Single records and small reports, with the byte examples the schema's
// documentation gives.
const std::vector<RecordVector>& RecordVectors();

struct MalformedVector {
  const char* name;
  const char* type;
  const char* hex;  // bytes that no parser may accept
};

// Broken encodings: lengths past the end, overlong varints, stray groups,
// invalid wire types, cut fixed-width values.
const std::vector<MalformedVector>& MalformedVectors();

inline void PrintTo(const EveryFieldVector& v, std::ostream* os) {
  *os << v.type;
}
inline void PrintTo(const RecordVector& v, std::ostream* os) { *os << v.name; }
inline void PrintTo(const MalformedVector& v, std::ostream* os) {
  *os << v.name;
}

// A table of test cases kept as data: a case starts at an unindented line,
// whose words are its head; each line below it, indented by two spaces, is
// "KEY VALUE", and the values of one key collect in order. Lines starting
// with "#" are comments. A file that cannot be read is no cases.
struct Case {
  std::vector<std::string> head;
  std::map<std::string, std::vector<std::string>> values;
  // The values of `key`, none when it has none.
  const std::vector<std::string>& Of(const std::string& key) const;
  // The values of `key` joined by `separator`.
  std::string Joined(const std::string& key,
                     const std::string& separator = "\n") const;
};
std::vector<Case> ReadCases(const std::string& path);
inline void PrintTo(const Case& c, std::ostream* os) { *os << c.head.at(0); }

// The shipped example reports (examples/*.txtpb), in the order of their
// names.
struct Example {
  std::string path;
  std::string type;  // as its "# proto-message:" header names it
  std::string text;
};
const std::vector<Example>& Examples();

// "0A 02 72 31" -> the four bytes. Spaces are ignored.
std::string FromHex(std::string_view hex);

// The schema file's message type named `type` ("RouteTableMsg"), as the
// vectors name it, or null.
const google::protobuf::Descriptor* VectorType(std::string_view type);

// A new, empty message of `type`, or null when there is no such type.
std::unique_ptr<google::protobuf::Message> NewMessage(std::string_view type);

}  // namespace ostrel::testdata

#endif  // OSTREL_TEST_WIRE_VECTORS_H_
