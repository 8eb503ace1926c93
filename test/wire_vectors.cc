#include "wire_vectors.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::testdata {

const google::protobuf::Descriptor* VectorType(std::string_view type) {
  return ruk::agg_service::l3::RouteTableMsg::descriptor()
      ->file()
      ->FindMessageTypeByName(std::string(type));
}

std::unique_ptr<google::protobuf::Message> NewMessage(std::string_view type) {
  const google::protobuf::Descriptor* descriptor = VectorType(type);
  if (descriptor == nullptr) return nullptr;
  return std::unique_ptr<google::protobuf::Message>(
      google::protobuf::MessageFactory::generated_factory()
          ->GetPrototype(descriptor)
          ->New());
}

std::string FromHex(std::string_view hex) {
  std::string bytes;
  int high = -1;
  for (char c : hex) {
    if (c == ' ') continue;
    const int nibble =
        std::isdigit(static_cast<unsigned char>(c))
            ? c - '0'
            : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
    if (high < 0) {
      high = nibble;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + nibble));
      high = -1;
    }
  }
  if (high != -1) std::abort();  // odd number of hex digits
  return bytes;
}

const std::vector<std::string>& Case::Of(const std::string& key) const {
  static const auto* none = new std::vector<std::string>;
  const auto found = values.find(key);
  return found == values.end() ? *none : found->second;
}

std::string Case::Joined(const std::string& key,
                         const std::string& separator) const {
  std::string joined;
  for (const std::string& value : Of(key)) {
    joined += (joined.empty() ? "" : separator) + value;
  }
  return joined;
}

const std::vector<Example>& Examples() {
  static const auto* examples = [] {
    auto* found = new std::vector<Example>;
    for (const auto& entry :
         std::filesystem::directory_iterator(OSTREL_EXAMPLES)) {
      if (entry.path().extension() != ".txtpb") continue;
      std::stringstream text;
      text << std::ifstream(entry.path()).rdbuf();
      const std::string header = "# proto-message: ";
      const size_t at = text.str().find(header) + header.size();
      found->push_back({entry.path(),
                        text.str().substr(at, text.str().find('\n', at) - at),
                        text.str()});
    }
    std::sort(
        found->begin(), found->end(),
        [](const Example& a, const Example& b) { return a.path < b.path; });
    return found;
  }();
  return *examples;
}

std::vector<Case> ReadCases(const std::string& path) {
  std::ifstream file(path);
  std::vector<Case> cases;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("  ", 0) != 0) {
      std::istringstream words(line);
      cases.push_back({{std::istream_iterator<std::string>(words),
                        std::istream_iterator<std::string>()}});
      continue;
    }
    const size_t space = line.find(' ', 2);
    cases.back().values[line.substr(2, space - 2)].push_back(
        space == std::string::npos ? "" : line.substr(space + 1));
  }
  return cases;
}

namespace {

struct Tables {
  std::vector<EveryFieldVector> every_field;
  std::vector<RecordVector> records;
  std::vector<MalformedVector> malformed;
};

// The vectors point into these strings, which live as long as the program.
const char* Keep(std::string value) {
  static auto* kept = new std::deque<std::string>;
  return kept->emplace_back(std::move(value)).c_str();
}

[[noreturn]] void Fail(int line_number, const std::string& why) {
  std::cerr << OSTREL_WIRE_VECTORS << ":" << line_number << ": " << why << "\n";
  std::abort();
}

// The format is described at the top of the file.
Tables Read() {
  std::ifstream file(OSTREL_WIRE_VECTORS);
  if (!file) Fail(0, "cannot be read");
  Tables tables;
  std::vector<std::string> header;
  std::string text, hex, input;
  bool has_input = false;
  const auto add_vector = [&] {
    if (header.empty()) return;
    if (header[0] == "every") {
      tables.every_field.push_back({Keep(header[1]), Keep(text), Keep(hex)});
    } else if (header[0] == "record") {
      tables.records.push_back({Keep(header[1]), Keep(header[2]), Keep(text),
                                Keep(hex), has_input ? Keep(input) : nullptr});
    } else {
      tables.malformed.push_back({Keep(header[1]), Keep(header[2]), Keep(hex)});
    }
    text.clear(), hex.clear(), input.clear(), has_input = false;
  };
  const auto join = [](std::string* lines, std::string_view line,
                       std::string_view separator) {
    if (!lines->empty()) *lines += separator;
    *lines += line;
  };
  int line_number = 0;
  for (std::string line; std::getline(file, line);) {
    ++line_number;
    if (line.find_first_not_of(' ') == std::string::npos || line[0] == '#') {
      continue;
    }
    if (line.rfind("  ", 0) == 0) {
      join(&text, std::string_view(line).substr(2), "\n");
      continue;
    }
    std::istringstream words(line);
    std::vector<std::string> word{std::istream_iterator<std::string>(words),
                                  std::istream_iterator<std::string>()};
    const std::string_view rest = std::string_view(line).substr(
        std::min(line.size(), word[0].size() + 1));
    if (word[0] == "hex") {
      join(&hex, rest, " ");
    } else if (word[0] == "input") {
      join(&input, rest, " ");
      has_input = true;
    } else if ((word[0] == "every" && word.size() == 2) ||
               ((word[0] == "record" || word[0] == "malformed") &&
                word.size() == 3)) {
      add_vector();
      header = std::move(word);
    } else {
      Fail(line_number, "not a vector's header, text, hex or input: " + line);
    }
  }
  add_vector();
  return tables;
}

const Tables& Vectors() {
  static const auto* tables = new Tables(Read());
  return *tables;
}

}  // namespace

const std::vector<EveryFieldVector>& EveryFieldVectors() {
  return Vectors().every_field;
}

const std::vector<RecordVector>& RecordVectors() { return Vectors().records; }

const std::vector<MalformedVector>& MalformedVectors() {
  return Vectors().malformed;
}

}  // namespace ostrel::testdata
