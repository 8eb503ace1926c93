// The first stage of every command: one input, as a stream of its bytes.
//
// FILE or "-" (standard input); bytes spelled out as hex or base64 (as
// reports copied out of logs and message queues arrive) turned back into
// bytes when told so; decompressed on the way when its first bytes are the
// magic number of gzip, zstd or xz (concatenated members, frames and streams
// read as one), unless told it is not compressed; held to
// a limit when the command sets one. Everything that can go wrong on the
// way ends in status(), which every command's result defers to: a read
// error (exit status 3, with its cause), a cut or broken archive, more bytes
// than the limit (2). To the stage after, each of these looks like the end
// of the input, so no reader of ours can take what was read for all there
// was without this stage having its say.

#ifndef OSTREL_TOOLS_AGG_L3_INPUT_INPUT_H_
#define OSTREL_TOOLS_AGG_L3_INPUT_INPUT_H_

#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "status.h"

namespace ostrel::agg_l3 {

enum class Decompress { kAuto, kNone };

// How the input writes its bytes: as they are, or as hex digits or base64,
// white space anywhere between them.
enum class TextEncoding { kNone, kHex, kBase64 };

// How messages name standard input.
inline constexpr const char* kStandardInput = "<stdin>";

class Input {
 public:
  Input();
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // `path` empty or "-": standard input.
  Status Open(const std::string& path, Decompress decompress,
              TextEncoding encoding = TextEncoding::kNone);
  // From `raw` instead of a file, for tests and the fuzzer.
  void OpenStream(google::protobuf::io::ZeroCopyInputStream* raw,
                  std::string name, Decompress decompress,
                  TextEncoding encoding = TextEncoding::kNone);

  // The file name, or <stdin>.
  const std::string& name() const { return name_; }
  // The bytes, decompressed and limited.
  google::protobuf::io::ZeroCopyInputStream* stream();

  // From here on, at most `bytes` more; past them the stream ends and
  // status() says the input is larger than `what` ("the 2 GiB a report can
  // take").
  void Limit(int64_t bytes, std::string what);

  // Calls `seen` with the bytes delivered so far, every few MiB and at the
  // end, for progress on a terminal.
  void Watch(std::function<void(int64_t bytes)> seen);

  // Everything that kept the stream from delivering all of the input.
  Status status() const;
  bool failed() const;  // status() is not ok

  // Reads the rest into `bytes`, stopping early when `stop` says of the
  // bytes so far that no more can help; then status().
  Status ReadAll(std::string* bytes,
                 const std::function<bool(std::string_view)>& stop = {});

  // The first bytes the stream delivered (up to 64 KiB), for saying what an
  // input that failed looks like.
  std::string_view head() const;

  // A regular file's bytes again, from its start: for saying where a report
  // that was parsed as it was read is malformed.
  Status ReadAgain(std::string* bytes) const;

  // The number of bytes the stream will deliver, when known before reading
  // them (an uncompressed regular file), else -1.
  int64_t size() const;
  bool is_terminal_or_large() const;  // worth showing progress for

  // Whether both name one object that cannot be read twice (a pipe, a
  // terminal, one descriptor): reading one would take the other's bytes.
  bool SharesBytesWith(const Input& other) const;

 private:
  class Decompressed;
  class Untext;
  class Limited;
  class Head;
  class Unread;
  class Watched;

  void StartDecompressing();

  std::string name_ = kStandardInput;
  int fd_ = -1;
  struct stat stat_ = {};
  std::optional<google::protobuf::io::FileInputStream> file_;
  google::protobuf::io::ZeroCopyInputStream* raw_ = nullptr;
  // Between the file and head_copy_, in the order the bytes pass through
  // them: an archive's decompressor (behind its look-ahead); then, for
  // --hex or --base64, the text's decoder and another decompressor, for an
  // archive spelled out as text.
  std::vector<std::unique_ptr<google::protobuf::io::ZeroCopyInputStream>>
      layers_;
  const Untext* untext_ = nullptr;
  std::vector<const Decompressed*> decompressors_;
  std::unique_ptr<Head> head_copy_;
  std::unique_ptr<Limited> limited_;
  std::unique_ptr<Watched> watched_;
  google::protobuf::io::ZeroCopyInputStream* top_ = nullptr;
};

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_INPUT_INPUT_H_
