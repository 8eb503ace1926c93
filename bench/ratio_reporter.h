// Console output as usual, then the tables the README quotes: the median of
// every benchmark, the goal ratios between implementations measured in this
// same run, and the memory of a parsed report.

#ifndef OSTREL_BENCH_RATIO_REPORTER_H_
#define OSTREL_BENCH_RATIO_REPORTER_H_

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // `summary_path` (may be empty) also receives the tables. The tables
  // follow `registered`, the names in registration order, whatever order
  // the runs came in (repetitions may be interleaved at random).
  RatioReporter(std::string summary_path, std::vector<std::string> registered)
      : summary_path_(std::move(summary_path)),
        registered_(std::move(registered)) {}

  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

  // Whether any benchmark stopped with an error, such as a round trip that
  // did not give back the bytes it started from.
  bool failed() const { return !failures_.empty(); }

 private:
  struct Result {
    double cpu_ns = 0;
    double bytes_per_second = 0;
    std::map<std::string, double> counters;
    bool is_median = false;
  };
  std::string Summary() const;
  // Median CPU time in ns of `name`, or 0 when it did not run.
  double CpuNs(const std::string& name) const;

  // Names of the results in registration order; ones not registered last.
  std::vector<std::string> Ordered() const;

  std::string summary_path_;
  std::vector<std::string> registered_;
  std::vector<std::string> order_;
  std::map<std::string, Result> results_;
  std::vector<std::string> failures_;
};

}  // namespace ostrel::bench

#endif  // OSTREL_BENCH_RATIO_REPORTER_H_
