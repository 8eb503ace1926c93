#include "input/input.h"

#include <fcntl.h>
#include <google/protobuf/stubs/strutil.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::io::ZeroCopyInputStream;

constexpr int kBufferSize = 1 << 16;
constexpr std::string_view kGzipMagic = "\x1f\x8b";

// Inputs at least this large show progress on a terminal.
constexpr int64_t kLargeInput = 64 << 20;

}  // namespace

// Inflates a gzip stream of one or more members.
class Input::Gunzip : public ZeroCopyInputStream {
 public:
  explicit Gunzip(ZeroCopyInputStream* compressed)
      : compressed_(compressed), buffer_(new unsigned char[kBufferSize]) {
    // 16 + window bits: gzip framing, with its checksum and length checked.
    if (inflateInit2(&zlib_, 16 + MAX_WBITS) != Z_OK) {
      error_ = "cannot start decompressing";
      done_ = true;
    }
  }
  ~Gunzip() override { inflateEnd(&zlib_); }

  bool Next(const void** data, int* size) override {
    if (backed_up_ == 0) {
      if (!Inflate()) return false;
      backed_up_ = filled_;
    }
    *data = buffer_.get() + filled_ - backed_up_;
    *size = backed_up_;
    backed_up_ = 0;
    return true;
  }
  void BackUp(int count) override { backed_up_ += count; }
  bool Skip(int count) override {
    const void* data;
    int size;
    while (count > 0 && Next(&data, &size)) {
      if (size > count) {
        BackUp(size - count);
        return true;
      }
      count -= size;
    }
    return count == 0;
  }
  int64_t ByteCount() const override { return produced_ - backed_up_; }

  // Empty, or why the stream ended early.
  const std::string& error() const { return error_; }

 private:
  bool Inflate() {
    if (done_) return false;
    zlib_.next_out = buffer_.get();
    zlib_.avail_out = kBufferSize;
    while (zlib_.avail_out == kBufferSize) {
      if (zlib_.avail_in == 0) {
        const void* data;
        int size;
        if (!compressed_->Next(&data, &size)) {
          if (!member_ended_) error_ = "the gzip data is cut short";
          done_ = true;
          break;
        }
        zlib_.next_in = static_cast<Bytef*>(const_cast<void*>(data));
        zlib_.avail_in = static_cast<uInt>(size);
        continue;
      }
      if (member_ended_) {  // more bytes: the next member
        inflateReset(&zlib_);
        member_ended_ = false;
      }
      const int result = inflate(&zlib_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        member_ended_ = true;
      } else if (result != Z_OK && result != Z_BUF_ERROR) {
        error_ = std::string("the gzip data is broken (") +
                 (zlib_.msg != nullptr ? zlib_.msg : "zlib error") + ")";
        done_ = true;
        break;
      }
    }
    filled_ = kBufferSize - static_cast<int>(zlib_.avail_out);
    produced_ += filled_;
    return filled_ > 0;
  }

  ZeroCopyInputStream* const compressed_;
  z_stream zlib_{};
  std::unique_ptr<unsigned char[]> buffer_;
  int filled_ = 0;
  int backed_up_ = 0;
  int64_t produced_ = 0;
  bool member_ended_ = false;
  bool done_ = false;
  std::string error_;
};

// The bytes that hex digits or base64 text spell, decoded piece by piece as
// the text arrives; white space is skipped, anything else stops the stream
// with its offset in the text.
class Input::Untext : public ZeroCopyInputStream {
 public:
  Untext(ZeroCopyInputStream* text, TextEncoding encoding)
      : text_(text), encoding_(encoding) {}

  bool Next(const void** data, int* size) override {
    if (backed_up_ == 0) {
      if (!Decode()) return false;
      backed_up_ = static_cast<int>(bytes_.size());
    }
    *data = bytes_.data() + bytes_.size() - backed_up_;
    *size = backed_up_;
    backed_up_ = 0;
    return true;
  }
  void BackUp(int count) override { backed_up_ += count; }
  bool Skip(int count) override {
    const void* data;
    int size;
    while (count > 0 && Next(&data, &size)) {
      if (size > count) {
        BackUp(size - count);
        return true;
      }
      count -= size;
    }
    return count == 0;
  }
  int64_t ByteCount() const override { return produced_ - backed_up_; }

  // Empty, or why the stream ended early.
  const std::string& error() const { return error_; }

