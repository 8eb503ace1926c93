// What a comparison of two route tables costs against parsing both: the new
// report differs from the old one in 1% of its routes (a third changed, a
// third removed, a third added). Prints the ratio of the medians, measured
// in this one run, and the memory the comparison holds against one parsed
// report.

#include <benchmark/benchmark.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ostrel/report_diff.h"
#include "ostrel/report_stream.h"
#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "route_data.h"

namespace ostrel::bench {
namespace {

namespace l3 = ::ostrel::ruk::agg_service::l3;
namespace diff = ::ostrel::report_diff;

struct Pair {
  std::string old_report;
  std::string new_report;
  int changed_routes = 0;
};

const Pair& Reports(int routes) {
  static auto* pairs = new std::map<int, Pair>;
  Pair& pair = (*pairs)[routes];
  if (!pair.old_report.empty()) return pair;
  pair.old_report = MakeReport(Dataset::kRouteTable, routes);
  l3::RouteTableMsg table;
  table.ParseFromString(pair.old_report);
  for (int i = 0; i < table.route_size(); i += 100) {
    l3::RouteEntryMsg* route = table.mutable_route(i);
    switch (i / 100 % 3) {
      case 0:
        route->set_admin_distance(route->admin_distance() + 1);
        break;
      case 1:
        route->set_next_hop("198.51.100.7");  // a route elsewhere
        break;
      default:
        route->clear_network();  // removed, and a route without a network
        break;
    }
    ++pair.changed_routes;
  }
  pair.new_report = table.SerializeAsString();
  return pair;
}

uint64_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

void ParseBoth(benchmark::State& state) {
  const Pair& pair = Reports(state.range(0));
  for (auto _ : state) {
    auto old_table = std::make_unique<l3::RouteTableMsg>();
    auto new_table = std::make_unique<l3::RouteTableMsg>();
    const bool ok = old_table->ParseFromString(pair.old_report) &&
                    new_table->ParseFromString(pair.new_report);
    if (!ok) state.SkipWithError("parse failed");
    state.PauseTiming();
    old_table.reset();
    new_table.reset();
    state.ResumeTiming();
  }
}

// The floor under a comparison: both reports read one route at a time.
void StreamBoth(benchmark::State& state) {
  const Pair& pair = Reports(state.range(0));
  for (auto _ : state) {
    int64_t routes = 0;
    for (const std::string* report : {&pair.old_report, &pair.new_report}) {
      google::protobuf::io::ArrayInputStream input(
          report->data(), static_cast<int>(report->size()));
      report_stream::ReportReader reader(&input,
                                         *l3::RouteTableMsg::descriptor(), {});
      while (reader.Next()) routes += reader.event() == reader.kElement;
      if (!reader.ok()) state.SkipWithError(reader.error().c_str());
    }
    benchmark::DoNotOptimize(routes);
  }
}

// Compares the pair; with `sample_heap`, the most heap in use at a few
// differences along the way (taking it is slow).
uint64_t RunCompare(benchmark::State& state, const Pair& pair,
                    bool sample_heap) {
  const diff::Keys keys(*l3::RouteTableMsg::descriptor());
  google::protobuf::io::ArrayInputStream input(
      pair.new_report.data(), static_cast<int>(pair.new_report.size()));
  const uint64_t before = sample_heap ? HeapInUse() : 0;
  uint64_t differences = 0;
  uint64_t peak = 0;
  diff::ReadError error;
  const bool ok = diff::Compare(
      pair.old_report, &input, *l3::RouteTableMsg::descriptor(), keys,
      {[&](const diff::Difference&) {
         if (sample_heap && ++differences % 1024 == 1) {
           peak = std::max(peak, HeapInUse() - before);
         }
         differences += !sample_heap;
       },
       nullptr, false},
      &error);
  if (!ok) state.SkipWithError(error.message.c_str());
  // Each changed route is one difference; each moved one, a removal and an
  // addition.
  if (differences < static_cast<uint64_t>(pair.changed_routes)) {
    state.SkipWithError("differences missed");
  }
  state.counters["differences"] = differences;
  return peak;
}

void Compare(benchmark::State& state) {
  const Pair& pair = Reports(state.range(0));
  for (auto _ : state) RunCompare(state, pair, false);
}

void CompareMemory(benchmark::State& state) {
  const Pair& pair = Reports(state.range(0));
  uint64_t held = 0;
  for (auto _ : state) {
    malloc_trim(0);
    held = RunCompare(state, pair, true);
  }
  state.counters["held_bytes"] = held;
}

void ParsedMemory(benchmark::State& state) {
  const Pair& pair = Reports(state.range(0));
  uint64_t held = 0;
  for (auto _ : state) {
    malloc_trim(0);
    const uint64_t before = HeapInUse();
    auto table = std::make_unique<l3::RouteTableMsg>();
    table->ParseFromString(pair.old_report);
    held = HeapInUse() - before;
  }
  state.counters["held_bytes"] = held;
}

constexpr int kRoutes[] = {1000, 1000000};

class Ratios : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.aggregate_name != "" && run.aggregate_name != "median") continue;
      Result& r =
          results_[run.run_name.function_name + "/" + run.run_name.args];
      r.cpu_ns = run.GetAdjustedCPUTime();
      const auto held = run.counters.find("held_bytes");
      if (held != run.counters.end()) r.held = held->second;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const int routes : kRoutes) {
      const std::string n = std::to_string(routes);
      const Result& parse = results_["diff/parse_both/" + n];
      const Result& compare = results_["diff/compare/" + n];
      const Result& compare_memory = results_["diff/compare_memory/" + n];
      const Result& parsed = results_["diff/parsed_memory/" + n];
      if (parse.cpu_ns > 0 && compare.cpu_ns > 0) {
        std::printf("%d routes: compare / parse both = %.2f (CPU)", routes,
                    compare.cpu_ns / parse.cpu_ns);
        if (parsed.held > 0 && compare_memory.held > 0) {
          std::printf(", held / one parsed report = %.2f (memory)",
                      compare_memory.held / parsed.held);
        }
        std::printf("\n");
      }
    }
  }

 private:
  struct Result {
    double cpu_ns = 0;
    double held = 0;
  };
  std::map<std::string, Result> results_;
};

}  // namespace
}  // namespace ostrel::bench

int main(int argc, char** argv) {
  using namespace ostrel::bench;
  for (const int routes : kRoutes) {
    benchmark::RegisterBenchmark("diff/parse_both", ParseBoth)
        ->Arg(routes)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("diff/stream_both", StreamBoth)
        ->Arg(routes)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("diff/compare", Compare)
        ->Arg(routes)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("diff/compare_memory", CompareMemory)
        ->Arg(routes)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("diff/parsed_memory", ParsedMemory)
        ->Arg(routes)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Ratios reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
