#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ostrel::agg_l3 {
namespace {

bool Fail(const std::string& what, std::string* error) {
  *error = what + ": " + std::strerror(errno);
  return false;
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

bool ReadInput(const std::string& path, std::string* contents,
               std::string* error) {
  const std::string name = path.empty() ? "standard input" : path;
  const int fd = path.empty() ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return Fail("cannot read " + name, error);
  char buffer[1 << 16];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int cause = errno;
      if (fd != STDIN_FILENO) ::close(fd);
      errno = cause;
      return Fail("cannot read " + name, error);
    }
    contents->append(buffer, static_cast<size_t>(got));
  }
  if (fd != STDIN_FILENO) ::close(fd);
  return true;
}

bool WriteOutput(const std::string& path, std::string_view contents,
                 std::string* error) {
  OutputFile file;
  if (!file.Open(path, error)) return false;
  if (!WriteAll(file.fd(), contents)) {
    return Fail("cannot write " +
                    (path.empty() ? std::string("standard output") : path),
                error);
  }
  return file.Commit(error);
}

OutputFile::~OutputFile() {
  if (temporary_.empty()) return;
  ::close(fd_);
  ::unlink(temporary_.c_str());
}

bool OutputFile::Open(const std::string& path, std::string* error) {
  path_ = path;
  if (path.empty()) {
    fd_ = STDOUT_FILENO;
    return true;
  }
  const size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string temporary =
      directory + "." + path.substr(directory.size()) + ".XXXXXX";
  fd_ = ::mkstemp(temporary.data());
  if (fd_ < 0) return Fail("cannot write " + path, error);
  temporary_ = temporary;
  if (::fchmod(fd_, ModeFor(path)) != 0)
    return Fail("cannot write " + path, error);
  return true;
}

bool OutputFile::Commit(std::string* error) {
  if (temporary_.empty()) return true;
  bool ok = ::fsync(fd_) == 0;
  ok = ::close(fd_) == 0 && ok;
  ok = ok && ::rename(temporary_.c_str(), path_.c_str()) == 0;
  if (!ok) {
    const int cause = errno;
    ::unlink(temporary_.c_str());
    temporary_.clear();
    errno = cause;
    return Fail("cannot write " + path_, error);
  }
  temporary_.clear();
  return true;
}

int OpenInput(const std::string& path, std::string* error) {
  if (path.empty()) return STDIN_FILENO;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) Fail("cannot read " + path, error);
  return fd;
}

}  // namespace ostrel::agg_l3
