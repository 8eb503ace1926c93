// What a comparison costs against parsing both reports (what `check` of
// both does), in the shapes it must stay linear in: a million routes in the
// old report's order and shuffled, one OSPF area whose link states are a
// nested list (4k, 8k and 64k, shuffled), and routes so small that the index
// of the old report dominates. The new report differs in 1% of its elements
// (a third changed, a third keyed elsewhere, a third losing a key field).
//
// In one process, rounds alternate the two (parse both, compare, parse
// both, ...), each timed whole: the parsed reports' destruction, the keys'
// construction. Prints the median of the rounds' ratios with their minimum
// and maximum, and how much resident memory a comparison adds against the
// old report's size.
//
//   diff_bench [ROUNDS [MAX_ELEMENTS [NAME]]]
//
// 7 rounds by default; only cases of at most MAX_ELEMENTS elements, and
// whose name has NAME in it, where those are given.

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ostrel/report_diff.h"
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

double CpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

// What `check` of both reports does: parse each into a fresh report.
bool ParseBoth(const Pair& pair) {
  const google::protobuf::Message& prototype =
      *google::protobuf::MessageFactory::generated_factory()->GetPrototype(
          pair.type);
  std::unique_ptr<google::protobuf::Message> old_report(prototype.New());
  std::unique_ptr<google::protobuf::Message> new_report(prototype.New());
  return old_report->ParseFromString(pair.old_report) &&
         new_report->ParseFromString(pair.new_report);
}

// What `diff` does: the keys, then the comparison. False when it failed or
// missed a changed element (each is one difference or more).
bool RunCompare(const Pair& pair) {
  const diff::Keys keys(*pair.type);
  google::protobuf::io::ArrayInputStream input(
      pair.new_report.data(), static_cast<int>(pair.new_report.size()));
  int differences = 0;
  diff::ReadError error;
  return diff::Compare(
             pair.old_report, &input, *pair.type, keys,
             {[&](const diff::Difference&) { ++differences; }, nullptr, false},
             &error) &&
         differences >= pair.changed;
}

// How far a comparison grows the resident set beyond the two reports'
// bytes, which the caller holds (the tool reads the old report whole and
// streams the new one).
int64_t GrowthKb(const Pair& pair) {
  malloc_trim(0);
  ResetPeakRss();
  const int64_t before = StatusKb("VmRSS:");
  RunCompare(pair);
  return StatusKb("VmHWM:") - before;
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

// CPU seconds of each round of `work`.
struct Times {
  std::vector<double> seconds;
  bool ok = true;
  void Time(const std::function<bool()>& work) {
    const double start = CpuSeconds();
    ok &= work();
    seconds.push_back(CpuSeconds() - start);
  }
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace
}  // namespace ostrel::bench

int main(int argc, char** argv) {
  using namespace ostrel::bench;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const int max_elements = argc > 2 ? std::atoi(argv[2]) : 1 << 30;
  const std::string only = argc > 3 ? argv[3] : "";
  bool ok = true;
  std::map<int, double> nested_compare_s;  // by elements
  std::printf("%-27s %9s %9s %17s %11s %11s\n", "case", "parse ms", "diff ms",
              "ratio [min-max]", "growth MiB", "goal MiB");
  for (const Case& c : kCases) {
    if (c.elements > max_elements ||
        std::string(c.name).find(only) == std::string::npos) {
      continue;
    }
    const Pair& pair = Reports(c.shape, c.elements);
    Times parse, compare;
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
      parse.Time([&] { return ParseBoth(pair); });
      compare.Time([&] { return RunCompare(pair); });
      ratios.push_back(compare.seconds.back() / parse.seconds.back());
    }
    ok &= parse.ok && compare.ok;
    const double mib = 1024.0;
    const double growth = GrowthKb(pair) / mib;
    const double old_mib = pair.old_report.size() / mib / mib;
    std::sort(ratios.begin(), ratios.end());
    std::printf(
        "%-27s %9.1f %9.1f %5.2f [%.2f-%.2f] %11.1f %11.1f\n",
        (std::string(c.name) + "/" + std::to_string(c.elements)).c_str(),
        Median(parse.seconds) * 1e3, Median(compare.seconds) * 1e3,
        Median(ratios), ratios.front(), ratios.back(), growth,
        old_mib / 2 + 64);
    if (c.shape == Shape::kNestedLinkStates) {
      nested_compare_s[c.elements] = Median(compare.seconds);
    }
  }
  if (nested_compare_s.count(4000) && nested_compare_s.count(8000)) {
    std::printf("nested link states: diff 8000 / diff 4000 = %.2f\n",
                nested_compare_s[8000] / nested_compare_s[4000]);
  }
  if (!ok) std::fprintf(stderr, "a comparison failed or missed differences\n");
  return ok ? 0 : 1;
}
