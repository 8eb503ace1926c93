// ContractGenerator writes the C++ code of a schema file exactly as protoc's
// own C++ generator does, then inserts, at the generator's documented
// insertion points, the few pieces that keep the generated classes to the
// message contract our users were promised:
//
//  * merging a message into itself stops the process through the
//    protocol-buffers fatal log, in every build mode, before anything is
//    touched (the stock code only checks in debug builds and otherwise reads
//    freed memory);
//  * enumeration setters store any number, even in callers compiled without
//    NDEBUG (the stock inline setter asserts validity);
//  * release_x() of a set-then-cleared string hands over the kept string;
//  * ByteSize() and SpaceUsed() without deprecation warnings;
//  * CopyFrom(const Message&) from a message of the same class copies
//    without building the file's descriptors;
//  * set_x(const std::string&), set_x(const char*) and
//    set_x(const char*, size_t) as overloads whose address can be taken;
//  * protobuf_AddDesc_<file>() and protobuf_AssignDesc_<file>(), the
//    file-level registration entry points older callers use.
//
// Nothing in the generated text is rewritten: everything is added through
// insertion points, so a protoc upgrade either keeps working or fails loudly
// when an insertion point disappears.

#ifndef OSTREL_TOOLS_PROTOC_GEN_OSTREL_CONTRACT_GENERATOR_H_
#define OSTREL_TOOLS_PROTOC_GEN_OSTREL_CONTRACT_GENERATOR_H_

#include <google/protobuf/compiler/code_generator.h>
#include <google/protobuf/compiler/plugin.pb.h>
#include <google/protobuf/descriptor.h>

#include <cstdint>
#include <string>

namespace ostrel::protoc_gen {

// The identifier protoc derives from a file name for file-level symbols:
// every character other than a letter or digit becomes '_' followed by its
// code in two lower-case hex digits ("a/b_c.proto" -> "a_2fb_5fc_2eproto").
std::string FileIdentifier(const std::string& file_name);

// protoc fills in json_name for every field of the files it hands a plugin;
// its built-in C++ generator sees them without, and embeds the description
// without them. Dropping them keeps the description our libraries register
// byte for byte the one protoc's own generator would embed.
void DropJsonNames(google::protobuf::compiler::CodeGeneratorRequest* request);

class ContractGenerator : public google::protobuf::compiler::CodeGenerator {
 public:
  bool Generate(const google::protobuf::FileDescriptor* file,
                const std::string& parameter,
                google::protobuf::compiler::GeneratorContext* context,
                std::string* error) const override;

  uint64_t GetSupportedFeatures() const override {
    return FEATURE_PROTO3_OPTIONAL;
  }
};

}  // namespace ostrel::protoc_gen

#endif  // OSTREL_TOOLS_PROTOC_GEN_OSTREL_CONTRACT_GENERATOR_H_
