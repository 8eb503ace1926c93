#include "format/json_reader.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/stubs/common.h>
#include <google/protobuf/stubs/strutil.h>
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

// The runtime's parser refuses an object nested in more than 100 others
// (lists do not count).
constexpr int kMaxObjects = 100;

// rapidjson's input over a ZeroCopyInputStream, counting lines as it goes so
// that an error is placed without reading the input again.
class ChunkStream {
 public:
  using Ch = char;

  explicit ChunkStream(google::protobuf::io::ZeroCopyInputStream* input)
      : input_(input) {
    Refill();
  }

  // '\0' at the end, which rapidjson takes for the end.
  char Peek() const { return next_ != end_ ? *next_ : '\0'; }
  char Take() {
    if (next_ == end_) return '\0';
    const char c = *next_++;
    if (c == '\n') {
      ++line_;
      line_start_ = Tell();
    }
    if (next_ == end_) Refill();
    return c;
  }
  size_t Tell() const { return before_ + (next_ - begin_); }
  // Whether all was read: a NUL byte looks like the end to rapidjson.
  bool AtEnd() const { return next_ == end_; }

  // "line 3, column 14": where the byte at `offset` is, at most a few bytes
  // before the one read last.
  std::string Where(size_t offset) const {
    const size_t column = offset >= line_start_ ? offset - line_start_ + 1 : 1;
    return "line " + std::to_string(line_) + ", column " +
           std::to_string(column);
  }

  // Only in-place parsing writes to its input; it is not used.
  char* PutBegin() { return nullptr; }
  void Put(char) {}
  size_t PutEnd(char*) { return 0; }

 private:
  void Refill() {
    before_ += end_ - begin_;
    const void* data;
    int size;
    while (input_->Next(&data, &size)) {
      if (size > 0) {
        begin_ = next_ = static_cast<const char*>(data);
        end_ = begin_ + size;
        return;
      }
    }
    begin_ = next_ = end_ = nullptr;
  }

  google::protobuf::io::ZeroCopyInputStream* input_;
  const char* begin_ = nullptr;
  const char* next_ = nullptr;
  const char* end_ = nullptr;
  size_t before_ = 0;  // bytes in the chunks before this one
  size_t line_ = 1;
  size_t line_start_ = 0;
};

// The field `key` names, by its JSON name or its own: the runtime takes
// both. Printers write fields in the order declared, leaving out those
// unset, so the search starts at `start`, after the field read last.
const FieldDescriptor* FieldNamed(const Descriptor& type, std::string_view key,
                                  int start) {
  const int count = type.field_count();
  for (int i = 0; i < count; ++i) {
    const FieldDescriptor* field = type.field((start + i) % count);
    if (field->json_name() == key || field->name() == key) return field;
  }
  return nullptr;
}

enum class Exactness { kInteger, kFraction, kTooLarge, kRounded };

// What the JSON number `text` denotes, when that is an integer: its sign and
// magnitude. The runtime reads a number with a fraction or an exponent as a
// double, so such a number is kRounded when that double is not it.
Exactness ExactInteger(std::string_view text, bool* negative,
                       uint64_t* magnitude) {
  *negative = text.front() == '-';
  if (*negative) text.remove_prefix(1);
  // Most are digits alone, fewer than any 64-bit integer overflows with.
  if (text.size() <= 19 &&
      text.find_first_not_of("0123456789") == std::string_view::npos) {
    *magnitude = 0;
    for (char c : text) *magnitude = *magnitude * 10 + (c - '0');
    return Exactness::kInteger;
  }
  const size_t mantissa_end = text.find_first_of("eE");
  const std::string_view mantissa = text.substr(0, mantissa_end);
  long exponent = 0;
  if (mantissa_end != std::string_view::npos) {
    std::string_view digits = text.substr(mantissa_end + 1);
    const bool minus = digits.front() == '-';
    if (minus || digits.front() == '+') digits.remove_prefix(1);
    for (char c : digits) {
      if (exponent < 100000) exponent = exponent * 10 + (c - '0');
    }
    if (minus) exponent = -exponent;
  }
  const size_t point = mantissa.find('.');
  std::string digits(mantissa.substr(0, point));
  if (point != std::string_view::npos) {
    digits += mantissa.substr(point + 1);
    exponent -= static_cast<long>(mantissa.size() - point - 1);
  }
  digits.erase(0, digits.find_first_not_of('0'));
  *magnitude = 0;
  if (digits.empty()) return Exactness::kInteger;
  if (exponent < 0) {
    const size_t dropped = static_cast<size_t>(-exponent);
    if (dropped >= digits.size() ||
        digits.find_first_not_of('0', digits.size() - dropped) !=
            std::string::npos) {
      return Exactness::kFraction;
    }
    digits.resize(digits.size() - dropped);
  } else if (digits.size() + static_cast<size_t>(exponent) > 20) {
    return Exactness::kTooLarge;
  } else {
    digits.append(static_cast<size_t>(exponent), '0');
  }
  for (char c : digits) {
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (*magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      return Exactness::kTooLarge;
    }
    *magnitude = *magnitude * 10 + digit;
  }
  if (text.find_first_of(".eE") != std::string_view::npos) {
    const double read =
        std::fabs(std::strtod(std::string(text).c_str(), nullptr));
    if (!(read < 18446744073709551616.0) ||
        static_cast<uint64_t>(read) != *magnitude) {
      return Exactness::kRounded;
    }
  }
  return Exactness::kInteger;
}

