// Fills a route table report and prints its wire bytes in hex, the same
// report as route_report.py.

#include <ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h>

#include <cstdio>

int main() {
  ostrel::ruk::agg_service::l3::RouteTableMsg table;
  table.set_lrouter_id("lr-edge-01");
  table.set_timestamp(1700000000);
  auto* route = table.add_route();
  route->set_network("10.0.0.0/24");
  route->set_next_hop("192.0.2.1");
  route->set_admin_distance(20);
  table.mutable_lrouter_uuid()->set_left(1);

  ostrel::ruk::agg_service::l3::RouteTableMsg parsed;
  if (!parsed.ParseFromString(table.SerializeAsString()) ||
      parsed.route(0).next_hop() != "192.0.2.1") {
    std::puts("route table does not round-trip");
    return 1;
  }
  for (unsigned char byte : table.SerializeAsString()) {
    std::printf("%02x", byte);
  }
  std::puts("");
}
