// What changed between two reports of one type, the way operators ask it:
// which routes appeared, disappeared or changed next hop, which BGP
// neighbours went down, which edge nodes changed health.
//
// Lists are compared as keyed collections, not sequences: each list of the
// schema has a default key chosen from what its elements mean (a route by
// its network and next hop, a BGP neighbour by its address, a node by its
// identifier), so a reordered list is no difference and a changed route is
// reported as "route[network=10.1.0.0/16, next_hop=192.0.2.1].admin_distance:
// 20 -> 1". Keys can be overridden per list, or dropped to compare by
// position. Records the schema does not know are compared as bytes.
//
// The new report is streamed against an index of the old one, so a
// comparison holds the old report's bytes, its key index and one new element
// at a time, never a parsed report.

#ifndef OSTREL_REPORT_DIFF_H_
#define OSTREL_REPORT_DIFF_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/message.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::report_diff {

// How the elements of every list reachable from one report type are
// matched between two reports.
class Keys {
 public:
  // The default key of every list reachable from `report`.
  explicit Keys(const google::protobuf::Descriptor& report);

  // Matches the elements of `list` by `fields` (dotted paths into the
  // element, "neighbor_ip.address"), or by position when `fields` is empty.
  // `list` is the list's path from the report ("peer.vtep_bfd") or, where
  // that is unambiguous, its name alone. False with `error` when either
  // names nothing.
  bool Set(std::string_view list, const std::vector<std::string>& fields,
           std::string* error);

  // One line per list, in schema order: its path, then its key ("network,
  // next_hop", "(value)" for lists of strings matched by value, "(position)").
  std::string Describe() const;

  struct Key {
    std::vector<std::vector<const google::protobuf::FieldDescriptor*>> fields;
    bool by_value = false;  // the element itself: lists of strings
  };
  // The key of `list`, a repeated field reachable from the report.
  const Key& For(const google::protobuf::FieldDescriptor& list) const;

  // What names one report among others of its type, as in a log of them:
  // the router, node or tunnel it is of, as key text ("lrouter_id=r1,
  // lrouter_uuid=3f2c9a1e-...") and as JSON ({"lrouter_id":"r1",...}); both
  // empty where the type or the report has no such field. Reads the encoded
  // `report` in the memory of one of its list elements.
  struct Identity {
    std::string text;
    std::string json;
  };
  Identity IdentityOf(std::string_view report) const;

 private:
  const google::protobuf::Descriptor& report_;
  Key identity_;
  std::vector<std::pair<std::string, const google::protobuf::FieldDescriptor*>>
      lists_;  // path, field; in schema order
  std::map<const google::protobuf::FieldDescriptor*, Key> keys_;
};

// Differences a comparison leaves out, such as the timestamp that differs
// between any two reports.
class Ignore {
 public:
  explicit Ignore(const google::protobuf::Descriptor& report);

  // Leaves out every difference at `path` or below it: field names joined by
  // dots ("timestamp"), a list element by its key as printed
  // ("route[network=10.1.0.0/16]") or by "[*]" for any key or position
  // ("bgp_neighbor_msg[*].time_since_established"); a list named without
  // brackets means every element too. False with `error` when a name is no
  // field where it stands.
  bool Add(std::string_view path, std::string* error);

  // Whether the difference at `path` (Difference::path) is left out.
  bool Covers(std::string_view path) const;

 private:
  const google::protobuf::Descriptor& report_;
  std::vector<std::vector<std::string>> paths_;  // the steps of each
};

// One step of a difference's path: a field, or a record the schema does not
// know, and for list elements their positions in the old and new report
// (-1 on the side that lacks the element).
struct Step {
  const google::protobuf::FieldDescriptor* field = nullptr;
  int unknown_number = 0;  // when field is null
  int old_index = -1;
  int new_index = -1;
  // For an element of a keyed list, when the sink asked for JSON: its key
  // in JSON, an object of the key fields set ({"network":"10.1.0.0/16"}) or
  // the value of a string matched by value; key strings that are not UTF-8
  // escaped as in the path. Empty for elements matched by position.
  std::string key_json;
  int rank = 0;  // among equal keys ("#1"), or records of one number
};

