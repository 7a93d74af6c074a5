#include "jet/os/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "jet/error.h"
#include "jet/os/faults.h"

namespace jet::os {
namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

[[noreturn]] void ThrowIo(const std::string& what, const std::string& path, int err) {
  throw Error(ErrorCode::Io, what + " " + Quoted(path) + ": " + std::strerror(err));
}

struct flock WholeFile(short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;  // to the end, however far the file grows
  fl.l_pid = 0;  // required by open-file-description locks
  return fl;
}

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
    if (int err = faults::Check(faults::Op::Read)) ThrowIo("Cannot read file", path_, err);
    std::size_t done = 0;
    auto* out = static_cast<char*>(buf);
    while (done < n) {
      ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        ThrowIo("Cannot read file", path_, errno);
      }
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
    if (!writable_) File::WriteAt(offset, buf, n);
    const auto* in = static_cast<const char*>(buf);
    if (int err = faults::Check(faults::Op::Write)) {
      // A full disk takes part of the write before it refuses the rest.
      if (err == ENOSPC && n > 1 && ::pwrite(fd_, in, n / 2, static_cast<off_t>(offset)) > 0) {
        size_ = std::max<std::uint64_t>(size_, offset + n / 2);
      }
      ThrowIo("Cannot write file", path_, err);
    }
    std::size_t done = 0;
    while (done < n) {
      ssize_t put = ::pwrite(fd_, in + done, n - done, static_cast<off_t>(offset + done));
      if (put < 0) {
        if (errno == EINTR) continue;
        ThrowIo("Cannot write file", path_, errno);
      }
      done += static_cast<std::size_t>(put);
    }
    size_ = std::max<std::uint64_t>(size_, offset + n);
  }

  void Sync() override {
    if (!writable_) File::Sync();
    if (int err = faults::Check(faults::Op::Sync)) ThrowIo("Cannot save changes to file", path_, err);
    while (::fsync(fd_) != 0) {
      if (errno != EINTR) ThrowIo("Cannot save changes to file", path_, errno);
    }
  }

  void Truncate(std::uint64_t size) override {
    if (!writable_) File::Truncate(size);
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) ThrowIo("Cannot set the size of file", path_, errno);
    }
    size_ = size;
  }

  bool TryLock(LockKind kind) override {
    struct flock fl = WholeFile(kind == LockKind::Exclusive ? F_WRLCK : F_RDLCK);
    while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EACCES) return false;
      ThrowIo("Cannot lock file", path_, errno);
    }
    return true;
  }

  void Unlock() override {
    struct flock fl = WholeFile(F_UNLCK);
    (void)::fcntl(fd_, F_OFD_SETLK, &fl);
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
  bool TryLock(LockKind) override { return true; }

 private:
  std::string name_;
  std::string bytes_;
};

}  // namespace

void File::WriteAt(std::uint64_t, const void*, std::size_t) {
  throw Error(ErrorCode::ReadOnly, "File " + Quoted(Path()) + " is open for reading only");
}
void File::Sync() { throw Error(ErrorCode::ReadOnly, "File " + Quoted(Path()) + " is open for reading only"); }
void File::Truncate(std::uint64_t) {
  throw Error(ErrorCode::ReadOnly, "File " + Quoted(Path()) + " is open for reading only");
}
bool File::TryLock(LockKind) { return true; }

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
        throw Error(ErrorCode::AccessDenied, "No permission to open database file " + Quoted(path) +
                                                 (mode == OpenMode::ReadWrite ? " for writing: " : ": ") + why);
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

std::unique_ptr<File> CreateFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    int err = errno;
    if (err == EACCES || err == EPERM || err == EROFS)
      throw Error(ErrorCode::AccessDenied, "No permission to create file " + Quoted(path) + ": " + std::strerror(err));
    ThrowIo("Cannot create file", path, err);
  }
  return std::make_unique<PosixFile>(path, fd, 0, true);
}

std::unique_ptr<File> MemoryFile(std::string name, std::string bytes) {
  return std::make_unique<MemFile>(std::move(name), std::move(bytes));
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

void RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) ThrowIo("Cannot remove file", path, errno);
}

void SyncDirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) ThrowIo("Cannot open folder", dir, errno);
  int rc;
  if (int simulated = faults::Check(faults::Op::Sync)) {
    ::close(fd);
    ThrowIo("Cannot save changes to folder", dir, simulated);
  }
  while ((rc = ::fsync(fd)) != 0 && errno == EINTR) {
  }
  int err = errno;
  ::close(fd);
  // Some file systems cannot sync a folder; they have nothing to make durable then.
  if (rc != 0 && err != EINVAL && err != EROFS) ThrowIo("Cannot save changes to folder", dir, err);
}

bool HasForeignLock(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct flock fl = WholeFile(F_WRLCK);
  bool locked = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  ::close(fd);
  return locked;
}

}  // namespace jet::os
