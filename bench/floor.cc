// The least a program must do to answer what `agg-l3 decode --json` and
// `agg-l3 check` answer about a route table file, as whole programs that
// compare_tools.sh times against the tool on the same file:
//
//   floor parse FILE   reads the file and parses it into the generated
//                      RouteTableMsg on an arena, left to the exit;
//   floor walk FILE    reads the file and walks every tag and length,
//                      descending into every sub-message (wire_walk.cc).
//
// The file is mapped, not copied: a floor should cost nothing that a
// program could avoid. Exit status 0 when the bytes parse, 1 when they do
// not, 2 on a usage or read error.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "wire_walk.h"

namespace {

using ostrel::ruk::agg_service::l3::RouteTableMsg;

int Run(std::string_view mode, const uint8_t* data, size_t size) {
  if (mode == "parse") {
    auto* arena = new google::protobuf::Arena;  // not destroyed at exit
    auto* report = google::protobuf::Arena::CreateMessage<RouteTableMsg>(arena);
    return report->ParseFromArray(data, static_cast<int>(size)) ? 0 : 1;
  }
  const ostrel::bench::WireWalker walker(RouteTableMsg::descriptor());
  return walker.Walk(data, size) >= 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string_view(argv[1]) != "parse" &&
                    std::string_view(argv[1]) != "walk")) {
    std::fprintf(stderr, "usage: %s parse|walk FILE\n", argv[0]);
    return 2;
  }
  const int fd = open(argv[2], O_RDONLY);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) {
    std::perror(argv[2]);
    return 2;
  }
  const auto size = static_cast<size_t>(status.st_size);
  void* data =
      size == 0 ? nullptr : mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (data == MAP_FAILED) {
    std::perror(argv[2]);
    return 2;
  }
  return Run(argv[1], static_cast<const uint8_t*>(data), size);
}
