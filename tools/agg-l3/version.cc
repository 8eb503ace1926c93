#include "version.h"

#include <dlfcn.h>
#include <google/protobuf/descriptor.pb.h>
#include <openssl/evp.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "format/report_codec.h"

namespace ostrel::agg_l3 {
namespace {

// The file the dynamic loader took the protobuf runtime from, its symbolic
// links resolved: Debian names it after the full library version.
std::string ProtobufRuntimeFile() {
  Dl_info info;
  if (::dladdr(
          reinterpret_cast<void*>(&google::protobuf::ShutdownProtobufLibrary),
          &info) == 0 ||
      info.dli_fname == nullptr) {
    return "unknown";
  }
  std::unique_ptr<char, decltype(&std::free)> resolved(
      ::realpath(info.dli_fname, nullptr), &std::free);
  return resolved ? resolved.get() : info.dli_fname;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(),
                 nullptr) != 1) {
    return "unavailable";
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xf];
  }
  return hex;
}

std::string VersionText() {
  google::protobuf::FileDescriptorProto description;
  SchemaFile().CopyTo(&description);
  return "agg-l3 " AGG_L3_VERSION "\nschema " + SchemaFile().name() + ": " +
         std::to_string(SchemaFile().message_type_count()) +
         " message types, description sha256 " +
         Sha256Hex(description.SerializeAsString()) + "\nprotobuf " +
         google::protobuf::internal::VersionString(GOOGLE_PROTOBUF_VERSION) +
         ", runtime " + ProtobufRuntimeFile();
}

}  // namespace ostrel::agg_l3