// What one value is, as rapidjson hands it over.
enum class Kind { kBool, kNumber, kString };

class Reader : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Reader> {
 public:
  Reader(Message* root, ChunkStream* input, const JsonReadOptions& options)
      : root_(root), input_(input), options_(options) {}

  bool Null() {
    if (SkipScalar()) return true;
    if (frames_.empty()) return NotAnObject();
    NextElement();
    return true;  // leaves the field as it was
  }
  bool Bool(bool value) {
    return Scalar(Kind::kBool, value ? "true" : "false");
  }
  bool RawNumber(const char* text, rapidjson::SizeType size, bool) {
    const std::string_view number(text, size);
    if (skip_depth_ > 0 || skip_next_) {
      // The runtime reads every number, those it then drops too.
      if (std::isinf(std::strtod(std::string(number).c_str(), nullptr))) {
        return FailHere("number exceeds the range of double");
      }
    }
    return Scalar(Kind::kNumber, number);
  }
  bool String(const char* text, rapidjson::SizeType size, bool) {
    if (!ValidText(text, size)) return false;
    return Scalar(Kind::kString, std::string_view(text, size));
  }
  bool Key(const char* text, rapidjson::SizeType size, bool) {
    if (!ValidText(text, size)) return false;
    if (skip_depth_ > 0) return true;
    const std::string_view key(text, size);
    if (key.empty()) {  // refused by the runtime even when skipping unknowns
      return Fail(Path(false, "\"\"") + ": an empty name names no field");
    }
    Frame& top = frames_.back();
    const Descriptor& type = *top.type;
    top.field = FieldNamed(type, key,
                           top.field != nullptr ? top.field->index() + 1 : 0);
    if (top.field != nullptr) return true;
    if (!options_.ignore_unknown_fields) {
      return Fail(Path(false, key) + ": " + type.name() + " has no such field");
    }
    skipped_.insert(Path(false, key, "[]"));
    skip_next_ = true;
    return true;
  }
  bool StartObject() {
    if (++objects_ > kMaxObjects) {
      return FailHere("nested deeper than 100 objects");
    }
    if (SkipContainer()) return true;
    if (frames_.empty()) {
      frames_.push_back({root_, root_->GetDescriptor(), root_->GetReflection(),
                         nullptr, kObject});
      return true;
    }
    NextElement();
    const Frame& top = frames_.back();
    if (top.field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE) {
      kind_ = Kind::kBool;  // shown as it is
      text_ = "an object";
      return FailValue();
    }
    Message* child =
        top.field->is_repeated()
            ? top.reflection->AddMessage(top.message, top.field)
            : top.reflection->MutableMessage(top.message, top.field);
    frames_.push_back({child, top.field->message_type(), child->GetReflection(),
                       nullptr, kObject});
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    --objects_;
    if (skip_depth_ > 0) {
      --skip_depth_;
    } else {
      frames_.pop_back();
    }
    return true;
  }
  // A list of lists reads as the one list of their elements, as in the
  // runtime.
  bool StartArray() {
    if (SkipContainer()) return true;
    if (frames_.empty()) return NotAnObject();
    NextElement();
    const Frame& top = frames_.back();
    if (!top.field->is_repeated()) {
      kind_ = Kind::kBool;
      text_ = "a list";
      return FailValue("for a field that is not repeated");
    }
    frames_.push_back({top.message, top.type, top.reflection, top.field, 0});
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    if (skip_depth_ > 0) {
      --skip_depth_;
    } else {
      frames_.pop_back();
    }
    return true;
  }

  const std::string& error() const { return error_; }
  const std::set<std::string>& skipped() const { return skipped_; }

 private:
  static constexpr int kObject = -1;

