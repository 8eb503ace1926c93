#include "input/input.h"

#include <fcntl.h>
#include <google/protobuf/stubs/strutil.h>
#include <lzma.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::io::ZeroCopyInputStream;

constexpr size_t kBufferSize = 1 << 16;

// Inputs at least this large show progress on a terminal.
constexpr int64_t kLargeInput = 64 << 20;

// One compression format's decoder. Decode() takes what it can from `in`
// and puts what it can into `out`; `finish`: no more input comes.
class Decoder {
 public:
  struct Buffers {
    const uint8_t* in;
    size_t in_left;
    uint8_t* out;
    size_t out_left;
  };
  virtual ~Decoder() = default;
  // Empty, or what is wrong with the data ("is broken (...)").
  virtual std::string Decode(Buffers& buffers, bool finish) = 0;
  // Whether the data so far ends where a member, frame or stream does.
  virtual bool at_end() const = 0;
};

// gzip, of one or more members. zlib is driven directly rather than
// through protobuf's GzipInputStream, which takes a cut-off archive for a
// complete one.
class GzipDecoder : public Decoder {
 public:
  GzipDecoder() {
    // 16 + window bits: gzip framing, with its checksum and length checked.
    started_ = inflateInit2(&zlib_, 16 + MAX_WBITS) == Z_OK;
  }
  ~GzipDecoder() override { inflateEnd(&zlib_); }

  std::string Decode(Buffers& buffers, bool) override {
    if (!started_) return "cannot be decompressed here (out of memory)";
    if (member_ended_) {
      if (buffers.in_left == 0) return {};
      inflateReset(&zlib_);  // more bytes: the next member
      member_ended_ = false;
    }
    zlib_.next_in = const_cast<Bytef*>(buffers.in);
    zlib_.avail_in = static_cast<uInt>(buffers.in_left);
    zlib_.next_out = buffers.out;
    zlib_.avail_out = static_cast<uInt>(buffers.out_left);
    const int result = inflate(&zlib_, Z_NO_FLUSH);
    buffers = {zlib_.next_in, zlib_.avail_in, zlib_.next_out, zlib_.avail_out};
    member_ended_ = result == Z_STREAM_END;
    if (result == Z_OK || result == Z_BUF_ERROR || member_ended_) return {};
    return std::string("is broken (") +
           (zlib_.msg != nullptr ? zlib_.msg : "zlib error") + ")";
  }
  bool at_end() const override { return member_ended_; }

 private:
  z_stream zlib_{};
  bool started_;
  bool member_ended_ = false;
};

// zstd, of one or more frames (skippable ones skipped).
class ZstdDecoder : public Decoder {
 public:
  ZstdDecoder() : zstd_(ZSTD_createDCtx()) {
    // A frame may ask for a window of up to 128 MiB (zstd's own default
    // limit), and is refused beyond.
    if (zstd_ != nullptr) {
      ZSTD_DCtx_setParameter(zstd_, ZSTD_d_windowLogMax, 27);
    }
  }
  ~ZstdDecoder() override { ZSTD_freeDCtx(zstd_); }

  std::string Decode(Buffers& buffers, bool) override {
    if (zstd_ == nullptr) return "cannot be decompressed here (out of memory)";
    if (frame_ended_ && buffers.in_left == 0) return {};
    ZSTD_inBuffer in = {buffers.in, buffers.in_left, 0};
    ZSTD_outBuffer out = {buffers.out, buffers.out_left, 0};
    const size_t result = ZSTD_decompressStream(zstd_, &out, &in);
    buffers = {buffers.in + in.pos, in.size - in.pos, buffers.out + out.pos,
               out.size - out.pos};
    if (ZSTD_isError(result)) {
      return std::string("is broken (") + ZSTD_getErrorName(result) + ")";
    }
    frame_ended_ = result == 0;
    return {};
  }
  bool at_end() const override { return frame_ended_; }

 private:
  ZSTD_DCtx* const zstd_;
  bool frame_ended_ = false;
};

// xz, of one or more streams.
class XzDecoder : public Decoder {
 public:
  // What xz -9 needs is 65 MiB; an archive that asks for more is refused.
  static constexpr uint64_t kMemoryLimit = 128 << 20;

  XzDecoder() {
    started_ =
        lzma_stream_decoder(&xz_, kMemoryLimit, LZMA_CONCATENATED) == LZMA_OK;
  }
  ~XzDecoder() override { lzma_end(&xz_); }

  std::string Decode(Buffers& buffers, bool finish) override {
    if (!started_) return "cannot be decompressed here (out of memory)";
    if (ended_) return {};
    xz_.next_in = buffers.in;
    xz_.avail_in = buffers.in_left;
    xz_.next_out = buffers.out;
    xz_.avail_out = buffers.out_left;
    // Only at the end of the input can it tell that no stream follows.
    const lzma_ret result = lzma_code(&xz_, finish ? LZMA_FINISH : LZMA_RUN);
    buffers = {xz_.next_in, xz_.avail_in, xz_.next_out, xz_.avail_out};
    ended_ = result == LZMA_STREAM_END;
    switch (result) {
      case LZMA_OK:
      case LZMA_STREAM_END:
      case LZMA_BUF_ERROR:  // no progress: cut short, if at the end
        return {};
      case LZMA_MEMLIMIT_ERROR:
        return "is broken (it needs more than " +
               std::to_string(kMemoryLimit >> 20) + " MiB to decompress)";
      case LZMA_FORMAT_ERROR:
      case LZMA_OPTIONS_ERROR:
        return "is broken (not a stream this decoder reads)";
      case LZMA_DATA_ERROR:
        return "is broken (corrupt data)";
      default:
        return "is broken (liblzma error " + std::to_string(result) + ")";
    }
  }
  bool at_end() const override { return ended_; }

