// Route reports through our generated classes, side by side with what a
// user would pick instead (DynamicMessage over the same registered
// description, protobuf-c built from the same schema files) and with the
// bounds of memcpy and a tag walk. Names are "impl/op/dataset/routes"; the
// reporter turns the medians into the ratios the README quotes.
//
// Extra flag: --summary_out=FILE also writes the summary tables to FILE.

#include <benchmark/benchmark.h>
#include <google/protobuf/arena.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>
#include <malloc.h>
#include <ostrel/report_stream.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "agg_l3_json.h"
#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "ratio_reporter.h"
#include "route_data.h"
#include "wire_walk.h"

#ifdef OSTREL_BENCH_HAVE_PROTOBUF_C
#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb-c.h"
#endif

namespace ostrel::bench {
namespace {

namespace l3 = ::ostrel::ruk::agg_service::l3;
using google::protobuf::Arena;
using google::protobuf::ArenaOptions;
using google::protobuf::Message;

constexpr int kSizes[] = {1000, 100000, 1000000};

// Every report is made once and kept (185 MB for all nine), so that
// benchmarks of different reports can run interleaved.
const std::string& Wire(Dataset dataset, int routes) {
  static auto* reports = new std::map<std::pair<Dataset, int>, std::string>;
  std::string& wire = (*reports)[{dataset, routes}];
  if (wire.empty()) wire = MakeReport(dataset, routes);
  return wire;
}

void SetThroughput(benchmark::State& state, const std::string& wire,
                   int routes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(wire.size()));
  state.counters["routes"] = routes;
}

// Every benchmark checks its result once outside the timed loop, so that a
// fast but wrong path cannot pass for a fast one. A parse benchmark ends
// here: every timed parse must have succeeded, and `parsed`, the report
// parsed the same way, must give back the bytes it came from.
void FinishParse(benchmark::State& state, bool ok, const Message& parsed,
                 const std::string& wire, int routes) {
  if (!ok || parsed.SerializeAsString() != wire) {
    state.SkipWithError("parse failed or lost bytes");
  }
  SetThroughput(state, wire, routes);
}

// The free of a parsed report, inside the timing or outside it.
template <typename Free>
void FreeTimedOrNot(benchmark::State& state, bool timed, Free free) {
  if (timed) {
    free();
    return;
  }
  state.PauseTiming();
  free();
  state.ResumeTiming();
}

// ---------------------------------------------------------------- ours

template <typename Msg>
void OursSerialize(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  Msg message;
  message.ParseFromString(wire);
  std::string out(wire.size(), '\0');
  for (auto _ : state) {
    // SerializeToArray sizes the tree first, as every producer must.
    bool ok =
        message.SerializeToArray(out.data(), static_cast<int>(out.size()));
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  if (out != wire) state.SkipWithError("serialized bytes differ");
  SetThroughput(state, wire, routes);
}

template <typename Msg>
void OursParseHeap(benchmark::State& state, Dataset dataset, int routes,
                   bool timed_free) {
  const std::string& wire = Wire(dataset, routes);
  bool ok = true;
  for (auto _ : state) {
    auto* message = new Msg;
    ok &= message->ParseFromArray(wire.data(), static_cast<int>(wire.size()));
    benchmark::DoNotOptimize(message);
    FreeTimedOrNot(state, timed_free, [&] { delete message; });
  }
  Msg check;
  ok &= check.ParseFromString(wire);
  FinishParse(state, ok, check, wire, routes);
}

template <typename Msg>
void OursParseArena(benchmark::State& state, Dataset dataset, int routes,
                    bool timed_free, bool reuse_first_block) {
  const std::string& wire = Wire(dataset, routes);
  ArenaOptions options;
  // A first block the caller keeps between reports, as large as the parsed
  // report needs, which the arena then never has to allocate or free.
  std::vector<char> block;
  if (reuse_first_block) {
    Arena sizing;
    auto* message = Arena::CreateMessage<Msg>(&sizing);
    message->ParseFromString(wire);
    block.resize(sizing.SpaceAllocated() + (1 << 20));
    options.initial_block = block.data();
    options.initial_block_size = block.size();
  }
  bool ok = true;
  for (auto _ : state) {
    auto* arena = new Arena(options);
    auto* message = Arena::CreateMessage<Msg>(arena);
    ok &= message->ParseFromArray(wire.data(), static_cast<int>(wire.size()));
    benchmark::DoNotOptimize(message);
    FreeTimedOrNot(state, timed_free, [&] { delete arena; });
  }
  Arena arena(options);
  auto* check = Arena::CreateMessage<Msg>(&arena);
  ok &= check->ParseFromString(wire);
  FinishParse(state, ok, *check, wire, routes);
}

template <typename Msg>
void OursParseReuse(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  Msg message;
  // ParseFromArray clears first; cleared routes and their strings stay
  // allocated and are filled again.
  bool ok = message.ParseFromString(wire);
  for (auto _ : state) {
    ok &= message.ParseFromArray(wire.data(), static_cast<int>(wire.size()));
    benchmark::DoNotOptimize(message);
  }
  FinishParse(state, ok, message, wire, routes);
}

// What a reader of a file or socket gets: the bytes in 64 KiB pieces.
template <typename Msg>
void OursParseStream(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  bool ok = true;
  for (auto _ : state) {
    auto* message = new Msg;
    google::protobuf::io::ArrayInputStream input(
        wire.data(), static_cast<int>(wire.size()), 64 << 10);
    ok &= message->ParseFromZeroCopyStream(&input);
    benchmark::DoNotOptimize(message);
    delete message;
  }
  if (!ok) state.SkipWithError("parse failed");
  SetThroughput(state, wire, routes);
}

// ----------------------------------------------------------------
// DynamicMessage

// Delegation to the generated factory stays off, so these are the
// reflection-driven objects of a program that has only the description.
google::protobuf::DynamicMessageFactory& DynamicFactory() {
  static auto* factory = new google::protobuf::DynamicMessageFactory;
  return *factory;
}

void DynamicSerialize(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  std::unique_ptr<Message> message(
      DynamicFactory().GetPrototype(DatasetDescriptor(dataset))->New());
  message->ParseFromString(wire);
  std::string out(wire.size(), '\0');
  for (auto _ : state) {
    bool ok =
        message->SerializeToArray(out.data(), static_cast<int>(out.size()));
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  if (out != wire) state.SkipWithError("serialized bytes differ");
  SetThroughput(state, wire, routes);
}

void DynamicParseHeap(benchmark::State& state, Dataset dataset, int routes,
                      bool timed_free) {
  const std::string& wire = Wire(dataset, routes);
  const Message* prototype =
      DynamicFactory().GetPrototype(DatasetDescriptor(dataset));
  bool ok = true;
  for (auto _ : state) {
    Message* message = prototype->New();
    ok &= message->ParseFromArray(wire.data(), static_cast<int>(wire.size()));
    benchmark::DoNotOptimize(message);
    FreeTimedOrNot(state, timed_free, [&] { delete message; });
  }
  std::unique_ptr<Message> check(prototype->New());
  ok &= check->ParseFromString(wire);
  FinishParse(state, ok, *check, wire, routes);
}

// ---------------------------------------------------------------- protobuf-c

#ifdef OSTREL_BENCH_HAVE_PROTOBUF_C

const ProtobufCMessageDescriptor* CDescriptor(Dataset dataset) {
  return dataset == Dataset::kBgpRoutes
             ? &ostrel__ruk__agg_service__l3__bgp_neighbor_routes_msg__descriptor
             : &ostrel__ruk__agg_service__l3__route_table_msg__descriptor;
}

ProtobufCMessage* CUnpack(Dataset dataset, const std::string& wire,
                          ProtobufCAllocator* allocator) {
  return protobuf_c_message_unpack(
      CDescriptor(dataset), allocator, wire.size(),
      reinterpret_cast<const uint8_t*>(wire.data()));
}

// The cheapest allocator protobuf-c can be given: one region, reused for
// every report, whose "free" is forgetting everything at once.
struct BumpRegion {
  std::vector<char> bytes;
  size_t used = 0;
  static void* Alloc(void* data, size_t size) {
    auto* region = static_cast<BumpRegion*>(data);
    size_t at = (region->used + 15) & ~size_t{15};
    if (at + size > region->bytes.size()) return nullptr;
    region->used = at + size;
    return region->bytes.data() + at;
  }
  static void Free(void*, void*) {}
};

bool CSameBytes(const ProtobufCMessage* message, const std::string& wire) {
  std::string out(protobuf_c_message_get_packed_size(message), '\0');
  protobuf_c_message_pack(message, reinterpret_cast<uint8_t*>(out.data()));
  return out == wire;
}

void CPack(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  ProtobufCMessage* message = CUnpack(dataset, wire, nullptr);
  if (message == nullptr) {
    state.SkipWithError("unpack failed");
    return;
  }
  std::string out(wire.size(), '\0');
  for (auto _ : state) {
    // Sizing first: a producer has to know how much to allocate.
    size_t size = protobuf_c_message_get_packed_size(message);
    benchmark::DoNotOptimize(size);
    size_t written = protobuf_c_message_pack(
        message, reinterpret_cast<uint8_t*>(out.data()));
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
  }
  if (out != wire) state.SkipWithError("packed bytes differ");
  protobuf_c_message_free_unpacked(message, nullptr);
  SetThroughput(state, wire, routes);
}

void CUnpackMalloc(benchmark::State& state, Dataset dataset, int routes,
                   bool timed_free) {
  const std::string& wire = Wire(dataset, routes);
  bool ok = true;
  for (auto _ : state) {
    ProtobufCMessage* message = CUnpack(dataset, wire, nullptr);
    ok &= message != nullptr;
    benchmark::DoNotOptimize(message);
    FreeTimedOrNot(state, timed_free,
                   [&] { protobuf_c_message_free_unpacked(message, nullptr); });
  }
  ProtobufCMessage* check = CUnpack(dataset, wire, nullptr);
  if (!ok || check == nullptr || !CSameBytes(check, wire)) {
    state.SkipWithError("unpack failed or lost bytes");
  }
  if (check != nullptr) protobuf_c_message_free_unpacked(check, nullptr);
  SetThroughput(state, wire, routes);
}

void CUnpackBump(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  BumpRegion region;
  region.bytes.resize(16 * wire.size() + (1 << 20));
  ProtobufCAllocator allocator{&BumpRegion::Alloc, &BumpRegion::Free, &region};
  bool ok = true;
  for (auto _ : state) {
    region.used = 0;
    ProtobufCMessage* message = CUnpack(dataset, wire, &allocator);
    ok &= message != nullptr;
    benchmark::DoNotOptimize(message);
  }
  region.used = 0;
  ProtobufCMessage* check = CUnpack(dataset, wire, &allocator);
  if (!ok || check == nullptr || !CSameBytes(check, wire)) {
    state.SkipWithError("unpack failed, region too small, or lost bytes");
  }
  SetThroughput(state, wire, routes);
}

#endif  // OSTREL_BENCH_HAVE_PROTOBUF_C

// ---------------------------------------------------------------- bounds

void BoundMemcpy(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  std::string out(wire.size(), '\0');
  for (auto _ : state) {
    std::memcpy(out.data(), wire.data(), wire.size());
    benchmark::ClobberMemory();
  }
  SetThroughput(state, wire, routes);
}

void BoundTagWalk(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  WireWalker walker(DatasetDescriptor(dataset));
  const auto* data = reinterpret_cast<const uint8_t*>(wire.data());
  int64_t tags = 0;
  for (auto _ : state) {
    tags = walker.Walk(data, wire.size());
    benchmark::DoNotOptimize(tags);
  }
  if (tags <= routes) state.SkipWithError("walk failed");
  SetThroughput(state, wire, routes);
}

// ---------------------------------------------------------------- memory

// Resident memory counts what the process really pays, allocator slack
// included; the allocator's own count shows how much of it is live data.
struct MemoryProbe {
  static int64_t Resident() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
      std::fclose(statm);
    }
    return static_cast<int64_t>(resident) * sysconf(_SC_PAGESIZE);
  }
  static int64_t Allocated() {
    struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
  }
  MemoryProbe() {
    malloc_trim(0);
    resident = Resident();
    allocated = Allocated();
  }
  int64_t resident, allocated;
};

enum class Holder { kOursHeap, kOursArena, kDynamic, kProtobufC };

template <typename Msg>
void Memory(benchmark::State& state, Dataset dataset, int routes,
            Holder holder) {
  const std::string& wire = Wire(dataset, routes);
  double rss = 0, allocated = 0;
  bool ok = true;
  for (auto _ : state) {
    state.PauseTiming();
    MemoryProbe before;
    state.ResumeTiming();
    std::unique_ptr<Message> message;
    std::unique_ptr<Arena> arena;
    switch (holder) {
      case Holder::kOursHeap:
        message = std::make_unique<Msg>();
        ok &= message->ParseFromString(wire);
        break;
      case Holder::kOursArena:
        arena = std::make_unique<Arena>();
        ok &= Arena::CreateMessage<Msg>(arena.get())->ParseFromString(wire);
        break;
      case Holder::kDynamic:
        message.reset(
            DynamicFactory().GetPrototype(DatasetDescriptor(dataset))->New());
        ok &= message->ParseFromString(wire);
        break;
      case Holder::kProtobufC:
        break;
    }
#ifdef OSTREL_BENCH_HAVE_PROTOBUF_C
    ProtobufCMessage* c_message = holder == Holder::kProtobufC
                                      ? CUnpack(dataset, wire, nullptr)
                                      : nullptr;
    ok &= holder != Holder::kProtobufC || c_message != nullptr;
#endif
    state.PauseTiming();
    rss += static_cast<double>(MemoryProbe::Resident() - before.resident);
    allocated +=
        static_cast<double>(MemoryProbe::Allocated() - before.allocated);
    message.reset();
    arena.reset();
#ifdef OSTREL_BENCH_HAVE_PROTOBUF_C
    if (c_message != nullptr)
      protobuf_c_message_free_unpacked(c_message, nullptr);
#endif
    state.ResumeTiming();
  }
  if (!ok) state.SkipWithError("parse failed");
  double n = static_cast<double>(state.iterations());
  state.counters["wire_bytes"] = static_cast<double>(wire.size());
  state.counters["rss_bytes"] = rss / n;
  state.counters["allocated_bytes"] = allocated / n;
  state.counters["rss_per_wire"] = rss / n / static_cast<double>(wire.size());
}

// ---------------------------------------------------------------- streaming

// One route at a time through ReportReader: the routes are parsed into one
// reused object, the report never exists whole.
void StreamRead(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  int64_t elements = 0;
  bool ok = true;
  for (auto _ : state) {
    google::protobuf::io::ArrayInputStream input(wire.data(),
                                                 static_cast<int>(wire.size()));
    report_stream::ReportReader reader(&input, *DatasetDescriptor(dataset),
                                       {"route"});
    elements = 0;
    while (reader.Next()) {
      elements += reader.event() == report_stream::ReportReader::kElement;
    }
    ok &= reader.ok();
  }
  if (!ok || elements != routes) state.SkipWithError("stream read failed");
  SetThroughput(state, wire, routes);
}

// The report written route by route through ReportWriter, against
// ostrel/serialize of the whole message.
template <typename Msg>
void StreamWrite(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  Msg message;
  message.ParseFromString(wire);
  Msg header = message;
  header.clear_route();
  const auto& field = *Msg::descriptor()->FindFieldByName("route");
  std::string out(wire.size(), '\0');
  bool ok = true;
  for (auto _ : state) {
    google::protobuf::io::ArrayOutputStream output(
        out.data(), static_cast<int>(out.size()));
    report_stream::ReportWriter writer(&output, header, field);
    for (const auto& route : message.route()) writer.Add(route);
    ok &= writer.Finish();
    benchmark::ClobberMemory();
  }
  if (!ok || out != wire) state.SkipWithError("written bytes differ");
  SetThroughput(state, wire, routes);
}

// What reading a report from a file one route at a time adds to resident
// memory, whatever its size.
void StreamMemory(benchmark::State& state, Dataset dataset, int routes) {
  const std::string& wire = Wire(dataset, routes);
  char path[] = "/tmp/l3_bench_stream_XXXXXX";
  const int fd = mkstemp(path);
  bool ok = fd >= 0 && write(fd, wire.data(), wire.size()) ==
                           static_cast<ssize_t>(wire.size());
  double rss = 0;
  for (auto _ : state) {
    state.PauseTiming();
    MemoryProbe before;
    lseek(fd, 0, SEEK_SET);
    state.ResumeTiming();
    google::protobuf::io::FileInputStream input(fd, 1 << 20);
    report_stream::ReportReader reader(&input, *DatasetDescriptor(dataset),
                                       {"route"});
    int64_t elements = 0;
    while (reader.Next()) {
      elements += reader.event() == report_stream::ReportReader::kElement;
    }
    ok &= reader.ok() && elements == routes;
    state.PauseTiming();
    rss += static_cast<double>(MemoryProbe::Resident() - before.resident);
    state.ResumeTiming();
  }
  close(fd);
  unlink(path);
  if (!ok) state.SkipWithError("stream read failed");
  const double n = static_cast<double>(state.iterations());
  state.counters["wire_bytes"] = static_cast<double>(wire.size());
  state.counters["rss_bytes"] = rss / n;
  state.counters["rss_per_wire"] = rss / n / static_cast<double>(wire.size());
}

// ---------------------------------------------------------------- registration

template <typename Msg>
void RegisterCase(Dataset dataset, int routes,
                  std::vector<std::string>& names) {
  const std::string suffix =
      std::string("/") + DatasetName(dataset) + "/" + std::to_string(routes);
  auto add = [&](const std::string& name, auto&& function) {
    names.push_back(name + suffix);
    benchmark::RegisterBenchmark(names.back().c_str(), function)
        ->Unit(benchmark::kMillisecond);
  };
  add("bound/memcpy",
      [=](benchmark::State& s) { BoundMemcpy(s, dataset, routes); });
  add("bound/tag_walk",
      [=](benchmark::State& s) { BoundTagWalk(s, dataset, routes); });
  add("ostrel/serialize",
      [=](benchmark::State& s) { OursSerialize<Msg>(s, dataset, routes); });
  add("ostrel/parse_heap", [=](benchmark::State& s) {
    OursParseHeap<Msg>(s, dataset, routes, false);
  });
  add("ostrel/parse_heap_free", [=](benchmark::State& s) {
    OursParseHeap<Msg>(s, dataset, routes, true);
  });
  add("ostrel/parse_arena", [=](benchmark::State& s) {
    OursParseArena<Msg>(s, dataset, routes, false, false);
  });
  add("ostrel/parse_arena_free", [=](benchmark::State& s) {
    OursParseArena<Msg>(s, dataset, routes, true, false);
  });
  add("ostrel/parse_arena_block_free", [=](benchmark::State& s) {
    OursParseArena<Msg>(s, dataset, routes, true, true);
  });
  add("ostrel/parse_reuse",
      [=](benchmark::State& s) { OursParseReuse<Msg>(s, dataset, routes); });
  add("ostrel/parse_stream_free",
      [=](benchmark::State& s) { OursParseStream<Msg>(s, dataset, routes); });
  if (dataset != Dataset::kRouteTableUuid) {
    add("ostrel/stream_read",
        [=](benchmark::State& s) { StreamRead(s, dataset, routes); });
    add("ostrel/stream_write",
        [=](benchmark::State& s) { StreamWrite<Msg>(s, dataset, routes); });
  }
  if (dataset == Dataset::kRouteTable) {
    const google::protobuf::Descriptor& type = *DatasetDescriptor(dataset);
    for (bool each : {false, true}) {
      add(each ? "agg_l3/decode_each" : "agg_l3/decode_json",
          [=, &type](benchmark::State& s) {
            AggL3Decode(s, Wire(dataset, routes), type, each);
          });
      add(each ? "agg_l3/encode_each" : "agg_l3/encode_json",
          [=, &type](benchmark::State& s) {
            AggL3Encode(s, Wire(dataset, routes), type, each);
          });
    }
  }
  add("dynamic/serialize",
      [=](benchmark::State& s) { DynamicSerialize(s, dataset, routes); });
  add("dynamic/parse_heap", [=](benchmark::State& s) {
    DynamicParseHeap(s, dataset, routes, false);
  });
  add("dynamic/parse_heap_free",
      [=](benchmark::State& s) { DynamicParseHeap(s, dataset, routes, true); });
#ifdef OSTREL_BENCH_HAVE_PROTOBUF_C
  add("protobuf_c/pack",
      [=](benchmark::State& s) { CPack(s, dataset, routes); });
  add("protobuf_c/unpack_malloc",
      [=](benchmark::State& s) { CUnpackMalloc(s, dataset, routes, false); });
  add("protobuf_c/unpack_malloc_free",
      [=](benchmark::State& s) { CUnpackMalloc(s, dataset, routes, true); });
  add("protobuf_c/unpack_bump",
      [=](benchmark::State& s) { CUnpackBump(s, dataset, routes); });
#endif
  add("memory/ostrel_heap", [=](benchmark::State& s) {
    Memory<Msg>(s, dataset, routes, Holder::kOursHeap);
  });
  add("memory/ostrel_arena", [=](benchmark::State& s) {
    Memory<Msg>(s, dataset, routes, Holder::kOursArena);
  });
  if (dataset != Dataset::kRouteTableUuid) {
    add("memory/ostrel_stream",
        [=](benchmark::State& s) { StreamMemory(s, dataset, routes); });
  }
  add("memory/dynamic", [=](benchmark::State& s) {
    Memory<Msg>(s, dataset, routes, Holder::kDynamic);
  });
#ifdef OSTREL_BENCH_HAVE_PROTOBUF_C
  add("memory/protobuf_c", [=](benchmark::State& s) {
    Memory<Msg>(s, dataset, routes, Holder::kProtobufC);
  });
#endif
}

// Returns the names registered, in order.
std::vector<std::string> RegisterAll() {
  std::vector<std::string> names;
  for (int routes : kSizes) {
    for (Dataset dataset : kAllDatasets) {
      if (dataset == Dataset::kBgpRoutes) {
        RegisterCase<l3::BgpNeighborRoutesMsg>(dataset, routes, names);
      } else {
        RegisterCase<l3::RouteTableMsg>(dataset, routes, names);
      }
    }
  }
  return names;
}

}  // namespace
}  // namespace ostrel::bench

int main(int argc, char** argv) {
  std::string summary_path;
  constexpr std::string_view kSummaryFlag = "--summary_out=";
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.substr(0, kSummaryFlag.size()) == kSummaryFlag) {
      summary_path = std::string(arg.substr(kSummaryFlag.size()));
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  std::vector<std::string> registered = ostrel::bench::RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ostrel::bench::RatioReporter reporter(summary_path, std::move(registered));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.failed() ? 1 : 0;
}
