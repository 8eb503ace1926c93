#include "ostrel/report_diff.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/stubs/strutil.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/unknown_field_set.h>
#include <google/protobuf/util/field_comparator.h>
#include <google/protobuf/util/json_util.h>
#include <google/protobuf/util/message_differencer.h>
#include <ostrel/report_stream.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "wire_rules.h"

namespace ostrel::report_diff {
namespace {

namespace pb = ::google::protobuf;
using ::google::protobuf::util::MessageDifferencer;
using Field = MessageDifferencer::SpecificField;

// The default key of each list of messages, from what its elements mean.
// Lists of strings are matched by value; a list missing here, by position.
constexpr std::pair<const char*, const char*> kDefaultKeys[] = {
    {"LogicalRouterPortArpTableMsg.arp", "ip"},
    {"RouteTableMsg.route", "network,next_hop"},
    {"MsrRouteTableMsg.route", "network,next_hop"},
    {"BgpNeighborEntryMsg.address_family_info", "addr_family_name"},
    {"BgpNeighborMsg.bgp_neighbor_msg", "neighbor_ip.address"},
    {"LogicalRouterStatusMsg.service_group_status", "service_group_id"},
    {"LogicalRoutersPerNodeMsg.router_status", "lrouter_id"},
    {"PeerEdgeNodeStatusMsg.vtep_bfd", "local_ip.address,remote_ip.address"},
    {"PeerEdgeNodeStatusMsg.mgmt_bfd", "local_ip.address,remote_ip.address"},
    {"EdgeClusterStatusMsg.peer", "transport_node_id"},
    // One row per output interface of an (S,G) route.
    {"McastRouteMsg.mcast_route", "source,group,output_interface"},
    {"McastForwardEntryMsg.output_interface", "left,right"},
    {"McastForwardTableMsg.mfib_entry", "source,group"},
    {"McastIgmpMembershipMsg.igmp_membership", "interface,group,src_address"},
    {"McastPimRpMappingMsg.pim_rp_mapping", "group,rp_address"},
    {"BgpNeighborAdvertisedRoutesMsg.route", "network,next_hop"},
    {"BgpNeighborRoutesMsg.route", "network,next_hop"},
    {"RemoteTunnelPortStatisticsMsg.stats_per_site", "rtep_group_id"},
    {"NodeInterSiteStatisticsMsg.stats_per_tunnel",
     "tunnel_source_ip.address,tunnel_destination_ip.address"},
    // A neighbour address can recur in another router or VRF.
    {"BgpNeighborStatusPerNodeMsg.bgp_neighbor_status",
     "lrouter_uuid,vrf_name,neighbor_ip.address"},
    {"BgpNeighborStatusPerLrMsg.bgp_neighbor_status",
     "vrf_name,neighbor_ip.address"},
    {"L2ForwarderStatusPerNodeMsg.l2_forwarder_status", "logical_switch_id"},
    {"L2ForwarderRemoteMacsMsg.remote_macs_per_site", "rtep_group_id"},
    {"L2ForwarderRemoteMacsMsg.remote_ips_per_site", "rtep_group_id"},
    {"L2ForwarderRemoteIpsPerSiteMsg.remote_active_ip", "address"},
    {"L2ForwarderRemoteIpsPerSiteMsg.remote_standby_ip", "address"},
    {"OspfNeighborEntryMsg.entry", "lr_interface_name,neighbor_ip.address"},
    {"OspfNeighborMsg.ospf_neighbor", "neighbor_id.address"},
    {"OspfRouteEntryMsg.nexthop", "neighbor_address.address,lr_interface_name"},
    {"OspfRouteMsg.ospf_route", "route_prefix"},
    // A link state is identified by its type (the list), id and advertiser.
    {"OspfDatabaseEntryMsg.router_link_state", "ls_id,advertised_router"},
    {"OspfDatabaseEntryMsg.net_link_state", "ls_id,advertised_router"},
    {"OspfDatabaseEntryMsg.summary_link_state", "ls_id,advertised_router"},
    {"OspfDatabaseEntryMsg.ext_link_state", "ls_id,advertised_router"},
    {"OspfDatabaseEntryMsg.nssa_ext_link_state", "ls_id,advertised_router"},
    {"OspfDatabaseEntryMsg.asbr_summary_link_state", "ls_id,advertised_router"},
    {"OspfDatabaseMsg.ospf_database", "area.address"},
    {"GreTunnelPerNodeMsg.tunnel_status", "service_router_id"},
};

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != text.npos;
       start = end + 1) {
    parts.emplace_back(text.substr(start, end - start));
  }
  parts.emplace_back(text.substr(start));
  return parts;
}

