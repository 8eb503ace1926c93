// Both report printers against the runtime's, byte for byte.

#include "format/json_printer.h"

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/unknown_field_set.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "format/text_printer.h"
#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "wire_vectors.h"

namespace ostrel::agg_l3 {
namespace {

// The runtime's printer writes a float -0 as the number -0, which JSON
// parsers read as the integer 0; ours writes -0.0, which keeps the sign.
void KeepNegativeZeros(std::string* json) {
  bool in_string = false;
  for (size_t i = 0; i < json->size(); ++i) {
    const char c = (*json)[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '-' && json->compare(i + 1, 1, "0") == 0 &&
               (i + 2 == json->size() ||
                std::strchr("0123456789.eE", (*json)[i + 2]) == nullptr)) {
      json->insert(i + 2, ".0");
      i += 3;
    }
  }
}

namespace l3 = ruk::agg_service::l3;
using google::protobuf::Message;
using google::protobuf::util::JsonPrintOptions;

std::string Runtime(const Message& message, const JsonPrintOptions& options) {
  std::string json;
  EXPECT_TRUE(
      google::protobuf::util::MessageToJsonString(message, &json, options)
          .ok());
  KeepNegativeZeros(&json);  // as agg-l3 has always printed it
  return json;
}

template <typename Printer, typename... Options>
std::string Ours(const Message& message, const Options&... options) {
  std::string printed;
  {
    google::protobuf::io::StringOutputStream output(&printed);
    Printer printer(options..., &output);
    printer.Print(message);
  }
  return printed;
}

// The sixteen combinations of the options the printer honours.
std::vector<JsonPrintOptions> EveryOptionSet() {
  std::vector<JsonPrintOptions> sets;
  for (int bits = 0; bits < 16; ++bits) {
    JsonPrintOptions options;
    options.add_whitespace = bits & 1;
    options.always_print_primitive_fields = bits & 2;
    options.always_print_enums_as_ints = bits & 4;
    options.preserve_proto_field_names = bits & 8;
    sets.push_back(options);
  }
  return sets;
}

std::string Describe(const JsonPrintOptions& options) {
  return std::string("whitespace=") + (options.add_whitespace ? "1" : "0") +
         " defaults=" + (options.always_print_primitive_fields ? "1" : "0") +
         " enum_ints=" + (options.always_print_enums_as_ints ? "1" : "0") +
         " proto_names=" + (options.preserve_proto_field_names ? "1" : "0");
}

// Text, and JSON under each of `json`.
void ExpectSameAsRuntime(
    const Message& message,
    const std::vector<JsonPrintOptions>& json = EveryOptionSet()) {
  std::string text;
  ASSERT_TRUE(google::protobuf::TextFormat::PrintToString(message, &text));
  ASSERT_EQ(Ours<TextPrinter>(message), text);
  for (const JsonPrintOptions& options : json) {
    ASSERT_EQ(Ours<JsonPrinter>(message, options), Runtime(message, options))
        << Describe(options);
  }
}

// Up to three unknown fields of each wire type, groups and messages holding
// more, and strings that only look like them.
void AddUnknownFields(std::mt19937& random, int depth,
                      google::protobuf::UnknownFieldSet* fields) {
  for (int n = random() % 4; n > 0; --n) {
    const int number = 100 + random() % 1000;
    switch (random() % 5) {
      case 0:
        fields->AddVarint(number, uint64_t{random()} << (random() % 40));
        break;
      case 1:
        fields->AddFixed32(number, random());
        break;
      case 2:
        fields->AddFixed64(number, uint64_t{random()} << 32 | random());
        break;
      case 3: {
        std::string bytes = "\x0a\x05\xff\"\n";  // cut short
        if (random() % 4) {
          google::protobuf::UnknownFieldSet inner;
          if (depth < 12) AddUnknownFields(random, depth + 1, &inner);
          inner.SerializeToString(&bytes);
        }
        fields->AddLengthDelimited(number, bytes);
        break;
      }
      case 4:
        if (depth < 12) {
          AddUnknownFields(random, depth + 1, fields->AddGroup(number));
        }
        break;
    }
  }
}

// Adds unknown fields to `message` and to every message in it.
void AddUnknownFieldsEverywhere(std::mt19937& random, Message* message) {
  const auto& reflection = *message->GetReflection();
  AddUnknownFields(random, 0, reflection.MutableUnknownFields(message));
  std::vector<const google::protobuf::FieldDescriptor*> fields;
  reflection.ListFields(*message, &fields);
  for (const auto* field : fields) {
    if (field->message_type() == nullptr) continue;
    if (!field->is_repeated()) {
      AddUnknownFieldsEverywhere(random,
                                 reflection.MutableMessage(message, field));
      continue;
    }
    for (int i = 0; i < reflection.FieldSize(*message, field); ++i) {
      AddUnknownFieldsEverywhere(
          random, reflection.MutableRepeatedMessage(message, field, i));
    }
  }
}

// Every vector and every shipped example, as they are, empty, and with
// unknown fields added at every depth (JSON has no place for those).
TEST(Printers, EveryReportPrintsAsTheRuntime) {
  std::vector<std::unique_ptr<Message>> reports;
  for (const auto& vector : testdata::EveryFieldVectors()) {
    reports.push_back(testdata::NewMessage(vector.type));
    ASSERT_TRUE(reports.back()->ParseFromString(testdata::FromHex(vector.hex)));
  }
  for (const auto& vector : testdata::RecordVectors()) {
    reports.push_back(testdata::NewMessage(vector.type));
    ASSERT_TRUE(reports.back()->ParseFromString(testdata::FromHex(vector.hex)));
  }
  for (const auto& entry : std::filesystem::directory_iterator(EXAMPLES_DIR)) {
    if (entry.path().extension() != ".txtpb") continue;
    std::ifstream file(entry.path());
    std::string header;  // "# proto-file: ...", then "# proto-message: TYPE"
    std::getline(std::getline(file, header), header);
    reports.push_back(
        testdata::NewMessage(header.substr(header.find(": ") + 2)));
    google::protobuf::io::IstreamInputStream text(&file);
    ASSERT_TRUE(
        google::protobuf::TextFormat::Parse(&text, reports.back().get()));
  }
  std::mt19937 random(15);
  for (const auto& report : reports) {
    SCOPED_TRACE(report->GetTypeName());
    ExpectSameAsRuntime(*report);
    AddUnknownFieldsEverywhere(random, report.get());
    ExpectSameAsRuntime(*report);
    report->Clear();  // only the default instances' values
    ExpectSameAsRuntime(*report);
  }
}

// Strings are never checked for UTF-8, so every byte sequence must come out
// as the runtime escapes it: all strings of one and two bytes, every code
// point, and random runs of bytes around the multi-byte leads.
TEST(Printers, EscapesEveryStringAsTheRuntime) {
  std::vector<std::string> strings;
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      strings.push_back({static_cast<char>(a), static_cast<char>(b)});
    }
    strings.push_back(std::string(1, static_cast<char>(a)));
  }
  for (uint32_t cp = 0x80; cp <= 0x10FFFF;
       cp += cp < 0x30000 || (cp >> 8) == 0xE00 ? 1 : 97) {
    std::string utf8;
    if (cp < 0x800) {
      utf8 = {static_cast<char>(0xC0 | (cp >> 6)),
              static_cast<char>(0x80 | (cp & 0x3F))};
    } else if (cp < 0x10000) {
      utf8 = {static_cast<char>(0xE0 | (cp >> 12)),
              static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
              static_cast<char>(0x80 | (cp & 0x3F))};
    } else {
      utf8 = {static_cast<char>(0xF0 | (cp >> 18)),
              static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
              static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
              static_cast<char>(0x80 | (cp & 0x3F))};
    }
    strings.push_back("a" + utf8 + "z");
    strings.push_back(utf8.substr(0, utf8.size() - 1) + "\"");
  }
  std::mt19937 random(15);
  for (int i = 0; i < 20000; ++i) {
    std::string bytes(1 + random() % 8, '\0');
    for (char& c : bytes) {
      c = static_cast<char>(random() % 2 ? 0x80 + random() % 0x80
                                         : random() % 0x100);
    }
    strings.push_back(bytes);
  }

