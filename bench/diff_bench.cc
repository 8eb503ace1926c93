// What a comparison costs against parsing both reports (what `check` of
// both does), in the shapes it must stay linear in: a million routes in the
// old report's order and shuffled, one OSPF area whose link states are a
// nested list (4k, 8k and 64k, shuffled), and routes so small that the index
// of the old report dominates. The new report differs in 1% of its elements
// (a third changed, a third keyed elsewhere, a third losing a key field).
// Prints the ratios of the medians measured in this one run, and how much
// resident memory a comparison adds against the old report's size.

#include <benchmark/benchmark.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
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

// The shapes a comparison must stay linear in: a route table in the old
// report's order and shuffled, one OSPF area whose link states form a nested
// list, and routes so small that the index dominates.
enum class Shape { kRoutes, kShuffledRoutes, kNestedLinkStates, kEmptyRoutes };

struct Pair {
  const google::protobuf::Descriptor* type;
  std::string old_report;
  std::string new_report;
  int changed = 0;
};

template <typename Element>
void Shuffle(google::protobuf::RepeatedPtrField<Element>* elements) {
  std::mt19937 random(7);
  for (int i = elements->size() - 1; i > 0; --i) {
    elements->SwapElements(i, std::uniform_int_distribution<int>(0, i)(random));
  }
}

const Pair& Reports(Shape shape, int elements) {
  static auto* pairs = new std::map<std::pair<Shape, int>, Pair>;
  Pair& pair = (*pairs)[{shape, elements}];
  if (!pair.old_report.empty()) return pair;
  if (shape == Shape::kNestedLinkStates) {
    l3::OspfDatabaseMsg database;
    database.set_timestamp(1);
    l3::OspfDatabaseEntryMsg* area = database.add_ospf_database();
    area->mutable_area()->set_address("0.0.0.0");
    for (int i = 0; i < elements; ++i) {
      l3::OspfRouterLinkStateMsg* state = area->add_router_link_state();
      state->set_ls_id("10." + std::to_string(i >> 16) + "." +
                       std::to_string(i >> 8 & 255) + "." +
                       std::to_string(i & 255));
      state->set_advertised_router("192.0.2." + std::to_string(i % 7));
      state->set_age(i % 3600);
      state->set_seq_num("0x80000" + std::to_string(100 + i % 900));
      state->set_check_sum("0x" + std::to_string(1000 + i % 9000));
      state->set_router_link(i % 5);
    }
    pair.type = database.GetDescriptor();
    pair.old_report = database.SerializeAsString();
    for (int i = 0; i < elements; i += 100, ++pair.changed) {
      l3::OspfRouterLinkStateMsg* state = area->mutable_router_link_state(i);
      switch (i / 100 % 3) {
        case 0:
          state->set_age(state->age() + 1);
          break;
        case 1:
          state->set_advertised_router("198.51.100.7");  // elsewhere
          break;
        default:
          state->clear_ls_id();
          break;
      }
    }
    Shuffle(area->mutable_router_link_state());
    pair.new_report = database.SerializeAsString();
    return pair;
  }
  l3::RouteTableMsg table;
  if (shape == Shape::kEmptyRoutes) {
    // Unkeyed, so every route has the same (empty) key: 2 bytes each.
    for (int i = 0; i < elements; ++i) table.add_route();
  } else {
    table.ParseFromString(MakeReport(Dataset::kRouteTable, elements));
  }
  pair.type = table.GetDescriptor();
  pair.old_report = table.SerializeAsString();
  if (shape == Shape::kEmptyRoutes) {
    table.add_route()->set_admin_distance(1);
    pair.changed = 1;
  } else {
    for (int i = 0; i < table.route_size(); i += 100, ++pair.changed) {
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
    }
    if (shape == Shape::kShuffledRoutes) Shuffle(table.mutable_route());
  }
  pair.new_report = table.SerializeAsString();
  return pair;
}

// Kilobytes of a /proc/self/status line ("VmRSS", "VmHWM").
int64_t StatusKb(const char* name) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  int64_t kb = 0;
  while (status && std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, name, std::strlen(name)) == 0) {
      kb = std::atoll(line + std::strlen(name) + 1);
    }
  }
  if (status) std::fclose(status);
  return kb;
}

// Starts a new peak of the resident set at its current size.
void ResetPeakRss() {
  std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
  if (clear) {
    std::fputs("5", clear);
    std::fclose(clear);
  }
}

const Pair& PairOf(const benchmark::State& state) {
  return Reports(static_cast<Shape>(state.range(0)),
                 static_cast<int>(state.range(1)));
}

std::unique_ptr<google::protobuf::Message> NewReport(const Pair& pair) {
  return std::unique_ptr<google::protobuf::Message>(
      google::protobuf::MessageFactory::generated_factory()
          ->GetPrototype(pair.type)
          ->New());
}