 private:
  lzma_stream xz_ = LZMA_STREAM_INIT;
  bool started_;
  bool ended_ = false;
};

struct Compression {
  std::string_view magic;
  const char* name;
  std::unique_ptr<Decoder> (*make)();
};

template <typename T>
std::unique_ptr<Decoder> Make() {
  return std::make_unique<T>();
}

const Compression kCompressions[] = {
    {"\x1f\x8b", "gzip", Make<GzipDecoder>},
    {"\x28\xb5\x2f\xfd", "zstd", Make<ZstdDecoder>},
    {std::string_view("\xfd"
                      "7zXZ\0",
                      6),
     "xz", Make<XzDecoder>},
};
constexpr size_t kLongestMagic = 6;

// A stream whose bytes are made a piece at a time (decompressed, decoded
// from text) and handed out as they are asked for.
class PieceStream : public ZeroCopyInputStream {
 public:
  bool Next(const void** data, int* size) override {
    if (backed_up_ == 0) {
      piece_ = NextPiece();
      if (piece_.empty()) return false;
      produced_ += static_cast<int64_t>(piece_.size());
      backed_up_ = static_cast<int>(piece_.size());
    }
    *data = piece_.data() + piece_.size() - backed_up_;
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

 protected:
  // The next piece, valid until the next call; empty at the end or on an
  // error (then error_ says which).
  virtual std::string_view NextPiece() = 0;

  std::string error_;

 private:
  std::string_view piece_;
  int backed_up_ = 0;
  int64_t produced_ = 0;
};

}  // namespace

// The bytes of a compressed input, decompressed as they are asked for.
class Input::Decompressed : public PieceStream {
 public:
  Decompressed(ZeroCopyInputStream* compressed, const char* format,
               std::unique_ptr<Decoder> decoder)
      : compressed_(compressed),
        format_(format),
        decoder_(std::move(decoder)),
        buffer_(new uint8_t[kBufferSize]) {}

 private:
  std::string_view NextPiece() override {
    Decoder::Buffers buffers{in_, in_left_, buffer_.get(), kBufferSize};
    while (!done_ && buffers.out_left == kBufferSize) {
      if (buffers.in_left == 0 && !input_ended_) {
        const void* data;
        int size;
        input_ended_ = !compressed_->Next(&data, &size);
        if (!input_ended_) {
          buffers.in = static_cast<const uint8_t*>(data);
          buffers.in_left = static_cast<size_t>(size);
        }
        continue;
      }
      if (std::string error = decoder_->Decode(buffers, input_ended_);
          !error.empty()) {
        error_ = "the " + format_ + " data " + error;
        done_ = true;
      } else if (input_ended_ && buffers.out_left == kBufferSize) {
        // All input taken and nothing more comes out of it.
        if (!decoder_->at_end()) {
          error_ = "the " + format_ + " data is cut short";
        }
        done_ = true;
      }
    }
    in_ = buffers.in;
    in_left_ = buffers.in_left;
    return {reinterpret_cast<const char*>(buffer_.get()),
            kBufferSize - buffers.out_left};
  }

  ZeroCopyInputStream* const compressed_;
  const std::string format_;
  const std::unique_ptr<Decoder> decoder_;
  std::unique_ptr<uint8_t[]> buffer_;
  const uint8_t* in_ = nullptr;
  size_t in_left_ = 0;
  bool input_ended_ = false;
  bool done_ = false;
};

// The bytes that hex digits or base64 text spell, decoded piece by piece as
// the text arrives; white space is skipped, anything else stops the stream
// with its offset in the text.
class Input::Untext : public PieceStream {
 public:
  Untext(ZeroCopyInputStream* text, TextEncoding encoding)
      : text_(text), encoding_(encoding) {}

 private:
  std::string_view NextPiece() override {
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
    if (!error_.empty()) return {};
    return bytes_;
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
  bool ended_ = false;
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
  while (!layers_.empty()) layers_.pop_back();  // the outermost first
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
  if (decompress != Decompress::kNone) StartDecompressing();
  if (encoding != TextEncoding::kNone) {
    auto untext = std::make_unique<Untext>(top_, encoding);
    untext_ = untext.get();
    top_ = untext.get();
    layers_.push_back(std::move(untext));
    if (decompress != Decompress::kNone) StartDecompressing();
  }
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
  while (ahead.size() < kLongestMagic && raw->Next(&data, &size)) {
    ahead.append(static_cast<const char*>(data), static_cast<size_t>(size));
  }
  auto unread = std::make_unique<Unread>(std::move(ahead), raw);
  top_ = unread.get();
  const std::string_view first_bytes = unread->ahead();
  layers_.push_back(std::move(unread));
  for (const Compression& compression : kCompressions) {
    if (first_bytes.substr(0, compression.magic.size()) == compression.magic) {
      auto decompressed = std::make_unique<Decompressed>(top_, compression.name,
                                                         compression.make());
      decompressors_.push_back(decompressed.get());
      top_ = decompressed.get();
      layers_.push_back(std::move(decompressed));
      break;
    }
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
  for (const Decompressed* decompressed : decompressors_) {
    if (!decompressed->error().empty()) {
      return {kMalformed, name_ + ": " + decompressed->error() +
                              "; if it is not compressed, say "
                              "--decompress=none"};
    }
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
         std::any_of(decompressors_.begin(), decompressors_.end(),
                     [](const Decompressed* decompressed) {
                       return !decompressed->error().empty();
                     }) ||
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
  if (file_ == std::nullopt || !decompressors_.empty() || untext_ ||
      !S_ISREG(stat_.st_mode))
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