 private:
  // The next decoded piece into bytes_; false at the end or on an error.
  bool Decode() {
    bytes_.clear();
    while (bytes_.empty() && error_.empty() && !ended_) {
      const void* data;
      int size;
      if (!text_->Next(&data, &size)) {
        ended_ = true;
        Flush(/*last=*/true);
        break;
      }
      const auto* text = static_cast<const char*>(data);
      for (int i = 0; i < size && error_.empty(); ++i) Take(text[i]);
      if (error_.empty()) Flush(/*last=*/false);
    }
    if (!error_.empty()) return false;
    produced_ += static_cast<int64_t>(bytes_.size());
    return !bytes_.empty();
  }

  void Take(char c) {
    const int64_t at = offset_++;
    if (std::isspace(static_cast<unsigned char>(c))) return;
    if (encoding_ == TextEncoding::kHex) {
      const int digit = HexDigit(c);
      if (digit < 0) return Refuse(at, c, "a hex digit");
      if (nibble_ < 0) {
        nibble_ = digit;
      } else {
        bytes_ += static_cast<char>(nibble_ << 4 | digit);
        nibble_ = -1;
      }
      return;
    }
    const bool padding = c == '=';
    if (!padding && !std::isalnum(static_cast<unsigned char>(c)) && c != '+' &&
        c != '/') {
      return Refuse(at, c, "base64");
    }
    if (padded_ && !padding) {
      error_ = "byte " + std::to_string(at) +
               ": base64 goes on after its "
               "padding (=)";
      return;
    }
    padded_ = padding;
    base64_ += c;
  }

  // Decodes the base64 quanta taken so far: all of them at the end.
  void Flush(bool last) {
    if (encoding_ == TextEncoding::kHex) {
      if (last && nibble_ >= 0) error_ = "an odd number of hex digits";
      return;
    }
    const size_t whole = last ? base64_.size() : base64_.size() / 4 * 4;
    std::string decoded;
    if (!google::protobuf::Base64Unescape(
            google::protobuf::StringPiece(base64_.data(), whole), &decoded)) {
      error_ = "the base64 text is cut short or misplaces its padding";
      return;
    }
    bytes_ += decoded;
    base64_.erase(0, whole);
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  void Refuse(int64_t at, char c, const char* what) {
    const auto byte = static_cast<unsigned char>(c);
    char shown[8];
    std::snprintf(shown, sizeof shown, std::isprint(byte) ? "'%c'" : "0x%02x",
                  byte);
    error_ = "byte " + std::to_string(at) + " (" + shown + ") is not " + what;
  }

  ZeroCopyInputStream* const text_;
  const TextEncoding encoding_;
  std::string bytes_;
  std::string base64_;  // taken, not yet a whole quantum
  int nibble_ = -1;     // a hex digit waiting for its pair
  bool padded_ = false;
  int64_t offset_ = 0;  // in the text
  int backed_up_ = 0;
  int64_t produced_ = 0;
  bool ended_ = false;
  std::string error_;
};

// Ends the stream after a number of bytes, noting whether more were there.
class Input::Limited : public ZeroCopyInputStream {
 public:
  Limited(ZeroCopyInputStream* input, int64_t limit, std::string what)
      : input_(input),
        end_(input->ByteCount() + limit),
        what_(std::move(what)) {}

  bool Next(const void** data, int* size) override {
    const int64_t left = end_ - input_->ByteCount();
    if (left <= 0) {
      // One more piece tells whether the input really ends here.
      if (!exceeded_ && input_->Next(data, size)) {
        input_->BackUp(*size);
        exceeded_ = *size > 0 || Next(data, size);
      }
      return false;
    }
    if (!input_->Next(data, size)) return false;
    if (*size > left) {
      input_->BackUp(*size - static_cast<int>(left));
      *size = static_cast<int>(left);
    }
    return true;
  }
  void BackUp(int count) override { input_->BackUp(count); }
  bool Skip(int count) override {
    const int64_t left = end_ - input_->ByteCount();
    if (count <= left) return input_->Skip(count);
    input_->Skip(static_cast<int>(left));
    const void* data;
    int size;
    Next(&data, &size);  // to tell whether there was more
    return false;
  }
  int64_t ByteCount() const override { return input_->ByteCount(); }

  bool exceeded() const { return exceeded_; }
  const std::string& what() const { return what_; }
  int64_t limit() const { return end_; }

