#include "ratio_reporter.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <utility>

namespace ostrel::bench {
namespace {

// Each ratio is the peer's median CPU time over ours, so above 1 means we
// are faster; against the tag walk it is the share of the bound we reach.
struct Goal {
  const char* what;
  const char* peer;
  const char* ours;
  double goal;
  bool stretch;
  bool route_tables_only;
};

constexpr Goal kGoals[] = {
    {"parse vs DynamicMessage", "dynamic/parse_heap", "ostrel/parse_heap", 3,
     false, false},
    {"parse+free vs DynamicMessage", "dynamic/parse_heap_free",
     "ostrel/parse_heap_free", 3, false, false},
    {"serialize vs DynamicMessage", "dynamic/serialize", "ostrel/serialize", 8,
     false, false},
    {"serialize vs protobuf-c pack", "protobuf_c/pack", "ostrel/serialize", 1.5,
     false, false},
    {"heap parse vs protobuf-c unpack (malloc)", "protobuf_c/unpack_malloc",
     "ostrel/parse_heap", 1.1, false, false},
    {"heap parse+free vs protobuf-c unpack+free (malloc)",
     "protobuf_c/unpack_malloc_free", "ostrel/parse_heap_free", 1.1, false,
     false},
    {"reused vs fresh heap parse", "ostrel/parse_heap", "ostrel/parse_reuse", 2,
     false, false},
    {"reused vs fresh heap parse+free", "ostrel/parse_heap_free",
     "ostrel/parse_reuse", 2, false, false},
    {"stream read vs fresh heap parse+free", "ostrel/parse_heap_free",
     "ostrel/stream_read", 2.5, false, false},
    {"stream write vs serialize", "ostrel/serialize", "ostrel/stream_write",
     0.9, false, false},
    {"arena parse+free vs heap parse+free", "ostrel/parse_heap_free",
     "ostrel/parse_arena_free", 1.15, false, true},
    {"arena parse+free vs protobuf-c bump unpack", "protobuf_c/unpack_bump",
     "ostrel/parse_arena_free", 1.0, true, false},
    {"arena (reused first block) parse+free vs protobuf-c bump unpack",
     "protobuf_c/unpack_bump", "ostrel/parse_arena_block_free", 1.0, true,
     false},
    {"agg-l3 decode --each vs whole decode --json (0.80: within 1.25x)",
     "agg_l3/decode_json", "agg_l3/decode_each", 0.8, false, true},
    {"agg-l3 encode --each vs whole encode --json (0.80: within 1.25x)",
     "agg_l3/encode_json", "agg_l3/encode_each", 0.8, false, true},
    {"heap parse speed as share of tag walk", "bound/tag_walk",
     "ostrel/parse_heap", 0.12, true, false},
};

double NsPerUnit(benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond:
      return 1;
    case benchmark::kMicrosecond:
      return 1e3;
    case benchmark::kMillisecond:
      return 1e6;
    case benchmark::kSecond:
      return 1e9;
  }
  return 1;
}

std::string Format(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

// "impl/op/dataset/routes" -> ("dataset", "routes").
std::pair<std::string, std::string> CaseOf(const std::string& name) {
  size_t last = name.rfind('/');
  size_t before = name.rfind('/', last - 1);
  if (last == std::string::npos || before == std::string::npos) return {};
  return {name.substr(before + 1, last - before - 1), name.substr(last + 1)};
}

}  // namespace

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.error_occurred) {
      failures_.push_back(run.benchmark_name() + ": " + run.error_message);
      continue;
    }
    bool median = run.run_type == Run::RT_Aggregate;
    if (median && run.aggregate_name != "median") continue;
    std::string name = run.run_name.str();
    auto [it, added] = results_.try_emplace(name);
    if (added) order_.push_back(name);
    Result& result = it->second;
    // A median replaces single repetitions; without repetitions the one run
    // is the result.
    if (result.is_median && !median) continue;
    result.is_median = median;
    result.cpu_ns = run.GetAdjustedCPUTime() * NsPerUnit(run.time_unit);
    result.counters.clear();
    for (const auto& [counter, value] : run.counters) {
      result.counters[counter] = value.value;
    }
    auto bytes = run.counters.find("bytes_per_second");
    result.bytes_per_second =
        bytes == run.counters.end() ? 0 : bytes->second.value;
  }
}