// A dotted field path into `element`: every step but the last a singular
// message field.
bool ResolvePath(const pb::Descriptor& element, const std::string& dotted,
                 std::vector<const pb::FieldDescriptor*>* path,
                 std::string* error) {
  const pb::Descriptor* type = &element;
  for (const std::string& name : Split(dotted, '.')) {
    const pb::FieldDescriptor* field =
        type ? type->FindFieldByName(name) : nullptr;
    if (field == nullptr || field->is_repeated()) {
      *error = "no singular field " + dotted + " in " + element.name();
      return false;
    }
    path->push_back(field);
    type = field->message_type();
  }
  if (path->empty()) *error = "empty key field in " + element.name();
  return !path->empty();
}

// The key made of `fields`, dotted paths into `element`.
bool ResolveKey(const pb::Descriptor& element,
                const std::vector<std::string>& fields, Keys::Key* key,
                std::string* error) {
  for (const std::string& dotted : fields) {
    key->fields.emplace_back();
    if (!ResolvePath(element, dotted, &key->fields.back(), error)) return false;
  }
  return true;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Key values as operators write them: bare where that is unambiguous.
std::string KeyText(std::string_view value) {
  const bool bare = !value.empty() &&
                    value.find_first_of("[],=\"\\# ") == value.npos &&
                    std::all_of(value.begin(), value.end(),
                                [](char c) { return c > 0x20 && c < 0x7f; });
  return bare ? std::string(value)
              : "\"" + pb::CEscape(std::string(value)) + "\"";
}

const pb::TextFormat::Printer& SingleLine() {
  static const pb::TextFormat::Printer* printer = [] {
    auto* p = new pb::TextFormat::Printer;
    p->SetSingleLineMode(true);
    return p;
  }();
  return *printer;
}

std::string MessageText(const pb::Message& message) {
  std::string text;
  SingleLine().PrintToString(message, &text);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return "{" + text + "}";
}

// The JSON form only when asked for: it takes many times the text's time.
Value MessageValue(const pb::Message& message, bool json) {
  Value value{MessageText(message), {}};
  if (!json) return value;
  pb::util::JsonPrintOptions options;
  options.preserve_proto_field_names = true;
  if (!pb::util::MessageToJsonString(message, &value.json, options).ok()) {
    value.json = JsonString(value.text);  // not representable in JSON
  }
  return value;
}

// Field `field` of `message` (element `index` of a list, else -1).
Value FieldValue(const pb::Message& message, const pb::FieldDescriptor& field,
                 int index, bool json = true) {
  const pb::Reflection& r = *message.GetReflection();
  const bool list = field.is_repeated();
  using F = pb::FieldDescriptor;
  switch (field.cpp_type()) {
    case F::CPPTYPE_MESSAGE:
      return MessageValue(list ? r.GetRepeatedMessage(message, &field, index)
                               : r.GetMessage(message, &field),
                          json);
    case F::CPPTYPE_STRING: {
      std::string scratch;
      const std::string& s =
          list ? r.GetRepeatedStringReference(message, &field, index, &scratch)
               : r.GetStringReference(message, &field, &scratch);
      return {"\"" + pb::CEscape(s) + "\"", JsonString(s)};
    }
    default:
      break;
  }
  std::string text;
  SingleLine().PrintFieldValueToString(message, &field, index, &text);
  switch (field.cpp_type()) {
    case F::CPPTYPE_INT64:
    case F::CPPTYPE_UINT64:
    case F::CPPTYPE_ENUM:
      return {text, JsonString(text)};  // as the JSON mapping writes them
    case F::CPPTYPE_FLOAT:
    case F::CPPTYPE_DOUBLE:
      if (text == "nan" || text == "inf" || text == "-inf") {
        return {text, JsonString(text == "nan"   ? "NaN"
                                 : text == "inf" ? "Infinity"
                                                 : "-Infinity")};
      }
      return {text, text};
    default:
      return {text, text};
  }
}

Value UnknownValue(const pb::UnknownField& field) {
  char text[32];
  switch (field.type()) {
    case pb::UnknownField::TYPE_VARINT:
      std::snprintf(text, sizeof text, "%" PRIu64, field.varint());
      return {text, text};
    case pb::UnknownField::TYPE_FIXED32:
      std::snprintf(text, sizeof text, "0x%08" PRIx32, field.fixed32());
      break;
    case pb::UnknownField::TYPE_FIXED64:
      std::snprintf(text, sizeof text, "0x%016" PRIx64, field.fixed64());
      break;
    case pb::UnknownField::TYPE_LENGTH_DELIMITED: {
      const std::string quoted =
          "\"" + pb::CEscape(field.length_delimited()) + "\"";
      return {quoted, JsonString(quoted)};
    }
    case pb::UnknownField::TYPE_GROUP: {
      std::string group;
      SingleLine().PrintUnknownFieldsToString(field.group(), &group);
      while (!group.empty() && group.back() == ' ') group.pop_back();
      return {"{" + group + "}", JsonString("{" + group + "}")};
    }
  }
  return {text, JsonString(text)};
}

const pb::Message* Child(const pb::Message* parent,
                         const pb::FieldDescriptor& field, int index) {
  if (parent == nullptr) return nullptr;
  const pb::Reflection& r = *parent->GetReflection();
  if (field.is_repeated()) {
    return index >= 0 && index < r.FieldSize(*parent, &field)
               ? &r.GetRepeatedMessage(*parent, &field, index)
               : nullptr;
  }
  return r.HasField(*parent, &field) ? &r.GetMessage(*parent, &field) : nullptr;
}

// The value of `field` in `holder` (null: absent) as bytes that compare
// equal exactly when the values and their presence do. Strings, the keys of
// the long lists, are taken as they are.
void AppendValue(const pb::Message* holder, const pb::FieldDescriptor& field,
                 std::string* bytes) {
  const pb::Reflection* r = holder ? holder->GetReflection() : nullptr;
  if (r == nullptr || !r->HasField(*holder, &field)) {
    *bytes += '\0';
    return;
  }
  std::string scratch;
  const std::string* value = &scratch;
  if (field.cpp_type() == pb::FieldDescriptor::CPPTYPE_STRING) {
    value = &r->GetStringReference(*holder, &field, &scratch);
  } else if (field.cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE) {
    r->GetMessage(*holder, &field).SerializeToString(&scratch);
  } else {
    SingleLine().PrintFieldValueToString(*holder, &field, -1, &scratch);
  }
  const uint32_t size = static_cast<uint32_t>(value->size());
  *bytes += '\1';
  bytes->append(reinterpret_cast<const char*>(&size), sizeof size);
  bytes->append(*value);
}

// What identifies elements: the key fields' values, with their presence.
class KeyReader {
 public:
  explicit KeyReader(const Keys::Key& key) : key_(key) {}

  void Append(const pb::Message& element, std::string* bytes) const {
    for (const auto& path : key_.fields) {
      const pb::Message* holder = &element;
      for (size_t i = 0; holder && i + 1 < path.size(); ++i) {
        holder = Child(holder, *path[i], -1);
      }
      AppendValue(holder, *path.back(), bytes);
    }
  }

  std::string Bytes(const pb::Message& element) const {
    std::string bytes;
    Append(element, &bytes);
    return bytes;
  }

  // network=10.1.0.0/16, next_hop=192.0.2.1; unset key fields left out.
  std::string Text(const pb::Message& element) const {
    std::string text;
    for (const auto& path : key_.fields) {
      const pb::Message* holder = &element;
      for (size_t i = 0; holder && i + 1 < path.size(); ++i) {
        holder = Child(holder, *path[i], -1);
      }
      if (holder == nullptr ||
          !holder->GetReflection()->HasField(*holder, path.back())) {
        continue;
      }
      if (!text.empty()) text += ", ";
      for (size_t i = 0; i < path.size(); ++i) {
        text += (i ? "." : "") + path[i]->name();
      }
      const pb::FieldDescriptor& last = *path.back();
      std::string scratch;
      text += "=" + (last.cpp_type() == pb::FieldDescriptor::CPPTYPE_STRING
                         ? KeyText(holder->GetReflection()->GetStringReference(
                               *holder, &last, &scratch))
                         : FieldValue(*holder, last, -1).text);
    }
    return text;
  }

 private:
  const Keys::Key& key_;
};

}  // namespace