  struct Frame {
    Message* message;
    // The message's, looked up once: each lookup costs a call_once.
    const Descriptor* type;
    const Reflection* reflection;
    // In an object, the field whose value comes next; in a list, the list's.
    const FieldDescriptor* field;
    // In a list, how many elements have begun; kObject in an object.
    int elements;
  };

  // Whether a scalar value goes nowhere, being part of or the whole of an
  // unknown field's value.
  bool SkipScalar() {
    if (skip_depth_ > 0) return true;
    if (!skip_next_) return false;
    skip_next_ = false;
    return true;
  }
  bool SkipContainer() {
    if (skip_depth_ == 0 && !skip_next_) return false;
    skip_next_ = false;
    ++skip_depth_;
    return true;
  }

  void NextElement() {
    if (frames_.back().elements != kObject) ++frames_.back().elements;
  }

  // "route[2].admin_distance": the value being read, or with `key` instead
  // of the innermost field; lists are indexed by `index`, or by the element
  // being read.
  std::string Path(bool with_field, std::string_view key = {},
                   const char* index = nullptr) const {
    std::string path;
    for (size_t i = 0; i < frames_.size(); ++i) {
      const Frame& frame = frames_[i];
      if (frame.elements != kObject) {
        path += index != nullptr
                    ? std::string(index)
                    : "[" + std::to_string(frame.elements - 1) + "]";
      } else if (i + 1 < frames_.size() || with_field) {
        if (!path.empty()) path += '.';
        path += frame.field->name();
      }
    }
    if (!with_field) {
      if (!path.empty()) path += '.';
      path += key;
    }
    return path;
  }

  bool Fail(std::string error) {
    error_ = std::move(error);
    return false;
  }
  bool FailHere(const std::string& why) {
    return Fail(input_->Where(input_->Tell()) + ": " + why);
  }
  bool NotAnObject() { return FailHere("expected a JSON object"); }
  // "route[2].admin_distance: <the value> <why>", by default that it is no
  // value for the field's type.
  bool FailValue(std::string why = {}) {
    const FieldDescriptor& field = *frames_.back().field;
    if (why.empty()) {
      why = std::string("is no value for ") +
            (field.message_type() != nullptr ? field.message_type()->name()
             : field.enum_type() != nullptr  ? field.enum_type()->name()
                                             : field.type_name());
    }
    const std::string what = kind_ == Kind::kString
                                 ? "\"" + std::string(text_) + "\""
                                 : std::string(text_);
    return Fail(Path(true) + ": " + what + " " + why);
  }

  // The runtime refuses strings that are not UTF-8, which include the
  // characters set apart for UTF-16 (ED A0..BF ..) that rapidjson makes of a
  // \udc00 alone. Checked here, once a string is whole, rather than byte by
  // byte in rapidjson: strings are mostly ASCII.
  bool ValidText(const char* text, size_t size) {
    size_t ascii = 0;
    while (ascii < size && static_cast<unsigned char>(text[ascii]) < 0x80) {
      ++ascii;
    }
    return ascii == size ||
           google::protobuf::internal::IsStructurallyValidUTF8(
               text + ascii, static_cast<int>(size - ascii)) ||
           FailHere("a string that is not UTF-8");
  }

