#include "input_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "file_io.h"
#include "wire_rules.h"

namespace ostrel::agg_l3 {
namespace {

constexpr int kBufferSize = 1 << 16;
constexpr unsigned char kGzipMagic[] = {0x1F, 0x8B};

// Up to `wanted` bytes from the start of `raw`, in whole pieces as it hands
// them out (it cannot take more than the last piece back).
std::string ReadHead(google::protobuf::io::ZeroCopyInputStream* raw,
                     size_t wanted) {
  std::string head;
  const void* data;
  int size;
  while (head.size() < wanted && raw->Next(&data, &size)) {
    head.append(static_cast<const char*>(data), static_cast<size_t>(size));
  }
  return head;
}

}  // namespace

GunzipStream::GunzipStream(
    google::protobuf::io::ZeroCopyInputStream* compressed)
    : compressed_(compressed), buffer_(new unsigned char[kBufferSize]) {
  // 16 + window bits: gzip framing, with its checksum and length checked.
  if (inflateInit2(&zlib_, 16 + MAX_WBITS) != Z_OK) {
    error_ = "cannot start decompressing";
    done_ = true;
  }
}

GunzipStream::~GunzipStream() {
  inflateEnd(&zlib_);
  // Hand back what zlib did not take, for whoever reads on.
  if (zlib_.avail_in > 0) compressed_->BackUp(static_cast<int>(zlib_.avail_in));
}

bool GunzipStream::Next(const void** data, int* size) {
  if (backed_up_ == 0) {
    if (!Inflate()) return false;
    backed_up_ = filled_;
  }
  *data = buffer_.get() + filled_ - backed_up_;
  *size = backed_up_;
  backed_up_ = 0;
  return true;
}

bool GunzipStream::Skip(int count) {
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

bool GunzipStream::Inflate() {
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

InputStream::InputStream(google::protobuf::io::ZeroCopyInputStream* raw)
    : head_(ReadHead(raw, sizeof kGzipMagic)),
      head_stream_(head_.data(), static_cast<int>(head_.size())),
      parts_{&head_stream_, raw},
      joined_(parts_, 2),
      top_(&joined_) {
  if (head_.size() >= sizeof kGzipMagic &&
      std::equal(kGzipMagic, kGzipMagic + sizeof kGzipMagic,
                 reinterpret_cast<const unsigned char*>(head_.data()))) {
    top_ = &gunzip_.emplace(&joined_);
  }
}

bool InputStream::ReadAll(std::string* bytes) {
  const void* data;
  int size;
  while (top_->Next(&data, &size)) {
    bytes->append(static_cast<const char*>(data), static_cast<size_t>(size));
  }
  return error().empty();
}

Status ReadDecompressed(
    const std::string& path, std::string_view source, std::string* contents,
    const std::function<bool(std::string_view)>& certainly_malformed) {
  int fd;
  if (Status opened = OpenInput(path, &fd); !opened.ok()) return opened;
  google::protobuf::io::FileInputStream file(fd, 1 << 20);
  file.SetCloseOnDelete(fd != STDIN_FILENO);
  InputStream input(&file);
  // Read to its size at once: grown as it comes, the string would hold up
  // to twice the input while it moves.
  struct stat status;
  if (!input.compressed() && ::fstat(fd, &status) == 0 &&
      S_ISREG(status.st_mode)) {
    contents->reserve(static_cast<size_t>(status.st_size));
  }
  const void* data;
  int size;
  while (contents->size() <= wire::kMaxLength &&
         input.stream()->Next(&data, &size)) {
    contents->append(static_cast<const char*>(data), static_cast<size_t>(size));
    if (certainly_malformed && certainly_malformed(*contents)) break;
  }
  const bool whole = input.error().empty();
  if (file.GetErrno() != 0) {
    errno = file.GetErrno();
    return CannotRead(path);
  }
  if (!whole) return {kMalformed, std::string(source) + ": " + input.error()};
  return {};
}

InputStreamBuffer::int_type InputStreamBuffer::underflow() {
  const void* data;
  int size = 0;
  while (size == 0) {
    if (!input_->Next(&data, &size)) return traits_type::eof();
  }
  char* begin = static_cast<char*>(const_cast<void*>(data));
  setg(begin, begin, begin + size);
  return traits_type::to_int_type(*begin);
}

}  // namespace ostrel::agg_l3
