#include "ostrel/report_diff.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/stubs/strutil.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/unknown_field_set.h>
#include <google/protobuf/util/json_util.h>
#include <google/protobuf/wire_format_lite.h>
#include <ostrel/report_stream.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <unordered_map>

#include "json_exactness.h"
#include "wire_rules.h"

namespace ostrel::report_diff {
namespace {

namespace pb = ::google::protobuf;

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

// The fields that name a report among others of its type, where the type
// has them.
constexpr const char* kIdentityFields[] = {
    "lrouter_id",        "lrouter_uuid",           "lrouter_port_id",
    "lrouter_port_uuid", "service_router_id",      "service_router_uuid",
    "transport_node_id", "self.transport_node_id", "logical_switch_id",
    "gre_tunnel_id",     "neighbor_ip.address",
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

// Key values as operators write them: bare where that is unambiguous, and
// text that is UTF-8 as such (only other bytes escaped).
std::string KeyText(std::string_view value) {
  const bool utf8 = json_exactness::FirstNonUtf8(value) == value.npos;
  const bool bare = utf8 && !value.empty() &&
                    value.find_first_of("[],=\"\\# \x7f") == value.npos &&
                    std::all_of(value.begin(), value.end(),
                                [](char c) { return c < 0 || c > 0x20; });
  return bare ? std::string(value)
              : "\"" + pb::strings::Utf8SafeCEscape(std::string(value)) + "\"";
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

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIx64, value);
  return text;
}

// Why JSON cannot hold string `value` exactly, or "".
std::string StringLoss(std::string_view value) {
  const size_t bad = json_exactness::FirstNonUtf8(value);
  if (bad == value.npos) return "";
  return "not UTF-8 from its byte " + std::to_string(bad) + " (" +
         Hex(static_cast<unsigned char>(value[bad])) + ")";
}

template <typename Number>
std::string NumberLoss(Number value) {
  if (json_exactness::Holds(value)) return "";
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof value);
  return "a NaN with bits " + Hex(bits) + ", which JSON writes as NaN";
}

// Why JSON cannot hold element `index` (-1: the singular value) of scalar
// `field` exactly, or "".
std::string ScalarLoss(const pb::Message& message,
                       const pb::FieldDescriptor& field, int index) {
  const pb::Reflection& r = *message.GetReflection();
  const bool list = index >= 0;
  switch (field.cpp_type()) {
    case pb::FieldDescriptor::CPPTYPE_STRING: {
      if (field.type() == pb::FieldDescriptor::TYPE_BYTES) return "";
      std::string scratch;
      return StringLoss(
          list ? r.GetRepeatedStringReference(message, &field, index, &scratch)
               : r.GetStringReference(message, &field, &scratch));
    }
    case pb::FieldDescriptor::CPPTYPE_FLOAT:
      return NumberLoss(list ? r.GetRepeatedFloat(message, &field, index)
                             : r.GetFloat(message, &field));
    case pb::FieldDescriptor::CPPTYPE_DOUBLE:
      return NumberLoss(list ? r.GetRepeatedDouble(message, &field, index)
                             : r.GetDouble(message, &field));
    default:  // integers, booleans and enumerations read back exactly
      return "";
  }
}

// Names in `losses` what the JSON mapping of `message` cannot hold, paths
// below `root`; with `strip`, a copy of `message`, removes it from the copy.
void CollectLosses(const pb::Message& message, const std::string& root,
                   std::vector<JsonLoss>* losses, pb::Message* strip) {
  const pb::Reflection& r = *message.GetReflection();
  const std::string prefix = root.empty() ? "" : root + ".";
  std::vector<const pb::FieldDescriptor*> fields;
  r.ListFields(message, &fields);
  for (const pb::FieldDescriptor* field : fields) {
    const bool list = field->is_repeated();
    const int count = list ? r.FieldSize(message, field) : 1;
    std::vector<int> lost;
    for (int i = 0; i < count; ++i) {
      const std::string path =
          prefix + field->name() + (list ? "[" + std::to_string(i) + "]" : "");
      if (field->cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE) {
        CollectLosses(list ? r.GetRepeatedMessage(message, field, i)
                           : r.GetMessage(message, field),
                      path, losses,
                      !strip ? nullptr
                      : list ? r.MutableRepeatedMessage(strip, field, i)
                             : r.MutableMessage(strip, field));
        continue;
      }
      std::string what = ScalarLoss(message, *field, list ? i : -1);
      if (what.empty()) continue;
      losses->push_back({path, std::move(what)});
      lost.push_back(i);
    }
    if (strip == nullptr || lost.empty()) continue;
    if (!list) {
      r.ClearField(strip, field);
      continue;
    }
    for (auto i = lost.rbegin(); i != lost.rend(); ++i) {
      for (int k = *i; k + 1 < count; ++k)
        r.SwapElements(strip, field, k, k + 1);
      r.RemoveLast(strip, field);
    }
  }
  const pb::UnknownFieldSet& unknown = r.GetUnknownFields(message);
  for (int i = 0; i < unknown.field_count(); ++i) {
    losses->push_back({prefix + std::to_string(unknown.field(i).number()),
                       "a record the schema does not know"});
  }
  if (strip) r.MutableUnknownFields(strip)->Clear();
}

// The JSON form only when asked for: it takes many times the text's time.
// What JSON cannot hold is left out of it, and named.
Value MessageValue(const pb::Message& message, bool json) {
  Value value{MessageText(message), {}};
  if (!json) return value;
  pb::util::JsonPrintOptions options;
  options.preserve_proto_field_names = true;
  CollectLosses(message, "", &value.json_losses, nullptr);
  std::unique_ptr<pb::Message> exact;
  if (!value.json_losses.empty()) {
    exact.reset(message.New());
    exact->CopyFrom(message);
    std::vector<JsonLoss> again;
    CollectLosses(message, "", &again, exact.get());
  }
  if (!pb::util::MessageToJsonString(exact ? *exact : message, &value.json,
                                     options)
           .ok()) {
    value.json.clear();
    value.json_losses.push_back({"", "not representable in JSON"});
  }
  return value;
}

// A string value; JSON holds it only when it is UTF-8.
Value StringValue(std::string_view s) {
  Value value{"\"" + pb::CEscape(std::string(s)) + "\"", JsonString(s)};
  std::string what = StringLoss(s);
  if (!what.empty()) {
    value.json.clear();
    value.json_losses.push_back({"", std::move(what)});
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
      if (field.type() == F::TYPE_BYTES) {
        std::string base64;
        pb::Base64Escape(s, &base64);
        return {"\"" + pb::CEscape(s) + "\"", JsonString(base64)};
      }
      return StringValue(s);
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
    case F::CPPTYPE_DOUBLE: {
      std::string what = ScalarLoss(message, field, index);
      if (!what.empty()) return {text, "", {{"", std::move(what)}}};
      if (text == "nan" || text == "inf" || text == "-inf") {
        return {text, JsonString(text == "nan"   ? "NaN"
                                 : text == "inf" ? "Infinity"
                                                 : "-Infinity")};
      }
      // JSON parsers read -0 as the integer 0.
      return {text, text == "-0" ? "-0.0" : text};
    }
    default:
      return {text, text};
  }
}

Value UnknownValue(const pb::UnknownField& field) {
  char text[32];
  switch (field.type()) {
    case pb::UnknownField::TYPE_VARINT:
      std::snprintf(text, sizeof text, "%" PRIu64, field.varint());
      // Above 2^53 a JSON number is not read back exactly.
      return {text,
              field.varint() > (uint64_t{1} << 53) ? JsonString(text) : text};
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

// The encoding of one record the schema does not know.
std::string Encoded(const pb::UnknownField& field) {
  pb::UnknownFieldSet set;
  set.AddField(field);
  std::string bytes;
  set.SerializeToString(&bytes);
  return bytes;
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

// A key string in JSON: escaped as in the path where it is not UTF-8.
std::string KeyStringJson(std::string_view value) {
  return JsonString(json_exactness::FirstNonUtf8(value) == value.npos
                        ? std::string(value)
                        : pb::strings::Utf8SafeCEscape(std::string(value)));
}

// A UuidMsg with both halves and nothing else as a UUID, most significant
// half first (3f2c9a1e-0000-0000-0000-00000000002a); false for anything
// else, which is printed as a message so that unequal keys read unequal.
bool UuidText(const pb::Message& message, std::string* text) {
  const pb::Descriptor& type = *message.GetDescriptor();
  const pb::Reflection& r = *message.GetReflection();
  const pb::FieldDescriptor* left = type.FindFieldByName("left");
  const pb::FieldDescriptor* right = type.FindFieldByName("right");
  if (type.full_name() != "ostrel.ruk.UuidMsg" || !left || !right ||
      !r.HasField(message, left) || !r.HasField(message, right) ||
      !r.GetUnknownFields(message).empty()) {
    return false;
  }
  const uint64_t high = r.GetUInt64(message, left);
  const uint64_t low = r.GetUInt64(message, right);
  char uuid[40];
  std::snprintf(uuid, sizeof uuid,
                "%08" PRIx64 "-%04" PRIx64 "-%04" PRIx64 "-%04" PRIx64
                "-%012" PRIx64,
                high >> 32, (high >> 16) & 0xffff, high & 0xffff, low >> 48,
                low & 0xffffffffffff);
  *text = uuid;
  return true;
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

  // The message holding key field `path` of `element`, or null when that
  // field is not set.
  static const pb::Message* SetKeyField(
      const pb::Message& element,
      const std::vector<const pb::FieldDescriptor*>& path) {
    const pb::Message* holder = &element;
    for (size_t i = 0; holder && i + 1 < path.size(); ++i) {
      holder = Child(holder, *path[i], -1);
    }
    if (holder == nullptr ||
        !holder->GetReflection()->HasField(*holder, path.back())) {
      return nullptr;
    }
    return holder;
  }

  // {"network":"10.1.0.0/16","next_hop":"192.0.2.1"}; unset key fields
  // left out.
  std::string Json(const pb::Message& element) const {
    std::string json;
    for (const auto& path : key_.fields) {
      const pb::Message* holder = SetKeyField(element, path);
      if (holder == nullptr) continue;
      std::string name;
      for (size_t i = 0; i < path.size(); ++i) {
        name += (i ? "." : "") + path[i]->name();
      }
      const pb::FieldDescriptor& last = *path.back();
      const pb::Reflection& r = *holder->GetReflection();
      std::string value;
      if (last.cpp_type() == pb::FieldDescriptor::CPPTYPE_STRING) {
        value = KeyStringJson(r.GetStringReference(*holder, &last, &value));
      } else if (last.cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE &&
                 UuidText(r.GetMessage(*holder, &last), &value)) {
        value = JsonString(value);
      } else {
        value = FieldValue(*holder, last, -1).json;
      }
      json += (json.empty() ? "{" : ",") + JsonString(name) + ":" + value;
    }
    return json.empty() ? "{}" : json + "}";
  }

  // network=10.1.0.0/16, next_hop=192.0.2.1; unset key fields left out.
  std::string Text(const pb::Message& element) const {
    std::string text;
    for (const auto& path : key_.fields) {
      const pb::Message* holder = SetKeyField(element, path);
      if (holder == nullptr) continue;
      if (!text.empty()) text += ", ";
      for (size_t i = 0; i < path.size(); ++i) {
        text += (i ? "." : "") + path[i]->name();
      }
      const pb::FieldDescriptor& last = *path.back();
      std::string scratch;
      const pb::Reflection& r = *holder->GetReflection();
      std::string value;
      if (last.cpp_type() == pb::FieldDescriptor::CPPTYPE_STRING) {
        value = KeyText(r.GetStringReference(*holder, &last, &value));
      } else if (last.cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE ||
                 !UuidText(r.GetMessage(*holder, &last), &value)) {
        value = FieldValue(*holder, last, -1, false).text;
      }
      text += "=" + value;
    }
    return text;
  }

 private:
  const Keys::Key& key_;
};

// The path text of element `index` of `list`: its key (`element`'s fields,
// or `value` for a list of strings matched by value) with its rank among
// equal keys, or its position.
std::string ElementPath(const Keys& keys, const pb::FieldDescriptor& list,
                        const pb::Message* element, std::string_view value,
                        int index, int rank) {
  const Keys::Key& key = keys.For(list);
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

// The step to an element of `list` (as for ElementPath), its key in JSON
// only when `json`.
Step ElementStep(const Keys& keys, const pb::FieldDescriptor& list,
                 const pb::Message* element, std::string_view value,
                 int old_index, int new_index, int rank, bool json) {
  Step step{&list, 0, old_index, new_index, "", rank};
  const Keys::Key& key = keys.For(list);
  if (!json) return step;
  if (element != nullptr && !key.fields.empty()) {
    step.key_json = KeyReader(key).Json(*element);
  } else if (element == nullptr && key.by_value) {
    step.key_json = KeyStringJson(value);
  }
  return step;
}

bool Keyed(const Keys& keys, const pb::FieldDescriptor& list) {
  const Keys::Key& key = keys.For(list);
  return key.by_value || !key.fields.empty();
}

bool SameScalar(const pb::Message& a, const pb::Message& b,
                const pb::FieldDescriptor& field, int a_index, int b_index) {
  const pb::Reflection& r = *a.GetReflection();
  const bool list = field.is_repeated();
  using F = pb::FieldDescriptor;
#define OSTREL_SAME(Type)                                   \
  return list ? r.GetRepeated##Type(a, &field, a_index) ==  \
                    r.GetRepeated##Type(b, &field, b_index) \
              : r.Get##Type(a, &field) == r.Get##Type(b, &field)
  switch (field.cpp_type()) {
    case F::CPPTYPE_INT32:
      OSTREL_SAME(Int32);
    case F::CPPTYPE_INT64:
      OSTREL_SAME(Int64);
    case F::CPPTYPE_UINT32:
      OSTREL_SAME(UInt32);
    case F::CPPTYPE_UINT64:
      OSTREL_SAME(UInt64);
    case F::CPPTYPE_BOOL:
      OSTREL_SAME(Bool);
    case F::CPPTYPE_ENUM:
      OSTREL_SAME(EnumValue);
    case F::CPPTYPE_FLOAT: {
      // By bits: 0 and -0, or two NaN payloads, are different bytes.
      const float x =
          list ? r.GetRepeatedFloat(a, &field, a_index) : r.GetFloat(a, &field);
      const float y =
          list ? r.GetRepeatedFloat(b, &field, b_index) : r.GetFloat(b, &field);
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case F::CPPTYPE_DOUBLE: {
      const double x = list ? r.GetRepeatedDouble(a, &field, a_index)
                            : r.GetDouble(a, &field);
      const double y = list ? r.GetRepeatedDouble(b, &field, b_index)
                            : r.GetDouble(b, &field);
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case F::CPPTYPE_STRING: {
      std::string x, y;
      return (list ? r.GetRepeatedStringReference(a, &field, a_index, &x)
                   : r.GetStringReference(a, &field, &x)) ==
             (list ? r.GetRepeatedStringReference(b, &field, b_index, &y)
                   : r.GetStringReference(b, &field, &y));
    }
    case F::CPPTYPE_MESSAGE:
      break;
  }
#undef OSTREL_SAME
  return false;
}

// The encodings of two messages compared, where known ("" where not): equal
// encodings of list elements are equal elements, told with no serializing.
struct Encodings {
  std::string_view old_bytes, new_bytes;
};

// The encodings of the `size` elements of message list `list` in `parent`,
// its parent's encoding; none where that is unknown or holds other than
// those elements (a record of the list's number with another wire type is
// none of them).
std::vector<std::string_view> ElementEncodings(std::string_view parent,
                                               const pb::FieldDescriptor& list,
                                               int size) {
  std::vector<std::string_view> elements;
  if (parent.empty() ||
      list.cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE) {
    return elements;
  }
  elements.reserve(size);
  pb::io::CodedInputStream in(reinterpret_cast<const uint8_t*>(parent.data()),
                              static_cast<int>(parent.size()));
  const uint32_t element_tag = pb::internal::WireFormatLite::MakeTag(
      list.number(), pb::internal::WireFormatLite::WIRETYPE_LENGTH_DELIMITED);
  for (uint32_t tag; (tag = in.ReadTag()) != 0;) {
    uint32_t length;
    const void* data;
    int available;
    if (tag != element_tag) {
      if (!pb::internal::WireFormatLite::SkipField(&in, tag)) return {};
    } else if (!in.ReadVarint32(&length) ||
               !in.GetDirectBufferPointer(&data, &available) ||
               static_cast<uint32_t>(available) < length) {
      return {};
    } else {
      elements.emplace_back(static_cast<const char*>(data), length);
      in.Skip(static_cast<int>(length));
    }
  }
  if (elements.size() != static_cast<size_t>(size)) elements.clear();
  return elements;
}

// Compares two messages of one type field by field, lists matched by their
// keys through hash tables, so that every depth costs time linear in its
// size; reports each difference below a given path.
class Walker {
 public:
  Walker(const Keys& keys, const Ignore* ignore, const Sink& sink)
      : keys_(keys), ignore_(ignore), sink_(sink) {}

  void Compare(const pb::Message& old_message, const pb::Message& new_message,
               const std::string& path, std::vector<Step>* steps,
               Encodings encodings = {}) {
    const pb::Reflection& r = *old_message.GetReflection();
    std::vector<const pb::FieldDescriptor*> old_fields, new_fields, fields;
    r.ListFields(old_message, &old_fields);
    r.ListFields(new_message, &new_fields);
    const auto by_number = [](const pb::FieldDescriptor* a,
                              const pb::FieldDescriptor* b) {
      return a->number() < b->number();
    };
    std::set_union(old_fields.begin(), old_fields.end(), new_fields.begin(),
                   new_fields.end(), std::back_inserter(fields), by_number);
    const std::string prefix = path.empty() ? "" : path + ".";
    for (const pb::FieldDescriptor* field : fields) {
      if (stopped_) return;
      if (field->is_repeated()) {
        List(old_message, new_message, *field, prefix, steps, encodings);
        continue;
      }
      const std::string field_path = prefix + field->name();
      steps->push_back({field, 0, -1, -1});
      const bool in_old = r.HasField(old_message, field);
      const bool in_new = r.HasField(new_message, field);
      if (in_old && in_new &&
          field->cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE) {
        Compare(r.GetMessage(old_message, field),
                r.GetMessage(new_message, field), field_path, steps);
      } else if (!in_old || !in_new ||
                 !SameScalar(old_message, new_message, *field, -1, -1)) {
        Emit(!in_old   ? Difference::kAdded
             : !in_new ? Difference::kRemoved
                       : Difference::kChanged,
             field_path, *steps, old_message, new_message, *field, -1, -1);
      }
      steps->pop_back();
    }
    Unknown(r.GetUnknownFields(old_message), r.GetUnknownFields(new_message),
            prefix, steps);
  }

  // Once per list and report: its keys are not unique.
  void NoteDuplicate(const pb::FieldDescriptor& list, const char* side,
                     const std::string& example) {
    if (!sink_.note || !noted_.insert(side + list.full_name()).second) return;
    sink_.note(list.name() + ": keys are not unique in the " + side +
               " report (" + example +
               "); elements with equal keys are matched by position");
  }

  void Emit(Difference::Kind kind, std::string path, std::vector<Step> steps,
            std::optional<Value> old_value, std::optional<Value> new_value) {
    if (stopped_ || (ignore_ && ignore_->Covers(path))) return;
    Difference d;
    d.kind = kind;
    d.path = std::move(path);
    d.steps = std::move(steps);
    d.old_value = std::move(old_value);
    d.new_value = std::move(new_value);
    sink_.difference(d);
    stopped_ = sink_.stop_at_first;
  }

  // Whether the sink wants no more differences.
  bool stopped() const { return stopped_; }

 private:
  // A field's values on the sides that have them (index -1: absent, or the
  // singular value where the field is singular).
  void Emit(Difference::Kind kind, const std::string& path,
            const std::vector<Step>& steps, const pb::Message& old_message,
            const pb::Message& new_message, const pb::FieldDescriptor& field,
            int old_index, int new_index) {
    std::optional<Value> old_value, new_value;
    if (kind != Difference::kAdded) {
      old_value = FieldValue(old_message, field, old_index, sink_.json);
    }
    if (kind != Difference::kRemoved) {
      new_value = FieldValue(new_message, field, new_index, sink_.json);
    }
    Emit(kind, path, steps, std::move(old_value), std::move(new_value));
  }

  const pb::Message* ElementOf(const pb::Message& parent,
                               const pb::FieldDescriptor& list, int index) {
    return list.cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE
               ? &parent.GetReflection()->GetRepeatedMessage(parent, &list,
                                                             index)
               : nullptr;
  }

  std::string_view StringOf(const pb::Message& parent,
                            const pb::FieldDescriptor& list, int index) {
    if (list.cpp_type() != pb::FieldDescriptor::CPPTYPE_STRING) return {};
    return parent.GetReflection()->GetRepeatedStringReference(parent, &list,
                                                              index, &scratch_);
  }

  // Appends the key of element `index` of `list` to `keys`.
  void AppendKey(const pb::Message& parent, const pb::FieldDescriptor& list,
                 const KeyReader& key, int index, std::string* keys) {
    const pb::Message* element = ElementOf(parent, list, index);
    if (element) {
      key.Append(*element, keys);
    } else {
      keys->append(StringOf(parent, list, index));
    }
  }

  // Whether two elements are equal, by their encodings where they are
  // messages: most matched pairs are, and need no walk and no path.
  bool Same(const pb::Message& old_parent, const pb::Message& new_parent,
            const pb::FieldDescriptor& list, int old_index, int new_index,
            Encodings encodings) {
    if (list.cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE) {
      return SameScalar(old_parent, new_parent, list, old_index, new_index);
    }
    if (encodings.old_bytes.data() && encodings.new_bytes.data()) {
      return encodings.old_bytes == encodings.new_bytes;
    }
    ElementOf(old_parent, list, old_index)->SerializeToString(&old_bytes_);
    ElementOf(new_parent, list, new_index)->SerializeToString(&new_bytes_);
    return old_bytes_ == new_bytes_;
  }

  // The pair of elements `old_index` and `new_index` (-1: that side lacks
  // it) of `list`, at `path`.
  void Pair(const pb::Message& old_parent, const pb::Message& new_parent,
            const pb::FieldDescriptor& list, int old_index, int new_index,
            const std::string& path, Step step, std::vector<Step>* steps,
            Encodings encodings = {}) {
    steps->push_back(std::move(step));
    if (old_index < 0 || new_index < 0) {
      Emit(old_index < 0 ? Difference::kAdded : Difference::kRemoved, path,
           *steps, old_parent, new_parent, list, old_index, new_index);
    } else if (list.cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE) {
      Compare(*ElementOf(old_parent, list, old_index),
              *ElementOf(new_parent, list, new_index), path, steps, encodings);
    } else if (!SameScalar(old_parent, new_parent, list, old_index,
                           new_index)) {
      Emit(Difference::kChanged, path, *steps, old_parent, new_parent, list,
           old_index, new_index);
    }
    steps->pop_back();
  }

  // Lists by key: the new elements in their order, matched or added, then
  // the old ones left over, removed; by position where the list has no key.
  void List(const pb::Message& old_parent, const pb::Message& new_parent,
            const pb::FieldDescriptor& list, const std::string& prefix,
            std::vector<Step>* steps, Encodings parents) {
    const pb::Reflection& r = *old_parent.GetReflection();
    const int old_size = r.FieldSize(old_parent, &list);
    const int new_size = r.FieldSize(new_parent, &list);
    const std::vector<std::string_view> old_encodings =
        ElementEncodings(parents.old_bytes, list, old_size);
    const std::vector<std::string_view> new_encodings =
        ElementEncodings(parents.new_bytes, list, new_size);
    const auto encodings = [&](int old_index, int new_index) {
      Encodings pair;
      if (old_index >= 0 && !old_encodings.empty()) {
        pair.old_bytes = old_encodings[old_index];
      }
      if (new_index >= 0 && !new_encodings.empty()) {
        pair.new_bytes = new_encodings[new_index];
      }
      return pair;
    };
    if (!Keyed(keys_, list)) {
      for (int i = 0; i < std::max(old_size, new_size) && !stopped_; ++i) {
        const int old_index = i < old_size ? i : -1;
        const int new_index = i < new_size ? i : -1;
        Pair(old_parent, new_parent, list, old_index, new_index,
             prefix + list.name() + "[" + std::to_string(i) + "]",
             {&list, 0, old_index, new_index}, steps);
      }
      return;
    }
    const auto path = [&](const pb::Message& parent, int index, int rank) {
      return prefix + ElementPath(keys_, list, ElementOf(parent, list, index),
                                  StringOf(parent, list, index), index, rank);
    };
    const auto step = [&](const pb::Message& parent, int index, int old_index,
                          int new_index, int rank) {
      return ElementStep(keys_, list, ElementOf(parent, list, index),
                         StringOf(parent, list, index), old_index, new_index,
                         rank, sink_.json);
    };
    // The distinct keys, in one open-addressed table over one string of
    // all keys: a list of 64k elements costs a few allocations.
    struct Equal {
      uint32_t offset, length;  // of the key in `keys`
      int next_unmatched = -1;  // old element
      int last = -1;
      int new_count = 0;
    };
    // Every element's key in one string, with its hash: known ahead, the
    // table slots of the elements a few places on are fetched while one is
    // matched, so that a long list does not wait on memory for each.
    const KeyReader key(keys_.For(list));
    std::string keys;
    struct KeyAt {
      uint32_t offset, length;
      size_t hash;
    };
    const auto read_keys = [&](const pb::Message& parent, int size) {
      std::vector<KeyAt> at(size);
      for (int i = 0; i < size; ++i) {
        const size_t offset = keys.size();
        AppendKey(parent, list, key, i, &keys);
        at[i] = {static_cast<uint32_t>(offset),
                 static_cast<uint32_t>(keys.size() - offset), 0};
      }
      return at;
    };
    std::vector<KeyAt> old_keys = read_keys(old_parent, old_size);
    std::vector<KeyAt> new_keys = read_keys(new_parent, new_size);
    const auto key_of = [&](const KeyAt& at) {
      return std::string_view(keys).substr(at.offset, at.length);
    };
    for (auto* side : {&old_keys, &new_keys}) {
      for (KeyAt& at : *side)
        at.hash = std::hash<std::string_view>()(key_of(at));
    }
    std::vector<Equal> equals;
    // At most half full: a power of two above twice the keys.
    std::vector<int> table(
        size_t{4} << std::ilogb(std::max(1, old_size + new_size)), -1);
    std::vector<int> next_equal(old_size, -1), old_rank(old_size);
    const size_t mask = table.size() - 1;
    constexpr int kAhead = 8;
    const auto fetch_ahead = [&](const std::vector<KeyAt>& side, int i) {
      if (i + kAhead < static_cast<int>(side.size())) {
        __builtin_prefetch(&table[side[i + kAhead].hash & mask]);
      }
    };
    // The equal-key entry of key `at`, added if new; an entry `same_element`
    // takes is taken without comparing keys.
    const auto find = [&](const KeyAt& at, const auto& same_element) {
      for (size_t i = at.hash & mask;; i = (i + 1) & mask) {
        if (table[i] < 0) {
          table[i] = static_cast<int>(equals.size());
          equals.push_back({at.offset, at.length});
          return table[i];
        }
        const Equal& equal = equals[table[i]];
        if (same_element(equal) ||
            key_of({equal.offset, equal.length, 0}) == key_of(at)) {
          return table[i];
        }
      }
    };
    for (int i = 0; i < old_size; ++i) {
      fetch_ahead(old_keys, i);
      Equal& equal =
          equals[find(old_keys[i], [](const Equal&) { return false; })];
      old_rank[i] = equal.last < 0 ? 0 : old_rank[equal.last] + 1;
      (equal.last < 0 ? equal.next_unmatched : next_equal[equal.last]) = i;
      equal.last = i;
      if (old_rank[i] == 1) NoteDuplicate(list, "old", path(old_parent, i, 1));
    }
    std::vector<bool> matched(old_size);
    for (int j = 0; j < new_size && !stopped_; ++j) {
      fetch_ahead(new_keys, j);
      // An old element encoded as this one has its key: most pairs are
      // matched and told equal with one comparison.
      bool same = false;
      Equal& equal = equals[find(new_keys[j], [&](const Equal& candidate) {
        same = candidate.next_unmatched >= 0 && !old_encodings.empty() &&
               !new_encodings.empty() &&
               old_encodings[candidate.next_unmatched] == new_encodings[j];
        return same;
      })];
      const int rank = equal.new_count++;
      const int old_index = equal.next_unmatched;
      if (old_index >= 0) equal.next_unmatched = next_equal[old_index];
      if (rank > 0) NoteDuplicate(list, "new", path(new_parent, j, rank));
      if (old_index >= 0) {
        matched[old_index] = true;
        if (same || Same(old_parent, new_parent, list, old_index, j,
                         encodings(old_index, j))) {
          continue;
        }
      }
      Pair(old_parent, new_parent, list, old_index, j,
           path(new_parent, j, rank), step(new_parent, j, old_index, j, rank),
           steps, encodings(old_index, j));
    }
    for (int i = 0; i < old_size && !stopped_; ++i) {
      if (!matched[i]) {
        Pair(old_parent, new_parent, list, i, -1,
             path(old_parent, i, old_rank[i]),
             step(old_parent, i, i, -1, old_rank[i]), steps);
      }
    }
  }

  // Records the schema does not know, as bytes: the k-th record of a number
  // in one message against the k-th in the other ("9", then "9#1").
  void Unknown(const pb::UnknownFieldSet& old_set,
               const pb::UnknownFieldSet& new_set, const std::string& prefix,
               std::vector<Step>* steps) {
    if (old_set.empty() && new_set.empty()) return;
    std::map<int, std::pair<std::vector<int>, std::vector<int>>> by_number;
    for (int i = 0; i < old_set.field_count(); ++i) {
      by_number[old_set.field(i).number()].first.push_back(i);
    }
    for (int i = 0; i < new_set.field_count(); ++i) {
      by_number[new_set.field(i).number()].second.push_back(i);
    }
    for (const auto& [number, records] : by_number) {
      const auto& [old_records, new_records] = records;
      for (size_t k = 0; k < std::max(old_records.size(), new_records.size());
           ++k) {
        const int old_index = k < old_records.size() ? old_records[k] : -1;
        const int new_index = k < new_records.size() ? new_records[k] : -1;
        std::optional<Value> old_value, new_value;
        if (old_index >= 0) old_value = UnknownValue(old_set.field(old_index));
        if (new_index >= 0) new_value = UnknownValue(new_set.field(new_index));
        if (old_value && new_value &&
            Encoded(old_set.field(old_index)) ==
                Encoded(new_set.field(new_index))) {
          continue;
        }
        std::vector<Step> record_steps = *steps;
        record_steps.push_back(
            {nullptr, number, old_index, new_index, "", static_cast<int>(k)});
        Emit(!old_value   ? Difference::kAdded
             : !new_value ? Difference::kRemoved
                          : Difference::kChanged,
             prefix + std::to_string(number) +
                 (k ? "#" + std::to_string(k) : ""),
             std::move(record_steps), std::move(old_value),
             std::move(new_value));
      }
    }
  }

  const Keys& keys_;
  const Ignore* ignore_;
  const Sink& sink_;
  std::set<std::string> noted_;
  std::string scratch_, old_bytes_, new_bytes_;
  bool stopped_ = false;
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
  for (const char* dotted : kIdentityFields) {
    std::vector<const pb::FieldDescriptor*> path;
    std::string error;
    if (ResolvePath(report, dotted, &path, &error)) {
      identity_.fields.push_back(std::move(path));
    }
  }
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

Keys::Identity Keys::IdentityOf(std::string_view report) const {
  pb::io::ArrayInputStream input(report.data(),
                                 static_cast<int>(report.size()));
  report_stream::ReportReader reader(&input, report_, {});
  while (reader.Next()) {
  }
  const KeyReader key(identity_);
  std::string text = key.Text(reader.header());
  return {text, text.empty() ? "" : key.Json(reader.header())};
}

// ---------------------------------------------------------------- Ignore

std::vector<std::string> PathSteps(std::string_view path) {
  std::vector<std::string> steps(1);
  bool quoted = false, bracket = false;
  for (size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (quoted && c == '\\' && i + 1 < path.size()) {
      steps.back() += path.substr(i++, 2);
      continue;
    }
    quoted ^= c == '"';
    bracket = quoted || (bracket ? c != ']' : c == '[');
    if (c == '.' && !bracket) {
      steps.emplace_back();
    } else {
      steps.back() += c;
    }
  }
  return steps;
}

Ignore::Ignore(const pb::Descriptor& report) : report_(report) {}

bool Ignore::Add(std::string_view path, std::string* error) {
  std::vector<std::string> steps = PathSteps(path);
  const pb::Descriptor* type = &report_;
  for (const std::string& step : steps) {
    const std::string name = step.substr(0, step.find('['));
    const bool number =
        !name.empty() && std::all_of(name.begin(), name.end(), ::isdigit);
    const pb::FieldDescriptor* field =
        type && !number ? type->FindFieldByName(name) : nullptr;
    if (!number && field == nullptr) {
      *error = "no field " + name + " in " +
               (type ? type->name() : "a value that has no fields") +
               " (ignoring " + std::string(path) + ")";
      return false;
    }
    type = field ? field->message_type() : nullptr;
  }
  paths_.push_back(std::move(steps));
  return true;
}

bool Ignore::Covers(std::string_view path) const {
  if (paths_.empty()) return false;
  const std::vector<std::string> steps = PathSteps(path);
  for (const std::vector<std::string>& ignored : paths_) {
    bool covers = ignored.size() <= steps.size();
    for (size_t i = 0; covers && i < ignored.size(); ++i) {
      const std::string& want = ignored[i];
      const std::string& step = steps[i];
      const size_t bracket = want.find('[');
      const std::string_view name = std::string_view(step).substr(
          0, std::min(step.find('['), step.find('#')));
      covers = name == want.substr(0, bracket) &&
               (bracket == std::string::npos ||
                want.compare(bracket, std::string::npos, "[*]") == 0 ||
                step.compare(name.size(), std::string::npos, want, bracket,
                             std::string::npos) == 0);
    }
    if (covers) return true;
  }
  return false;
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
  if (d.old_value && !d.old_value->json.empty()) {
    json += ",\"old\":" + d.old_value->json;
  }
  if (d.new_value && !d.new_value->json.empty()) {
    json += ",\"new\":" + d.new_value->json;
  }
  return json + "}";
}

std::string ToJson(const Difference& d, bool with_steps) {
  std::string json = ToJson(d);
  if (!with_steps) return json;
  std::string steps;
  for (const Step& step : d.steps) {
    steps += steps.empty() ? "[" : ",";
    if (step.field == nullptr) {
      steps += "{\"unknown\":" + std::to_string(step.unknown_number);
    } else {
      steps += "{\"field\":" + JsonString(step.field->name());
      if (step.field->is_repeated() && step.key_json.empty()) {
        steps += ",\"index\":" + std::to_string(step.old_index >= 0
                                                    ? step.old_index
                                                    : step.new_index);
      } else if (step.field->is_repeated()) {
        steps += (step.key_json[0] == '{' ? ",\"key\":" : ",\"value\":") +
                 step.key_json;
      }
    }
    if (step.rank > 0) steps += ",\"rank\":" + std::to_string(step.rank);
    steps += "}";
  }
  json.pop_back();
  return json + ",\"steps\":" + steps + "]}";
}

// ---------------------------------------------------------------- Compare

namespace {

// A run of list elements of the old report that follow each other in one
// list with one key, in 20 bytes whatever its length: the index of a report
// of small elements must not cost many times the report. Elements with
// equal keys are matched in order, so a run is matched from its start.
struct OldRun {
  static constexpr uint32_t kNone = ~uint32_t{0};
  uint32_t record;              // offset of the first unmatched element's tag
  uint32_t index;               // of that element within its list
  uint32_t remaining;           // elements not matched yet
  uint32_t next_equal = kNone;  // the next run with an equal key
  uint32_t slot;                // of its key
};

// What the old report's elements with one key have met so far. Elements
// with equal keys are matched in order, so the unmatched ones are the tail
// of their chain.
struct KeySlot {
  uint32_t hash_high;       // the high half of the key's hash
  uint32_t first_record;    // of the first old element with this key
  uint32_t last;            // the last run; once indexed, how many were removed
  uint32_t next_unmatched;  // the first run not wholly matched
  int32_t old_count = 0;
  int32_t new_count = 0;
};

// The distinct keys of the old report's elements, by hash, in flat arrays.
// The keys themselves are not kept: where hashes agree, the key is read
// again from an old element (`same_key`), which the comparison mostly
// parses anyway.
class KeyIndex {
 public:
  static uint64_t Hash(std::string_view key) {
    return std::hash<std::string_view>()(key);
  }

  // The slot of the key with `hash`, where `same_key(slot)` says whether a
  // slot holds that very key; kNone if there is none and not `add`.
  template <typename SameKey>
  uint32_t Find(uint64_t hash, const SameKey& same_key, bool add) {
    if ((slots_.size() + 1) * 4 > table_.size() * 3) Grow();
    const uint32_t low = static_cast<uint32_t>(hash);
    const uint32_t high = static_cast<uint32_t>(hash >> 32);
    const size_t mask = table_.size() - 1;
    for (size_t i = low & mask;; i = (i + 1) & mask) {
      Entry& entry = table_[i];
      if (entry.slot == OldRun::kNone) {
        if (!add) return OldRun::kNone;
        entry = {low, static_cast<uint32_t>(slots_.size())};
        slots_.push_back({high, OldRun::kNone, OldRun::kNone, OldRun::kNone});
        return entry.slot;
      }
      if (entry.hash_low == low && slots_[entry.slot].hash_high == high &&
          same_key(slots_[entry.slot])) {
        return entry.slot;
      }
    }
  }

  KeySlot& operator[](uint32_t id) { return slots_[id]; }
  uint32_t size() const { return static_cast<uint32_t>(slots_.size()); }

  // Room for `keys` keys, and a table for `table_keys` without growing:
  // rehashing a million-key table as it grows costs more than the lookups.
  void Reserve(size_t keys, size_t table_keys) {
    slots_.reserve(keys);
    size_t size = 64;
    while (size * 3 < table_keys * 4) size *= 2;
    if (size > table_.size()) Rehash(size);
  }

 private:
  struct Entry {
    uint32_t hash_low = 0;
    uint32_t slot = OldRun::kNone;
  };

  void Grow() { Rehash(std::max<size_t>(64, table_.size() * 2)); }

  void Rehash(size_t size) {
    std::vector<Entry> old = std::move(table_);
    table_.assign(size, Entry());
    const size_t mask = table_.size() - 1;
    for (const Entry& entry : old) {
      if (entry.slot == OldRun::kNone) continue;
      size_t i = entry.hash_low & mask;
      while (table_[i].slot != OldRun::kNone) i = (i + 1) & mask;
      table_[i] = entry;
    }
  }

  std::vector<Entry> table_;
  std::vector<KeySlot> slots_;
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

class Comparison {
 public:
  Comparison(const pb::Descriptor& report, const Keys& keys,
             const Ignore* ignore, const Sink& sink)
      : keys_(keys),
        report_(&report),
        walker_(keys, ignore, sink),
        sink_(sink) {}

  bool Index(std::string_view old_report, ReadError* error) {
    old_report_ = old_report;
    const size_t records = CountRecords(old_report);
    // Reserved, not touched: only the pages used count. The table is
    // touched whole, and distinct keys are fewer where elements repeat one,
    // so it grows past a quarter of the records only when they are that many.
    old_.reserve(records);
    slots_.Reserve(records, records / 4);
    pb::io::ArrayInputStream input(old_report.data(),
                                   static_cast<int>(old_report.size()));
    report_stream::ReportReader reader(&input, Descriptor(), {});
    while (reader.Next()) {
      if (reader.event() != report_stream::ReportReader::kElement) continue;
      const pb::FieldDescriptor& list = *reader.field();
      const pb::Message* message = MessageOf(reader);
      const std::string& key = KeyBytes(list, message, reader.element_string());
      const uint32_t record = static_cast<uint32_t>(reader.offset());
      const uint32_t slot_id = slots_.Find(
          KeyIndex::Hash(key),
          [&](const KeySlot& slot) { return OldKey(slot.first_record) == key; },
          true);
      KeySlot& slot = slots_[slot_id];
      const uint32_t index = static_cast<uint32_t>(reader.index());
      if (slot.old_count++ == 0) {
        slot.first_record = record;
      } else if (Keyed(list)) {
        walker_.NoteDuplicate(
            list, "old",
            ElementPath(list, message, reader.element_string(), index,
                        slot.old_count - 1));
      }
      OldRun* run = slot.last == OldRun::kNone ? nullptr : &old_[slot.last];
      if (run && slot.last + 1 == old_.size() &&
          run->index + run->remaining == index && run_end_ == record) {
        ++run->remaining;
      } else {
        const uint32_t id = static_cast<uint32_t>(old_.size());
        old_.push_back({record, index, 1, OldRun::kNone, slot_id});
        if (run) run->next_equal = id;
        if (slot.next_unmatched == OldRun::kNone) slot.next_unmatched = id;
        slot.last = id;
      }
      run_end_ = record + Locate(record).end;
      // The largest element is kept parsed for its pair: where one element
      // is most of the report, parsing it again is most of a parse.
      if (message != nullptr && reader.element_bytes().size() > kept_size_) {
        kept_size_ = reader.element_bytes().size();
        std::unique_ptr<pb::Message>& kept = old_elements_[&list];
        if (!kept) kept.reset(message->New());
        kept->GetReflection()->Swap(kept.get(), reader.mutable_element());
        parsed_ = record;
      }
    }
    if (!reader.ok()) {
      *error = {false, reader.error()};
      return false;
    }
    for (uint32_t id = 0; id < slots_.size(); ++id) slots_[id].last = 0;
    old_header_.reset(reader.header().New());
    old_header_->CopyFrom(reader.header());
    return true;
  }

  bool Stream(pb::io::ZeroCopyInputStream* new_report, ReadError* error) {
    report_stream::ReportReader reader(new_report, Descriptor(), {});
    while (!walker_.stopped() && reader.Next()) {
      if (reader.event() == report_stream::ReportReader::kElement) {
        Element(reader);
      }
    }
    if (!reader.ok()) {
      *error = {true, reader.error()};
      return false;
    }
    for (OldRun& run : old_) {
      while (run.remaining > 0 && !walker_.stopped()) Removed(&run);
    }
    std::vector<Step> steps;
    walker_.Compare(*old_header_, reader.header(), "", &steps);
    return true;
  }

 private:
  // Where an old element's encoding is, and its list.
  struct Location {
    const pb::FieldDescriptor* list = nullptr;
    std::string_view bytes;
    uint32_t end = 0;  // of the record, from its tag
  };

  const pb::Descriptor& Descriptor() const { return *report_; }

  // The old element whose tag is at `record`.
  Location Locate(uint32_t record) {
    // Read once already, by the index, so the tag and length are whole.
    const auto* start =
        reinterpret_cast<const uint8_t*>(old_report_.data()) + record;
    const auto* at = start;
    const auto varint = [&at] {
      uint32_t value = 0;
      for (int shift = 0;; shift += 7) {
        value |= static_cast<uint32_t>(*at & 0x7f) << shift;
        if (!(*at++ & 0x80)) return value;
      }
    };
    const int number = wire::FieldNumber(varint());
    const uint32_t length = varint();
    if (located_ == nullptr || located_->number() != number) {
      located_ = Descriptor().FindFieldByNumber(number);
    }
    return {located_,
            std::string_view(reinterpret_cast<const char*>(at), length),
            static_cast<uint32_t>(at - start + length)};
  }

  // The key of an element: which list, and the key fields' values.
  const std::string& KeyBytes(const pb::FieldDescriptor& list,
                              const pb::Message* element,
                              std::string_view value,
                              std::string* key = nullptr) {
    if (key == nullptr) key = &key_;
    const Keys::Key& fields = keys_.For(list);
    const int number = list.number();
    key->assign(reinterpret_cast<const char*>(&number), sizeof number);
    if (element == nullptr) {
      if (fields.by_value) key->append(value);
    } else {
      KeyReader(fields).Append(*element, key);
    }
    return *key;
  }

  // The key of the old element at `record`, read again.
  const std::string& OldKey(uint32_t record) {
    const Location at = Locate(record);
    return KeyBytes(*at.list, OldMessage(record), at.bytes, &old_key_);
  }

  std::string ElementPath(const pb::FieldDescriptor& list,
                          const pb::Message* element, std::string_view value,
                          int index, int rank) const {
    return report_diff::ElementPath(keys_, list, element, value, index, rank);
  }

  bool Keyed(const pb::FieldDescriptor& list) const {
    return report_diff::Keyed(keys_, list);
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
    const std::string_view new_bytes = reader.element_bytes();
    if (SameAsNextOld(list, new_bytes)) return;
    const std::string& key = KeyBytes(list, element, reader.element_string());
    // An old element with the same bytes has the same key; else the key is
    // read from the element the pair would be made with.
    bool same_bytes = false;
    const uint32_t slot_id = slots_.Find(
        KeyIndex::Hash(key),
        [&](const KeySlot& slot) {
          // Until a new element matched its key, the first unmatched old
          // element is the first: no run to read on the way.
          const uint32_t record =
              slot.new_count == 0 || slot.next_unmatched == OldRun::kNone
                  ? slot.first_record
                  : old_[slot.next_unmatched].record;
          same_bytes = slot.next_unmatched != OldRun::kNone &&
                       Locate(record).bytes == new_bytes;
          return same_bytes || OldKey(record) == key;
        },
        false);
    int32_t rank;
    uint32_t old_record = OldRun::kNone;
    Step step{&list, 0, -1, static_cast<int>(reader.index())};
    if (slot_id != OldRun::kNone) {
      KeySlot& slot = slots_[slot_id];
      rank = slot.new_count++;
      if (slot.next_unmatched != OldRun::kNone) {
        const OldRun& run = old_[slot.next_unmatched];
        old_record = run.record;
        step.old_index = static_cast<int>(run.index);
        MatchNext(&slot);
      }
    } else if (new_only_.size() < old_.size() + 4096) {
      // Keys only the new report has are kept to rank their repeats, up to
      // a bound: a new report without end must not grow them without end.
      rank = new_only_[key]++;
    } else {
      const auto known = new_only_.find(key);
      rank = known == new_only_.end() ? 0 : known->second++;
    }
    if (same_bytes) return;
    const std::string path = ElementPath(list, element, reader.element_string(),
                                         reader.index(), rank);
    if (rank > 0 && Keyed(list)) walker_.NoteDuplicate(list, "new", path);
    step = ElementStep(keys_, list, element, reader.element_string(),
                       step.old_index, step.new_index, rank, sink_.json);
    if (old_record == OldRun::kNone) {
      Emit(Difference::kAdded, path, step, std::nullopt, NewValue(reader));
    } else if (element == nullptr) {
      Emit(Difference::kChanged, path, step, OldValue(old_record),
           NewValue(reader));
    } else {
      std::vector<Step> steps = {step};
      walker_.Compare(*OldMessage(old_record), *element, path, &steps,
                      {Locate(old_record).bytes, new_bytes});
    }
  }

  // Whether the old element after the last one matched has `bytes`, and
  // then matches it: in the old report's order that is the match, found
  // with no key and no lookup.
  bool SameAsNextOld(const pb::FieldDescriptor& list, std::string_view bytes) {
    if (next_run_ >= old_.size()) return false;
    KeySlot& slot = slots_[old_[next_run_].slot];
    // Elements with equal keys are matched in order.
    if (slot.next_unmatched != next_run_) return false;
    const Location at = Locate(old_[next_run_].record);
    if (at.list != &list || at.bytes != bytes) return false;
    ++slot.new_count;
    MatchNext(&slot);
    return true;
  }

  // Matches the first unmatched old element of `slot`'s key.
  void MatchNext(KeySlot* slot) {
    const uint32_t id = slot->next_unmatched;
    OldRun& run = old_[id];
    Advance(&run);
    if (run.remaining == 0) slot->next_unmatched = run.next_equal;
    next_run_ = run.remaining > 0 ? id : id + 1;
  }

  // Moves `run` past its first unmatched element.
  void Advance(OldRun* run) {
    run->record += Locate(run->record).end;
    ++run->index;
    --run->remaining;
  }

  void Removed(OldRun* run) {
    const uint32_t record = run->record;
    const Location at = Locate(record);
    KeySlot& slot = slots_[run->slot];
    // The unmatched elements of a key are the tail of its chain.
    const int rank =
        std::max(slot.new_count, 0) + static_cast<int>(slot.last++);
    const int index = static_cast<int>(run->index);
    Advance(run);
    const pb::Message* element = OldMessage(record);
    Emit(Difference::kRemoved,
         ElementPath(*at.list, element, at.bytes, index, rank),
         ElementStep(keys_, *at.list, element, at.bytes, index, -1, rank,
                     sink_.json),
         OldValue(record), std::nullopt);
  }

  Value OldValue(uint32_t record) {
    const pb::Message* element = OldMessage(record);
    return element ? MessageValue(*element, sink_.json)
                   : StringValue(Locate(record).bytes);
  }

  Value NewValue(const report_stream::ReportReader& reader) const {
    if (reader.field()->cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE) {
      return StringValue(reader.element_string());
    }
    return MessageValue(reader.element(), sink_.json);
  }

  // The old element at `record` parsed, or null for a string; parsed again
  // only when another element was parsed since.
  const pb::Message* OldMessage(uint32_t record) {
    const Location at = Locate(record);
    if (at.list->cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE) {
      return nullptr;
    }
    std::unique_ptr<pb::Message>& element = old_elements_[at.list];
    if (!element) {
      element.reset(pb::MessageFactory::generated_factory()
                        ->GetPrototype(at.list->message_type())
                        ->New());
    }
    if (parsed_ != record) {
      element->ParseFromArray(at.bytes.data(),
                              static_cast<int>(at.bytes.size()));
      parsed_ = record;
    }
    return element.get();
  }

  void Emit(Difference::Kind kind, const std::string& path, const Step& step,
            std::optional<Value> old_value, std::optional<Value> new_value) {
    walker_.Emit(kind, path, {step}, std::move(old_value),
                 std::move(new_value));
  }

  const Keys& keys_;
  const pb::Descriptor* report_;
  Walker walker_;
  const Sink& sink_;
  std::string_view old_report_;
  std::vector<OldRun> old_;
  uint32_t run_end_ = 0;   // where the last old element indexed ends
  uint32_t next_run_ = 0;  // where the next element in order would be
  KeyIndex slots_;
  std::unordered_map<std::string, int32_t> new_only_;  // key: new count
  std::string key_, old_key_;
  std::unique_ptr<pb::Message> old_header_;
  std::map<const pb::FieldDescriptor*, std::unique_ptr<pb::Message>>
      old_elements_;
  uint32_t parsed_ = OldRun::kNone;  // the old element parsed last, by record
  size_t kept_size_ = 0;             // of the largest old element, kept parsed
  const pb::FieldDescriptor* located_ = nullptr;  // the list located last
};

}  // namespace

bool Compare(std::string_view old_report,
             pb::io::ZeroCopyInputStream* new_report,
             const pb::Descriptor& report, const Keys& keys, const Sink& sink,
             ReadError* error) {
  Comparison comparison(report, keys, nullptr, sink);
  return comparison.Index(old_report, error) &&
         comparison.Stream(new_report, error);
}

bool Compare(std::string_view old_report,
             pb::io::ZeroCopyInputStream* new_report,
             const pb::Descriptor& report, const Keys& keys,
             const Ignore& ignore, const Sink& sink, ReadError* error) {
  Comparison comparison(report, keys, &ignore, sink);
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
