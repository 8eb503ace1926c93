#include "output/output.h"

#include <fcntl.h>
#include <limits.h>
#include <lzma.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

namespace ostrel::agg_l3 {
namespace {

// What a newly created file gets: the replaced file's mode, else the umask's.
mode_t ModeFor(const std::string& path) {
  struct stat existing;
  if (::stat(path.c_str(), &existing) == 0) return existing.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The path a chain of symbolic links leads to, whether or not a file is
// there; renaming onto it keeps the links.
bool FollowLinks(std::string* path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat link;
    if (::lstat(path->c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
      return true;
    }
    std::string target(static_cast<size_t>(link.st_size) + 1, '\0');
    const ssize_t size =
        ::readlink(path->c_str(), target.data(), target.size());
    if (size < 0) return false;
    target.resize(static_cast<size_t>(size));
    const size_t slash = path->rfind('/');
    *path = target.front() == '/' || slash == std::string::npos
                ? target
                : path->substr(0, slash + 1) + target;
  }
  errno = ELOOP;
  return false;
}

// Every signal whose default action ends the program and that a handler
// can catch: each of them must take the temporary file along.
constexpr int kFatalSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
    SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
    SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};

// The temporary output file to remove when a signal ends the program. Set
// and cleared with every signal blocked, read by the handler.
char g_temporary[PATH_MAX];
volatile sig_atomic_t g_has_temporary = 0;

extern "C" void RemoveTemporaryAndEnd(int signal) {
  if (g_has_temporary) ::unlink(g_temporary);
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);  // delivered, with the default action, on return
}

bool IsFatal(int signal) {
  if (signal >= SIGRTMIN && signal <= SIGRTMAX) return true;
  for (int fatal : kFatalSignals) {
    if (signal == fatal) return true;
  }
  return false;
}

void InstallHandlersOnce() {
  static const bool installed = [] {
    // Its own stack, so that a stack overflow still gets the file removed.
    static char alternate[1 << 16];
    stack_t stack = {};
    stack.ss_sp = alternate;
    stack.ss_size = sizeof alternate;
    ::sigaltstack(&stack, nullptr);
    for (int signal = 1; signal <= SIGRTMAX; ++signal) {
      struct sigaction current;
      // A signal the caller ignores stays ignored; one that already has a
      // handler (a sanitizer's) keeps it.
      if (!IsFatal(signal) || ::sigaction(signal, nullptr, &current) != 0 ||
          current.sa_handler != SIG_DFL) {
        continue;
      }
      struct sigaction handler = {};
      handler.sa_handler = RemoveTemporaryAndEnd;
      handler.sa_flags = SA_RESTART | SA_ONSTACK;
      sigfillset(&handler.sa_mask);
      ::sigaction(signal, &handler, nullptr);
    }
    return true;
  }();
  static_cast<void>(installed);
}

class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &previous_);
  }
  ~SignalsBlocked() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

void ForgetTemporary(const std::string& temporary, bool remove) {
  SignalsBlocked blocked;
  if (remove) ::unlink(temporary.c_str());
  g_has_temporary = 0;
}

// One compression format's encoder. Encode() takes what it can from `in`
// and puts what it can into `out`; true once `end` is done: everything
// taken so far flushed (kFlush), or the archive ended (kFinish).
class Encoder {
 public:
  enum End { kNone, kFlush, kFinish };
  struct Buffers {
    const uint8_t* in;
    size_t in_left;
    uint8_t* out;
    size_t out_left;
  };
  virtual ~Encoder() = default;
  virtual bool Encode(Buffers& buffers, End end, bool* failed) = 0;
};

