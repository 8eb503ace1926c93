// Write a route table one route at a time, then read it back the same way:
// memory stays bounded by one route, however long the table.

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <ostrel/report_stream.h>
#include <ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h>

#include <iostream>
#include <string>

namespace l3 = ostrel::ruk::agg_service::l3;
using ostrel::report_stream::ReportReader;
using ostrel::report_stream::ReportWriter;

int main() {
  std::string wire;  // a file or socket would do the same
  {
    google::protobuf::io::StringOutputStream output(&wire);
    l3::RouteTableMsg header;
    header.set_lrouter_id("lr-edge-01");
    ReportWriter writer(
        &output, header,
        *l3::RouteTableMsg::descriptor()->FindFieldByName("route"));
    l3::RouteEntryMsg route;
    for (int i = 0; i < 1000; ++i) {
      route.set_network("10." + std::to_string(i / 256) + "." +
                        std::to_string(i % 256) + ".0/24");
      route.set_next_hop("192.0.2.1");
      writer.Add(route);
    }
    if (!writer.Finish()) return 1;
  }

  google::protobuf::io::ArrayInputStream input(wire.data(),
                                               static_cast<int>(wire.size()));
  ReportReader reader(&input, *l3::RouteTableMsg::descriptor(), {"route"});
  int routes = 0;
  while (reader.Next()) {
    switch (reader.event()) {
      case ReportReader::kHeader:  // the fields before the first route
        std::cout << static_cast<const l3::RouteTableMsg&>(reader.header())
                         .lrouter_id();
        break;
      case ReportReader::kElement:  // one route; the object is reused
        routes += static_cast<const l3::RouteEntryMsg&>(reader.element())
                      .next_hop() == "192.0.2.1";
        break;
      case ReportReader::kLateField:  // a header field after the routes
        break;
    }
  }
  if (!reader.ok()) {  // "RouteTableMsg: element 41 of route at byte 81920:
                       // malformed"
    std::cerr << reader.error() << "\n";
    return 1;
  }
  std::cout << ": " << routes << " routes streamed\n";
  return 0;
}
