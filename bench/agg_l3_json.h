// agg-l3's JSON conversions of a whole report against its JSON lines
// (--each), on the same report: the lines must keep up with the whole.

#ifndef OSTREL_BENCH_AGG_L3_JSON_H_
#define OSTREL_BENCH_AGG_L3_JSON_H_

#include <benchmark/benchmark.h>
#include <google/protobuf/descriptor.h>

#include <string>

namespace ostrel::bench {

// decode --json (whole) or decode --each route, from `wire`.
void AggL3Decode(benchmark::State& state, const std::string& wire,
                 const google::protobuf::Descriptor& type, bool each);

// encode --json (whole) or encode --each route, back to `wire`.
void AggL3Encode(benchmark::State& state, const std::string& wire,
                 const google::protobuf::Descriptor& type, bool each);

}  // namespace ostrel::bench

#endif  // OSTREL_BENCH_AGG_L3_JSON_H_
