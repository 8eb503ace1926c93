// Realistic route reports for the benchmarks, generated deterministically so
// that every run and every peer sees the same bytes.

#ifndef OSTREL_BENCH_ROUTE_DATA_H_
#define OSTREL_BENCH_ROUTE_DATA_H_

#include <google/protobuf/descriptor.h>

#include <string>

namespace ostrel::bench {

enum class Dataset {
  // RouteTableMsg: type, network, next hop and distance per route.
  kRouteTable,
  // RouteTableMsg as above, every route also naming its port as a UuidMsg.
  kRouteTableUuid,
  // BgpNeighborRoutesMsg with AS paths and BGP attributes.
  kBgpRoutes,
};

inline constexpr Dataset kAllDatasets[] = {
    Dataset::kRouteTable, Dataset::kRouteTableUuid, Dataset::kBgpRoutes};

const char* DatasetName(Dataset dataset);

// The top-level message type of the dataset's report.
const google::protobuf::Descriptor* DatasetDescriptor(Dataset dataset);

// The serialized report with `routes` routes. A full Internet table is about
// a million routes, 85% IPv4 and 15% IPv6, mostly /24 and /48.
std::string MakeReport(Dataset dataset, int routes);

}  // namespace ostrel::bench

#endif  // OSTREL_BENCH_ROUTE_DATA_H_
