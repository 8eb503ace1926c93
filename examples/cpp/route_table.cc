// Fill a route table, send it as bytes, read it back, and look a type up by
// name: the whole life of a report in one small program.

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <iostream>
#include <memory>
#include <string>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace l3 = ostrel::ruk::agg_service::l3;

int main() {
  l3::RouteTableMsg table;
  table.set_lrouter_id("lr-edge-01");
  table.set_timestamp(1764979200);
  table.mutable_lrouter_uuid()->set_left(0x3f2c9a1e00000000);
  for (const char* network : {"0.0.0.0/0", "10.20.0.0/16"}) {
    l3::RouteEntryMsg* route = table.add_route();
    route->set_route_type("static");
    route->set_network(network);
    route->set_next_hop("192.0.2.1");
    route->set_admin_distance(1);
  }

  const std::string wire = table.SerializeAsString();

  l3::RouteTableMsg received;
  if (!received.ParseFromString(wire)) {
    std::cerr << "malformed RouteTableMsg\n";
    return 1;
  }
  std::cout << received.lrouter_id() << ": " << received.route_size()
            << " routes, " << wire.size() << " bytes\n";

  // Consumers without our headers find the same types by name.
  const google::protobuf::Descriptor* type =
      google::protobuf::DescriptorPool::generated_pool()->FindMessageTypeByName(
          "ostrel.ruk.agg_service.l3.RouteTableMsg");
  std::unique_ptr<google::protobuf::Message> generic(
      google::protobuf::MessageFactory::generated_factory()
          ->GetPrototype(type)
          ->New());
  if (!generic->ParseFromString(wire)) return 1;
  std::cout << generic->ShortDebugString().substr(0, 60) << "...\n";
  return 0;
}