// Something the JSON form of a value cannot hold exactly: a string that is
// not UTF-8, a NaN other than the one "NaN" reads back as, a record the
// schema does not know.
struct JsonLoss {
  std::string path;  // within the value ("route_type", "nexthop[1].9"); ""
                     // for the value itself
  std::string what;
};

struct Value {
  std::string text;  // text format: 20, "static", ESTABLISHED, {left: 1}
  // The JSON mapping: 20, "static", "ESTABLISHED", {...}; without what it
  // cannot hold, and empty when it cannot hold the value itself.
  std::string json;
  // What `json` leaves out; a caller that must not lose data refuses the
  // difference when this is not empty.
  std::vector<JsonLoss> json_losses;
};

struct Difference {
  enum Kind { kAdded, kRemoved, kChanged };
  Kind kind = kChanged;
  // route[network=10.1.0.0/16, next_hop=192.0.2.1].admin_distance; a list
  // element by its key (a second element with an equal key gets "#1"), or
  // by position ("route[3]"); a record the schema does not know by its
  // number ("route[...].9").
  std::string path;
  std::vector<Step> steps;
  std::optional<Value> old_value;  // absent for kAdded
  std::optional<Value> new_value;  // absent for kRemoved
};

// The steps of a printed path: "route[network=n, #1]", "admin_distance",
// "9#1" for the second record 9 the schema does not know; dots and brackets
// inside quoted key values belong to their key.
std::vector<std::string> PathSteps(std::string_view path);

// "changed route[...].admin_distance: 20 -> 1", "added route[...]: {...}",
// "removed route[...]: {...}".
std::string ToLine(const Difference& difference);
// {"path":"...","kind":"changed","old":20,"new":1}; old or new is left out
// where the difference has no such side, or JSON cannot hold it (see
// Value::json_losses).
std::string ToJson(const Difference& difference);

struct Sink {
  std::function<void(const Difference&)> difference;
  // Remarks on the comparison itself, such as keys that are not unique.
  std::function<void(const std::string&)> note;
  // Whether values need their JSON form (ToJson). Without it, messages get
  // no JSON form, which saves most of the time of rendering them.
  bool json = true;
  // Ends the comparison at the first difference reported: enough for a
  // caller that only asks whether the reports differ.
  bool stop_at_first = false;
};

struct ReadError {
  bool in_new_report = false;
  std::string message;  // where reading stopped, and why
};

// Compares the encoded report `old_report` with the one read from
// `new_report`, both of type `report`, reporting each difference to `sink`
// as it is found: first the elements of the report's lists in the new
// report's order (added, or changed fields), then the removed elements in
// the old report's order, then the report's other fields and its records
// the schema does not know. False with `error` when either report is
// malformed; differences found before that were already reported.
bool Compare(std::string_view old_report,
             google::protobuf::io::ZeroCopyInputStream* new_report,
             const google::protobuf::Descriptor& report, const Keys& keys,
             const Sink& sink, ReadError* error);

// ToJson with, beside the path, the path as steps:
// "steps":[{"field":"route","key":{"network":"10.1.0.0/16"}},
// {"field":"admin_distance"}]; a step also has "rank" when it is above 0,
// "index" for an element matched by position, "value" for a string matched
// by value, and "unknown" (the number) for a record the schema does not know.
std::string ToJson(const Difference& difference, bool with_steps);

// The same, leaving out what `ignore` covers.
bool Compare(std::string_view old_report,
             google::protobuf::io::ZeroCopyInputStream* new_report,
             const google::protobuf::Descriptor& report, const Keys& keys,
             const Ignore& ignore, const Sink& sink, ReadError* error);

// The same for two reports in memory.
std::vector<Difference> Compare(const google::protobuf::Message& old_report,
                                const google::protobuf::Message& new_report,
                                const Keys& keys,
                                std::vector<std::string>* notes = nullptr);

}  // namespace ostrel::report_diff

#endif  // OSTREL_REPORT_DIFF_H_