// ---------------------------------------------------------------- Keys

Keys::Keys(const pb::Descriptor& report) : report_(report) {
  std::map<std::string, std::string> defaults;
  for (const auto& [list, key] : kDefaultKeys) defaults[list] = key;
  // Depth first in field order; the schema has no recursive types, but a
  // type seen on the current path is not entered again.
  std::vector<const pb::Descriptor*> open;
  std::function<void(const pb::Descriptor&, const std::string&)> walk =
      [&](const pb::Descriptor& type, const std::string& prefix) {
        if (std::find(open.begin(), open.end(), &type) != open.end()) return;
        open.push_back(&type);
        for (int i = 0; i < type.field_count(); ++i) {
          const pb::FieldDescriptor* field = type.field(i);
          const std::string path = prefix + field->name();
          if (field->is_repeated()) {
            lists_.emplace_back(path, field);
            Key& key = keys_[field];
            const auto known = defaults.find(type.name() + "." + field->name());
            std::string error;
            if (field->cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE) {
              key.by_value = true;
            } else if (known != defaults.end() &&
                       !ResolveKey(*field->message_type(),
                                   Split(known->second, ','), &key, &error)) {
              key = Key();  // by position; the tests catch the typo
            }
          }
          if (field->message_type()) walk(*field->message_type(), path + ".");
        }
        open.pop_back();
      };
  walk(report, "");
}

