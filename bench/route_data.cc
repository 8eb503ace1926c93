#include "route_data.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::bench {
namespace {

namespace l3 = ::ostrel::ruk::agg_service::l3;

// splitmix64: fixed seed, so every run and every peer sees the same bytes.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  bool Percent(uint32_t p) { return Below(100) < p; }

 private:
  uint64_t state_;
};

// Prefix lengths weighted as in a full table: /24 (IPv4) and /48 (IPv6)
// dominate, the rest spread over the shorter lengths.
std::string Prefix(Rng& rng) {
  char buf[64];
  if (rng.Percent(85)) {
    static constexpr int kLengths[] = {24, 24, 24, 24, 24, 24, 23, 22,
                                       22, 21, 20, 19, 18, 17, 16, 14};
    int len = kLengths[rng.Below(16)];
    uint32_t addr = static_cast<uint32_t>(rng.Next());
    addr = (addr % (223u << 24)) + (1u << 24);
    addr &= ~((1u << (32 - len)) - 1);
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u/%d", addr >> 24,
                  (addr >> 16) & 255, (addr >> 8) & 255, addr & 255, len);
  } else {
    static constexpr int kLengths[] = {48, 48, 48, 48, 48, 44, 40, 36,
                                       32, 32, 29, 48, 48, 47, 46, 48};
    int len = kLengths[rng.Below(16)];
    uint32_t a = 0x2000 + rng.Below(0x1000);
    uint32_t b = rng.Below(0x10000);
    uint32_t c = len > 32 ? rng.Below(0x10000) : 0;
    if (len < 48 && len > 32) c &= ~((1u << (48 - len)) - 1);
    if (c != 0) {
      std::snprintf(buf, sizeof buf, "%x:%x:%x::/%d", a, b, c, len);
    } else {
      std::snprintf(buf, sizeof buf, "%x:%x::/%d", a, b, len);
    }
  }
  return buf;
}

// A router has few next hops: its uplink peers, IPv4 or IPv6 to match the
// prefix.
std::string NextHop(Rng& rng, const std::string& prefix) {
  static constexpr const char* kV4[] = {"100.64.0.1", "100.64.0.5",
                                        "169.254.0.2", "192.168.240.1"};
  static constexpr const char* kV6[] = {"fc00:0:0:1::1", "fc00:0:0:2::1",
                                        "fe80::250:56ff:fe8c:1"};
  if (prefix.find(':') != std::string::npos) return kV6[rng.Below(3)];
  return kV4[rng.Below(4)];
}

std::string UuidText(Rng& rng) {
  char buf[40];
  uint64_t a = rng.Next(), b = rng.Next();
  std::snprintf(
      buf, sizeof buf, "%08x-%04x-%04x-%04x-%012llx",
      static_cast<uint32_t>(a >> 32), static_cast<uint32_t>(a >> 16) & 0xffff,
      static_cast<uint32_t>(a) & 0xffff, static_cast<uint32_t>(b >> 48),
      static_cast<unsigned long long>(b & 0xffffffffffffULL));
  return buf;
}

// 1 to 9 hops, most paths 3 to 5 long, ASNs of 2 to 6 digits and sometimes
// prepended.
std::string AsPath(Rng& rng) {
  static constexpr int kHops[] = {1, 2, 3, 3, 4, 4, 4, 5, 5, 6, 7, 9};
  static constexpr uint32_t kTransit[] = {174,  1299, 2914, 3257, 3356,
                                          6453, 6762, 6939, 7018, 3320};
  int hops = kHops[rng.Below(12)];
  std::string path = "65001";
  for (int i = 1; i < hops; ++i) {
    uint32_t asn = i < 3             ? kTransit[rng.Below(10)]
                   : rng.Percent(30) ? 200000 + rng.Below(200000)
                                     : 1000 + rng.Below(64000);
    int copies = rng.Percent(10) ? 3 : 1;
    for (int c = 0; c < copies; ++c) {
      path += ' ';
      path += std::to_string(asn);
    }
  }
  return path;
}

