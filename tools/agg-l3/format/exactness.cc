#include "format/exactness.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/unknown_field_set.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;
using google::protobuf::UnknownField;

// The bit patterns "NaN" (JSON) and nan (text format) read back as.
constexpr uint32_t kFloatNan = json_exactness::kFloatNanBits;
constexpr uint64_t kDoubleNan = json_exactness::kDoubleNanBits;

template <typename Bits, typename Number>
Bits BitsOf(Number value) {
  Bits bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

std::string Hex(uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  do {
    hex.insert(hex.begin(), kDigits[value & 0xf]);
    value >>= 4;
  } while (value != 0);
  return "0x" + hex;
}

const char* FormatName(Format format) {
  return format == Format::kJson ? "JSON" : "text format";
}

// What the walk needs of a message type in a format, looked up once per
// process: the fields that can hold what the format cannot, in the order
// of their numbers (as ListFields gives them), and whether the type can
// hold any such thing at all (most reports need no walk in text format).
struct Judged {
  bool may_lose = false;
  std::vector<const FieldDescriptor*> fields;
};

// Called with the lock held.
const Judged& JudgedLocked(
    const Descriptor& type, Format format,
    std::map<std::pair<const Descriptor*, Format>, Judged>* known) {
  const auto key = std::make_pair(&type, format);
  if (const auto found = known->find(key); found != known->end()) {
    return found->second;
  }
  Judged& judged = (*known)[key];  // a type that contains itself adds nothing
  bool may = format == Format::kJson;  // unknown records
  for (int i = 0; i < type.field_count(); ++i) {
    const FieldDescriptor& field = *type.field(i);
    const bool loses =
        field.cpp_type() == FieldDescriptor::CPPTYPE_FLOAT ||
        field.cpp_type() == FieldDescriptor::CPPTYPE_DOUBLE ||
        (format == Format::kJson &&
         field.type() == FieldDescriptor::TYPE_STRING) ||
        (field.message_type() != nullptr &&
         JudgedLocked(*field.message_type(), format, known).may_lose);
    if (loses) judged.fields.push_back(&field);
    may |= loses;
  }
  std::sort(judged.fields.begin(), judged.fields.end(),
            [](const FieldDescriptor* a, const FieldDescriptor* b) {
              return a->number() < b->number();
            });
  judged.may_lose = may;
  return judged;
}

const Judged& JudgedOf(const Descriptor& type, Format format) {
  static std::mutex mutex;
  static auto* known =
      new std::map<std::pair<const Descriptor*, Format>, Judged>;
  std::lock_guard<std::mutex> lock(mutex);
  return JudgedLocked(type, format, known);
}

}  // namespace

class Exactness::Walk {
 public:
  Walk(Exactness& exactness, std::string_view root)
      : exactness_(exactness), root_(root) {}

  // Walks `message`; lost() tells whether it held anything the format
  // cannot.
  void InMessage(google::protobuf::Message* message) {
    InMessage(message, *message->GetDescriptor(), *message->GetReflection());
  }

  // The same of a message known to be of `type`, whose reflection is
  // `reflection`: asking a message for them costs more than the rest of a
  // small message's walk.
  void InMessage(google::protobuf::Message* message, const Descriptor& type,
                 const Reflection& reflection) {
    const Judged& judged = JudgedOf(type, exactness_.format_);
    if (!judged.may_lose) return;
    for (const FieldDescriptor* field : judged.fields) {
      if (!field->is_repeated()) {
        if (!reflection.HasField(*message, field)) continue;
        path_.push_back({field, -1});
        if (Value(message, reflection, *field, -1) && exactness_.accept_loss_) {
          reflection.ClearField(message, field);
        }
        path_.pop_back();
        continue;
      }
      // With accept_loss, kept elements move up over the lost ones in one
      // pass; position i still holds element i when it is judged.
      const int count = reflection.FieldSize(*message, field);
      int kept = 0;
      for (int i = 0; i < count; ++i) {
        path_.push_back({field, i});
        const bool lose = Value(message, reflection, *field, i);
        path_.pop_back();
        if (lose || !exactness_.accept_loss_) continue;
        if (kept != i) reflection.SwapElements(message, field, kept, i);
        ++kept;
      }
      if (exactness_.accept_loss_) {
        for (int i = kept; i < count; ++i)
          reflection.RemoveLast(message, field);
      }
    }
    if (exactness_.format_ == Format::kJson) {
      const auto& unknown = reflection.GetUnknownFields(*message);
      for (int i = 0; i < unknown.field_count(); ++i) {
        const UnknownField& record = unknown.field(i);
        Lose(UnknownRecord(type, record), record.number(),
             type.FindFieldByNumber(record.number()));
      }
      if (unknown.field_count() > 0 && exactness_.accept_loss_) {
        reflection.MutableUnknownFields(message)->Clear();
      }
    }
  }

  // Whether the string at the end of the path cannot be held (then it is
  // to be taken out).
  bool InString(std::string_view value) {
    if (exactness_.format_ != Format::kJson) return false;
    const size_t bad = FirstNonUtf8(value);
    if (bad == std::string_view::npos) return false;
    Lose("not UTF-8 from its byte " + std::to_string(bad) + " (" +
         Hex(static_cast<unsigned char>(value[bad])) + ")");
    return true;
  }

 private:
  struct Step {
    const FieldDescriptor* field;
    int index;  // in the list as it was read; -1 for a singular field
  };