bool Keys::Set(std::string_view list, const std::vector<std::string>& fields,
               std::string* error) {
  const pb::FieldDescriptor* found = nullptr;
  int matches = 0;
  for (const auto& [path, field] : lists_) {
    if (path == list) {
      found = field;
      matches = 1;
      break;
    }
    if (field->name() == list) {
      found = field;
      ++matches;
    }
  }
  if (matches != 1) {
    *error = std::string(matches ? "ambiguous" : "no") + " list " +
             std::string(list) + " in " + report_.name() +
             (matches ? ": name it by its path (see --keys)" : "");
    return false;
  }
  Key key;
  if (found->cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE &&
      !fields.empty()) {
    *error = "list " + std::string(list) +
             " holds no messages: only its values or positions can match it";
    return false;
  }
  if (!fields.empty() &&
      !ResolveKey(*found->message_type(), fields, &key, error)) {
    return false;
  }
  keys_[found] = std::move(key);
  return true;
}

std::string Keys::Describe() const {
  std::string out;
  for (const auto& [path, field] : lists_) {
    const Key& key = keys_.at(field);
    std::string fields;
    for (const auto& dotted : key.fields) {
      if (!fields.empty()) fields += ",";
      for (size_t i = 0; i < dotted.size(); ++i) {
        fields += (i ? "." : "") + dotted[i]->name();
      }
    }
    if (key.by_value) fields = "(value)";
    if (fields.empty()) fields = "(position)";
    out += path + " " + fields + "\n";
  }
  return out;
}

const Keys::Key& Keys::For(const pb::FieldDescriptor& list) const {
  static const Key kByPosition;
  const auto key = keys_.find(&list);
  return key == keys_.end() ? kByPosition : key->second;
}

// ---------------------------------------------------------------- Lines

std::string ToLine(const Difference& d) {
  switch (d.kind) {
    case Difference::kAdded:
      return "added " + d.path + ": " + d.new_value->text;
    case Difference::kRemoved:
      return "removed " + d.path + ": " + d.old_value->text;
    case Difference::kChanged:
      break;
  }
  return "changed " + d.path + ": " + d.old_value->text + " -> " +
         d.new_value->text;
}

std::string ToJson(const Difference& d) {
  static const char* const kKinds[] = {"added", "removed", "changed"};
  std::string json = "{\"path\":" + JsonString(d.path) + ",\"kind\":\"" +
                     kKinds[d.kind] + "\"";
  if (d.old_value) json += ",\"old\":" + d.old_value->json;
  if (d.new_value) json += ",\"new\":" + d.new_value->json;
  return json + "}";
}

// ---------------------------------------------------------------- Compare

namespace {

// Turns MessageDifferencer's field paths into keyed Differences, below the
// path of the element pair being compared.
class Reporter : public MessageDifferencer::Reporter {
 public:
  Reporter(const Keys& keys, const Sink& sink) : keys_(keys), sink_(sink) {}

  // The next comparison's pair, and its path in the report. Differences
  // are reported relative to the innermost messages; keys along the path
  // are read from the pair.
  void Start(const pb::Message& old_root, const pb::Message& new_root,
             std::string path, std::vector<Step> steps) {
    old_root_ = &old_root;
    new_root_ = &new_root;
    prefix_ = std::move(path);
    prefix_steps_ = std::move(steps);
  }

  void ReportAdded(const pb::Message& m1, const pb::Message& m2,
                   const std::vector<Field>& path) override {
    Report(Difference::kAdded, m1, m2, path);
  }
  void ReportDeleted(const pb::Message& m1, const pb::Message& m2,
                     const std::vector<Field>& path) override {
    Report(Difference::kRemoved, m1, m2, path);
  }
  void ReportModified(const pb::Message& m1, const pb::Message& m2,
                      const std::vector<Field>& path) override {
    // A message that changed is also reported by what changed inside it.
    const pb::FieldDescriptor* field = path.back().field;
    if (field && field->cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE) {
      return;
    }
    Report(Difference::kChanged, m1, m2, path);
  }

  // The text of element `index` of `list` in `parent`: its key, with its
  // rank among equal keys, or its position.
  std::string ElementText(const pb::Message& parent,
                          const pb::FieldDescriptor& list, int index,
                          const char* side) {
    const Keys::Key& key = keys_.For(list);
    const pb::Reflection& r = *parent.GetReflection();
    if (list.cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE) {
      if (!key.by_value) return "[" + std::to_string(index) + "]";
      std::string scratch;
      return "[" +
             KeyText(
                 r.GetRepeatedStringReference(parent, &list, index, &scratch)) +
             "]";
    }
    if (key.fields.empty()) return "[" + std::to_string(index) + "]";
    const KeyReader reader(key);
    const pb::Message& element = r.GetRepeatedMessage(parent, &list, index);
    const std::string bytes = reader.Bytes(element);
    int rank = 0, equal = 0;
    for (int i = 0, n = r.FieldSize(parent, &list); i < n; ++i) {
      if (reader.Bytes(r.GetRepeatedMessage(parent, &list, i)) != bytes) {
        continue;
      }
      rank += i < index;
      ++equal;
    }
    const std::string text =
        "[" + reader.Text(element) +
        (rank ? (key.fields.empty() ? "#" : ", #") + std::to_string(rank)
              : "") +
        "]";
    if (equal > 1) NoteDuplicate(list, side, list.name() + text);
    return text;
  }

