// Input as the tool reads it: a stream of the bytes of a file or pipe,
// decompressed on the way when its first bytes are gzip's magic number, so
// every command takes archived reports as they are.
//
// zlib is driven directly rather than through protobuf's GzipInputStream,
// which takes a cut-off archive for a complete one and so would hand on a
// shortened report without a word.

#ifndef OSTREL_TOOLS_AGG_L3_INPUT_STREAM_H_
#define OSTREL_TOOLS_AGG_L3_INPUT_STREAM_H_

#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>

#include "status.h"

namespace ostrel::agg_l3 {

// Inflates a gzip stream of one or more members.
class GunzipStream : public google::protobuf::io::ZeroCopyInputStream {
 public:
  explicit GunzipStream(google::protobuf::io::ZeroCopyInputStream* compressed);
  ~GunzipStream() override;

  bool Next(const void** data, int* size) override;
  void BackUp(int count) override { backed_up_ += count; }
  bool Skip(int count) override;
  int64_t ByteCount() const override { return produced_ - backed_up_; }

  // Empty, or why the stream ended early: broken or cut-off data, or bytes
  // after a member that start none.
  const std::string& error() const { return error_; }

 private:
  bool Inflate();

  google::protobuf::io::ZeroCopyInputStream* const compressed_;
  z_stream zlib_{};
  std::unique_ptr<unsigned char[]> buffer_;
  int filled_ = 0;
  int backed_up_ = 0;
  int64_t produced_ = 0;
  bool member_ended_ = false;
  bool done_ = false;
  std::string error_;
};

class InputStream {
 public:
  // Reads the first bytes of `raw` to tell whether they are gzip.
  explicit InputStream(google::protobuf::io::ZeroCopyInputStream* raw);

  // The bytes, decompressed.
  google::protobuf::io::ZeroCopyInputStream* stream() { return top_; }
  bool compressed() const { return gunzip_.has_value(); }
  // Once the stream has ended: empty, or why the compressed data is not
  // whole; then what was read is not all there was.
  std::string error() const { return gunzip_ ? gunzip_->error() : ""; }

  // Appends the rest of the stream to `bytes`; false when error() says it
  // is not whole.
  bool ReadAll(std::string* bytes);

 private:
  std::string head_;
  google::protobuf::io::ArrayInputStream head_stream_;
  google::protobuf::io::ZeroCopyInputStream* parts_[2];
  google::protobuf::io::ConcatenatingInputStream joined_;
  std::optional<GunzipStream> gunzip_;
  google::protobuf::io::ZeroCopyInputStream* top_;
};

// All of `path`, or of standard input when `path` is empty, decompressed,
// as ReadInput reads it: stopping past the 2 GiB a report can take, or when
// `certainly_malformed` says so of what was read. A broken archive is
// kMalformed, naming `source`.
Status ReadDecompressed(
    const std::string& path, std::string_view source, std::string* contents,
    const std::function<bool(std::string_view)>& certainly_malformed = {});

// A stream's bytes for the standard library's readers (std::getline).
class InputStreamBuffer : public std::streambuf {
 public:
  explicit InputStreamBuffer(google::protobuf::io::ZeroCopyInputStream* input)
      : input_(input) {}

 protected:
  int_type underflow() override;

 private:
  google::protobuf::io::ZeroCopyInputStream* const input_;
};

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_INPUT_STREAM_H_