  l3::RouteTableMsg table;
  for (const std::string& value : strings) {
    table.set_lrouter_id(value);
    ExpectSameAsRuntime(table, {JsonPrintOptions()});
  }
}

TEST(Printers, PrintsNumbersAndEnumerationsAsTheRuntime) {
  std::vector<float> floats = {0.0f,
                               -0.0f,
                               0.1f,
                               1e10f,
                               -3.4028235e38f,
                               1.17549435e-38f,
                               1.4e-45f,
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN()};
  std::mt19937 random(15);
  for (int i = 0; i < 20000; ++i) {
    const uint32_t bits = random();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    floats.push_back(value);
  }
  l3::EdgeNodeStatusMsg status;
  for (float value : floats) {
    status.set_r_await(value);
    status.set_w_await(-value);
    ExpectSameAsRuntime(status, {JsonPrintOptions()});
  }

  // Setters store any number; reflection reads it back as it is.
  for (int number : {0, 1, 2, 3, 99, -1, std::numeric_limits<int>::min()}) {
    status.set_vtep_state(
        static_cast<l3::EdgeNodeStatusMsg_EdgeVtepStateEnum>(number));
    ExpectSameAsRuntime(status);
  }

  l3::RouteTableMsg table;
  for (int64_t value : {std::numeric_limits<int64_t>::min(), int64_t{-1},
                        int64_t{0}, std::numeric_limits<int64_t>::max()}) {
    table.set_timestamp(value);
    table.mutable_lrouter_uuid()->set_left(static_cast<uint64_t>(value));
    ExpectSameAsRuntime(table);
  }
}

}  // namespace
}  // namespace ostrel::agg_l3
