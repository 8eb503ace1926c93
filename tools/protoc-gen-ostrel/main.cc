// protoc plugin: protoc --plugin=protoc-gen-ostrel=PATH --ostrel_out=DIR ...
// writes the usual .pb.h/.pb.cc pair with our contract additions.

#include <google/protobuf/compiler/plugin.h>

#include "contract_generator.h"

int main(int argc, char* argv[]) {
  ostrel::protoc_gen::ContractGenerator generator;
  return google::protobuf::compiler::PluginMain(argc, argv, &generator);
}