  bool Scalar(Kind kind, std::string_view text) {
    if (SkipScalar()) return true;
    if (frames_.empty()) return NotAnObject();
    NextElement();
    const Frame& top = frames_.back();
    Message* message = top.message;
    const FieldDescriptor* field = top.field;
    const Reflection& reflection = *top.reflection;
    const bool add = field->is_repeated();
    kind_ = kind;
    text_ = text;
    switch (field->cpp_type()) {
      case FieldDescriptor::CPPTYPE_INT32: {
        int64_t value;
        if (!Integer(kind, text, &value, INT32_MIN, INT32_MAX)) {
          return false;
        }
        add ? reflection.AddInt32(message, field, value)
            : reflection.SetInt32(message, field, value);
        return true;
      }
      case FieldDescriptor::CPPTYPE_INT64: {
        int64_t value;
        if (!Integer(kind, text, &value, INT64_MIN, INT64_MAX)) {
          return false;
        }
        add ? reflection.AddInt64(message, field, value)
            : reflection.SetInt64(message, field, value);
        return true;
      }
      case FieldDescriptor::CPPTYPE_UINT32: {
        uint64_t value;
        if (!Unsigned(kind, text, &value, UINT32_MAX)) return false;
        add ? reflection.AddUInt32(message, field, value)
            : reflection.SetUInt32(message, field, value);
        return true;
      }
      case FieldDescriptor::CPPTYPE_UINT64: {
        uint64_t value;
        if (!Unsigned(kind, text, &value, UINT64_MAX)) return false;
        add ? reflection.AddUInt64(message, field, value)
            : reflection.SetUInt64(message, field, value);
        return true;
      }
      case FieldDescriptor::CPPTYPE_DOUBLE: {
        double value;
        if (!Floating(kind, text, &value)) return false;
        add ? reflection.AddDouble(message, field, value)
            : reflection.SetDouble(message, field, value);
        return true;
      }
      case FieldDescriptor::CPPTYPE_FLOAT: {
        double value;
        if (!Floating(kind, text, &value)) return false;
        add ? reflection.AddFloat(message, field, static_cast<float>(value))
            : reflection.SetFloat(message, field, static_cast<float>(value));
        return true;
      }
      case FieldDescriptor::CPPTYPE_BOOL: {
        bool value;
        if (kind == Kind::kNumber ||
            !google::protobuf::safe_strtob(
                google::protobuf::StringPiece(text.data(), text.size()),
                &value)) {
          return FailValue();
        }
        add ? reflection.AddBool(message, field, value)
            : reflection.SetBool(message, field, value);
        return true;
      }
      case FieldDescriptor::CPPTYPE_STRING: {
        if (kind != Kind::kString) return FailValue();
        std::string value(text);
        const google::protobuf::StringPiece base64(text.data(), text.size());
        if (field->type() == FieldDescriptor::TYPE_BYTES &&
            !google::protobuf::WebSafeBase64Unescape(base64, &value) &&
            !google::protobuf::Base64Unescape(base64, &value)) {
          return FailValue("is not base64");
        }
        add ? reflection.AddString(message, field, std::move(value))
            : reflection.SetString(message, field, std::move(value));
        return true;
      }
      case FieldDescriptor::CPPTYPE_ENUM:
        return Enum(kind, text, message, field);
      case FieldDescriptor::CPPTYPE_MESSAGE:
        return FailValue();
    }
    return true;
  }

  // A number is read as the integer it denotes; a string as the runtime
  // reads one, which takes neither fractions nor exponents.
  bool Integer(Kind kind, std::string_view text, int64_t* value, int64_t lowest,
               int64_t highest) {
    if (kind == Kind::kString) {
      if (text.empty() || text.front() == ' ' || text.back() == ' ' ||
          !google::protobuf::safe_strto64(std::string(text), value) ||
          *value < lowest || *value > highest) {
        return FailValue();
      }
      return true;
    }
    bool negative;
    uint64_t magnitude;
    if (!Exact(kind, text, &negative, &magnitude)) return false;
    const uint64_t limit = negative ? static_cast<uint64_t>(-(lowest + 1)) + 1
                                    : static_cast<uint64_t>(highest);
    if (magnitude > limit) return OutOfRange();
    *value = negative ? static_cast<int64_t>(0 - magnitude)
                      : static_cast<int64_t>(magnitude);
    return true;
  }
  bool Unsigned(Kind kind, std::string_view text, uint64_t* value,
                uint64_t highest) {
    if (kind == Kind::kString) {
      if (text.empty() || text.front() == ' ' || text.back() == ' ' ||
          !google::protobuf::safe_strtou64(std::string(text), value) ||
          *value > highest) {
        return FailValue();
      }
      return true;
    }
    bool negative;
    if (!Exact(kind, text, &negative, value)) return false;
    if ((negative && *value != 0) || *value > highest) return OutOfRange();
    return true;
  }
  bool Exact(Kind kind, std::string_view text, bool* negative,
             uint64_t* magnitude) {
    if (kind != Kind::kNumber) return FailValue();
    switch (ExactInteger(text, negative, magnitude)) {
      case Exactness::kInteger:
        return true;
      case Exactness::kFraction:
        return FailValue("is not an integer");
      case Exactness::kTooLarge:
        return OutOfRange();
      case Exactness::kRounded:
        return FailValue("is rounded when read as a double: write its digits");
    }
    return true;
  }
  bool OutOfRange() {
    const FieldDescriptor& field = *frames_.back().field;
    return FailValue(
        std::string("is out of range for ") +
        (field.enum_type() != nullptr ? "int32" : field.type_name()));
  }

