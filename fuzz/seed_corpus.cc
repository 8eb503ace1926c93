// Writes the seed corpus: every wire vector of the tests and every example
// report, each behind the byte that selects its type; and the same reports
// as JSON, for the JSON reader's fuzzer.
//
//   seed_corpus OUT_DIR JSON_OUT_DIR [EXAMPLE.txtpb ...]

#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "fuzz_input.h"
#include "wire_vectors.h"

namespace {

int TypeIndex(const std::string& name) {
  const auto& file = ostrel::fuzz::ReportFile();
  for (int i = 0; i < file.message_type_count(); ++i) {
    if (file.message_type(i)->name() == name) return i;
  }
  return -1;
}

bool WriteSeed(const std::string& path, int type, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.put(static_cast<char>(type));
  out << bytes;
  return static_cast<bool>(out);
}

std::string json_dir;

// The report's bytes to `dir`, and the runtime's JSON of them to json_dir.
bool Write(const std::string& dir, const std::string& name, int type,
           const std::string& bytes) {
  std::unique_ptr<google::protobuf::Message> message(
      google::protobuf::MessageFactory::generated_factory()
          ->GetPrototype(ostrel::fuzz::ReportFile().message_type(type))
          ->New());
  std::string json;
  if (message->ParseFromString(bytes) &&
      google::protobuf::util::MessageToJsonString(*message, &json).ok() &&
      !WriteSeed(json_dir + "/" + name, type, json)) {
    return false;
  }
  return WriteSeed(dir + "/" + name, type, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr
        << "usage: seed_corpus OUT_DIR JSON_OUT_DIR [EXAMPLE.txtpb ...]\n";
    return 2;
  }
  const std::string dir = argv[1];
  json_dir = argv[2];
  int written = 0;
  for (const auto& v : ostrel::testdata::EveryFieldVectors()) {
    written += Write(dir, std::string("every_") + v.type, TypeIndex(v.type),
                     ostrel::testdata::FromHex(v.hex));
  }
  for (const auto& v : ostrel::testdata::RecordVectors()) {
    written += Write(dir, std::string("record_") + v.name, TypeIndex(v.type),
                     ostrel::testdata::FromHex(v.input ? v.input : v.hex));
  }
  for (const auto& v : ostrel::testdata::MalformedVectors()) {
    written += Write(dir, std::string("malformed_") + v.name, TypeIndex(v.type),
                     ostrel::testdata::FromHex(v.hex));
  }
  // Examples name their type in their first line: "# proto-message: T".
  for (int i = 3; i < argc; ++i) {
    std::ifstream in(argv[i]);
    std::string text((std::istreambuf_iterator<char>(in)),
                     std::istreambuf_iterator<char>());
    const std::string marker = "proto-message: ";
    const size_t at = text.find(marker);
    if (at == std::string::npos) continue;
    std::string type = text.substr(at + marker.size());
    type = type.substr(0, type.find_first_of(" \n"));
    type = type.substr(type.rfind('.') + 1);
    const int index = TypeIndex(type);
    if (index < 0) continue;
    const auto* prototype =
        google::protobuf::MessageFactory::generated_factory()->GetPrototype(
            ostrel::fuzz::ReportFile().message_type(index));
    std::unique_ptr<google::protobuf::Message> message(prototype->New());
    if (!google::protobuf::TextFormat::ParseFromString(text, message.get())) {
      std::cerr << argv[i] << ": does not parse as " << type << "\n";
      return 1;
    }
    const std::string base = argv[i];
    written += Write(dir, "example_" + base.substr(base.rfind('/') + 1), index,
                     message->SerializeAsString());
  }
  std::cout << written << " seeds in " << dir << "\n";
  return 0;
}
