#include "wire_vectors.h"

#include <cctype>
#include <cstdlib>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::testdata {

const google::protobuf::Descriptor* VectorType(std::string_view type) {
  return ruk::agg_service::l3::RouteTableMsg::descriptor()
      ->file()
      ->FindMessageTypeByName(std::string(type));
}

std::unique_ptr<google::protobuf::Message> NewMessage(std::string_view type) {
  const google::protobuf::Descriptor* descriptor = VectorType(type);
  if (descriptor == nullptr) return nullptr;
  return std::unique_ptr<google::protobuf::Message>(
      google::protobuf::MessageFactory::generated_factory()
          ->GetPrototype(descriptor)
          ->New());
}

std::string FromHex(std::string_view hex) {
  std::string bytes;
  int high = -1;
  for (char c : hex) {
    if (c == ' ') continue;
    const int nibble =
        std::isdigit(static_cast<unsigned char>(c))
            ? c - '0'
            : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
    if (high < 0) {
      high = nibble;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + nibble));
      high = -1;
    }
  }
  if (high != -1) std::abort();  // odd number of hex digits
  return bytes;
}

// One row per message type, every field set: singular sub-messages and list
// elements of our own types carry their plain fields, sibling-typed fields are
// set, some empty; lists have two elements.
const std::vector<EveryFieldVector>& EveryFieldVectors() {
  static const auto* vectors = new std::vector<EveryFieldVector>{
      {"LogicalRouterPortLocationMsg",
       R"(router_port_id: "r1"
        error {
          error_code: 300
          error_message: "timed out"
          module_name: "routing"
        }
        tnode_id: "10.0.0.0/24"
        tnode_id: "")",
       "0A 02 72 31 12 17 08 AC 02 12 09 74 69 6D 65 64 20 6F 75 74 "
       "1A 07 72 6F 75 74 69 6E 67 1A 0B 31 30 2E 30 2E 30 2E 30 2F "
       "32 34 1A 00"},
      {"LogicalRouterPortArpMsg",
       R"(mac_address: "uplink-1"
        ip: "a\000b")",
       "0A 08 75 70 6C 69 6E 6B 2D 31 12 03 61 00 62"},
      {"LogicalRouterPortArpTableMsg",
       R"(lrouter_port_id: "caf\303\251"
        timestamp: -1
        error {}
        arp { mac_address: "65001 65002 i" ip: "x" }
        arp { mac_address: "" }
        lrouter_port_uuid {
          left: 81985529216486895
          right: 18364758544493064720
        })",
       "0A 05 63 61 66 C3 A9 10 FF FF FF FF FF FF FF FF FF 01 1A 00 "
       "22 12 0A 0D 36 35 30 30 31 20 36 35 30 30 32 20 69 12 01 78 "
       "22 02 0A 00 2A 12 09 EF CD AB 89 67 45 23 01 11 10 32 54 76 "
       "98 BA DC FE"},
      {"RouteEntryMsg",
       R"(route_type: "0x8000000c"
        network: "r1"
        logical_router_port_id: "10.0.0.0/24"
        next_hop: ""
        admin_distance: -200
        lrouter_port_uuid {})",
       "0A 0A 30 78 38 30 30 30 30 30 30 63 12 02 72 31 1A 0B 31 30 "
       "2E 30 2E 30 2E 30 2F 32 34 22 00 28 B8 FE FF FF FF FF FF FF "
       "FF 01 32 00"},
      {"RouteTableMsg",
       R"(lrouter_id: "uplink-1"
        timestamp: 1700000000123
        error { error_code: 7 error_message: "" module_name: "ha" }
        route {
          route_type: "a\000b"
          network: "caf\303\251"
          logical_router_port_id: "65001 65002 i"
          next_hop: "x"
          admin_distance: 110
        }
        route { route_type: "" }
        lrouter_uuid { left: 1 right: 9223372036854775808 })",
       "0A 08 75 70 6C 69 6E 6B 2D 31 10 FB D0 95 FF BC 31 1A 08 08 "
       "07 12 00 1A 02 68 61 22 20 0A 03 61 00 62 12 05 63 61 66 C3 "
       "A9 1A 0D 36 35 30 30 31 20 36 35 30 30 32 20 69 22 01 78 28 "
       "6E 22 02 0A 00 2A 12 09 01 00 00 00 00 00 00 00 11 00 00 00 "
       "00 00 00 00 80"},
      {"MsrRouteTableMsg",
       R"(lrouter_id: "0x8000000c"
        timestamp: -9223372036854775808
        error {
          error_code: 300
          error_message: "timed out"
          module_name: "routing"
        }
        route {
          route_type: "r1"
          network: "10.0.0.0/24"
          logical_router_port_id: ""
          next_hop: "uplink-1"
          admin_distance: 2147483647
        }
        route { route_type: "a\000b" }
        lrouter_uuid {
          left: 81985529216486895
          right: 18364758544493064720
        })",
       "0A 0A 30 78 38 30 30 30 30 30 30 63 10 80 80 80 80 80 80 80 "
       "80 80 01 1A 17 08 AC 02 12 09 74 69 6D 65 64 20 6F 75 74 1A "
       "07 72 6F 75 74 69 6E 67 22 23 0A 02 72 31 12 0B 31 30 2E 30 "
       "2E 30 2E 30 2F 32 34 1A 00 22 08 75 70 6C 69 6E 6B 2D 31 28 "
       "FF FF FF FF 07 22 05 0A 03 61 00 62 2A 12 09 EF CD AB 89 67 "
       "45 23 01 11 10 32 54 76 98 BA DC FE"},
      {"AddressFamilyMsg",
       R"(addr_family_name: "caf\303\251"
        count_in_prefixes: 18446744073709551615
        count_out_prefixes: 9223372036854775808)",
       "0A 05 63 61 66 C3 A9 10 FF FF FF FF FF FF FF FF FF 01 18 80 "
       "80 80 80 80 80 80 80 80 01"},
      {"BgpNeighborEntryMsg",
       R"(source_ip { family: FAMILY_IPV4 address: "192.0.2.1" }
        local_port: 300
        neighbor_ip {}
        remote_port: 4294967295
        remote_as: 1
        gracefull_restart: true
        bgp_connection_state: ESTABLISHED
        number_of_messages_sent: 1700000000000
        number_of_messages_received: 0
        time_since_established: 150
        total_number_of_in_prefixes: 34359738368
        total_number_of_out_prefixes: 72057594037927936
        negotiated_capability: 9223372036854775809
        number_of_connection_established: 18446744073709551615
        number_of_connection_dropped: 9223372036854775808
        hold_time: 1700000000000
        keepalive_time: 0
        neighbor_router_id {
          family: FAMILY_IPV6
          address: "2001:db8::1"
        }
        neighbor_capability: 150
        address_family_info {
          addr_family_name: "65001 65002 i"
          count_in_prefixes: 34359738368
          count_out_prefixes: 72057594037927936
        }
        address_family_info { addr_family_name: "x" }
        negotiated_capability_value: ""
        negotiated_capability_value: "0x8000000c"
        neighbor_capability_value: "r1"
        neighbor_capability_value: "10.0.0.0/24"
        gr_mode: GR_HELPER_ONLY_MODE)",
       "0A 0D 08 01 12 09 31 39 32 2E 30 2E 32 2E 31 10 AC 02 1A 00 "
       "20 FF FF FF FF 0F 28 01 30 01 38 06 40 80 D0 95 FF BC 31 48 "
       "00 50 96 01 58 80 80 80 80 80 01 60 80 80 80 80 80 80 80 80 "
       "01 68 81 80 80 80 80 80 80 80 80 01 70 FF FF FF FF FF FF FF "
       "FF FF 01 78 80 80 80 80 80 80 80 80 80 01 80 01 80 D0 95 FF "
       "BC 31 88 01 00 92 01 0F 08 02 12 0B 32 30 30 31 3A 64 62 38 "
       "3A 3A 31 98 01 96 01 A2 01 20 0A 0D 36 35 30 30 31 20 36 35 "
       "30 30 32 20 69 10 80 80 80 80 80 01 18 80 80 80 80 80 80 80 "
       "80 01 A2 01 03 0A 01 78 AA 01 00 AA 01 0A 30 78 38 30 30 30 "
       "30 30 30 63 B2 01 02 72 31 B2 01 0B 31 30 2E 30 2E 30 2E 30 "
       "2F 32 34 B8 01 03"},
      {"BgpNeighborMsg",
       R"(lrouter_id: ""
        router_id { family: FAMILY_IPV4 address: "192.0.2.1" }
        error {}
        local_as: 0
        timestamp: 9223372036854775807
        bgp_neighbor_msg {
          local_port: 16384
          remote_port: 65001
          remote_as: 127
          gracefull_restart: false
          bgp_connection_state: IDLE
          number_of_messages_sent: 9223372036854775809
          number_of_messages_received: 18446744073709551615
          time_since_established: 9223372036854775808
          total_number_of_in_prefixes: 1700000000000
          total_number_of_out_prefixes: 0
          negotiated_capability: 150
          number_of_connection_established: 34359738368
          number_of_connection_dropped: 72057594037927936
          hold_time: 9223372036854775809
          keepalive_time: 18446744073709551615
          neighbor_capability: 9223372036854775808
          negotiated_capability_value: "uplink-1"
          neighbor_capability_value: "a\000b"
          gr_mode: GR_DISABLE
        }
        bgp_neighbor_msg { local_port: 2097152 }
        lrouter_uuid {})",
       "0A 00 12 0D 08 01 12 09 31 39 32 2E 30 2E 32 2E 31 1A 00 20 "
       "00 28 FF FF FF FF FF FF FF FF 7F 32 84 01 10 80 80 01 20 E9 "
       "FB 03 28 7F 30 00 38 01 40 81 80 80 80 80 80 80 80 80 01 48 "
       "FF FF FF FF FF FF FF FF FF 01 50 80 80 80 80 80 80 80 80 80 "
       "01 58 80 D0 95 FF BC 31 60 00 68 96 01 70 80 80 80 80 80 01 "
       "78 80 80 80 80 80 80 80 80 01 80 01 81 80 80 80 80 80 80 80 "
       "80 01 88 01 FF FF FF FF FF FF FF FF FF 01 98 01 80 80 80 80 "
       "80 80 80 80 80 01 AA 01 08 75 70 6C 69 6E 6B 2D 31 B2 01 03 "
       "61 00 62 B8 01 01 32 05 10 80 80 80 01 3A 00"},
      {"LogicalRouterStatusMsg",
       R"(lrouter_id: "caf\303\251"
        service_router_id: "65001 65002 i"
        ha_status: ADMIN_DOWN
        service_router_uuid { left: 1 right: 9223372036854775808 }
        resources: 1700000000000
        service_group_status { ha_status: HA_ACTIVE }
        service_group_status { ha_status: HA_ACTIVE }
        bgp_up_count: 128
        bgp_down_count: 300
        ospf_up_count: 4294967295
        ospf_down_count: 1
        routing_state: ROUTING_DOWN)",
       "0A 05 63 61 66 C3 A9 12 0D 36 35 30 30 31 20 36 35 30 30 32 "
       "20 69 18 05 22 12 09 01 00 00 00 00 00 00 00 11 00 00 00 00 "
       "00 00 00 80 28 80 D0 95 FF BC 31 32 02 10 01 32 02 10 01 38 "
       "80 01 40 AC 02 48 FF FF FF FF 0F 50 01 58 02"},
      {"ServiceGroupHaStatusMsg",
       R"(service_group_id {
          left: 81985529216486895
          right: 18364758544493064720
        }
        ha_status: HA_STANDBY)",
       "0A 12 09 EF CD AB 89 67 45 23 01 11 10 32 54 76 98 BA DC FE "
       "10 02"},
      {"LogicalRoutersPerNodeMsg",
       R"(timestamp: -300
        error { error_code: 7 error_message: "" module_name: "ha" }
        router_status {
          lrouter_id: "x"
          service_router_id: ""
          ha_status: STANDBY
          resources: 0
          bgp_up_count: 0
          bgp_down_count: 16384
          ospf_up_count: 65001
          ospf_down_count: 127
          routing_state: ROUTING_UP
        }
        router_status { lrouter_id: "0x8000000c" })",
       "08 D4 FD FF FF FF FF FF FF FF 01 12 08 08 07 12 00 1A 02 68 "
       "61 1A 17 0A 01 78 12 00 18 01 28 00 38 00 40 80 80 01 48 E9 "
       "FB 03 50 7F 58 01 1A 0C 0A 0A 30 78 38 30 30 30 30 30 30 63"},
      {"BfdStatusMsg",
       R"(interface_name: "r1"
        remote_ip {}
        local_ip { family: FAMILY_IPV6 address: "2001:db8::1" }
        status: ADMIN_DOWN)",
       "0A 02 72 31 12 00 1A 0F 08 02 12 0B 32 30 30 31 3A 64 62 38 "
       "3A 3A 31 20 03"},
      {"PeerEdgeNodeStatusMsg",
       R"(transport_node_id {}
        down_since: 150
        status: UNREACHABLE
        vtep_bfd { interface_name: "10.0.0.0/24" status: UP }
        vtep_bfd { interface_name: "" }
        mgmt_bfd { interface_name: "uplink-1" status: UP }
        mgmt_bfd { interface_name: "a\000b" })",
       "0A 00 10 96 01 18 04 22 0F 0A 0B 31 30 2E 30 2E 30 2E 30 2F "
       "32 34 20 01 22 02 0A 00 2A 0C 0A 08 75 70 6C 69 6E 6B 2D 31 "
       "20 01 2A 05 0A 03 61 00 62"},
      {"EdgeNodeStatusMsg",
       R"(transport_node_id { left: 1 right: 9223372036854775808 }
        status: UNREACHABLE
        failure_reason: "caf\303\251"
        vtep_state: VTEP_STATE_DOWN
        storage_mode: UNKNOWN
        r_await: 0.1
        w_await: -inf)",
       "0A 12 09 01 00 00 00 00 00 00 00 11 00 00 00 00 00 00 00 80 "
       "10 04 1A 05 63 61 66 C3 A9 20 02 28 03 35 CD CC CC 3D 3D 00 "
       "00 80 FF"},
      {"EdgeClusterStatusMsg",
       R"(self {
          status: UP
          failure_reason: "65001 65002 i"
          vtep_state: VTEP_STATE_UP
          storage_mode: READ_WRITE
          r_await: 1e-45
          w_await: 3.4028234e+38
        }
        peer { down_since: 34359738368 status: UP }
        peer { down_since: 72057594037927936 }
        error {
          error_code: 300
          error_message: "timed out"
          module_name: "routing"
        })",
       "0A 1F 10 01 1A 0D 36 35 30 30 31 20 36 35 30 30 32 20 69 20 "
       "01 28 01 35 01 00 00 00 3D FF FF 7F 7F 12 09 10 80 80 80 80 "
       "80 01 18 01 12 0A 10 80 80 80 80 80 80 80 80 01 1A 17 08 AC "
       "02 12 09 74 69 6D 65 64 20 6F 75 74 1A 07 72 6F 75 74 69 6E "
       "67"},
      {"McastRouteEntryMsg",
       R"(source: "x"
        group: ""
        input_interface: "0x8000000c"
        output_interface: "r1"
        ttl: 2097152
        uptime: "10.0.0.0/24")",
       "0A 01 78 12 00 1A 0A 30 78 38 30 30 30 30 30 30 63 22 02 72 "
       "31 28 80 80 80 01 32 0B 31 30 2E 30 2E 30 2E 30 2F 32 34"},
      {"McastRouteMsg",
       R"(lrouter_id: ""
        timestamp: 9223372036854775809
        error {}
        mcast_route {
          source: "uplink-1"
          group: "a\000b"
          input_interface: "caf\303\251"
          output_interface: "65001 65002 i"
          ttl: 128
          uptime: "x"
        }
        mcast_route { source: "" })",
       "0A 00 10 81 80 80 80 80 80 80 80 80 01 1A 00 22 2B 0A 08 75 "
       "70 6C 69 6E 6B 2D 31 12 03 61 00 62 1A 05 63 61 66 C3 A9 22 "
       "0D 36 35 30 30 31 20 36 35 30 30 32 20 69 28 80 01 32 01 78 "
       "22 02 0A 00"},
      {"McastForwardEntryMsg",
       R"(source: "0x8000000c"
        group: "r1"
        input_interface {
          left: 81985529216486895
          right: 18364758544493064720
        }
        output_interface {}
        output_interface { left: 1 right: 9223372036854775808 })",
       "0A 0A 30 78 38 30 30 30 30 30 30 63 12 02 72 31 1A 12 09 EF "
       "CD AB 89 67 45 23 01 11 10 32 54 76 98 BA DC FE 22 00 22 12 "
       "09 01 00 00 00 00 00 00 00 11 00 00 00 00 00 00 00 80"},
      {"McastForwardTableMsg",
       R"(lrouter_id {
          left: 81985529216486895
          right: 18364758544493064720
        }
        timestamp: 18446744073709551615
        error { error_code: 7 error_message: "" module_name: "ha" }
        mfib_entry { source: "10.0.0.0/24" group: "" }
        mfib_entry { source: "uplink-1" })",
       "0A 12 09 EF CD AB 89 67 45 23 01 11 10 32 54 76 98 BA DC FE "
       "10 FF FF FF FF FF FF FF FF FF 01 1A 08 08 07 12 00 1A 02 68 "
       "61 22 0F 0A 0B 31 30 2E 30 2E 30 2E 30 2F 32 34 12 00 22 0A "
       "0A 08 75 70 6C 69 6E 6B 2D 31"},
      {"McastIgmpMembershipEntryMsg",
       R"(interface: "a\000b"
        src_address: "caf\303\251"
        group: "65001 65002 i"
        no_of_sources: 300
        igmp_version: 4294967295
        uptime: "x")",
       "0A 03 61 00 62 12 05 63 61 66 C3 A9 1A 0D 36 35 30 30 31 20 "
       "36 35 30 30 32 20 69 20 AC 02 28 FF FF FF FF 0F 32 01 78"},
      {"McastIgmpMembershipMsg",
       R"(lrouter_id: ""
        timestamp: 9223372036854775808
        error {
          error_code: 300
          error_message: "timed out"
          module_name: "routing"
        }
        igmp_membership {
          interface: "0x8000000c"
          src_address: "r1"
          group: "10.0.0.0/24"
          no_of_sources: 1
          igmp_version: 0
          uptime: ""
        }
        igmp_membership { interface: "uplink-1" })",
       "0A 00 10 80 80 80 80 80 80 80 80 80 01 1A 17 08 AC 02 12 09 "
       "74 69 6D 65 64 20 6F 75 74 1A 07 72 6F 75 74 69 6E 67 22 23 "
       "0A 0A 30 78 38 30 30 30 30 30 30 63 12 02 72 31 1A 0B 31 30 "
       "2E 30 2E 30 2E 30 2F 32 34 20 01 28 00 32 00 22 0A 0A 08 75 "
       "70 6C 69 6E 6B 2D 31"},
      {"McastPimRpMappingEntryMsg",
       R"(rp_address: "a\000b"
        group: "caf\303\251"
        outgoing_interface: "65001 65002 i"
        source: "x"
        i_am_rp: "")",
       "0A 03 61 00 62 12 05 63 61 66 C3 A9 1A 0D 36 35 30 30 31 20 "
       "36 35 30 30 32 20 69 22 01 78 2A 00"},
      {"McastPimRpMappingMsg",
       R"(lrouter_id: "0x8000000c"
        timestamp: 1700000000000
        error {}
        pim_rp_mapping {
          rp_address: "r1"
          group: "10.0.0.0/24"
          outgoing_interface: ""
          source: "uplink-1"
          i_am_rp: "a\000b"
        }
        pim_rp_mapping { rp_address: "caf\303\251" })",
       "0A 0A 30 78 38 30 30 30 30 30 30 63 10 80 D0 95 FF BC 31 1A "
       "00 22 22 0A 02 72 31 12 0B 31 30 2E 30 2E 30 2E 30 2F 32 34 "
       "1A 00 22 08 75 70 6C 69 6E 6B 2D 31 2A 03 61 00 62 22 07 0A "
       "05 63 61 66 C3 A9"},
      {"NeighborAdvRouteEntryMsg",
       R"(network: "65001 65002 i"
        next_hop: "x"
        local_preference: 16384
        med: 65001
        aspath: ""
        route_origin: ORIGIN_EXTERNAL
        weight: 127)",
       "0A 0D 36 35 30 30 31 20 36 35 30 30 32 20 69 12 01 78 18 80 "
       "80 01 20 E9 FB 03 2A 00 30 03 38 7F"},
      {"BgpNeighborAdvertisedRoutesMsg",
       R"(lrouter_id: "0x8000000c"
        neighbor_ip { family: FAMILY_IPV4 address: "192.0.2.1" }
        timestamp: 0
        error { error_code: 7 error_message: "" module_name: "ha" }
        route {
          network: "r1"
          next_hop: "10.0.0.0/24"
          local_preference: 2097152
          med: 128
          aspath: ""
          route_origin: ORIGIN_INCOMPLETE
          weight: 300
        }
        route { network: "uplink-1" })",
       "0A 0A 30 78 38 30 30 30 30 30 30 63 12 0D 08 01 12 09 31 39 "
       "32 2E 30 2E 32 2E 31 18 00 22 08 08 07 12 00 1A 02 68 61 2A "
       "20 0A 02 72 31 12 0B 31 30 2E 30 2E 30 2E 30 2F 32 34 18 80 "
       "80 80 01 20 80 01 2A 00 30 01 38 AC 02 2A 0A 0A 08 75 70 6C "
       "69 6E 6B 2D 31"},
      {"NeighborRouteEntryMsg",
       R"(network: "a\000b"
        next_hop: "caf\303\251"
        local_preference: 4294967295
        weight: 1
        med: 0
        aspath: "65001 65002 i"
        route_origin: ORIGIN_EXTERNAL)",
       "0A 03 61 00 62 12 05 63 61 66 C3 A9 18 FF FF FF FF 0F 20 01 "
       "28 00 32 0D 36 35 30 30 31 20 36 35 30 30 32 20 69 38 03"},
      {"BgpNeighborRoutesMsg",
       R"(lrouter_id: "x"
        neighbor_ip {}
        timestamp: 150
        error {
          error_code: 300
          error_message: "timed out"
          module_name: "routing"
        }
        route {
          network: ""
          next_hop: "0x8000000c"
          local_preference: 16384
          weight: 65001
          med: 127
          aspath: "r1"
          route_origin: ORIGIN_INCOMPLETE
        }
        route { network: "10.0.0.0/24" })",
       "0A 01 78 12 00 18 96 01 22 17 08 AC 02 12 09 74 69 6D 65 64 "
       "20 6F 75 74 1A 07 72 6F 75 74 69 6E 67 2A 1E 0A 00 12 0A 30 "
       "78 38 30 30 30 30 30 30 63 18 80 80 01 20 E9 FB 03 28 7F 32 "
       "02 72 31 38 01 2A 0D 0A 0B 31 30 2E 30 2E 30 2E 30 2F 32 34"},
      {"InterSitePortCountersMsg",
       R"(total_bytes: -1
        total_packets: 1700000000123
        dropped_packets: -9223372036854775808
        blocked_packets: 9223372036854775807)",
       "08 FF FF FF FF FF FF FF FF FF 01 10 FB D0 95 FF BC 31 18 80 "
       "80 80 80 80 80 80 80 80 01 20 FF FF FF FF FF FF FF FF 7F"},
      {"RemoteTunnelPortStatisticsPerSiteMsg",
       R"(rtep_group_id: 2097152
        rx {
          total_bytes: -300
          total_packets: -1
          dropped_packets: 1700000000123
          blocked_packets: -9223372036854775808
        }
        tx {
          total_bytes: 9223372036854775807
          total_packets: -300
          dropped_packets: -1
          blocked_packets: 1700000000123
        })",
       "08 80 80 80 01 12 28 08 D4 FD FF FF FF FF FF FF FF 01 10 FF "
       "FF FF FF FF FF FF FF FF 01 18 FB D0 95 FF BC 31 20 80 80 80 "
       "80 80 80 80 80 80 01 1A 27 08 FF FF FF FF FF FF FF FF 7F 10 "
       "D4 FD FF FF FF FF FF FF FF 01 18 FF FF FF FF FF FF FF FF FF "
       "01 20 FB D0 95 FF BC 31"},
      {"RemoteTunnelPortStatisticsMsg",
       R"(stats_per_site { rtep_group_id: 128 }
        stats_per_site { rtep_group_id: 300 }
        error {}
        timestamp: 34359738368)",
       "0A 03 08 80 01 0A 03 08 AC 02 12 00 18 80 80 80 80 80 01"},
      {"RemoteTunnelStatisticsMsg",
       R"(tunnel_source_ip { family: FAMILY_IPV6 address: "2001:db8::1" }
        tunnel_destination_ip {
          family: FAMILY_IPV4
          address: "192.0.2.1"
        }
        rx {
          total_bytes: -9223372036854775808
          total_packets: 9223372036854775807
          dropped_packets: -300
          blocked_packets: -1
        }
        tx {
          total_bytes: 1700000000123
          total_packets: -9223372036854775808
          dropped_packets: 9223372036854775807
          blocked_packets: -300
        })",
       "0A 0F 08 02 12 0B 32 30 30 31 3A 64 62 38 3A 3A 31 12 0D 08 "
       "01 12 09 31 39 32 2E 30 2E 32 2E 31 1A 2B 08 80 80 80 80 80 "
       "80 80 80 80 01 10 FF FF FF FF FF FF FF FF 7F 18 D4 FD FF FF "
       "FF FF FF FF FF 01 20 FF FF FF FF FF FF FF FF FF 01 22 27 08 "
       "FB D0 95 FF BC 31 10 80 80 80 80 80 80 80 80 80 01 18 FF FF "
       "FF FF FF FF FF FF 7F 20 D4 FD FF FF FF FF FF FF FF 01"},
      {"NodeInterSiteStatisticsMsg",
       R"(stats_per_tunnel {
          tunnel_source_ip {
            family: FAMILY_IPV6
            address: "2001:db8::1"
          }
          tunnel_destination_ip {
            family: FAMILY_IPV4
            address: "192.0.2.1"
          }
        }
        stats_per_tunnel {
          tunnel_source_ip {
            family: FAMILY_IPV6
            address: "2001:db8::1"
          }
        }
        error { error_code: 7 error_message: "" module_name: "ha" }
        timestamp: 72057594037927936)",
       "0A 20 0A 0F 08 02 12 0B 32 30 30 31 3A 64 62 38 3A 3A 31 12 "
       "0D 08 01 12 09 31 39 32 2E 30 2E 32 2E 31 0A 11 0A 0F 08 02 "
       "12 0B 32 30 30 31 3A 64 62 38 3A 3A 31 12 08 08 07 12 00 1A "
       "02 68 61 18 80 80 80 80 80 80 80 80 01"},
      {"BgpNeighborStatusMsg",
       R"(lrouter_uuid {}
        source_ip { family: FAMILY_IPV4 address: "192.0.2.1" }
        neighbor_ip {}
        bgp_connection_state: ESTABLISHED
        vrf_name: "")",
       "0A 00 12 0D 08 01 12 09 31 39 32 2E 30 2E 32 2E 31 1A 00 20 "
       "06 2A 00"},
      {"BgpNeighborStatusPerNodeMsg",
       R"(bgp_neighbor_status {
          bgp_connection_state: IDLE
          vrf_name: "uplink-1"
        }
        bgp_neighbor_status { bgp_connection_state: IDLE }
        error {
          error_code: 300
          error_message: "timed out"
          module_name: "routing"
        }
        timestamp: 9223372036854775809)",
       "0A 0C 20 01 2A 08 75 70 6C 69 6E 6B 2D 31 0A 02 20 01 12 17 "
       "08 AC 02 12 09 74 69 6D 65 64 20 6F 75 74 1A 07 72 6F 75 74 "
       "69 6E 67 18 81 80 80 80 80 80 80 80 80 01"},
      {"BgpNeighborStatusPerLrMsg",
       R"(lrouter_id { left: 1 right: 9223372036854775808 }
        bgp_neighbor_status {
          bgp_connection_state: IDLE
          vrf_name: "a\000b"
        }
        bgp_neighbor_status { bgp_connection_state: IDLE })",
       "0A 12 09 01 00 00 00 00 00 00 00 11 00 00 00 00 00 00 00 80 "
       "12 07 20 01 2A 03 61 00 62 12 02 20 01"},
      {"L2ForwarderStatusMsg",
       R"(logical_switch_id {
          left: 81985529216486895
          right: 18364758544493064720
        }
        ha_status: UNKNOWN)",
       "0A 12 09 EF CD AB 89 67 45 23 01 11 10 32 54 76 98 BA DC FE "
       "10 04"},
      {"L2ForwarderStatusPerNodeMsg",
       R"(l2_forwarder_status { ha_status: STANDBY }
        l2_forwarder_status { ha_status: STANDBY }
        error {}
        timestamp: 18446744073709551615)",
       "0A 02 10 01 0A 02 10 01 12 00 18 FF FF FF FF FF FF FF FF FF "
       "01"},
      {"L2ForwarderStatisticsMsg",
       R"(rx {
          total_bytes: -1
          total_packets: 1700000000123
          dropped_packets: -9223372036854775808
          blocked_packets: 9223372036854775807
        }
        tx {
          total_bytes: -300
          total_packets: -1
          dropped_packets: 1700000000123
          blocked_packets: -9223372036854775808
        }
        error { error_code: 7 error_message: "" module_name: "ha" }
        timestamp: 9223372036854775808)",
       "0A 27 08 FF FF FF FF FF FF FF FF FF 01 10 FB D0 95 FF BC 31 "
       "18 80 80 80 80 80 80 80 80 80 01 20 FF FF FF FF FF FF FF FF "
       "7F 12 28 08 D4 FD FF FF FF FF FF FF FF 01 10 FF FF FF FF FF "
       "FF FF FF FF 01 18 FB D0 95 FF BC 31 20 80 80 80 80 80 80 80 "
       "80 80 01 1A 08 08 07 12 00 1A 02 68 61 20 80 80 80 80 80 80 "
       "80 80 80 01"},
      {"L2ForwarderRemoteMacsPerSiteMsg",
       R"(rtep_group_id: 4294967295
        remote_mac_address: "caf\303\251"
        remote_mac_address: "65001 65002 i")",
       "08 FF FF FF FF 0F 12 05 63 61 66 C3 A9 12 0D 36 35 30 30 31 "
       "20 36 35 30 30 32 20 69"},
      {"L2ForwarderRemoteMacsMsg",
       R"(remote_macs_per_site {
          rtep_group_id: 1
          remote_mac_address: "x"
        }
        remote_macs_per_site { rtep_group_id: 0 }
        error {
          error_code: 300
          error_message: "timed out"
          module_name: "routing"
        }
        timestamp: 1700000000000
        remote_ips_per_site { rtep_group_id: 16384 }
        remote_ips_per_site { rtep_group_id: 65001 })",
       "0A 05 08 01 12 01 78 0A 02 08 00 12 17 08 AC 02 12 09 74 69 "
       "6D 65 64 20 6F 75 74 1A 07 72 6F 75 74 69 6E 67 18 80 D0 95 "
       "FF BC 31 22 04 08 80 80 01 22 04 08 E9 FB 03"},
      {"L2ForwarderRemoteIpsPerSiteMsg",
       R"(rtep_group_id: 127
        remote_active_ip { family: FAMILY_IPV6 address: "2001:db8::1" }
        remote_active_ip { family: FAMILY_IPV4 address: "192.0.2.1" }
        remote_standby_ip {}
        remote_standby_ip { family: FAMILY_IPV6 address: "2001:db8::1" })",
       "08 7F 12 0F 08 02 12 0B 32 30 30 31 3A 64 62 38 3A 3A 31 12 "
       "0D 08 01 12 09 31 39 32 2E 30 2E 32 2E 31 1A 00 1A 0F 08 02 "
       "12 0B 32 30 30 31 3A 64 62 38 3A 3A 31"},
      {"OspfNeighborDetailMsg",
       R"(priority: 2097152
        state: ""
        last_state_change: "0x8000000c"
        dead_time: "r1"
        neighbor_ip { family: FAMILY_IPV4 address: "192.0.2.1" }
        lr_interface_name: "10.0.0.0/24"
        retransmit_counter: 128
        request_counter: 300
        database_summary_counter: 4294967295)",
       "08 80 80 80 01 12 00 1A 0A 30 78 38 30 30 30 30 30 30 63 22 "
       "02 72 31 2A 0D 08 01 12 09 31 39 32 2E 30 2E 32 2E 31 32 0B "
       "31 30 2E 30 2E 30 2E 30 2F 32 34 38 80 01 40 AC 02 48 FF FF "
       "FF FF 0F"},
      {"OspfNeighborEntryMsg",
       R"(neighbor_id {}
        entry {
          priority: 1
          state: ""
          last_state_change: "uplink-1"
          dead_time: "a\000b"
          lr_interface_name: "caf\303\251"
          retransmit_counter: 0
          request_counter: 16384
          database_summary_counter: 65001
        }
        entry { priority: 127 })",
       "0A 00 12 24 08 01 12 00 1A 08 75 70 6C 69 6E 6B 2D 31 22 03 "
       "61 00 62 32 05 63 61 66 C3 A9 38 00 40 80 80 01 48 E9 FB 03 "
       "12 02 08 7F"},
      {"OspfNeighborMsg",
       R"(lrouter_id {}
        error {}
        timestamp: 0
        ospf_neighbor {
          neighbor_id { family: FAMILY_IPV6 address: "2001:db8::1" }
        }
        ospf_neighbor {
          neighbor_id { family: FAMILY_IPV4 address: "192.0.2.1" }
        })",
       "0A 00 12 00 18 00 22 11 0A 0F 08 02 12 0B 32 30 30 31 3A 64 "
       "62 38 3A 3A 31 22 0F 0A 0D 08 01 12 09 31 39 32 2E 30 2E 32 "
       "2E 31"},
      {"OspfRouteEntryMsg",
       R"(route_type: "65001 65002 i"
        cost: 2097152
        type_to_cost: 128
        area {}
        router_type: "x"
        nexthop { lr_interface_name: "" directly_attached: true }
        nexthop { lr_interface_name: "0x8000000c" }
        route_prefix: "r1")",
       "0A 0D 36 35 30 30 31 20 36 35 30 30 32 20 69 10 80 80 80 01 "
       "18 80 01 22 00 2A 01 78 32 04 12 00 18 01 32 0C 12 0A 30 78 "
       "38 30 30 30 30 30 30 63 3A 02 72 31"},
      {"OspfNextHopMsg",
       R"(neighbor_address { family: FAMILY_IPV6 address: "2001:db8::1" }
        lr_interface_name: "10.0.0.0/24"
        directly_attached: true)",
       "0A 0F 08 02 12 0B 32 30 30 31 3A 64 62 38 3A 3A 31 12 0B 31 "
       "30 2E 30 2E 30 2E 30 2F 32 34 18 01"},
      {"OspfRouteMsg",
       R"(lrouter_id { left: 1 right: 9223372036854775808 }
        error { error_code: 7 error_message: "" module_name: "ha" }
        timestamp: 150
        ospf_route {
          route_type: ""
          cost: 300
          type_to_cost: 4294967295
          router_type: "uplink-1"
          route_prefix: "a\000b"
        }
        ospf_route { route_type: "caf\303\251" })",
       "0A 12 09 01 00 00 00 00 00 00 00 11 00 00 00 00 00 00 00 80 "
       "12 08 08 07 12 00 1A 02 68 61 18 96 01 22 1A 0A 00 10 AC 02 "
       "18 FF FF FF FF 0F 2A 08 75 70 6C 69 6E 6B 2D 31 3A 03 61 00 "
       "62 22 07 0A 05 63 61 66 C3 A9"},
      {"OspfRouterLinkStateMsg",
       R"(ls_id: "65001 65002 i"
        advertised_router: "x"
        age: 1
        seq_num: ""
        check_sum: "0x8000000c"
        router_link: 0)",
       "0A 0D 36 35 30 30 31 20 36 35 30 30 32 20 69 12 01 78 18 01 "
       "22 00 2A 0A 30 78 38 30 30 30 30 30 30 63 30 00"},
      {"NetLinkStateMsg",
       R"(ls_id: "r1"
        advertised_router: "10.0.0.0/24"
        age: 16384
        seq_num: ""
        check_sum: "uplink-1")",
       "0A 02 72 31 12 0B 31 30 2E 30 2E 30 2E 30 2F 32 34 18 80 80 "
       "01 22 00 2A 08 75 70 6C 69 6E 6B 2D 31"},
      {"SummaryLinkStateMsg",
       R"(ls_id: "a\000b"
        advertised_router: "caf\303\251"
        age: 65001
        seq_num: "65001 65002 i"
        check_sum: "x"
        summary_address { family: FAMILY_IPV4 address: "192.0.2.1" })",
       "0A 03 61 00 62 12 05 63 61 66 C3 A9 18 E9 FB 03 22 0D 36 35 "
       "30 30 31 20 36 35 30 30 32 20 69 2A 01 78 32 0D 08 01 12 09 "
       "31 39 32 2E 30 2E 32 2E 31"},
      {"ExternalLinkStateMsg",
       R"(ls_id: ""
        advertised_router: "0x8000000c"
        age: 127
        seq_num: "r1"
        check_sum: "10.0.0.0/24"
        route {}
        tag: 2097152
        metric_type: "")",
       "0A 00 12 0A 30 78 38 30 30 30 30 30 30 63 18 7F 22 02 72 31 "
       "2A 0B 31 30 2E 30 2E 30 2E 30 2F 32 34 32 00 38 80 80 80 01 "
       "42 00"},
      {"OspfDatabaseEntryMsg",
       R"(area { family: FAMILY_IPV6 address: "2001:db8::1" }
        router_link_state {
          ls_id: "uplink-1"
          advertised_router: "a\000b"
          age: 128
          seq_num: "caf\303\251"
          check_sum: "65001 65002 i"
          router_link: 300
        }
        router_link_state { ls_id: "x" }
        net_link_state {
          ls_id: ""
          advertised_router: "0x8000000c"
          age: 4294967295
          seq_num: "r1"
          check_sum: "10.0.0.0/24"
        }
        net_link_state { ls_id: "" }
        summary_link_state {
          ls_id: "uplink-1"
          advertised_router: "a\000b"
          age: 1
          seq_num: "caf\303\251"
          check_sum: "65001 65002 i"
        }
        summary_link_state { ls_id: "x" }
        ext_link_state {
          ls_id: ""
          advertised_router: "0x8000000c"
          age: 0
          seq_num: "r1"
          check_sum: "10.0.0.0/24"
          tag: 16384
          metric_type: ""
        }
        ext_link_state { ls_id: "uplink-1" }
        nssa_ext_link_state {
          ls_id: "a\000b"
          advertised_router: "caf\303\251"
          age: 65001
          seq_num: "65001 65002 i"
          check_sum: "x"
          tag: 127
          metric_type: ""
        }
        nssa_ext_link_state { ls_id: "0x8000000c" }
        asbr_summary_link_state {
          ls_id: "r1"
          advertised_router: "10.0.0.0/24"
          age: 2097152
          seq_num: ""
          check_sum: "uplink-1"
        }
        asbr_summary_link_state { ls_id: "a\000b" })",
       "0A 0F 08 02 12 0B 32 30 30 31 3A 64 62 38 3A 3A 31 12 2B 0A "
       "08 75 70 6C 69 6E 6B 2D 31 12 03 61 00 62 18 80 01 22 05 63 "
       "61 66 C3 A9 2A 0D 36 35 30 30 31 20 36 35 30 30 32 20 69 30 "
       "AC 02 12 03 0A 01 78 1A 25 0A 00 12 0A 30 78 38 30 30 30 30 "
       "30 30 63 18 FF FF FF FF 0F 22 02 72 31 2A 0B 31 30 2E 30 2E "
       "30 2E 30 2F 32 34 1A 02 0A 00 22 27 0A 08 75 70 6C 69 6E 6B "
       "2D 31 12 03 61 00 62 18 01 22 05 63 61 66 C3 A9 2A 0D 36 35 "
       "30 30 31 20 36 35 30 30 32 20 69 22 03 0A 01 78 2A 27 0A 00 "
       "12 0A 30 78 38 30 30 30 30 30 30 63 18 00 22 02 72 31 2A 0B "
       "31 30 2E 30 2E 30 2E 30 2F 32 34 38 80 80 01 42 00 2A 0A 0A "
       "08 75 70 6C 69 6E 6B 2D 31 32 26 0A 03 61 00 62 12 05 63 61 "
       "66 C3 A9 18 E9 FB 03 22 0D 36 35 30 30 31 20 36 35 30 30 32 "
       "20 69 2A 01 78 38 7F 42 00 32 0C 0A 0A 30 78 38 30 30 30 30 "
       "30 30 63 3A 22 0A 02 72 31 12 0B 31 30 2E 30 2E 30 2E 30 2F "
       "32 34 18 80 80 80 01 22 00 2A 08 75 70 6C 69 6E 6B 2D 31 3A "
       "05 0A 03 61 00 62"},
      {"OspfDatabaseMsg",
       R"(lrouter_id {
          left: 81985529216486895
          right: 18364758544493064720
        }
        error {
          error_code: 300
          error_message: "timed out"
          module_name: "routing"
        }
        timestamp: 34359738368
        ospf_database {
          area { family: FAMILY_IPV4 address: "192.0.2.1" }
        }
        ospf_database {
          area { family: FAMILY_IPV6 address: "2001:db8::1" }
        })",
       "0A 12 09 EF CD AB 89 67 45 23 01 11 10 32 54 76 98 BA DC FE "
       "12 17 08 AC 02 12 09 74 69 6D 65 64 20 6F 75 74 1A 07 72 6F "
       "75 74 69 6E 67 18 80 80 80 80 80 01 22 0F 0A 0D 08 01 12 09 "
       "31 39 32 2E 30 2E 32 2E 31 22 11 0A 0F 08 02 12 0B 32 30 30 "
       "31 3A 64 62 38 3A 3A 31"},
      {"FrrRouteCountMsg",
       R"(lrouter_id {}
        timestamp: 72057594037927936
        error {}
        ipv4RouteCount: 9223372036854775809
        ipv6RouteCount: 18446744073709551615
        all_vrf: false)",
       "0A 00 10 80 80 80 80 80 80 80 80 01 1A 00 20 81 80 80 80 80 "
       "80 80 80 80 01 28 FF FF FF FF FF FF FF FF FF 01 30 00"},
      {"GreTunnelStatusMsg",
       R"(service_router_id { left: 1 right: 9223372036854775808 }
        gre_tunnel_status: DOWN)",
       "0A 12 09 01 00 00 00 00 00 00 00 11 00 00 00 00 00 00 00 80 "
       "10 02"},
      {"GreTunnelPerNodeMsg",
       R"(timestamp: 9223372036854775808
        error { error_code: 7 error_message: "" module_name: "ha" }
        tunnel_status { gre_tunnel_status: UP }
        tunnel_status { gre_tunnel_status: UP })",
       "08 80 80 80 80 80 80 80 80 80 01 12 08 08 07 12 00 1A 02 68 "
       "61 1A 02 10 01 1A 02 10 01"},
      {"GreTunnelStatsMsg",
       R"(service_router_id {
          left: 81985529216486895
          right: 18364758544493064720
        }
        timestamp: 1700000000000
        error {
          error_code: 300
          error_message: "timed out"
          module_name: "routing"
        }
        gre_tunnel_id {}
        tunnel_up_count: 0
        tunnel_last_up_time: 150
        tunnel_down_count: 34359738368
        tunnel_last_down_time: 72057594037927936
        keepalive_tx: 9223372036854775809
        keepalive_last_tx_time: 18446744073709551615
        keepalive_rx: 9223372036854775808
        keepalive_last_rx_time: 1700000000000
        keepalive_ack_sent: 0
        keepalive_last_ack_time: 150
        keepalive_admin_state: DISABLED)",
       "0A 12 09 EF CD AB 89 67 45 23 01 11 10 32 54 76 98 BA DC FE "
       "10 80 D0 95 FF BC 31 1A 17 08 AC 02 12 09 74 69 6D 65 64 20 "
       "6F 75 74 1A 07 72 6F 75 74 69 6E 67 22 00 28 00 30 96 01 38 "
       "80 80 80 80 80 01 40 80 80 80 80 80 80 80 80 01 48 81 80 80 "
       "80 80 80 80 80 80 01 50 FF FF FF FF FF FF FF FF FF 01 58 80 "
       "80 80 80 80 80 80 80 80 01 60 80 D0 95 FF BC 31 68 00 70 96 "
       "01 78 02"},
  };
  return *vectors;
}

