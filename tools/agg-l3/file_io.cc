#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ostrel::agg_l3 {
namespace {

// A failure to read or write `path` ("" for the standard streams), with
// errno's reason.
Status Failure(const char* verb, const std::string& path, const char* stream) {
  return {kCannotRun, std::string("cannot ") + verb + " " +
                          (path.empty() ? std::string(stream) : path) + ": " +
                          std::strerror(errno)};
}
Status CannotRead(const std::string& path) {
  return Failure("read", path, "standard input");
}
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

}  // namespace

Status ReadInput(const std::string& path, std::string* contents) {
  int fd;
  if (Status opened = OpenInput(path, &fd); !opened.ok()) return opened;
  char buffer[1 << 16];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int cause = errno;
      if (fd != STDIN_FILENO) ::close(fd);
      errno = cause;
      return CannotRead(path);
    }
    contents->append(buffer, static_cast<size_t>(got));
  }
  if (fd != STDIN_FILENO) ::close(fd);
  return {};
}

Status WriteOutput(const std::string& path, std::string_view contents) {
  OutputFile file;
  if (Status opened = file.Open(path); !opened.ok()) return opened;
  if (!WriteAll(file.fd(), contents)) return CannotWrite(path);
  return file.Commit();
}

OutputFile::~OutputFile() {
  if (temporary_.empty()) return;
  ::close(fd_);
  ::unlink(temporary_.c_str());
}

Status OutputFile::Open(const std::string& path) {
  path_ = path;
  if (path.empty()) {
    fd_ = STDOUT_FILENO;
    return {};
  }
  const size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string temporary =
      directory + "." + path.substr(directory.size()) + ".XXXXXX";
  fd_ = ::mkstemp(temporary.data());
  if (fd_ < 0) return CannotWrite(path);
  temporary_ = temporary;
  if (::fchmod(fd_, ModeFor(path)) != 0) return CannotWrite(path);
  return {};
}

Status OutputFile::Commit() {
  if (temporary_.empty()) return {};
  bool ok = ::fsync(fd_) == 0;
  ok = ::close(fd_) == 0 && ok;
  ok = ok && ::rename(temporary_.c_str(), path_.c_str()) == 0;
  if (!ok) {
    const int cause = errno;
    ::unlink(temporary_.c_str());
    temporary_.clear();
    errno = cause;
    return CannotWrite(path_);
  }
  temporary_.clear();
  return {};
}

Status OpenInput(const std::string& path, int* fd) {
  *fd = path.empty() ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY);
  if (*fd < 0) return CannotRead(path);
  return {};
}

}  // namespace ostrel::agg_l3