class GzipEncoder : public Encoder {
 public:
  GzipEncoder() {
    // 16 + window bits: gzip framing.
    started_ = deflateInit2(&zlib_, Z_DEFAULT_COMPRESSION, Z_DEFLATED,
                            16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~GzipEncoder() override { deflateEnd(&zlib_); }

  bool Encode(Buffers& buffers, End end, bool* failed) override {
    zlib_.next_in = const_cast<Bytef*>(buffers.in);
    zlib_.avail_in = static_cast<uInt>(buffers.in_left);
    zlib_.next_out = buffers.out;
    zlib_.avail_out = static_cast<uInt>(buffers.out_left);
    const int result = started_ ? deflate(&zlib_, end == kFinish  ? Z_FINISH
                                                  : end == kFlush ? Z_SYNC_FLUSH
                                                                  : Z_NO_FLUSH)
                                : Z_STREAM_ERROR;
    buffers = {zlib_.next_in, zlib_.avail_in, zlib_.next_out, zlib_.avail_out};
    *failed = result != Z_OK && result != Z_BUF_ERROR && result != Z_STREAM_END;
    // A flush is done when it left room in the output.
    return end == kFinish ? result == Z_STREAM_END : buffers.out_left > 0;
  }

 private:
  z_stream zlib_{};
  bool started_;
};

class ZstdEncoder : public Encoder {
 public:
  ZstdEncoder() : zstd_(ZSTD_createCCtx()) {}
  ~ZstdEncoder() override { ZSTD_freeCCtx(zstd_); }

  bool Encode(Buffers& buffers, End end, bool* failed) override {
    if (zstd_ == nullptr) return *failed = true;
    ZSTD_inBuffer in = {buffers.in, buffers.in_left, 0};
    ZSTD_outBuffer out = {buffers.out, buffers.out_left, 0};
    const size_t left = ZSTD_compressStream2(zstd_, &out, &in,
                                             end == kFinish  ? ZSTD_e_end
                                             : end == kFlush ? ZSTD_e_flush
                                                             : ZSTD_e_continue);
    buffers = {buffers.in + in.pos, in.size - in.pos, buffers.out + out.pos,
               out.size - out.pos};
    *failed = ZSTD_isError(left);
    return left == 0;
  }

 private:
  ZSTD_CCtx* const zstd_;
};

class XzEncoder : public Encoder {
 public:
  XzEncoder() {
    started_ = lzma_easy_encoder(&xz_, LZMA_PRESET_DEFAULT, LZMA_CHECK_CRC64) ==
               LZMA_OK;
  }
  ~XzEncoder() override { lzma_end(&xz_); }

  bool Encode(Buffers& buffers, End end, bool* failed) override {
    xz_.next_in = buffers.in;
    xz_.avail_in = buffers.in_left;
    xz_.next_out = buffers.out;
    xz_.avail_out = buffers.out_left;
    const lzma_ret result =
        started_ ? lzma_code(&xz_, end == kFinish  ? LZMA_FINISH
                                   : end == kFlush ? LZMA_SYNC_FLUSH
                                                   : LZMA_RUN)
                 : LZMA_PROG_ERROR;
    buffers = {xz_.next_in, xz_.avail_in, xz_.next_out, xz_.avail_out};
    *failed = result != LZMA_OK && result != LZMA_STREAM_END;
    return result == LZMA_STREAM_END;
  }

 private:
  lzma_stream xz_ = LZMA_STREAM_INIT;
  bool started_;
};

std::unique_ptr<Encoder> MakeEncoder(Compression compression) {
  switch (compression) {
    case Compression::kGzip:
      return std::make_unique<GzipEncoder>();
    case Compression::kZstd:
      return std::make_unique<ZstdEncoder>();
    case Compression::kXz:
      return std::make_unique<XzEncoder>();
    case Compression::kNone:
      break;
  }
  return nullptr;
}

}  // namespace

// Takes the bytes written into a buffer of its own and hands them, compressed,
// to the stream below.
class Output::Compressed : public google::protobuf::io::ZeroCopyOutputStream {
 public:
  Compressed(ZeroCopyOutputStream* raw, Compression compression)
      : raw_(raw),
        encoder_(MakeEncoder(compression)),
        buffer_(new uint8_t[kBufferSize]) {}

  bool Next(void** data, int* size) override {
    if (!Drain(Encoder::kNone)) return false;
    *data = buffer_.get();
    *size = kBufferSize;
    filled_ = kBufferSize;
    return true;
  }
  void BackUp(int count) override { filled_ -= count; }
  int64_t ByteCount() const override { return taken_ + filled_; }

  bool Flush() { return Drain(Encoder::kFlush); }
  bool Close() { return Drain(Encoder::kFinish); }

 private:
  static constexpr int kBufferSize = 1 << 16;