double RatioReporter::CpuNs(const std::string& name) const {
  auto it = results_.find(name);
  return it == results_.end() ? 0 : it->second.cpu_ns;
}

std::vector<std::string> RatioReporter::Ordered() const {
  std::vector<std::string> ordered;
  for (const std::string& name : registered_) {
    if (results_.count(name) != 0) ordered.push_back(name);
  }
  std::set<std::string> registered(registered_.begin(), registered_.end());
  for (const std::string& name : order_) {
    if (registered.count(name) == 0) ordered.push_back(name);
  }
  return ordered;
}

std::string RatioReporter::Summary() const {
  const std::vector<std::string> ordered = Ordered();
  std::ostringstream out;
  out << "\n## Medians (CPU time)\n\n"
      << "| benchmark | time (ms) | MB/s |\n|---|---:|---:|\n";
  for (const std::string& name : ordered) {
    const Result& result = results_.at(name);
    if (name.rfind("memory/", 0) == 0) continue;
    out << "| " << name << " | " << Format("%.3f", result.cpu_ns / 1e6) << " | "
        << Format("%.0f", result.bytes_per_second / 1e6) << " |\n";
  }

  std::vector<std::pair<std::string, std::string>> cases;
  std::set<std::pair<std::string, std::string>> seen;
  for (const std::string& name : ordered) {
    auto c = CaseOf(name);
    if (!c.first.empty() && seen.insert(c).second) cases.push_back(c);
  }
  out << "\n## Ratios (peer time / our time, medians of this run)\n\n"
      << "| routes | dataset | ratio | measured | goal | |\n"
      << "|---:|---|---|---:|---:|---|\n";
  for (const auto& [dataset, routes] : cases) {
    bool route_table = dataset.rfind("route_table", 0) == 0;
    for (const Goal& goal : kGoals) {
      if (goal.route_tables_only && !route_table) continue;
      std::string suffix = "/" + dataset + "/" + routes;
      double peer = CpuNs(goal.peer + suffix);
      double ours = CpuNs(goal.ours + suffix);
      if (peer <= 0 || ours <= 0) continue;
      double ratio = peer / ours;
      out << "| " << routes << " | " << dataset << " | " << goal.what << " | "
          << Format("%.2f", ratio) << " | "
          << Format(goal.goal < 1 ? "%.2f" : "%.2fx", goal.goal)
          << (goal.stretch ? " (stretch)" : "") << " | "
          << (ratio >= goal.goal ? "met" : "MISSED") << " |\n";
    }
  }

  bool any_memory = false;
  for (const std::string& name : ordered) {
    if (name.rfind("memory/", 0) != 0) continue;
    const std::map<std::string, double>& c = results_.at(name).counters;
    auto get = [&c](const char* key) {
      auto it = c.find(key);
      return it == c.end() ? 0.0 : it->second;
    };
    if (!any_memory) {
      out << "\n## Memory of one parsed report\n\n"
          << "| benchmark | wire MB | RSS delta MB | allocated MB | "
             "RSS / wire |\n|---|---:|---:|---:|---:|\n";
      any_memory = true;
    }
    out << "| " << name << " | " << Format("%.1f", get("wire_bytes") / 1e6)
        << " | " << Format("%.1f", get("rss_bytes") / 1e6) << " | "
        << Format("%.1f", get("allocated_bytes") / 1e6) << " | "
        << Format("%.2f", get("rss_bytes") / get("wire_bytes")) << " |\n";
  }
  return out.str();
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::string summary = Summary();
  GetOutputStream() << summary;
  for (const std::string& failure : failures_) {
    GetErrorStream() << "FAILED " << failure << "\n";
  }
  if (!summary_path_.empty()) {
    std::ofstream file(summary_path_);
    file << summary;
    if (!file) std::cerr << "cannot write " << summary_path_ << "\n";
  }
}

}  // namespace ostrel::bench