void FillRouteTable(l3::RouteTableMsg* table, int routes, bool with_uuid,
                    Rng& rng) {
  table->set_lrouter_id(UuidText(rng));
  table->set_timestamp(1733472000123);
  table->mutable_lrouter_uuid()->set_left(rng.Next());
  table->mutable_lrouter_uuid()->set_right(rng.Next());
  uint64_t ports[8][2];
  for (auto& port : ports) {
    port[0] = rng.Next();
    port[1] = rng.Next();
  }
  table->mutable_route()->Reserve(routes);
  for (int i = 0; i < routes; ++i) {
    l3::RouteEntryMsg* route = table->add_route();
    std::string network = Prefix(rng);
    uint32_t kind = rng.Below(1000);
    if (kind < 990) {
      route->set_route_type("b");
      route->set_admin_distance(rng.Percent(80) ? 20 : 200);
    } else if (kind < 996) {
      route->set_route_type("s");
      route->set_admin_distance(1);
    } else {
      route->set_route_type("c");
      route->set_admin_distance(0);
    }
    route->set_next_hop(NextHop(rng, network));
    route->set_network(std::move(network));
    if (with_uuid) {
      const uint64_t* port = ports[rng.Below(8)];
      route->mutable_lrouter_port_uuid()->set_left(port[0]);
      route->mutable_lrouter_port_uuid()->set_right(port[1]);
    }
  }
}

void FillBgpRoutes(l3::BgpNeighborRoutesMsg* table, int routes, Rng& rng) {
  table->set_lrouter_id(UuidText(rng));
  table->mutable_neighbor_ip()->set_family(ruk::IpAddressMsg::FAMILY_IPV4);
  table->mutable_neighbor_ip()->set_address("192.168.240.1");
  table->set_timestamp(1733472000123);
  table->mutable_route()->Reserve(routes);
  for (int i = 0; i < routes; ++i) {
    l3::NeighborRouteEntryMsg* route = table->add_route();
    std::string network = Prefix(rng);
    route->set_next_hop(NextHop(rng, network));
    route->set_network(std::move(network));
    route->set_local_preference(rng.Percent(90) ? 100 : 200);
    route->set_weight(rng.Percent(95) ? 0 : 32768);
    route->set_med(rng.Percent(60) ? 0 : rng.Below(5000));
    route->set_aspath(AsPath(rng));
    uint32_t origin = rng.Below(100);
    route->set_route_origin(origin < 85   ? l3::ORIGIN_INTERNAL
                            : origin < 97 ? l3::ORIGIN_INCOMPLETE
                                          : l3::ORIGIN_EXTERNAL);
  }
}

}  // namespace

const char* DatasetName(Dataset dataset) {
  switch (dataset) {
    case Dataset::kRouteTable:
      return "route_table";
    case Dataset::kRouteTableUuid:
      return "route_table_uuid";
    case Dataset::kBgpRoutes:
      return "bgp_routes";
  }
  return "?";
}

const google::protobuf::Descriptor* DatasetDescriptor(Dataset dataset) {
  return dataset == Dataset::kBgpRoutes ? l3::BgpNeighborRoutesMsg::descriptor()
                                        : l3::RouteTableMsg::descriptor();
}

std::string MakeReport(Dataset dataset, int routes) {
  Rng rng(0x6f7374726c + routes);
  if (dataset == Dataset::kBgpRoutes) {
    l3::BgpNeighborRoutesMsg table;
    FillBgpRoutes(&table, routes, rng);
    return table.SerializeAsString();
  }
  l3::RouteTableMsg table;
  FillRouteTable(&table, routes, dataset == Dataset::kRouteTableUuid, rng);
  return table.SerializeAsString();
}

}  // namespace ostrel::bench