 private:
  ZeroCopyInputStream* const input_;
  const int64_t end_;
  const std::string what_;
  bool exceeded_ = false;
};

// The bytes read ahead to look at, handed out again before the rest. Its
// count of bytes is the stream's own, so offsets stay true.
class Input::Unread : public ZeroCopyInputStream {
 public:
  Unread(std::string ahead, ZeroCopyInputStream* rest)
      : ahead_(std::move(ahead)), rest_(rest) {}

  bool Next(const void** data, int* size) override {
    from_ahead_ = handed_ < ahead_.size();
    if (!from_ahead_) return rest_->Next(data, size);
    *data = ahead_.data() + handed_;
    *size = static_cast<int>(ahead_.size() - handed_);
    handed_ = ahead_.size();
    return true;
  }
  void BackUp(int count) override {
    if (from_ahead_) {
      handed_ -= static_cast<size_t>(count);
    } else {
      rest_->BackUp(count);
    }
  }
  bool Skip(int count) override {
    const void* data;
    int size;
    while (count > 0 && handed_ < ahead_.size() && Next(&data, &size)) {
      if (size > count) {
        BackUp(size - count);
        return true;
      }
      count -= size;
    }
    return count == 0 || rest_->Skip(count);
  }
  int64_t ByteCount() const override {
    return rest_->ByteCount() - static_cast<int64_t>(ahead_.size() - handed_);
  }

  std::string_view ahead() const { return ahead_; }

 private:
  const std::string ahead_;
  ZeroCopyInputStream* const rest_;
  size_t handed_ = 0;
  bool from_ahead_ = false;
};

// Keeps a copy of the first bytes that pass.
class Input::Head : public ZeroCopyInputStream {
 public:
  explicit Head(ZeroCopyInputStream* input) : input_(input) {}

  bool Next(const void** data, int* size) override {
    if (!input_->Next(data, size)) return false;
    const int64_t at = input_->ByteCount() - *size;
    if (at < kKept) {
      // Bytes backed up and handed out again are not copied twice.
      const int64_t from = static_cast<int64_t>(copy_.size()) - at;
      if (from >= 0 && from < *size) {
        const int64_t take =
            std::min<int64_t>(*size - from, kKept - copy_.size());
        copy_.append(static_cast<const char*>(*data) + from,
                     static_cast<size_t>(take));
      }
    }
    return true;
  }
  void BackUp(int count) override { input_->BackUp(count); }
  bool Skip(int count) override {
    const void* data;
    int size;
    while (count > 0 && ByteCount() < kKept && Next(&data, &size)) {
      if (size > count) {
        BackUp(size - count);
        return true;
      }
      count -= size;
    }
    return count == 0 || input_->Skip(count);
  }
  int64_t ByteCount() const override { return input_->ByteCount(); }

  const std::string& copy() const { return copy_; }

 private:
  static constexpr int64_t kKept = 64 << 10;
  ZeroCopyInputStream* const input_;
  std::string copy_;
};

// Tells a watcher how far the stream has come, every few MiB and at its end.
class Input::Watched : public ZeroCopyInputStream {
 public:
  Watched(ZeroCopyInputStream* input, std::function<void(int64_t)> seen)
      : input_(input), seen_(std::move(seen)) {}

  bool Next(const void** data, int* size) override {
    const bool more = input_->Next(data, size);
    const int64_t bytes = input_->ByteCount();
    if (!more || bytes >= next_) {
      seen_(bytes);
      next_ = bytes + (4 << 20);
    }
    return more;
  }
  void BackUp(int count) override { input_->BackUp(count); }
  bool Skip(int count) override { return input_->Skip(count); }
  int64_t ByteCount() const override { return input_->ByteCount(); }