  // Compresses what was written, until `end` is done too; false once the
  // encoder or the stream below failed.
  bool Drain(Encoder::End end) {
    Encoder::Buffers buffers{buffer_.get(), static_cast<size_t>(filled_),
                             nullptr, 0};
    bool done = false;
    while (!failed_ &&
           (buffers.in_left > 0 || (end != Encoder::kNone && !done))) {
      void* out;
      int size;
      if (!raw_->Next(&out, &size)) {
        failed_ = true;
        break;
      }
      buffers.out = static_cast<uint8_t*>(out);
      buffers.out_left = static_cast<size_t>(size);
      done = encoder_->Encode(buffers, end, &failed_);
      raw_->BackUp(static_cast<int>(buffers.out_left));
    }
    taken_ += filled_;
    filled_ = 0;
    return !failed_;
  }

  ZeroCopyOutputStream* const raw_;
  const std::unique_ptr<Encoder> encoder_;
  std::unique_ptr<uint8_t[]> buffer_;
  int filled_ = 0;
  int64_t taken_ = 0;
  bool failed_ = false;
};

Output::Output() = default;

Output::~Output() {
  compressed_.reset();
  file_.reset();
  if (fd_ > STDOUT_FILENO) ::close(fd_);
  if (!temporary_.empty()) ForgetTemporary(temporary_, true);
}

Status Output::Open(const std::string& path, Compression compression) {
  fd_ = STDOUT_FILENO;
  if (!path.empty() && path != "-") {
    name_ = target_ = path;
    if (!FollowLinks(&target_)) return CannotWrite();
    struct stat existing;
    if (::stat(target_.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
      fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
      target_.clear();  // written in place: nothing to rename
      if (fd_ < 0) return CannotWrite();
    } else {
      const size_t slash = target_.rfind('/');
      const size_t base = slash == std::string::npos ? 0 : slash + 1;
      std::string temporary =
          target_.substr(0, base) + "." + target_.substr(base) + ".XXXXXX";
      if (temporary.size() >= sizeof g_temporary) {
        errno = ENAMETOOLONG;
        return CannotWrite();
      }
      InstallHandlersOnce();
      SignalsBlocked blocked;
      fd_ = ::mkostemp(temporary.data(), O_CLOEXEC);
      if (fd_ < 0) return CannotWrite();
      temporary_ = temporary;
      std::memcpy(g_temporary, temporary.c_str(), temporary.size() + 1);
      g_has_temporary = 1;
    }
    if (!temporary_.empty() && ::fchmod(fd_, ModeFor(target_)) != 0) {
      return CannotWrite();
    }
  }
  OpenStream(&file_.emplace(fd_), compression);
  return {};
}

void Output::OpenStream(google::protobuf::io::ZeroCopyOutputStream* raw,
                        Compression compression) {
  raw_ = top_ = raw;
  if (compression != Compression::kNone) {
    compressed_ = std::make_unique<Compressed>(raw, compression);
    top_ = compressed_.get();
  }
}

void Output::Write(std::string_view bytes) {
  void* data;
  int size;
  while (!bytes.empty() && top_->Next(&data, &size)) {
    const size_t taken = std::min(bytes.size(), static_cast<size_t>(size));
    std::memcpy(data, bytes.data(), taken);
    top_->BackUp(size - static_cast<int>(taken));
    bytes.remove_prefix(taken);
  }
}

void Output::Flush() {
  if (compressed_) compressed_->Flush();
  if (file_) file_->Flush();
}

bool Output::failed() const { return file_ && file_->GetErrno() != 0; }

Status Output::Commit() {
  bool ok = !compressed_ || compressed_->Close();
  ok = (!file_ || file_->Flush()) && ok;
  if (!ok || failed()) {
    if (file_ && file_->GetErrno() != 0) errno = file_->GetErrno();
    return CannotWrite();
  }
  if (target_.empty()) return {};  // standard output, a device or a FIFO
  const int fd = std::exchange(fd_, -1);
  file_.reset();
  ok = ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temporary_.c_str(), target_.c_str()) == 0;
  const int cause = errno;
  ForgetTemporary(temporary_, !ok);
  temporary_.clear();
  errno = cause;
  return ok ? Status() : CannotWrite();
}

Status Output::CannotWrite() const {
  return {kCannotRun, "cannot write " + name_ + ": " + std::strerror(errno)};
}

}  // namespace ostrel::agg_l3