  // Whether value `index` (-1: singular) of `field` cannot be held, and so
  // is to be taken out. Of a message only the lost parts are taken out.
  bool Value(google::protobuf::Message* message, const Reflection& r,
             const FieldDescriptor& field, int index) {
    const bool list = index >= 0;
    switch (field.cpp_type()) {
      case FieldDescriptor::CPPTYPE_MESSAGE: {
        Message* inner = list ? r.MutableRepeatedMessage(message, &field, index)
                              : r.MutableMessage(message, &field);
        // Messages of one type share one reflection: the first one's.
        const Descriptor& type = *field.message_type();
        auto known = std::find_if(
            reflections_.begin(), reflections_.end(),
            [&type](const auto& entry) { return entry.first == &type; });
        if (known == reflections_.end()) {
          known = reflections_.insert(known, {&type, inner->GetReflection()});
        }
        InMessage(inner, type, *known->second);
        return false;
      }
      case FieldDescriptor::CPPTYPE_STRING: {
        if (field.type() != FieldDescriptor::TYPE_STRING) return false;
        std::string scratch;
        return InString(list
                            ? r.GetRepeatedStringReference(*message, &field,
                                                           index, &scratch)
                            : r.GetStringReference(*message, &field, &scratch));
      }
      case FieldDescriptor::CPPTYPE_FLOAT: {
        const float value = list ? r.GetRepeatedFloat(*message, &field, index)
                                 : r.GetFloat(*message, &field);
        return Nan(std::isnan(value), BitsOf<uint32_t>(value), kFloatNan);
      }
      case FieldDescriptor::CPPTYPE_DOUBLE: {
        const double value = list ? r.GetRepeatedDouble(*message, &field, index)
                                  : r.GetDouble(*message, &field);
        return Nan(std::isnan(value), BitsOf<uint64_t>(value), kDoubleNan);
      }
      default:  // integers, booleans and enumerations print exactly
        return false;
    }
  }

  bool Nan(bool is_nan, uint64_t bits, uint64_t readable) {
    if (!is_nan || bits == readable) return false;
    Lose(std::string("a NaN with bits ") + Hex(bits) + ", which " +
         FormatName(exactness_.format_) + " writes as " +
         (exactness_.format_ == Format::kJson ? "NaN" : "nan"));
    return true;
  }

  static std::string UnknownRecord(const Descriptor& type,
                                   const UnknownField& record) {
    const FieldDescriptor* field = type.FindFieldByNumber(record.number());
    if (field == nullptr) {
      return "field " + std::to_string(record.number()) +
             ", which this schema does not know";
    }
    if (field->enum_type() != nullptr &&
        record.type() == UnknownField::TYPE_VARINT) {
      return "value " + std::to_string(static_cast<int32_t>(record.varint())) +
             " rejected by enumeration " + field->enum_type()->name();
    }
    return "a record of field " + std::to_string(record.number()) +
           " in a wire type the schema does not have for it";
  }

  // Records the loss at the path, and below it, when the loss is a record
  // the schema keeps as unknown, that record's field (or its number).
  void Lose(std::string what, int unknown_number = 0,
            const FieldDescriptor* unknown_field = nullptr) {
    lost_ = true;
    if (exactness_.listed_.size() >= kMaxListed) {
      ++exactness_.unlisted_;
      return;
    }
    std::string path(root_);
    for (const Step& step : path_) {
      if (!path.empty()) path += '.';
      path += step.field->name();
      if (step.index >= 0) path += "[" + std::to_string(step.index) + "]";
    }
    if (unknown_number != 0) {
      if (!path.empty()) path += '.';
      path += unknown_field ? unknown_field->name()
                            : std::to_string(unknown_number);
    }
    exactness_.Add(std::move(path), std::move(what));
  }

  Exactness& exactness_;
  const std::string_view root_;
  std::vector<Step> path_;
  std::vector<std::pair<const Descriptor*, const Reflection*>> reflections_;
  bool lost_ = false;

 public:
  bool lost() const { return lost_; }
};

bool Exactness::Judge(Message* message, std::string_view root) {
  Walk walk(*this, root);
  walk.InMessage(message);
  return !walk.lost() || accept_loss_;
}

bool Exactness::JudgeString(std::string_view value, std::string_view path) {
  return !Walk(*this, path).InString(value);
}

void Exactness::Add(std::string path, std::string what) {
  listed_.push_back({std::move(path), std::move(what)});
}

Status Exactness::Refusal(std::string_view source) const {
  std::string message =
      std::string(source) + ": " + FormatName(format_) +
      " cannot hold these values exactly, so they were not written;" +
      (format_ == Format::kJson
           ? " text format keeps strings that are not UTF-8 and records "
             "this schema does not know, and"
           : "") +
      " --accept-loss writes the rest without them:";
  for (const Loss& loss : listed_) {
    message += "\n  " + loss.path + ": " + loss.what;
  }
  if (unlisted_ > 0) {
    message += "\n  and " + std::to_string(unlisted_) + " more";
  }
  return {kCannotHold, message};
}

void Exactness::ListLosses(Warnings* warnings) const {
  for (const Loss& loss : listed_) {
    warnings->push_back(std::string(FormatName(format_)) + " does not hold " +
                        loss.path + ": " + loss.what + "; left out");
  }
  if (unlisted_ > 0) {
    warnings->push_back("and " + std::to_string(unlisted_) + " more values " +
                        FormatName(format_) + " does not hold, left out");
  }
}

}  // namespace ostrel::agg_l3