 private:
  ZeroCopyInputStream* const input_;
  const std::function<void(int64_t)> seen_;
  int64_t next_ = 0;
};

Input::Input() = default;

Input::~Input() {
  limited_.reset();
  watched_.reset();
  head_copy_.reset();
  gunzip_.reset();
  unread_.reset();
  untext_.reset();
  file_.reset();
  if (fd_ > STDIN_FILENO) ::close(fd_);
}

Status Input::Open(const std::string& path, Decompress decompress,
                   TextEncoding encoding) {
  fd_ = STDIN_FILENO;
  if (!path.empty() && path != "-") {
    name_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd_ < 0 || ::fstat(fd_, &stat_) != 0) {
    return {kCannotRun, "cannot read " + name_ + ": " + std::strerror(errno)};
  }
  OpenStream(&file_.emplace(fd_, 1 << 20), name_, decompress, encoding);
  return {};
}

void Input::OpenStream(ZeroCopyInputStream* raw, std::string name,
                       Decompress decompress, TextEncoding encoding) {
  name_ = std::move(name);
  raw_ = top_ = raw;
  if (encoding != TextEncoding::kNone) {
    untext_ = std::make_unique<Untext>(top_, encoding);
    top_ = untext_.get();
  }
  if (decompress != Decompress::kNone) StartDecompressing();
  head_copy_ = std::make_unique<Head>(top_);
  top_ = head_copy_.get();
}

void Input::StartDecompressing() {
  ZeroCopyInputStream* const raw = top_;
  // The first bytes, in whole pieces as `raw` hands them out (it cannot
  // take more than the last piece back), to be handed out again.
  std::string ahead;
  const void* data;
  int size;
  while (ahead.size() < kGzipMagic.size() && raw->Next(&data, &size)) {
    ahead.append(static_cast<const char*>(data), static_cast<size_t>(size));
  }
  unread_ = std::make_unique<Unread>(std::move(ahead), raw);
  top_ = unread_.get();
  if (unread_->ahead().substr(0, kGzipMagic.size()) == kGzipMagic) {
    gunzip_ = std::make_unique<Gunzip>(top_);
    top_ = gunzip_.get();
  }
}

std::string_view Input::head() const { return head_copy_->copy(); }

Status Input::ReadAgain(std::string* bytes) const {
  bytes->clear();
  char buffer[1 << 16];
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(fd_, buffer, sizeof buffer, at);
    if (got == 0) return {};
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      return {kCannotRun, "cannot read " + name_ + ": " + std::strerror(errno)};
    }
    bytes->append(buffer, static_cast<size_t>(got));
    at += got;
  }
}

ZeroCopyInputStream* Input::stream() { return top_; }

void Input::Watch(std::function<void(int64_t)> seen) {
  watched_ = std::make_unique<Watched>(top_, std::move(seen));
  top_ = watched_.get();
}

void Input::Limit(int64_t bytes, std::string what) {
  limited_ = std::make_unique<Limited>(top_, bytes, std::move(what));
  top_ = limited_.get();
}

Status Input::status() const {
  if (file_ && file_->GetErrno() != 0) {
    return {kCannotRun,
            "cannot read " + name_ + ": " + std::strerror(file_->GetErrno())};
  }
  if (untext_ && !untext_->error().empty()) {
    return {kMalformed, name_ + ": " + untext_->error()};
  }
  if (gunzip_ && !gunzip_->error().empty()) {
    return {kMalformed, name_ + ": " + gunzip_->error() +
                            "; if it is not compressed, say "
                            "--decompress=none"};
  }
  if (limited_ && limited_->exceeded()) {
    return {kMalformed, name_ + " is larger than " + limited_->what() +
                            "; reading stopped there"};
  }
  return {};
}

bool Input::failed() const {
  return (file_ && file_->GetErrno() != 0) ||
         (untext_ && !untext_->error().empty()) ||
         (gunzip_ && !gunzip_->error().empty()) ||
         (limited_ && limited_->exceeded());
}

Status Input::ReadAll(std::string* bytes,
                      const std::function<bool(std::string_view)>& stop) {
  // Read to its size at once: grown as it comes, the string would hold up
  // to twice the input while it moves.
  if (const int64_t known = size();
      known > 0 && (!limited_ || stat_.st_size <= limited_->limit())) {
    bytes->reserve(bytes->size() + static_cast<size_t>(known));
  }
  const void* data;
  int size;
  while (top_->Next(&data, &size)) {
    bytes->append(static_cast<const char*>(data), static_cast<size_t>(size));
    if (stop && stop(*bytes)) break;
  }
  return status();
}

int64_t Input::size() const {
  if (file_ == std::nullopt || gunzip_ || untext_ || !S_ISREG(stat_.st_mode))
    return -1;
  const int64_t size = stat_.st_size;
  return limited_ ? std::min(size, limited_->limit()) : size;
}

bool Input::is_terminal_or_large() const {
  return file_ && (!S_ISREG(stat_.st_mode) || stat_.st_size >= kLargeInput);
}

bool Input::SharesBytesWith(const Input& other) const {
  if (!file_ || !other.file_) return false;
  if (fd_ == other.fd_) return true;
  return stat_.st_dev == other.stat_.st_dev &&
         stat_.st_ino == other.stat_.st_ino && !S_ISREG(stat_.st_mode);
}

}  // namespace ostrel::agg_l3
