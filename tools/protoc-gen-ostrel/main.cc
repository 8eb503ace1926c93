// protoc plugin: protoc --plugin=protoc-gen-ostrel=PATH --ostrel_out=DIR ...
// writes the usual .pb.h/.pb.cc pair with our contract additions.

#include <google/protobuf/compiler/plugin.h>
#include <google/protobuf/compiler/plugin.pb.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "contract_generator.h"

int main() {
  google::protobuf::compiler::CodeGeneratorRequest request;
  if (!request.ParseFromFileDescriptor(STDIN_FILENO)) {
    std::cerr << "protoc-gen-ostrel: cannot read the request from protoc\n";
    return 1;
  }
  ostrel::protoc_gen::DropJsonNames(&request);

  const ostrel::protoc_gen::ContractGenerator generator;
  google::protobuf::compiler::CodeGeneratorResponse response;
  std::string error;
  // Generator errors travel in the response; a false result with a message
  // means the request itself could not be served.
  if (!google::protobuf::compiler::GenerateCode(request, generator, &response,
                                                &error) &&
      !error.empty()) {
    std::cerr << "protoc-gen-ostrel: " << error << "\n";
    return 1;
  }
  if (!response.SerializeToFileDescriptor(STDOUT_FILENO)) {
    std::cerr << "protoc-gen-ostrel: cannot write the response to protoc\n";
    return 1;
  }
  return 0;
}