  // Once per list and report: its keys are not unique.
  void NoteDuplicate(const pb::FieldDescriptor& list, const char* side,
                     const std::string& example) {
    if (!sink_.note || !noted_.insert(side + list.full_name()).second) return;
    sink_.note(list.name() + ": keys are not unique in the " + side +
               " report (" + example +
               "); elements with equal keys are matched by position");
  }

 private:
  void Report(Difference::Kind kind, const pb::Message&, const pb::Message&,
              const std::vector<Field>& path) {
    Difference d;
    d.kind = kind;
    d.path = prefix_;
    d.steps = prefix_steps_;
    const pb::Message* old_parent = old_root_;
    const pb::Message* new_parent = new_root_;
    for (size_t i = 0; i < path.size(); ++i) {
      const Field& f = path[i];
      const bool last = i + 1 == path.size();
      Step step;
      if (!d.path.empty()) d.path += ".";
      if (f.field == nullptr) {
        step.unknown_number = f.unknown_field_number;
        step.old_index = f.unknown_field_index1;
        step.new_index = f.unknown_field_index2;
        d.path += std::to_string(f.unknown_field_number);
        if (kind != Difference::kAdded) {
          d.old_value =
              UnknownValue(f.unknown_field_set1->field(f.unknown_field_index1));
        }
        if (kind != Difference::kRemoved) {
          d.new_value =
              UnknownValue(f.unknown_field_set2->field(f.unknown_field_index2));
        }
        d.steps.push_back(step);
        break;  // nothing inside a record the schema does not know
      }
      step.field = f.field;
      d.path += f.field->name();
      if (f.field->is_repeated()) {
        step.old_index = kind == Difference::kAdded && last ? -1 : f.index;
        step.new_index = kind == Difference::kRemoved && last ? -1
                         : f.new_index >= 0                   ? f.new_index
                                                              : f.index;
        d.path +=
            step.old_index >= 0
                ? ElementText(*old_parent, *f.field, step.old_index, "old")
                : ElementText(*new_parent, *f.field, step.new_index, "new");
      }
      if (last) {
        if (kind != Difference::kAdded) {
          d.old_value =
              FieldValue(*old_parent, *f.field, step.old_index, sink_.json);
        }
        if (kind != Difference::kRemoved) {
          d.new_value =
              FieldValue(*new_parent, *f.field, step.new_index, sink_.json);
        }
      } else if (f.field->message_type()) {
        old_parent = Child(old_parent, *f.field, step.old_index);
        new_parent = Child(new_parent, *f.field, step.new_index);
      }
      d.steps.push_back(step);
    }
    sink_.difference(d);
  }

  const Keys& keys_;
  const Sink& sink_;
  const pb::Message* old_root_ = nullptr;
  const pb::Message* new_root_ = nullptr;
  std::string prefix_;
  std::vector<Step> prefix_steps_;
  std::set<std::string> noted_;
};

// One list element of the old report: where its encoding is, and how the
// new report's elements have matched it so far.
struct OldElement {
  const pb::FieldDescriptor* list;
  uint64_t offset;  // of the element's encoding in the old report
  uint32_t length;
  int32_t index;            // within its list
  int32_t rank = 0;         // among the elements with an equal key
  int32_t next_equal = -1;  // the next element with an equal key
  int32_t slot = -1;        // of its key
  bool matched = false;
};

struct KeySlot {
  int32_t next_unmatched = -1;  // first old element not matched yet
  int32_t last_old = -1;        // the last old element with this key
  int32_t old_count = 0;
  int32_t new_count = 0;
};

// The key slots of a report's list elements, in flat arrays: a million-route
// index costs a few allocations, and a lookup a few cache lines.
class KeyIndex {
 public:
  // The id of the slot of `key`, added empty when new and `add`; else -1.
  int32_t Find(std::string_view key, bool add = true) {
    if ((slots_.size() + 1) * 2 > table_.size()) Grow();
    const uint64_t hash = std::hash<std::string_view>()(key);
    const uint32_t tag = static_cast<uint32_t>(hash >> 32);
    const size_t mask = table_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      Entry& entry = table_[i];
      if (entry.slot == 0) {
        if (!add) return -1;
        entry = {tag, static_cast<uint32_t>(slots_.size() + 1)};
        slots_.push_back(
            {hash, keys_.size(), static_cast<uint32_t>(key.size())});
        keys_.append(key);
        return static_cast<int32_t>(slots_.size() - 1);
      }
      if (entry.tag == tag && Holds(entry.slot - 1, key)) {
        return static_cast<int32_t>(entry.slot - 1);
      }
    }
  }

