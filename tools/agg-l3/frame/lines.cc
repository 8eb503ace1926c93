#include "frame/lines.h"

#include <cstring>

namespace ostrel::agg_l3 {
namespace {

constexpr std::string_view kSeparator = "---";
// How agg-l3 1.0 separated text records: a comment, which users write too.
constexpr std::string_view kOldSeparator = "# record ";

bool Blank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n\f\v") == std::string_view::npos;
}

bool Digits(std::string_view text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

bool LineReader::Next(std::string* line) {
  line->clear();
  bool any = false;
  while (true) {
    if (size_ == 0) {
      const void* data;
      int size;
      if (!input_->Next(&data, &size)) {
        if (any) ++number_;
        return any;
      }
      data_ = static_cast<const char*>(data);
      size_ = static_cast<size_t>(size);
    }
    any = true;
    const char* newline =
        static_cast<const char*>(std::memchr(data_, '\n', size_));
    const size_t take = newline ? static_cast<size_t>(newline - data_) : size_;
    if (line->size() + take > kMaxLineBytes) {
      ++number_;
      too_long_ = true;
      return false;
    }
    line->append(data_, take);
    const size_t used = newline ? take + 1 : take;
    data_ += used;
    size_ -= used;
    if (newline) {
      ++number_;
      return true;
    }
  }
}

Status LineReader::status() const {
  if (!too_long_) return {};
  return {kMalformed, source_ + ", line " + std::to_string(number_) +
                          ": longer than " +
                          std::to_string(kMaxLineBytes >> 20) +
                          " MiB, the most a line may be"};
}

std::string TextRecordSeparator(int64_t number) {
  return std::string(kSeparator) + " record " + std::to_string(number);
}

bool TextRecords::Next(std::string* text) {
  text->clear();
  if (ended_ || !error_.empty()) return false;
  first_line_ = lines_.number() + 1;
  std::string line;
  while (lines_.Next(&line)) {
    if (line.compare(0, kSeparator.size(), kSeparator) == 0) {
      // Blank lines before the first separator are no report.
      const bool report = separated_ || !Blank(*text);
      separated_ = true;
      if (report) {
        ++number_;
        return true;
      }
      first_line_ = lines_.number() + 1;
      continue;
    }
    if (line.compare(0, kOldSeparator.size(), kOldSeparator) == 0 &&
        Digits(line.substr(kOldSeparator.size()))) {
      error_ = "line " + std::to_string(lines_.number()) + ": \"" + line +
               "\" separated reports in agg-l3 1.0; it is a comment now, "
               "and would merge two reports into one: write \"" +
               std::string(kSeparator) + " record " +
               line.substr(kOldSeparator.size()) + "\" instead";
      return false;
    }
    *text += line;
    *text += '\n';
  }
  ended_ = true;
  if (!lines_.status().ok()) return false;
  if (separated_ || !Blank(*text)) {
    ++number_;
    return true;
  }
  return false;
}

Status TextRecords::status() const {
  if (!lines_.status().ok()) return lines_.status();
  if (error_.empty()) return {};
  return {kMalformed, source_ + ", " + error_};
}

}  // namespace ostrel::agg_l3