// What `check` of both reports does: parse each.
void ParseBoth(benchmark::State& state) {
  const Pair& pair = PairOf(state);
  for (auto _ : state) {
    auto old_report = NewReport(pair);
    auto new_report = NewReport(pair);
    const bool ok = old_report->ParseFromString(pair.old_report) &&
                    new_report->ParseFromString(pair.new_report);
    if (!ok) state.SkipWithError("parse failed");
    state.PauseTiming();
    old_report.reset();
    new_report.reset();
    state.ResumeTiming();
  }
}

// Compares the pair.
void RunCompare(benchmark::State& state, const Pair& pair) {
  const diff::Keys keys(*pair.type);
  google::protobuf::io::ArrayInputStream input(
      pair.new_report.data(), static_cast<int>(pair.new_report.size()));
  uint64_t differences = 0;
  diff::ReadError error;
  const bool ok = diff::Compare(
      pair.old_report, &input, *pair.type, keys,
      {[&](const diff::Difference&) { ++differences; }, nullptr, false},
      &error);
  if (!ok) state.SkipWithError(error.message.c_str());
  // Each changed element is one difference or more.
  if (differences < static_cast<uint64_t>(pair.changed)) {
    state.SkipWithError("differences missed");
  }
  state.counters["differences"] = differences;
}

void Compare(benchmark::State& state) {
  const Pair& pair = PairOf(state);
  for (auto _ : state) RunCompare(state, pair);
}

// How far a comparison grows the resident set beyond the two reports'
// bytes, which the caller holds (the tool reads the old report whole and
// streams the new one).
void CompareMemory(benchmark::State& state) {
  const Pair& pair = PairOf(state);
  int64_t held_kb = 0;
  for (auto _ : state) {
    malloc_trim(0);
    ResetPeakRss();
    const int64_t before = StatusKb("VmRSS:");
    RunCompare(state, pair);
    held_kb = StatusKb("VmHWM:") - before;
  }
  state.counters["held_bytes"] = held_kb * 1024.0;
  state.counters["old_bytes"] = pair.old_report.size();
}

struct Case {
  const char* name;
  Shape shape;
  int elements;
};
constexpr Case kCases[] = {
    {"routes", Shape::kRoutes, 1000},
    {"routes", Shape::kRoutes, 1000000},
    {"shuffled_routes", Shape::kShuffledRoutes, 1000000},
    {"nested_link_states", Shape::kNestedLinkStates, 4000},
    {"nested_link_states", Shape::kNestedLinkStates, 8000},
    {"nested_link_states", Shape::kNestedLinkStates, 64000},
    {"empty_routes", Shape::kEmptyRoutes, 4000000},
};

std::string CaseName(const Case& c) {
  return std::string(c.name) + "/" + std::to_string(c.elements);
}

class Ratios : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.aggregate_name != "" && run.aggregate_name != "median") continue;
      Result& r = results_[run.run_name.function_name];
      if (run.counters.count("held_bytes")) {
        r.held = run.counters.at("held_bytes");
        r.old_bytes = run.counters.at("old_bytes");
      } else {
        r.cpu_ns = run.GetAdjustedCPUTime();
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const Case& c : kCases) {
      const std::string n = CaseName(c);
      const Result& parse = results_["diff/parse_both/" + n];
      const Result& compare = results_["diff/compare/" + n];
      const Result& memory = results_["diff/compare_memory/" + n];
      if (parse.cpu_ns > 0 && compare.cpu_ns > 0) {
        std::printf("%s: compare / parse both = %.2f (CPU)", n.c_str(),
                    compare.cpu_ns / parse.cpu_ns);
      }
      if (memory.old_bytes > 0) {
        const double mib = 1048576.0;
        std::printf(
            ", peak RSS growth %.1f MiB against old %.1f MiB "
            "(goal: old / 2 + 64 MiB = %.1f MiB)",
            memory.held / mib, memory.old_bytes / mib,
            memory.old_bytes / 2 / mib + 64);
      }
      std::printf("\n");
    }
    const Result& small = results_["diff/compare/nested_link_states/4000"];
    const Result& large = results_["diff/compare/nested_link_states/8000"];
    if (small.cpu_ns > 0 && large.cpu_ns > 0) {
      std::printf("nested link states: compare 8000 / compare 4000 = %.2f\n",
                  large.cpu_ns / small.cpu_ns);
    }
  }

 private:
  struct Result {
    double cpu_ns = 0;
    double held = 0;
    double old_bytes = 0;
  };
  std::map<std::string, Result> results_;
};

}  // namespace
}  // namespace ostrel::bench

int main(int argc, char** argv) {
  using namespace ostrel::bench;
  for (const Case& c : kCases) {
    const std::string n = CaseName(c);
    const std::vector<int64_t> args = {static_cast<int64_t>(c.shape),
                                       c.elements};
    benchmark::RegisterBenchmark(("diff/parse_both/" + n).c_str(), ParseBoth)
        ->Args(args)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("diff/compare/" + n).c_str(), Compare)
        ->Args(args)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("diff/compare_memory/" + n).c_str(),
                                 CompareMemory)
        ->Args(args)
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