  // As the runtime: a number, or a string holding one, or "NaN",
  // "Infinity", "-Infinity". An integer is converted from its 64-bit value,
  // anything else from a double.
  bool Floating(Kind kind, std::string_view text, double* value) {
    const bool is_float =
        frames_.back().field->cpp_type() == FieldDescriptor::CPPTYPE_FLOAT;
    if (kind == Kind::kBool) return FailValue();
    const std::string copy(text);
    if (kind == Kind::kString) {
      if (text == "NaN") {
        *value = std::numeric_limits<double>::quiet_NaN();
      } else if (text == "Infinity" || text == "-Infinity") {
        *value = text[0] == '-' ? -HUGE_VAL : HUGE_VAL;
      } else {
        // As a double, then held to a float's range as a number is; only
        // the three names above stand for what is not finite.
        if (text.empty() || text.front() == ' ' || text.back() == ' ' ||
            !google::protobuf::safe_strtod(copy.c_str(), value) ||
            !std::isfinite(*value)) {
          return FailValue();
        }
        if (is_float && std::isinf(static_cast<float>(*value))) {
          return OutOfRange();
        }
      }
      return true;
    }
    bool negative;
    uint64_t magnitude;
    if (text.find_first_of(".eE") == std::string_view::npos &&
        ExactInteger(text, &negative, &magnitude) == Exactness::kInteger &&
        (!negative || magnitude <= uint64_t{1} << 63)) {
      const int64_t signed_value = static_cast<int64_t>(0 - magnitude);
      *value = is_float ? (negative ? static_cast<float>(signed_value)
                                    : static_cast<float>(magnitude))
                        : (negative ? static_cast<double>(signed_value)
                                    : static_cast<double>(magnitude));
      return true;
    }
    *value = std::strtod(copy.c_str(), nullptr);
    if (std::isinf(*value) ||
        (is_float && std::isinf(static_cast<float>(*value)))) {
      return OutOfRange();
    }
    return true;
  }

  bool Enum(Kind kind, std::string_view text, Message* message,
            const FieldDescriptor* field) {
    const Reflection& reflection = *frames_.back().reflection;
    int number;
    if (kind == Kind::kNumber) {
      int64_t value;
      if (!Integer(kind, text, &value, INT32_MIN, INT32_MAX)) {
        return false;
      }
      number = static_cast<int>(value);  // unknown numbers are kept too
    } else {
      if (kind != Kind::kString) return FailValue();
      const auto* known =
          field->enum_type()->FindValueByName(std::string(text));
      int32_t parsed;
      if (known == nullptr &&
          google::protobuf::safe_strto32(std::string(text), &parsed)) {
        known = field->enum_type()->FindValueByNumber(parsed);
      }
      if (known == nullptr) {
        if (options_.ignore_unknown_fields) return true;
        return FailValue("is not a value of " + field->enum_type()->name());
      }
      number = known->number();
    }
    field->is_repeated() ? reflection.AddEnumValue(message, field, number)
                         : reflection.SetEnumValue(message, field, number);
    return true;
  }

  Message* root_;
  ChunkStream* input_;
  const JsonReadOptions& options_;
  std::vector<Frame> frames_;
  int objects_ = 0;
  int skip_depth_ = 0;      // how deep in a skipped value
  bool skip_next_ = false;  // whether the next value is skipped
  // The value being read, for errors.
  Kind kind_ = Kind::kBool;
  std::string_view text_;
  std::string error_;
  std::set<std::string> skipped_;
};

}  // namespace

Status ReadJson(google::protobuf::io::ZeroCopyInputStream* json,
                Message* message, const JsonReadOptions& options,
                std::vector<std::string>* skipped) {
  ChunkStream input(json);
  Reader reader(message, &input, options);
  // Iterative, so that lists nested without end cannot exhaust the stack.
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag |
                              rapidjson::kParseNumbersAsStringsFlag |
                              rapidjson::kParseTrailingCommasFlag;
  rapidjson::Reader parser;
  const rapidjson::ParseResult result = parser.Parse<kFlags>(input, reader);
  if (skipped != nullptr) {
    skipped->assign(reader.skipped().begin(), reader.skipped().end());
  }
  if (result && !input.AtEnd()) {
    return {kMalformed, input.Where(input.Tell()) + ": " +
                            rapidjson::GetParseError_En(
                                rapidjson::kParseErrorDocumentRootNotSingular)};
  }
  if (result) return {};
  if (result.Code() == rapidjson::kParseErrorTermination) {
    return {kMalformed, reader.error()};
  }
  return {kMalformed, input.Where(result.Offset()) + ": " +
                          rapidjson::GetParseError_En(result.Code())};
}

Status ReadJson(std::string_view json, Message* message,
                const JsonReadOptions& options,
                std::vector<std::string>* skipped) {
  if (json.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    return {kMalformed, "larger than any input the parser takes (2 GiB)"};
  }
  google::protobuf::io::ArrayInputStream input(json.data(),
                                               static_cast<int>(json.size()));
  return ReadJson(&input, message, options, skipped);
}

}  // namespace ostrel::agg_l3
