// agg-l3's JSON reader against the runtime's JsonStringToMessage, on the
// same JSON of each dataset's report, in one process: rounds alternate the
// two (A B A B ...), and the ratio of the medians is printed with the
// minimum and maximum of each. Both must give the report's bytes.
//
//   json_reader_bench [ROUTES [ROUNDS]]     (default 100000 routes, 9 rounds)

#include <google/protobuf/util/json_util.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "format/json_reader.h"
#include "route_data.h"

namespace {

using google::protobuf::Message;

double CpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

struct Times {
  std::vector<double> seconds;
  double Median() {
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
  }
};

// The CPU time of one read of `json` into a fresh report, which is then
// checked against `wire` outside the time.
bool TimeOne(const std::function<bool(Message*)>& read, const Message& type,
             const std::string& wire, Times* times) {
  std::unique_ptr<Message> report(type.New());
  const double start = CpuSeconds();
  const bool ok = read(report.get());
  times->seconds.push_back(CpuSeconds() - start);
  return ok && report->SerializeAsString() == wire;
}

}  // namespace

int main(int argc, char** argv) {
  const int routes = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
  bool ok = true;
  std::printf("%-16s %8s %12s %12s %7s\n", "dataset", "routes", "reader ms",
              "runtime ms", "ratio");
  for (ostrel::bench::Dataset dataset : ostrel::bench::kAllDatasets) {
    const Message& type =
        *google::protobuf::MessageFactory::generated_factory()->GetPrototype(
            ostrel::bench::DatasetDescriptor(dataset));
    const std::string wire = ostrel::bench::MakeReport(dataset, routes);
    std::unique_ptr<Message> report(type.New());
    std::string json;
    ok &= report->ParseFromString(wire) &&
          google::protobuf::util::MessageToJsonString(*report, &json).ok();
    report.reset();
    const auto reader = [&](Message* m) {
      return ostrel::agg_l3::ReadJson(json, m).ok();
    };
    const auto runtime = [&](Message* m) {
      return google::protobuf::util::JsonStringToMessage(json, m).ok();
    };
    Times ours, theirs;
    for (int round = 0; round < rounds; ++round) {
      ok &= TimeOne(reader, type, wire, &ours);
      ok &= TimeOne(runtime, type, wire, &theirs);
    }
    const double a = ours.Median(), b = theirs.Median();
    std::printf("%-16s %8d %5.1f [%.1f-%.1f] %5.1f [%.1f-%.1f] %6.3fx\n",
                ostrel::bench::DatasetName(dataset), routes, a * 1e3,
                ours.seconds.front() * 1e3, ours.seconds.back() * 1e3, b * 1e3,
                theirs.seconds.front() * 1e3, theirs.seconds.back() * 1e3,
                a / b);
  }
  if (!ok) std::fprintf(stderr, "a read did not give the report's bytes\n");
  return ok ? 0 : 1;
}
