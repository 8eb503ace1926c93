#include "file_io.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "wire_rules.h"

namespace ostrel::agg_l3 {
namespace {

// A failure to read or write `path` ("" for the standard streams), with
// errno's reason.
Status Failure(const char* verb, const std::string& path, const char* stream) {
  return {kCannotRun, std::string("cannot ") + verb + " " +
                          (path.empty() ? std::string(stream) : path) + ": " +
                          std::strerror(errno)};
}
}  // namespace

Status CannotRead(const std::string& path) {
  return Failure("read", path, "standard input");
}

namespace {

Status CannotWrite(const std::string& path) {
  return Failure("write", path, "standard output");
}

bool WriteAll(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t written = ::write(fd, contents.data(), contents.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    contents.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

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

// The temporary output file to remove when a signal ends the program. Set
// and cleared with those signals blocked, read by their handler.
constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGABRT};
char g_temporary[PATH_MAX];
volatile sig_atomic_t g_has_temporary = 0;

extern "C" void RemoveTemporaryAndEnd(int signal) {
  if (g_has_temporary) ::unlink(g_temporary);
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);  // delivered, with the default action, on return
}

class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t fatal;
    sigemptyset(&fatal);
    for (int signal : kFatalSignals) sigaddset(&fatal, signal);
    ::sigprocmask(SIG_BLOCK, &fatal, &previous_);
  }
  ~SignalsBlocked() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

void InstallHandlersOnce() {
  static const bool installed = [] {
    for (int signal : kFatalSignals) {
      struct sigaction current;
      // A signal the caller ignores stays ignored.
      if (::sigaction(signal, nullptr, &current) == 0 &&
          current.sa_handler == SIG_IGN) {
        continue;
      }
      struct sigaction handler = {};
      handler.sa_handler = RemoveTemporaryAndEnd;
      handler.sa_flags = SA_RESTART;
      ::sigaction(signal, &handler, nullptr);
    }
    return true;
  }();
  static_cast<void>(installed);
}

}  // namespace

Status ReadInput(
    const std::string& path, std::string* contents,
    const std::function<bool(std::string_view)>& certainly_malformed) {
  int fd;
  if (Status opened = OpenInput(path, &fd); !opened.ok()) return opened;
  char buffer[1 << 16];
  ssize_t got;
  Status status;
  while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      status = CannotRead(path);
      break;
    }
    contents->append(buffer, static_cast<size_t>(got));
    if (contents->size() > wire::kMaxLength) {
      status = {kMalformed,
                SourceName(path) +
                    " is larger than the 2 GiB a report can take; reading "
                    "stopped there"};
      break;
    }
    if (certainly_malformed && certainly_malformed(*contents)) break;
  }
  if (fd != STDIN_FILENO) ::close(fd);
  return status;
}

Status WriteOutput(const std::string& path, std::string_view contents) {
  OutputFile file;
  if (Status opened = file.Open(path); !opened.ok()) return opened;
  if (!WriteAll(file.fd(), contents)) return CannotWrite(path);
  return file.Commit();
}

OutputFile::~OutputFile() {
  if (fd_ < 0 || fd_ == STDOUT_FILENO) return;
  ::close(fd_);
  if (temporary_.empty()) return;
  {
    SignalsBlocked blocked;
    g_has_temporary = 0;
  }
  ::unlink(temporary_.c_str());
}

Status OutputFile::Open(const std::string& path) {
  path_ = path;
  if (path.empty()) {
    fd_ = STDOUT_FILENO;
    return {};
  }
  if (!FollowLinks(&path_)) return CannotWrite(path);
  struct stat existing;
  if (::stat(path_.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    // Replacing a device or a FIFO would take it from everyone else.
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) return CannotWrite(path);
    return {};
  }
  const size_t slash = path_.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "" : path_.substr(0, slash + 1);
  std::string temporary =
      directory + "." + path_.substr(directory.size()) + ".XXXXXX";
  if (temporary.size() >= sizeof g_temporary) {
    errno = ENAMETOOLONG;
    return CannotWrite(path);
  }
  InstallHandlersOnce();
  {
    SignalsBlocked blocked;
    fd_ = ::mkstemp(temporary.data());
    if (fd_ < 0) return CannotWrite(path);
    temporary_ = temporary;
    std::memcpy(g_temporary, temporary.c_str(), temporary.size() + 1);
    g_has_temporary = 1;
  }
  if (::fchmod(fd_, ModeFor(path_)) != 0) return CannotWrite(path);
  return {};
}

Status OutputFile::Commit() {
  if (fd_ < 0 || fd_ == STDOUT_FILENO) return {};
  const int fd = std::exchange(fd_, -1);
  if (temporary_.empty()) {
    return ::close(fd) == 0 ? Status() : CannotWrite(path_);
  }
  bool ok = ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  SignalsBlocked blocked;
  ok = ok && ::rename(temporary_.c_str(), path_.c_str()) == 0;
  const int cause = errno;
  if (!ok) ::unlink(temporary_.c_str());
  g_has_temporary = 0;
  temporary_.clear();
  errno = cause;
  return ok ? Status() : CannotWrite(path_);
}

Status OpenInput(const std::string& path, int* fd) {
  *fd = path.empty() ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY);
  if (*fd < 0) return CannotRead(path);
  return {};
}

}  // namespace ostrel::agg_l3
