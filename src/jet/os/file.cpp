#include "jet/os/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/error.h"

namespace jet::os {
namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

class PosixFile : public File {
 public:
  PosixFile(std::string path, int fd, std::uint64_t size, bool writable)
      : path_(std::move(path)), fd_(fd), size_(size), writable_(writable) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  const std::string& Path() const override { return path_; }
  std::uint64_t Size() const override { return size_; }
  bool Writable() const override { return writable_; }

  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    std::size_t done = 0;
    auto* out = static_cast<char*>(buf);
    while (done < n) {
      ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw Error(ErrorCode::Io, "Cannot read database file " + Quoted(path_) + ": " + std::strerror(errno));
      }
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

 private:
  std::string path_;
  int fd_;
  std::uint64_t size_;
  bool writable_;
};

class MemFile : public File {
 public:
  MemFile(std::string name, std::string bytes) : name_(std::move(name)), bytes_(std::move(bytes)) {}
  const std::string& Path() const override { return name_; }
  std::uint64_t Size() const override { return bytes_.size(); }
  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    if (offset >= bytes_.size()) return 0;
    std::size_t take = std::min<std::uint64_t>(n, bytes_.size() - offset);
    std::memcpy(buf, bytes_.data() + offset, take);
    return take;
  }

 private:
  std::string name_;
  std::string bytes_;
};

}  // namespace

std::unique_ptr<File> OpenFile(const std::string& path, OpenMode mode) {
  int flags = (mode == OpenMode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) {
    int err = errno;
    std::string why = std::strerror(err);
    switch (err) {
      case ENOENT:
      case ENOTDIR:
        throw Error(ErrorCode::FileNotFound, "Database file " + Quoted(path) + " does not exist");
      case EACCES:
      case EPERM:
      case EROFS:
        throw Error(ErrorCode::AccessDenied, "No permission to open database file " + Quoted(path) + ": " + why);
      case EISDIR:
        throw Error(ErrorCode::NotJet, Quoted(path) + " is a directory, not a Jet database");
      default:
        throw Error(ErrorCode::Io, "Cannot open database file " + Quoted(path) + ": " + why);
    }
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    std::string why = std::strerror(errno);
    ::close(fd);
    throw Error(ErrorCode::Io, "Cannot examine database file " + Quoted(path) + ": " + why);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Error(ErrorCode::NotJet, Quoted(path) + (S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file") +
                                       ", not a Jet database");
  }
  return std::make_unique<PosixFile>(path, fd, static_cast<std::uint64_t>(st.st_size), mode == OpenMode::ReadWrite);
}

std::unique_ptr<File> MemoryFile(std::string name, std::string bytes) {
  return std::make_unique<MemFile>(std::move(name), std::move(bytes));
}

}  // namespace jet::os
