#include "element_batch.h"

#include <google/protobuf/util/json_util.h>

namespace ostrel::agg_l3 {
namespace {

constexpr size_t kMaxLines = 4096;
constexpr size_t kMaxBytes = 1 << 20;
constexpr std::string_view kEnd = "]}";

// Whether `text` is exactly one JSON value as far as its brackets, strings
// and commas show; the runtime judges the rest.
bool OneValue(std::string_view text) {
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool last = i + 1 == text.size();
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
        if (depth == 0 && !last) return false;
      }
      continue;
    }
    switch (c) {
      case '"':
        in_string = true;
        break;
      case '{':
      case '[':
        ++depth;
        break;
      case '}':
      case ']':
        if (--depth < 0 || (depth == 0 && !last)) return false;
        break;
      case ',':
        if (depth == 0) return false;
        break;
    }
  }
  return !text.empty() && depth == 0 && !in_string;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

ElementBatch::ElementBatch(const google::protobuf::FieldDescriptor& list)
    : list_(list) {}

bool ElementBatch::Take(const std::string& line, int64_t number) {
  std::string_view rest = line;
  bool named = false;
  for (const std::string& name : {list_.json_name(), list_.name()}) {
    const std::string start = "{\"" + name + "\":[";
    if (StartsWith(rest, start)) {
      rest.remove_prefix(start.size());
      named = true;
      break;
    }
  }
  if (!named || rest.size() < kEnd.size() ||
      rest.substr(rest.size() - kEnd.size()) != kEnd) {
    return false;
  }
  rest.remove_suffix(kEnd.size());
  if (!OneValue(rest)) return false;
  document_ += document_.empty() ? "{\"" + list_.json_name() + "\":[" : ",";
  document_ += rest;
  lines_.emplace_back(number, line);
  return true;
}

bool ElementBatch::full() const {
  return lines_.size() >= kMaxLines || document_.size() >= kMaxBytes;
}

bool ElementBatch::Parse(google::protobuf::Message* report) {
  report->Clear();
  document_ += kEnd;
  return google::protobuf::util::JsonStringToMessage(document_, report).ok();
}

void ElementBatch::Clear() {
  lines_.clear();
  document_.clear();
}

}  // namespace ostrel::agg_l3
