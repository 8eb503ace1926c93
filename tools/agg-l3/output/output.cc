#include "output/output.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

Output::~Output() {
  gzip_.reset();
  file_.reset();
  if (fd_ > STDOUT_FILENO) ::close(fd_);
  if (!temporary_.empty()) ForgetTemporary(temporary_, true);
}

Status Output::Open(const std::string& path, bool gzip) {
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
  OpenStream(&file_.emplace(fd_), gzip);
  return {};
}

void Output::OpenStream(google::protobuf::io::ZeroCopyOutputStream* raw,
                        bool gzip) {
  raw_ = top_ = raw;
  if (gzip) {
    google::protobuf::io::GzipOutputStream::Options options;
    options.format = google::protobuf::io::GzipOutputStream::GZIP;
    top_ = &gzip_.emplace(raw, options);
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
  if (gzip_) gzip_->Flush();
  if (file_) file_->Flush();
}

bool Output::failed() const { return file_ && file_->GetErrno() != 0; }

Status Output::Commit() {
  bool ok = !gzip_ || gzip_->Close();
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
