#include "json_integers.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;

struct Range {
  const char* name;
  bool negative_allowed;
  const char* lowest_magnitude;  // of the most negative value
  const char* highest;
};

const Range* RangeOf(const FieldDescriptor& field) {
  static constexpr Range kInt32{"int32", true, "2147483648", "2147483647"};
  static constexpr Range kInt64{"int64", true, "9223372036854775808",
                                "9223372036854775807"};
  static constexpr Range kUint32{"uint32", false, "0", "4294967295"};
  static constexpr Range kUint64{"uint64", false, "0", "18446744073709551615"};
  switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
    case FieldDescriptor::CPPTYPE_ENUM:
      return &kInt32;
    case FieldDescriptor::CPPTYPE_INT64:
      return &kInt64;
    case FieldDescriptor::CPPTYPE_UINT32:
      return &kUint32;
    case FieldDescriptor::CPPTYPE_UINT64:
      return &kUint64;
    default:
      return nullptr;
  }
}

// Whether the decimal digits `a` (no leading zeros) exceed `b`.
bool Exceeds(const std::string& a, const char* b) {
  const size_t b_size = std::strlen(b);
  return a.size() != b_size ? a.size() > b_size : a.compare(b) > 0;
}

// Empty when the JSON number `token` is an integer within `range`.
std::string Judge(std::string_view token, const Range& range) {
  const bool negative = !token.empty() && token.front() == '-';
  if (negative) token.remove_prefix(1);
  const size_t mantissa_end = token.find_first_of("eE");
  std::string_view mantissa = token.substr(0, mantissa_end);
  long exponent = 0;
  if (mantissa_end != std::string_view::npos) {
    const std::string_view text = token.substr(mantissa_end + 1);
    const bool minus = !text.empty() && text.front() == '-';
    for (char c : text.substr(!text.empty() && !std::isdigit(text[0]))) {
      if (exponent < 100000) exponent = exponent * 10 + (c - '0');
    }
    if (minus) exponent = -exponent;
  }
  const size_t point = mantissa.find('.');
  std::string digits(mantissa.substr(0, point));
  if (point != std::string_view::npos) {
    const std::string_view fraction = mantissa.substr(point + 1);
    digits += fraction;
    exponent -= static_cast<long>(fraction.size());
  }
  digits.erase(0, digits.find_first_not_of('0'));
  if (digits.empty()) return {};  // zero, whatever its exponent
  if (exponent < 0) {
    const size_t dropped = static_cast<size_t>(-exponent);
    if (dropped > digits.size() ||
        digits.find_first_not_of('0', digits.size() - dropped) !=
            std::string::npos) {
      return "is not an integer";
    }
    digits.resize(digits.size() - dropped);
  } else if (exponent > 20) {
    return "is out of range for " + std::string(range.name);
  } else {
    digits.append(static_cast<size_t>(exponent), '0');
  }
  if (negative
          ? !range.negative_allowed || Exceeds(digits, range.lowest_magnitude)
          : Exceeds(digits, range.highest)) {
    return "is out of range for " + std::string(range.name);
  }
  return {};
}

// The runtime's parser takes a field by its JSON name or its own.
const FieldDescriptor* FieldNamed(const Descriptor* type,
                                  const std::string& key) {
  for (int i = 0; type != nullptr && i < type->field_count(); ++i) {
    const FieldDescriptor* field = type->field(i);
    if (field->json_name() == key || field->name() == key) return field;
  }
  return nullptr;
}

class Walk {
 public:
  explicit Walk(std::string_view json) : json_(json) {}

  // Each returns false to stop: at a finding, or where the JSON stops
  // being what the walk understands.
  bool Value(const FieldDescriptor* field, const Descriptor* type,
             const std::string& path) {
    SkipSpace();
    if (at_ >= json_.size()) return false;
    const char c = json_[at_];
    if (c == '{' || c == '[') {
      // Deeper than any parse of these reports goes: the runtime's parser
      // rejects it, and the walk must not exhaust its stack first.
      if (depth_ == kMaxDepth) return false;
      ++depth_;
      const bool go_on =
          c == '{' ? Object(type, path) : Array(field, type, path);
      --depth_;
      return go_on;
    }
    if (c == '"') return String(nullptr);
    if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
      const size_t start = at_;
      while (at_ < json_.size() && std::strchr("+-.eE0123456789", json_[at_]) &&
             json_[at_] != '\0') {
        ++at_;
      }
      const Range* range = field != nullptr ? RangeOf(*field) : nullptr;
      if (range == nullptr) return true;
      const std::string_view token = json_.substr(start, at_ - start);
      const std::string verdict = Judge(token, *range);
      if (verdict.empty()) return true;
      finding_ = path + ": " + std::string(token) + " " + verdict;
      return false;
    }
    while (at_ < json_.size() &&
           std::isalpha(static_cast<unsigned char>(json_[at_]))) {
      ++at_;  // true, false, null
    }
    return true;
  }

  const std::string& finding() const { return finding_; }

 private:
  bool Object(const Descriptor* type, const std::string& path) {
    ++at_;
    SkipSpace();
    if (Consume('}')) return true;
    do {
      SkipSpace();
      std::string key;
      if (!String(&key)) return false;
      SkipSpace();
      if (!Consume(':')) return false;
      const FieldDescriptor* field = FieldNamed(type, key);
      const std::string name = field != nullptr ? field->name() : key;
      if (!Value(field, field != nullptr ? field->message_type() : nullptr,
                 path.empty() ? name : path + "." + name)) {
        return false;
      }
      SkipSpace();
    } while (Consume(','));
    return Consume('}');
  }

  bool Array(const FieldDescriptor* field, const Descriptor* type,
             const std::string& path) {
    ++at_;
    SkipSpace();
    if (Consume(']')) return true;
    int index = 0;
    do {
      if (!Value(field, type, path + "[" + std::to_string(index++) + "]")) {
        return false;
      }
      SkipSpace();
    } while (Consume(','));
    return Consume(']');
  }

  // Keys are field names, so escapes other than of ASCII are left as
  // written: such a key names no field either way.
  bool String(std::string* text) {
    if (!Consume('"')) return false;
    while (at_ < json_.size() && json_[at_] != '"') {
      char c = json_[at_++];
      if (c == '\\' && at_ < json_.size()) {
        c = json_[at_++];
        if (c == 'u' && at_ + 4 <= json_.size()) {
          const unsigned long code = std::strtoul(
              std::string(json_.substr(at_, 4)).c_str(), nullptr, 16);
          at_ += 4;
          c = code < 0x80 ? static_cast<char>(code) : '?';
        }
      }
      if (text != nullptr) *text += c;
    }
    return Consume('"');
  }

  void SkipSpace() {
    while (at_ < json_.size() && std::strchr(" \t\r\n", json_[at_]) &&
           json_[at_] != '\0') {
      ++at_;
    }
  }

  bool Consume(char c) {
    if (at_ >= json_.size() || json_[at_] != c) return false;
    ++at_;
    return true;
  }

  static constexpr int kMaxDepth = 200;

  std::string_view json_;
  size_t at_ = 0;
  int depth_ = 0;
  std::string finding_;
};

}  // namespace

std::string CheckJsonIntegers(const Descriptor& type, std::string_view json) {
  Walk walk(json);
  walk.Value(nullptr, &type, "");
  return walk.finding();
}

}  // namespace ostrel::agg_l3
