#include "output_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ostrel::agg_l3 {
namespace {

Status CannotWrite(const std::string& path) {
  return {kCannotRun,
          "cannot write " +
              (path.empty() ? std::string("standard output") : path) + ": " +
              std::strerror(errno)};
}

// A file no one else can see, gone when closed.
int OpenSpool() {
  const char* directory = std::getenv("TMPDIR");
  if (directory == nullptr || *directory == '\0') directory = "/tmp";
  int fd = ::open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
  std::string name = std::string(directory) + "/agg-l3.XXXXXX";
  fd = ::mkstemp(name.data());
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

bool Copy(int from, int to) {
  if (::lseek(from, 0, SEEK_SET) != 0) return false;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer + done, got - done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return false;
      done += put;
    }
  }
}

}  // namespace

OutputStream::~OutputStream() {
  gzip_.reset();
  raw_.reset();
  if (spool_ >= 0) ::close(spool_);
}

Status OutputStream::Open(const std::string& path, bool gzip, bool hold_back) {
  path_ = path;
  if (Status opened = file_.Open(path); !opened.ok()) return opened;
  int fd = file_.fd();
  if (path.empty() && hold_back) {
    spool_ = OpenSpool();
    if (spool_ < 0) return CannotWrite("a temporary file");
    fd = spool_;
  }
  top_ = &raw_.emplace(fd);
  if (gzip) {
    google::protobuf::io::GzipOutputStream::Options options;
    options.format = google::protobuf::io::GzipOutputStream::GZIP;
    top_ = &gzip_.emplace(&*raw_, options);
  }
  return {};
}

Status OutputStream::Commit() {
  bool ok = !gzip_ || gzip_->Close();
  ok = raw_->Flush() && ok;
  if (!ok) return CannotWrite(path_);
  if (spool_ >= 0 && !Copy(spool_, STDOUT_FILENO)) return CannotWrite("");
  return file_.Commit();
}

Status WriteWhole(const std::string& path, std::string_view contents,
                  bool gzip) {
  if (!gzip) return WriteOutput(path, contents);
  OutputStream output;
  if (Status opened = output.Open(path, true, false); !opened.ok()) {
    return opened;
  }
  void* data;
  int size;
  while (!contents.empty() && output.stream()->Next(&data, &size)) {
    const size_t taken = std::min(contents.size(), static_cast<size_t>(size));
    std::memcpy(data, contents.data(), taken);
    output.stream()->BackUp(size - static_cast<int>(taken));
    contents.remove_prefix(taken);
  }
  return output.Commit();
}

}  // namespace ostrel::agg_l3
