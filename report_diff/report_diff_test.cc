#include "ostrel/report_diff.h"

#include <gmock/gmock.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <map>
#include <random>
#include <sstream>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"
#include "wire_vectors.h"

namespace ostrel::report_diff {
namespace {

namespace pb = ::google::protobuf;
namespace l3 = ::ostrel::ruk::agg_service::l3;
using ::ostrel::ruk::UuidMsg;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

std::unique_ptr<pb::Message> Parse(const pb::Descriptor& type,
                                   const std::string& text) {
  std::unique_ptr<pb::Message> message(
      pb::MessageFactory::generated_factory()->GetPrototype(&type)->New());
  EXPECT_TRUE(pb::TextFormat::ParseFromString(text, message.get())) << text;
  return message;
}

// The pairs of testdata/pairs.txt, which describes its format.
class PairTest : public ::testing::TestWithParam<testdata::Case> {};

TEST_P(PairTest, ReportsTheseDifferences) {
  const testdata::Case& c = GetParam();
  const pb::Descriptor& type = *testdata::VectorType(c.head.at(1));
  const auto bytes = [&](const std::string& side) {
    return c.values.count(side + "_hex")
               ? testdata::FromHex(c.Joined(side + "_hex", " "))
               : Parse(type, c.Joined(side))->SerializeAsString();
  };
  Keys keys(type);
  std::string error;
  for (const std::string& entry : c.Of("key")) {
    const size_t equals = entry.find('=');
    std::vector<std::string> fields;
    std::stringstream list(entry.substr(equals + 1));
    for (std::string field; std::getline(list, field, ',');) {
      fields.push_back(field);
    }
    ASSERT_TRUE(keys.Set(entry.substr(0, equals), fields, &error)) << error;
  }
  Ignore ignore(type);
  for (const std::string& path : c.Of("ignore")) {
    ASSERT_TRUE(ignore.Add(path, &error)) << error;
  }
  EXPECT_FALSE(ignore.Add("error.nope", &error));
  const std::string old_bytes = bytes("old"), new_bytes = bytes("new");
  pb::io::ArrayInputStream input(new_bytes.data(),
                                 static_cast<int>(new_bytes.size()));
  std::vector<std::string> lines, json, steps, notes;
  ReadError read_error;
  const auto add = [&](const Difference& d) {
    lines.push_back(ToLine(d));
    json.push_back(ToJson(d));
    steps.push_back(ToJson(d, true));
    for (const auto& value : {d.old_value, d.new_value}) {
      for (const JsonLoss& loss :
           value ? value->json_losses : std::vector<JsonLoss>()) {
        json.back() += " loses " + loss.path + ": " + loss.what;
      }
    }
  };
  ASSERT_TRUE(Compare(old_bytes, &input, type, keys, ignore,
                      {add, [&](const std::string& n) { notes.push_back(n); }},
                      &read_error));
  EXPECT_THAT(lines, ElementsAreArray(c.Of("line")));
  if (c.values.count("json")) EXPECT_THAT(json, ElementsAreArray(c.Of("json")));
  if (c.values.count("steps")) {
    EXPECT_THAT(steps, ElementsAreArray(c.Of("steps")));
  }
  // Each note once, however many elements it is about.
  std::vector<testing::Matcher<std::string>> expected_notes;
  for (const std::string& note : c.Of("note")) {
    expected_notes.push_back(HasSubstr(note));
  }
  EXPECT_THAT(notes, ElementsAreArray(expected_notes));
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, PairTest,
    ::testing::ValuesIn(testdata::ReadCases(TESTDATA_DIR "/pairs.txt")),
    [](const auto& test) { return test.param.head.at(0); });

TEST(KeysTest, EveryListOfMessagesHasAKey) {
  const pb::FileDescriptor& file = *l3::RouteTableMsg::descriptor()->file();
  ASSERT_EQ(file.message_type_count(), 58);
  for (int i = 0; i < file.message_type_count(); ++i) {
    const pb::Descriptor& type = *file.message_type(i);
    const Keys keys(type);
    for (int f = 0; f < type.field_count(); ++f) {
      const pb::FieldDescriptor& field = *type.field(f);
      if (!field.is_repeated()) continue;
      const Keys::Key& key = keys.For(field);
      EXPECT_TRUE(key.by_value || !key.fields.empty()) << field.full_name();
    }
  }
}

// The index of the element of `list` in `parent` that `selector` (the text
// between the brackets) names: a position, or its key and rank, as a
// consumer reads it with the list's key in hand.
int Resolve(const pb::Message& parent, const pb::FieldDescriptor& list,
            const Keys& keys, const std::string& selector) {
  const Keys::Key& key = keys.For(list);
  if (!key.by_value && key.fields.empty()) return std::stoi(selector);
  std::map<std::string, std::string> wanted;  // key field: text
  int rank = 0;
  std::string rest = selector;
  while (!rest.empty()) {
    size_t end = 0;
    for (bool quoted = false; end < rest.size(); ++end) {
      if (quoted && rest[end] == '\\')
        ++end;
      else if (rest[end] == '"')
        quoted = !quoted;
      else if (!quoted && rest[end] == ',')
        break;
    }
    std::string item = rest.substr(0, end);
    rest = end < rest.size() ? rest.substr(end + 2) : "";
    if (item[0] == '#') {
      rank = std::stoi(item.substr(1));
      continue;
    }
    const size_t equals = key.by_value ? std::string::npos : item.find('=');
    std::string value = item.substr(equals + 1);
    if (value[0] == '"')
      pb::UnescapeCEscapeString(value.substr(1, value.size() - 2), &value);
    wanted[key.by_value ? "" : item.substr(0, equals)] = value;
  }
  const pb::Reflection& r = *parent.GetReflection();
  for (int i = 0; i < r.FieldSize(parent, &list); ++i) {
    bool match = true;
    if (key.by_value) {
      match = r.GetRepeatedString(parent, &list, i) == wanted[""];
    }
    for (const auto& path : key.fields) {
      std::string name;
      const pb::Message* holder = &r.GetRepeatedMessage(parent, &list, i);
      for (size_t k = 0; k < path.size(); ++k) {
        name += (k ? "." : "") + path[k]->name();
        const pb::Reflection& h = *holder->GetReflection();
        if (!h.HasField(*holder, path[k])) break;
        if (k + 1 < path.size()) {
          holder = &h.GetMessage(*holder, path[k]);
          continue;
        }
        std::string text;
        if (path[k]->cpp_type() == pb::FieldDescriptor::CPPTYPE_STRING) {
          text = h.GetString(*holder, path[k]);
        } else if (path[k]->message_type() == UuidMsg::descriptor() &&
                   h.GetMessage(*holder, path[k]).ByteSizeLong() == 18) {
          const auto& uuid =
              static_cast<const UuidMsg&>(h.GetMessage(*holder, path[k]));
          char hex[33];
          std::snprintf(hex, sizeof hex, "%016" PRIx64 "%016" PRIx64,
                        uuid.left(), uuid.right());
          text = std::string(hex, 8) + "-" + std::string(hex + 8, 4) + "-" +
                 std::string(hex + 12, 4) + "-" + std::string(hex + 16, 4) +
                 "-" + std::string(hex + 20);
        } else if (path[k]->message_type()) {
          text = "{" + h.GetMessage(*holder, path[k]).ShortDebugString() + "}";
        } else {
          pb::TextFormat::PrintFieldValueToString(*holder, path[k], -1, &text);
        }
        name += "=" + text;
      }
      const size_t equals = name.find('=');
      match &=
          equals == std::string::npos
              ? wanted.count(name) == 0
              : wanted.count(name.substr(0, equals)) &&
                    wanted[name.substr(0, equals)] == name.substr(equals + 1);
    }
    if (match && rank-- == 0) return i;
  }
  ADD_FAILURE() << "nothing matches [" << selector << "] in " << list.name();
  return 0;
}

// Applies `differences` to `report` as a consumer of the output would: by
// each printed path, its keys read back, and the printed values.
void Apply(const std::vector<Difference>& differences, const Keys& keys,
           pb::Message* report) {
  std::map<std::pair<pb::Message*, const pb::FieldDescriptor*>,
           std::vector<int>>
      removed;
  std::vector<std::pair<pb::UnknownFieldSet*, int>> removed_records;
  for (const Difference& d : differences) {
    const std::vector<std::string> segments = PathSteps(d.path);
    pb::Message* parent = report;
    const pb::FieldDescriptor* field = nullptr;
    int index = -1;
    for (size_t i = 0; i < segments.size(); ++i) {
      const std::string& segment = segments[i];
      const size_t bracket = segment.find('[');
      if (field != nullptr) {
        const pb::Reflection& r = *parent->GetReflection();
        parent = index >= 0 ? r.MutableRepeatedMessage(parent, field, index)
                            : r.MutableMessage(parent, field);
      }
      if (std::isdigit(segment[0])) {  // a record the schema does not know
        ASSERT_EQ(i + 1, segments.size()) << d.path;
        const size_t hash = segment.find('#');
        const int number = std::stoi(segment);
        int nth =
            hash == std::string::npos ? 0 : std::stoi(segment.substr(hash + 1));
        pb::UnknownFieldSet* set =
            parent->GetReflection()->MutableUnknownFields(parent);
        int at = 0;
        while (at < set->field_count() &&
               (set->field(at).number() != number || nth-- > 0)) {
          ++at;
        }
        if (d.kind == Difference::kRemoved) {
          removed_records.emplace_back(set, at);
        } else {
          const uint64_t value = std::stoull(d.new_value->text);
          if (d.kind == Difference::kAdded)
            set->AddVarint(number, value);
          else
            set->mutable_field(at)->set_varint(value);
        }
        break;
      }
      field =
          parent->GetDescriptor()->FindFieldByName(segment.substr(0, bracket));
      ASSERT_NE(field, nullptr) << d.path;
      const bool last = i + 1 == segments.size();
      index =
          bracket == std::string::npos || (last && d.kind == Difference::kAdded)
              ? -1
              : Resolve(
                    *parent, *field, keys,
                    segment.substr(bracket + 1, segment.size() - bracket - 2));
      if (!last) continue;
      const pb::Reflection& r = *parent->GetReflection();
      if (index >= 0 && d.kind == Difference::kRemoved) {
        removed[{parent, field}].push_back(index);
      } else if (index >= 0) {
        // An element of a list compared by position, changed as a whole.
        auto scratch = std::unique_ptr<pb::Message>(parent->New());
        ASSERT_TRUE(pb::TextFormat::ParseFromString(
            field->name() + ": " + d.new_value->text, scratch.get()));
        r.SetRepeatedString(
            parent, field, index,
            scratch->GetReflection()->GetRepeatedString(*scratch, field, 0));
      } else {
        if (!field->is_repeated()) r.ClearField(parent, field);
        if (d.kind != Difference::kRemoved) {
          ASSERT_TRUE(pb::TextFormat::MergeFromString(
              field->name() + ": " + d.new_value->text, parent))
              << d.path;
        }
      }
    }
  }
  for (auto record = removed_records.rbegin(); record != removed_records.rend();
       ++record) {
    record->first->DeleteSubrange(record->second, 1);
  }
  for (auto& [where, indices] : removed) {
    auto [parent, field] = where;
    std::sort(indices.rbegin(), indices.rend());
    const pb::Reflection& r = *parent->GetReflection();
    for (const int index : indices) {
      for (int i = index; i + 1 < r.FieldSize(*parent, field); ++i) {
        r.SwapElements(parent, field, i, i + 1);
      }
      r.RemoveLast(parent, field);
    }
  }
}

// One random change somewhere in `message`: a list element removed,
// duplicated with a changed field, or the list shuffled; a string repeated
// in its list; a singular field changed (strings also to bytes that are not
// UTF-8), cleared or set; a record the schema does not know added.
// Records the schema does not know go only where the message is compared
// field by field (`compared`): the report and list elements kept in place,
// not keys or whole new elements, since text format cannot read them back.
void Mutate(pb::Message* message, std::mt19937* random, bool compared = true) {
  const pb::Descriptor& type = *message->GetDescriptor();
  const pb::Reflection& r = *message->GetReflection();
  const pb::FieldDescriptor& field = *type.field(
      std::uniform_int_distribution<>(0, type.field_count() - 1)(*random));
  auto pick = [&](int n) {
    return std::uniform_int_distribution<>(0, n - 1)(*random);
  };
  using F = pb::FieldDescriptor;
  if (compared && pick(8) == 0) {
    r.MutableUnknownFields(message)->AddVarint(1000 + pick(2), pick(3));
    return;
  }
  if (field.is_repeated()) {
    const int size = r.FieldSize(*message, &field);
    if (size == 0 || field.cpp_type() != F::CPPTYPE_MESSAGE) {
      if (field.cpp_type() == F::CPPTYPE_STRING) {
        r.AddString(message, &field,
                    size > 0 && pick(2)
                        ? r.GetRepeatedString(*message, &field, pick(size))
                        : "added-" + std::to_string(pick(1000)));
      }
      return;
    }
    switch (pick(4)) {
      case 0:
        r.SwapElements(message, &field, pick(size), size - 1);
        r.RemoveLast(message, &field);
        return;
      case 1: {
        pb::Message* copy = r.AddMessage(message, &field);
        copy->CopyFrom(r.GetRepeatedMessage(*message, &field, pick(size)));
        Mutate(copy, random, false);
        return;
      }
      case 2:
        r.SwapElements(message, &field, pick(size), pick(size));
        return;
      default:
        Mutate(r.MutableRepeatedMessage(message, &field, pick(size)), random,
               compared);
        return;
    }
  }
  if (pick(5) == 0) {
    r.ClearField(message, &field);
    return;
  }
  if (field.cpp_type() == F::CPPTYPE_MESSAGE) {
    Mutate(r.MutableMessage(message, &field), random, false);
  } else if (field.cpp_type() == F::CPPTYPE_STRING) {
    r.SetString(message, &field,
                r.GetString(*message, &field) + (pick(4) ? "x" : "\xff"));
  } else {
    // A number (one with a fraction only parses into floating-point fields,
    // a negative one only into signed ones), or a value of the enumeration.
    const pb::EnumDescriptor* e = field.enum_type();
    pb::TextFormat::ParseFieldValueFromString(
        e ? e->value(pick(e->value_count()))->name()
          : std::to_string(pick(4) - 1) + (pick(3) ? "" : ".5"),
        &field, message);
  }
}

// Keys only the new report has are kept up to a bound, so that a new report
// without end cannot grow them without end; past it, the keys kept still
// rank their repeats.
TEST(CompareTest, RepeatsPastTheBoundOfNewKeysStillRank) {
  l3::RouteTableMsg old_report, new_report;
  for (int i = 0; i <= 4096; ++i) {
    new_report.add_route()->set_network("n" + std::to_string(i));
  }
  new_report.add_route()->set_network("n0");
  new_report.add_route()->set_network("n0");
  std::vector<std::string> notes, lines;
  for (const Difference& difference : Compare(
           old_report, new_report, Keys(*new_report.GetDescriptor()), &notes)) {
    lines.push_back(ToLine(difference));
  }
  ASSERT_EQ(lines.size(), 4099u);
  EXPECT_THAT(std::vector<std::string>(lines.end() - 2, lines.end()),
              ElementsAre(HasSubstr("route[network=n0, #1]"),
                          HasSubstr("route[network=n0, #2]")));
}

TEST(CompareTest, ApplyingTheDifferencesToOldGivesNew) {
  ASSERT_GE(testdata::Examples().size(), 6u);
  std::mt19937 random(16);
  for (const testdata::Example& example : testdata::Examples()) {
    const std::string& path = example.path;
    const pb::Descriptor* type = testdata::VectorType(example.type);
    ASSERT_NE(type, nullptr) << path;
    const auto original = Parse(*type, example.text);
    const Keys keys(*type);
    for (int round = 0; round < 200; ++round) {
      std::unique_ptr<pb::Message> old_report(original->New());
      old_report->CopyFrom(*original);
      std::unique_ptr<pb::Message> new_report(original->New());
      new_report->CopyFrom(*original);
      // Records the schema does not know last: a later change could make
      // their element new as a whole.
      for (int n = 1 + round % 4; n > 0; --n) {
        Mutate(new_report.get(), &random, n == 1);
      }
      if (round % 3 == 0) Mutate(old_report.get(), &random);

      std::vector<std::string> notes;
      const std::vector<Difference> differences =
          Compare(*old_report, *new_report, keys, &notes);
      Apply(differences, keys, old_report.get());
      pb::util::MessageDifferencer as_sets;
      as_sets.set_repeated_field_comparison(
          pb::util::MessageDifferencer::AS_SET);
      std::string report;
      as_sets.ReportDifferencesToString(&report);
      EXPECT_TRUE(as_sets.Compare(*old_report, *new_report))
          << path << " round " << round << ":\n"
          << report;
      if (HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace ostrel::report_diff