const std::vector<RecordVector>& RecordVectors() {
  static const auto* vectors = new std::vector<RecordVector>{
      // Route tables.
      {"RouteTable", "RouteTableMsg",
       R"(lrouter_id: "r1"
        timestamp: 300
        route { route_type: "c" admin_distance: -1 })",
       "0A 02 72 31 10 AC 02 22 0E 0A 01 63 28 FF FF FF FF FF FF FF FF FF 01",
       nullptr},
      {"RouteEntryNegativeDistance", "RouteEntryMsg",
       R"(route_type: "c" admin_distance: -1)",
       "0A 01 63 28 FF FF FF FF FF FF FF FF FF 01", nullptr},
      {"EmptyRouteTable", "RouteTableMsg", "", "", nullptr},
      {"RouteTableEmptyError", "RouteTableMsg", "error {}", "1A 00", nullptr},
      {"RoutesInTwoRuns", "RouteTableMsg",
       R"(route { route_type: "a" } route { route_type: "b" } lrouter_uuid {})",
       "22 03 0A 01 61 22 03 0A 01 62 2A 00",
       "22 03 0A 01 61 2A 00 22 03 0A 01 62"},
      {"AllVrfTrue", "FrrRouteCountMsg", "all_vrf: true", "30 01", nullptr},
      {"AllVrfFalse", "FrrRouteCountMsg", "all_vrf: false", "30 00", nullptr},
      {"Ipv4RouteCountMax", "FrrRouteCountMsg",
       "ipv4RouteCount: 18446744073709551615",
       "20 FF FF FF FF FF FF FF FF FF 01", nullptr},
      // Router port location and ARP tables.
      {"PortLocation", "LogicalRouterPortLocationMsg",
       R"(router_port_id: "p1" tnode_id: "t1" tnode_id: "t2")",
       "0A 02 70 31 1A 02 74 31 1A 02 74 32", nullptr},
      {"ArpTable", "LogicalRouterPortArpTableMsg",
       R"(lrouter_port_id: "p1"
        arp { mac_address: "00:11:22:33:44:55" ip: "10.0.0.1" })",
       "0A 02 70 31 22 1D 0A 11 30 30 3A 31 31 3A 32 32 3A 33 33 3A 34 34 "
       "3A 35 35 12 08 31 30 2E 30 2E 30 2E 31",
       nullptr},
      {"ArpEmptyEntry", "LogicalRouterPortArpTableMsg", "arp {}", "22 00",
       nullptr},
      // BGP neighbour sessions: fields 16 to 23 have two-byte tags.
      {"HoldTime", "BgpNeighborEntryMsg", "hold_time: 90", "80 01 5A", nullptr},
      {"GrModeEnable", "BgpNeighborEntryMsg", "gr_mode: GR_ENABLE", "B8 01 02",
       nullptr},
      {"GrModeHelperOnly", "BgpNeighborEntryMsg",
       "gr_mode: GR_HELPER_ONLY_MODE", "B8 01 03", nullptr},
      {"NegotiatedCapability", "BgpNeighborEntryMsg",
       "negotiated_capability: 513", "68 81 04", nullptr},
      {"NeighborCapabilityValues", "BgpNeighborEntryMsg",
       R"(neighbor_capability_value: "" neighbor_capability_value: "x")",
       "B2 01 00 B2 01 01 78", nullptr},
      {"CapabilityValuesInterleaved", "BgpNeighborEntryMsg",
       R"(negotiated_capability_value: "a"
        negotiated_capability_value: "c"
        neighbor_capability_value: "b")",
       "AA 01 01 61 AA 01 01 63 B2 01 01 62",
       "AA 01 01 61 B2 01 01 62 AA 01 01 63"},
      {"GracefullRestartFalse", "BgpNeighborEntryMsg",
       "gracefull_restart: false", "30 00", nullptr},
      {"GracefullRestartFromWideVarint", "BgpNeighborEntryMsg",
       "gracefull_restart: true", "30 01", "30 80 80 80 80 10"},
      // BGP neighbour routes: the two entry types number four fields apart.
      {"RouteEntryWeight", "NeighborRouteEntryMsg", "weight: 100", "20 64",
       nullptr},
      {"AdvRouteEntryWeight", "NeighborAdvRouteEntryMsg", "weight: 100",
       "38 64", nullptr},
      {"RouteEntryOrigin", "NeighborRouteEntryMsg",
       "route_origin: ORIGIN_EXTERNAL", "38 03", nullptr},
      {"AdvRouteEntryWeightAsOrigin", "NeighborAdvRouteEntryMsg", "weight: 3",
       "38 03", nullptr},
      {"RouteEntryWeightAsMed", "NeighborRouteEntryMsg", "weight: 5", "20 05",
       nullptr},
      {"AdvRouteEntryMed", "NeighborAdvRouteEntryMsg", "med: 5", "20 05",
       nullptr},
      {"RouteEntryAspath", "NeighborRouteEntryMsg", R"(aspath: "1")",
       "32 01 31", nullptr},
      // BGP neighbour status summaries.
      {"NeighborStatusEstablished", "BgpNeighborStatusMsg",
       "bgp_connection_state: ESTABLISHED", "20 06", nullptr},
      {"NeighborStatusEmptyVrf", "BgpNeighborStatusMsg", R"(vrf_name: "")",
       "2A 00", nullptr},
      {"StatusPerLrEmptyRouter", "BgpNeighborStatusPerLrMsg", "lrouter_id {}",
       "0A 00", nullptr},
      // Logical router HA status.
      {"RouterHaActive", "LogicalRouterStatusMsg", "ha_status: ACTIVE", "18 00",
       nullptr},
      {"RoutingDown", "LogicalRouterStatusMsg", "routing_state: ROUTING_DOWN",
       "58 02", nullptr},
      {"ResourcesMax", "LogicalRouterStatusMsg",
       "resources: 18446744073709551615", "28 FF FF FF FF FF FF FF FF FF 01",
       nullptr},
      {"ServiceGroupsBeforeCounts", "LogicalRouterStatusMsg",
       R"(service_group_status {}
        service_group_status {}
        service_group_status {}
        bgp_up_count: 128)",
       "32 00 32 00 32 00 38 80 01", nullptr},
      {"ServiceGroupStandby", "ServiceGroupHaStatusMsg",
       "ha_status: HA_STANDBY", "10 02", nullptr},
      // Edge node and cluster health.
      {"RAwait", "EdgeNodeStatusMsg", "r_await: 1.5", "35 00 00 C0 3F",
       nullptr},
      {"RAwaitZero", "EdgeNodeStatusMsg", "r_await: 0", "35 00 00 00 00",
       nullptr},
      {"WAwaitInfinity", "EdgeNodeStatusMsg", "w_await: inf", "3D 00 00 80 7F",
       nullptr},
      {"StorageModeUnknown", "EdgeNodeStatusMsg", "storage_mode: UNKNOWN",
       "28 03", nullptr},
      {"PeerUnreachable", "PeerEdgeNodeStatusMsg", "status: UNREACHABLE",
       "18 04", nullptr},
      {"PeerBfdListsGrouped", "PeerEdgeNodeStatusMsg",
       R"(vtep_bfd { interface_name: "v" }
        mgmt_bfd { interface_name: "m1" }
        mgmt_bfd { interface_name: "m2" })",
       "22 03 0A 01 76 2A 04 0A 02 6D 31 2A 04 0A 02 6D 32",
       "2A 04 0A 02 6D 31 22 03 0A 01 76 2A 04 0A 02 6D 32"},
      {"SelfRecordsMerge", "EdgeClusterStatusMsg",
       "self { status: DOWN storage_mode: READ_WRITE }", "0A 04 10 02 28 01",
       "0A 04 10 01 28 01 0A 02 10 02"},
      // Multicast.
      {"McastTtl", "McastRouteEntryMsg", "ttl: 1", "28 01", nullptr},
      {"McastUptime", "McastRouteEntryMsg", R"(uptime: "0")", "32 01 30",
       nullptr},
      {"McastLastOutputInterfaceWins", "McastRouteEntryMsg",
       R"(output_interface: "b")", "22 01 62", "22 01 61 22 01 62"},
      {"McastOutputInterfaceRecordsAsString", "McastRouteEntryMsg",
       R"(output_interface: "")", "22 00", "22 00 22 00 22 00"},
      {"MfibOutputInterfaces", "McastForwardEntryMsg",
       "output_interface {} output_interface {} output_interface {}",
       "22 00 22 00 22 00", nullptr},
      {"MfibTimestampZero", "McastForwardTableMsg", "timestamp: 0", "10 00",
       nullptr},
      {"IAmRp", "McastPimRpMappingEntryMsg", R"(i_am_rp: "1")", "2A 01 31",
       nullptr},
      {"IAmRpEmpty", "McastPimRpMappingEntryMsg", R"(i_am_rp: "")", "2A 00",
       nullptr},
      {"IgmpVersion", "McastIgmpMembershipEntryMsg", "igmp_version: 3", "28 03",
       nullptr},
      {"IgmpSources", "McastIgmpMembershipEntryMsg", "no_of_sources: 300",
       "20 AC 02", nullptr},
      // OSPF.
      {"OspfPriorityAndState", "OspfNeighborDetailMsg",
       R"(priority: 1 state: "A")", "08 01 12 01 41", nullptr},
      {"OspfPriorityZero", "OspfNeighborDetailMsg", "priority: 0", "08 00",
       nullptr},
      {"OspfPriorityFromWideVarint", "OspfNeighborDetailMsg", "priority: 1",
       "08 01", "08 81 80 80 80 10"},
      {"NextHop", "OspfNextHopMsg",
       R"(lr_interface_name: "abc" directly_attached: true)",
       "12 03 61 62 63 18 01", nullptr},
      {"NextHopDirectlyAttachedFromTwo", "OspfNextHopMsg",
       "directly_attached: true", "18 01", "18 02"},
      {"NextHopNotDirectlyAttached", "OspfNextHopMsg",
       "directly_attached: false", "18 00", nullptr},
      {"OspfCostsZero", "OspfRouteEntryMsg", "cost: 0 type_to_cost: 0",
       "10 00 18 00", nullptr},
      {"OspfNextHopsBeforePrefix", "OspfRouteEntryMsg",
       R"(nexthop { lr_interface_name: "a" }
        nexthop { lr_interface_name: "b" }
        route_prefix: "p")",
       "32 03 12 01 61 32 03 12 01 62 3A 01 70",
       "3A 01 70 32 03 12 01 61 32 03 12 01 62"},
      {"NetLinkState", "NetLinkStateMsg", R"(ls_id: "A" age: 300)",
       "0A 01 41 18 AC 02", nullptr},
      {"SummaryListsInArrivalOrder", "OspfDatabaseEntryMsg",
       R"(summary_link_state { ls_id: "s" }
        asbr_summary_link_state { ls_id: "a1" }
        asbr_summary_link_state { ls_id: "a2" })",
       "22 03 0A 01 73 3A 04 0A 02 61 31 3A 04 0A 02 61 32",
       "3A 04 0A 02 61 31 22 03 0A 01 73 3A 04 0A 02 61 32"},
      {"ExternalAndNssaExternal", "OspfDatabaseEntryMsg",
       "ext_link_state { tag: 1 } nssa_ext_link_state { tag: 1 }",
       "2A 02 38 01 32 02 38 01", nullptr},
      // Inter-site statistics.
      {"Counters", "InterSitePortCountersMsg",
       "total_bytes: 1 blocked_packets: 0", "08 01 20 00", nullptr},
      {"CounterMinusOne", "InterSitePortCountersMsg", "total_bytes: -1",
       "08 FF FF FF FF FF FF FF FF FF 01", nullptr},
      {"PerSiteEmptyRx", "RemoteTunnelPortStatisticsPerSiteMsg", "rx {}",
       "12 00", nullptr},
      {"RxRecordsMerge", "RemoteTunnelStatisticsMsg",
       "rx { total_bytes: 5 total_packets: 6 }", "1A 04 08 05 10 06",
       "1A 02 08 05 1A 02 10 06"},
      // GRE tunnels.
      {"GreUp", "GreTunnelStatusMsg", "gre_tunnel_status: UP", "10 01",
       nullptr},
      {"GreInvalid", "GreTunnelStatusMsg", "gre_tunnel_status: INVALID",
       "10 00", nullptr},
      {"KeepaliveDisabled", "GreTunnelStatsMsg",
       "keepalive_admin_state: DISABLED", "78 02", nullptr},
      // L2 forwarder.
      {"L2Active", "L2ForwarderStatusMsg", "ha_status: ACTIVE", "10 00",
       nullptr},
      {"L2Unknown", "L2ForwarderStatusMsg", "ha_status: UNKNOWN", "10 04",
       nullptr},
      {"L2EnumFromWideVarint", "L2ForwarderStatusMsg", "ha_status: UNKNOWN",
       "10 04", "10 84 80 80 80 10"},
      {"RemoteMacs", "L2ForwarderRemoteMacsPerSiteMsg",
       R"(rtep_group_id: 1 remote_mac_address: "ab" remote_mac_address: "")",
       "08 01 12 02 61 62 12 00", nullptr},
      {"RemoteTablesInFieldOrder", "L2ForwarderRemoteMacsMsg",
       R"(remote_macs_per_site { rtep_group_id: 1 }
        timestamp: 5
        remote_ips_per_site { rtep_group_id: 2 })",
       "0A 02 08 01 18 05 22 02 08 02", "22 02 08 02 0A 02 08 01 18 05"},
      {"L2StatisticsTimestamp", "L2ForwarderStatisticsMsg", "timestamp: 1",
       "20 01", nullptr},
  };
  return *vectors;
}

}  // namespace ostrel::testdata
