#include <ostrel/report_diff.h>

#include <iostream>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace l3 = ostrel::ruk::agg_service::l3;
namespace diff = ostrel::report_diff;

int main() {
  l3::RouteTableMsg before;
  before.set_lrouter_id("lr-edge-01");
  l3::RouteEntryMsg* route = before.add_route();
  route->set_network("10.20.0.0/16");
  route->set_next_hop("192.0.2.1");
  route->set_admin_distance(1);

  l3::RouteTableMsg after = before;
  after.mutable_route(0)->set_admin_distance(5);
  after.add_route()->set_network("10.30.0.0/16");

  // Lists are matched by key: a route by its network and next hop.
  const diff::Keys keys(*l3::RouteTableMsg::descriptor());
  for (const diff::Difference& d : diff::Compare(before, after, keys)) {
    std::cout << diff::ToLine(d) << "\n";
  }
  // Prints that the admin_distance of route 10.20.0.0/16 via 192.0.2.1
  // changed from 1 to 5, and that route 10.30.0.0/16 was added.
}