  // Whether slot `id` is the slot of `key`.
  bool Holds(int32_t id, std::string_view key) const {
    const Stored& stored = slots_[id];
    return stored.length == key.size() &&
           keys_.compare(stored.offset, stored.length, key) == 0;
  }

  KeySlot& operator[](int32_t id) { return slots_[id].slot; }
  size_t size() const { return slots_.size(); }

  // Room for `keys` keys without growing: rehashing a million-key table as
  // it grows costs more than all the lookups.
  void Reserve(size_t keys) {
    slots_.reserve(keys);
    size_t size = 64;
    while (size < 2 * keys) size *= 2;
    if (size > table_.size()) Rehash(size);
  }

 private:
  // Eight bytes, so that the table takes fewer cache lines and pages.
  struct Entry {
    uint32_t tag = 0;   // the hash's high half
    uint32_t slot = 0;  // 1 + index into slots_; 0 for none
  };
  struct Stored {
    uint64_t hash;
    size_t offset;
    uint32_t length;
    KeySlot slot;
  };

  void Grow() { Rehash(std::max<size_t>(64, table_.size() * 2)); }

  void Rehash(size_t size) {
    std::vector<Entry> old = std::move(table_);
    table_.assign(size, Entry());
    const size_t mask = table_.size() - 1;
    for (const Entry& entry : old) {
      if (entry.slot == 0) continue;
      size_t i = slots_[entry.slot - 1].hash & mask;
      while (table_[i].slot != 0) i = (i + 1) & mask;
      table_[i] = entry;
    }
  }

  std::vector<Entry> table_;
  std::vector<Stored> slots_;
  std::string keys_;
};

// The number of length-delimited records at the top level of `report`: at
// least its list elements, found in a fraction of the time of reading them.
// Counting stops where the encoding is broken; the reader says where.
size_t CountRecords(std::string_view report) {
  pb::io::CodedInputStream in(
      reinterpret_cast<const uint8_t*>(report.data()),
      static_cast<int>(std::min<size_t>(report.size(), wire::kMaxLength)));
  size_t count = 0;
  for (uint32_t tag; (tag = in.ReadTag()) != 0;) {
    uint32_t length;
    uint64_t varint;
    switch (wire::WireTypeOf(tag)) {
      case wire::kVarint:
        if (!in.ReadVarint64(&varint)) return count;
        break;
      case wire::kFixed64:
        if (!in.Skip(8)) return count;
        break;
      case wire::kLengthDelimited:
        if (!in.ReadVarint32(&length) || !in.Skip(static_cast<int>(length))) {
          return count;
        }
        ++count;
        break;
      case wire::kFixed32:
        if (!in.Skip(4)) return count;
        break;
      default:  // groups, which the schema has none of
        return count;
    }
  }
  return count;
}

// Where a list element's encoding starts, given its record's offset.
bool Payload(std::string_view report, int64_t record, uint64_t* offset,
             uint32_t* length) {
  pb::io::CodedInputStream in(
      reinterpret_cast<const uint8_t*>(report.data() + record),
      static_cast<int>(
          std::min<size_t>(report.size() - record, wire::kMaxLength)));
  if (in.ReadTag() == 0 || !in.ReadVarint32(length)) return false;
  *offset = record + in.CurrentPosition();
  return *offset + *length <= report.size();
}

class Comparison {
 public:
  Comparison(const pb::Descriptor& report, const Keys& keys, const Sink& sink)
      : keys_(keys), reporter_(keys, sink), sink_(sink) {
    differencer_.set_report_moves(false);
    differencer_.set_report_matches(false);
    comparator_.set_treat_nan_as_equal(true);
    differencer_.set_field_comparator(&comparator_);
    Configure(report);
    differencer_.ReportDifferencesTo(&reporter_);
  }

