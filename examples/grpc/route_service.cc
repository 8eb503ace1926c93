// L3QueryService.GetDrRoutesDetail over gRPC: a server of route tables read
// from files, and a client that asks it for one logical router's table.
//
//   route_service serve TABLE...   serves each binary RouteTableMsg under
//                                  its lrouter_id, on a free loopback port
//                                  that it prints first
//   route_service get PORT UUID    writes the table of logical router UUID
//                                  to standard output, in binary
//
// Exit status: 0 done; 1 the call failed (an unknown router: NOT_FOUND);
// 2 usage or a file that cannot be read.

#include <grpcpp/grpcpp.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.grpc.pb.h"

namespace {

namespace l3 = ::ostrel::ruk::agg_service::l3;
using ::ostrel::ruk::UuidMsg;

// Reports name a router by its UUID as text (lrouter_id); the service by
// the two 64-bit halves, most significant first.
using Uuid = std::pair<uint64_t, uint64_t>;

std::optional<Uuid> ParseUuid(const std::string& text) {
  std::string hex;
  for (char c : text) {
    if (c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    hex += c;
  }
  if (hex.size() != 32) return std::nullopt;
  return Uuid{std::stoull(hex.substr(0, 16), nullptr, 16),
              std::stoull(hex.substr(16), nullptr, 16)};
}

class L3Query final : public l3::L3QueryService::Service {
 public:
  explicit L3Query(std::map<Uuid, l3::RouteTableMsg> tables)
      : tables_(std::move(tables)) {}

  grpc::Status GetDrRoutesDetail(grpc::ServerContext*, const UuidMsg* request,
                                 l3::RouteTableMsg* reply) override {
    auto table = tables_.find({request->left(), request->right()});
    if (table == tables_.end()) {
      return {grpc::StatusCode::NOT_FOUND, "no route table for this router"};
    }
    *reply = table->second;
    return grpc::Status::OK;
  }

 private:
  const std::map<Uuid, l3::RouteTableMsg> tables_;
};

int Serve(int count, char** files) {
  std::map<Uuid, l3::RouteTableMsg> tables;
  for (int i = 0; i < count; ++i) {
    std::ifstream in(files[i], std::ios::binary);
    l3::RouteTableMsg table;
    std::optional<Uuid> router;
    if (!table.ParseFromIstream(&in) ||
        !(router = ParseUuid(table.lrouter_id()))) {
      std::cerr << files[i] << ": not a route table with a UUID lrouter_id\n";
      return 2;
    }
    tables[*router] = std::move(table);
  }
  L3Query service(std::move(tables));
  int port = 0;
  grpc::ServerBuilder builder;
  builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(),
                           &port);
  builder.RegisterService(&service);
  std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
  if (server == nullptr || port == 0) return 2;
  std::cout << port << std::endl;
  server->Wait();
  return 0;
}

int Get(const std::string& port, const std::string& uuid) {
  std::optional<Uuid> router = ParseUuid(uuid);
  if (!router) {
    std::cerr << "not a UUID: " << uuid << "\n";
    return 2;
  }
  UuidMsg request;
  request.set_left(router->first);
  request.set_right(router->second);
  auto stub = l3::L3QueryService::NewStub(grpc::CreateChannel(
      "127.0.0.1:" + port, grpc::InsecureChannelCredentials()));
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() +
                       std::chrono::seconds(10));
  l3::RouteTableMsg table;
  grpc::Status status = stub->GetDrRoutesDetail(&context, request, &table);
  if (!status.ok()) {
    std::cerr << "GetDrRoutesDetail: " << status.error_message() << " (code "
              << status.error_code() << ")\n";
    return 1;
  }
  return table.SerializeToOstream(&std::cout) && std::cout.flush() ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "serve" && argc > 2) return Serve(argc - 2, argv + 2);
  if (command == "get" && argc == 4) return Get(argv[2], argv[3]);
  std::cerr << "usage: route_service serve TABLE... | get PORT UUID\n";
  return 2;
}