  bool Index(std::string_view old_report, ReadError* error) {
    old_report_ = old_report;
    const size_t records = CountRecords(old_report);
    old_.reserve(records);
    slots_.Reserve(records);
    pb::io::ArrayInputStream input(old_report.data(),
                                   static_cast<int>(old_report.size()));
    report_stream::ReportReader reader(&input, Descriptor(), {});
    while (reader.Next()) {
      if (reader.event() != report_stream::ReportReader::kElement) continue;
      OldElement element{reader.field(), 0, 0,
                         static_cast<int32_t>(reader.index())};
      if (!Payload(old_report, reader.offset(), &element.offset,
                   &element.length)) {
        break;  // the reader reports the same fault
      }
      const pb::Message* message = MessageOf(reader);
      element.slot = slots_.Find(
          KeyBytes(*reader.field(), message, reader.element_string()));
      KeySlot& slot = slots_[element.slot];
      const int32_t id = static_cast<int32_t>(old_.size());
      element.rank = slot.old_count++;
      if (element.rank == 0) {
        slot.next_unmatched = id;
      } else {
        old_[slot.last_old].next_equal = id;
        if (Keyed(*reader.field())) {
          reporter_.NoteDuplicate(
              *reader.field(), "old",
              ElementPath(*reader.field(), message, reader.element_string(),
                          reader.index(), element.rank));
        }
      }
      slot.last_old = id;
      old_.push_back(element);
    }
    if (!reader.ok()) {
      *error = {false, reader.error()};
      return false;
    }
    old_header_.reset(reader.header().New());
    old_header_->CopyFrom(reader.header());
    return true;
  }

  bool Stream(pb::io::ZeroCopyInputStream* new_report, ReadError* error) {
    report_stream::ReportReader reader(new_report, Descriptor(), {});
    while (reader.Next()) {
      if (reader.event() == report_stream::ReportReader::kElement)
        Element(reader);
    }
    if (!reader.ok()) {
      *error = {true, reader.error()};
      return false;
    }
    for (const OldElement& element : old_) {
      if (!element.matched) Removed(element);
    }
    reporter_.Start(*old_header_, reader.header(), "", {});
    differencer_.Compare(*old_header_, reader.header());
    return true;
  }

 private:
  const pb::Descriptor& Descriptor() const { return *report_; }

  // Tells the differencer how to match every list reachable from `type`.
  void Configure(const pb::Descriptor& type) {
    if (report_ == nullptr) report_ = &type;
    if (!configured_.insert(&type).second) return;
    for (int i = 0; i < type.field_count(); ++i) {
      const pb::FieldDescriptor* field = type.field(i);
      if (field->is_repeated()) {
        const Keys::Key& key = keys_.For(*field);
        if (key.by_value) {
          differencer_.TreatAsSet(field);
        } else if (!key.fields.empty()) {
          differencer_.TreatAsMapWithMultipleFieldPathsAsKey(field, key.fields);
        }
      }
      if (field->message_type()) Configure(*field->message_type());
    }
  }

  // The key of an element: which list, and the key fields' values.
  const std::string& KeyBytes(const pb::FieldDescriptor& list,
                              const pb::Message* element,
                              std::string_view value) {
    const Keys::Key& key = keys_.For(list);
    const int number = list.number();
    key_.assign(reinterpret_cast<const char*>(&number), sizeof number);
    if (element == nullptr) {
      if (key.by_value) key_.append(value);
    } else {
      KeyReader(key).Append(*element, &key_);
    }
    return key_;
  }

  // "route[network=10.1.0.0/16, next_hop=192.0.2.1]", "route[3]".
  std::string ElementPath(const pb::FieldDescriptor& list,
                          const pb::Message* element, std::string_view value,
                          int index, int rank) const {
    const Keys::Key& key = keys_.For(list);
    std::string text;
    if (element != nullptr && !key.fields.empty()) {
      text = KeyReader(key).Text(*element);
    } else if (element == nullptr && key.by_value) {
      text = KeyText(value);
    } else {
      return list.name() + "[" + std::to_string(index) + "]";
    }
    if (rank > 0) text += (text.empty() ? "#" : ", #") + std::to_string(rank);
    return list.name() + "[" + text + "]";
  }

  bool Keyed(const pb::FieldDescriptor& list) const {
    const Keys::Key& key = keys_.For(list);
    return key.by_value || !key.fields.empty();
  }

  static const pb::Message* MessageOf(
      const report_stream::ReportReader& reader) {
    return reader.field()->cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE
               ? &reader.element()
               : nullptr;
  }

  void Element(const report_stream::ReportReader& reader) {
    const pb::FieldDescriptor& list = *reader.field();
    const pb::Message* element = MessageOf(reader);
    const std::string& key = KeyBytes(list, element, reader.element_string());
    // Reports list their elements in much the same order each time: the old
    // element after the last one matched is worth a look before the index.
    const size_t next = last_matched_ + 1;
    // Keys only the new report has are kept to rank their repeats, up to a
    // bound: a new report without end must not grow the index without end.
    const int32_t id =
        next < old_.size() && slots_.Holds(old_[next].slot, key)
            ? old_[next].slot
            : slots_.Find(key, slots_.size() < 2 * old_.size() + 4096);
    KeySlot untracked;
    KeySlot& slot = id >= 0 ? slots_[id] : untracked;
    const int32_t rank = slot.new_count++;
    const int32_t old_id = slot.next_unmatched;
    if (old_id >= 0) last_matched_ = old_id;
    Step step{&list, 0, -1, static_cast<int>(reader.index())};
    if (old_id >= 0) {
      OldElement& old = old_[old_id];
      old.matched = true;
      slot.next_unmatched = old.next_equal;
      step.old_index = old.index;
      const std::string_view old_bytes =
          old_report_.substr(old.offset, old.length);
      if (element == nullptr) {
        if (old_bytes == reader.element_string()) return;
      } else {
        element->SerializeToString(&scratch_);
        if (scratch_ == old_bytes) return;
      }
    }
    const std::string path = ElementPath(list, element, reader.element_string(),
                                         reader.index(), rank);
    if (rank > 0 && Keyed(list)) reporter_.NoteDuplicate(list, "new", path);
    if (old_id < 0) {
      Emit(Difference::kAdded, path, step, std::nullopt, NewValue(reader));
    } else if (element == nullptr) {
      Emit(Difference::kChanged, path, step, OldValue(old_[old_id]),
           NewValue(reader));
    } else {
      const pb::Message& old_element = OldMessage(old_[old_id]);
      reporter_.Start(old_element, *element, path, {step});
      differencer_.Compare(old_element, *element);
    }
  }

  void Removed(const OldElement& old) {
    const pb::Message* element =
        old.list->cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE
            ? &OldMessage(old)
            : nullptr;
    const std::string path = ElementPath(
        *old.list, element, old_report_.substr(old.offset, old.length),
        old.index, old.rank);
    Emit(Difference::kRemoved, path, Step{old.list, 0, old.index, -1},
         OldValue(old), std::nullopt);
  }

  Value OldValue(const OldElement& old) {
    if (old.list->cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE) {
      return MessageValue(OldMessage(old), sink_.json);
    }
    const std::string s(old_report_.substr(old.offset, old.length));
    return {"\"" + pb::CEscape(s) + "\"", JsonString(s)};
  }

  Value NewValue(const report_stream::ReportReader& reader) const {
    if (reader.field()->cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE) {
      return {"\"" + pb::CEscape(reader.element_string()) + "\"",
              JsonString(reader.element_string())};
    }
    return MessageValue(reader.element(), sink_.json);
  }

  const pb::Message& OldMessage(const OldElement& old) {
    std::unique_ptr<pb::Message>& element = old_elements_[old.list];
    if (!element) {
      element.reset(pb::MessageFactory::generated_factory()
                        ->GetPrototype(old.list->message_type())
                        ->New());
    }
    // Read once already, by the index, so it parses.
    element->ParseFromArray(old_report_.data() + old.offset,
                            static_cast<int>(old.length));
    return *element;
  }

  void Emit(Difference::Kind kind, const std::string& path, const Step& step,
            std::optional<Value> old_value, std::optional<Value> new_value) {
    Difference d;
    d.kind = kind;
    d.path = path;
    d.steps = {step};
    d.old_value = std::move(old_value);
    d.new_value = std::move(new_value);
    sink_.difference(d);
  }

  const Keys& keys_;
  const pb::Descriptor* report_ = nullptr;
  std::set<const pb::Descriptor*> configured_;
  pb::util::DefaultFieldComparator comparator_;
  MessageDifferencer differencer_;
  Reporter reporter_;
  const Sink& sink_;
  std::string_view old_report_;
  std::vector<OldElement> old_;
  KeyIndex slots_;
  int64_t last_matched_ = -1;  // the old element matched last
  std::string key_;            // scratch
  std::unique_ptr<pb::Message> old_header_;
  std::map<const pb::FieldDescriptor*, std::unique_ptr<pb::Message>>
      old_elements_;
  std::string scratch_;
};

}  // namespace

bool Compare(std::string_view old_report,
             pb::io::ZeroCopyInputStream* new_report,
             const pb::Descriptor& report, const Keys& keys, const Sink& sink,
             ReadError* error) {
  Comparison comparison(report, keys, sink);
  return comparison.Index(old_report, error) &&
         comparison.Stream(new_report, error);
}

std::vector<Difference> Compare(const pb::Message& old_report,
                                const pb::Message& new_report, const Keys& keys,
                                std::vector<std::string>* notes) {
  std::vector<Difference> differences;
  const Sink sink{[&](const Difference& d) { differences.push_back(d); },
                  [&](const std::string& note) {
                    if (notes) notes->push_back(note);
                  }};
  const std::string old_bytes = old_report.SerializeAsString();
  const std::string new_bytes = new_report.SerializeAsString();
  pb::io::ArrayInputStream input(new_bytes.data(),
                                 static_cast<int>(new_bytes.size()));
  ReadError error;
  Compare(old_bytes, &input, *old_report.GetDescriptor(), keys, sink, &error);
  return differences;
}

}  // namespace ostrel::report_diff
