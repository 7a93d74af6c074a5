// The engine's file operations on a POSIX system (Linux: open-file-description locks).

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "jet/env.h"
#include "jet/error.h"

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

ObjectKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return ObjectKind::File;
  if (S_ISDIR(mode)) return ObjectKind::Folder;
  if (S_ISLNK(mode)) return ObjectKind::Link;
  if (S_ISFIFO(mode)) return ObjectKind::Fifo;
  return ObjectKind::Other;
}

class PosixFile : public File {
 public:
  PosixFile(std::string path, int fd, const struct stat& st, bool writable)
      : path_(std::move(path)),
        fd_(fd),
        size_(static_cast<std::uint64_t>(st.st_size)),
        access_{static_cast<std::uint32_t>(st.st_mode & 07777), st.st_uid, st.st_gid,
                static_cast<std::uint64_t>(st.st_nlink)},
        writable_(writable) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  const std::string& Path() const override { return path_; }
  std::uint64_t Size() const override { return size_; }
  bool Writable() const override { return writable_; }
  FileAccess Access() const override { return access_; }

  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
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
    std::size_t done = 0;
    if (around_ && offset % kBlockAlignment == 0 && n % kBlockAlignment == 0 &&
        reinterpret_cast<std::uintptr_t>(buf) % kBlockAlignment == 0)
      done = WriteDirect(offset, in, n);
    while (done < n) {
      ssize_t put = ::pwrite(fd_, in + done, n - done, static_cast<off_t>(offset + done));
      if (put < 0) {
        if (errno == EINTR) continue;
        int err = errno;
        size_ = std::max<std::uint64_t>(size_, offset + done);
        ThrowIo("Cannot write file", path_, err);
      }
      done += static_cast<std::size_t>(put);
    }
    size_ = std::max<std::uint64_t>(size_, offset + n);
  }

  void WriteAroundCache() override { around_ = writable_; }

  void Sync() override {
    if (!writable_) File::Sync();
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

 private:
  // Writes what it can of an aligned write with O_DIRECT, which the descriptor carries only
  // for the call, so that reads and other writes keep going through the cache; returns the
  // bytes written. A file system that takes no direct writes (EINVAL when asked) gets the
  // rest of this write and every later one through the cache.
  std::size_t WriteDirect(std::uint64_t offset, const char* in, std::size_t n) {
    std::size_t done = 0;
#ifdef O_DIRECT
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_DIRECT) != 0) {
      around_ = false;
      return 0;
    }
    int err = 0;
    while (done < n) {
      ssize_t put = ::pwrite(fd_, in + done, n - done, static_cast<off_t>(offset + done));
      if (put < 0) {
        if (errno == EINTR) continue;
        if (errno == EINVAL) around_ = false;
        else err = errno;
        break;
      }
      done += static_cast<std::size_t>(put);
      // A short write leaves the rest unaligned: it goes through the cache.
      if (done % kBlockAlignment != 0) break;
    }
    while (::fcntl(fd_, F_SETFL, flags) != 0) {
      if (errno != EINTR) ThrowIo("Cannot write file", path_, errno);
    }
    if (err != 0) {
      size_ = std::max<std::uint64_t>(size_, offset + done);
      ThrowIo("Cannot write file", path_, err);
    }
#else
    (void)offset;
    (void)in;
    (void)n;
    around_ = false;
#endif
    return done;
  }

  std::string path_;
  int fd_;
  std::uint64_t size_;
  FileAccess access_;
  bool writable_;
  bool around_ = false;  // aligned writes go around the cache
};

class PosixEnv : public Env {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    // Non-blocking, so that a FIFO planted at the path cannot hold the program; a link
    // at the last part is not followed (callers pass real paths).
    int flags = (mode == OpenMode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
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
          throw Error(ErrorCode::NotJet, Quoted(path) + " is a folder, not a Jet database");
        case ELOOP:
          throw Error(ErrorCode::NotJet, Quoted(path) + " is a symbolic link, not a Jet database");
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
      throw Error(ErrorCode::NotJet,
                  Quoted(path) + " is " + Describe(KindOfMode(st.st_mode)) + ", not a Jet database");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<PosixFile>(path, fd, st, mode == OpenMode::ReadWrite);
  }

  std::unique_ptr<File> Create(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0) {
      int err = errno;
      if (err == EACCES || err == EPERM || err == EROFS)
        throw Error(ErrorCode::AccessDenied, "No permission to create file " + Quoted(path) + ": " + std::strerror(err));
      ThrowIo("Cannot create file", path, err);
    }
    struct stat st {};
    ::fstat(fd, &st);
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      throw Error(ErrorCode::Io, "Cannot create file " + Quoted(path) + ": " + Describe(KindOfMode(st.st_mode)) +
                                     " is already there");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<PosixFile>(path, fd, st, true);
  }

  void CreateFolder(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) == 0) return;
    int err = errno;
    if (err == EEXIST && KindOf(path) == ObjectKind::Folder) return;
    ThrowIo("Cannot create folder", path, err);
  }

  std::unique_ptr<File> CreateExclusive(const std::string& path, const FileAccess& like) override {
    // Created unreadable to others, then given the owner and the permissions of `like`.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) {
      int err = errno;
      if (err == EEXIST) {
        throw Error(ErrorCode::Io, "Cannot create file " + Quoted(path) + ": " + Describe(KindOf(path)) +
                                       " is already there");
      }
      if (err == EACCES || err == EPERM || err == EROFS)
        throw Error(ErrorCode::AccessDenied, "No permission to create file " + Quoted(path) + ": " + std::strerror(err));
      ThrowIo("Cannot create file", path, err);
    }
    struct stat st {};
    ::fstat(fd, &st);
    mode_t mode = static_cast<mode_t>(like.mode) & 0666;
    if (st.st_uid != like.owner && ::geteuid() == 0) {
      (void)::fchown(fd, static_cast<uid_t>(like.owner), static_cast<gid_t>(like.group));
    } else if (st.st_gid != like.group) {
      (void)::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(like.group));
    }
    ::fstat(fd, &st);
    // Where the file could not be given the database's group, that group's rights are
    // not passed on to the group it has.
    if (st.st_gid != like.group) mode &= ~static_cast<mode_t>(0060);
    if (::fchmod(fd, mode) != 0) {
      int err = errno;
      ::close(fd);
      ::unlink(path.c_str());
      ThrowIo("Cannot set the permissions of file", path, err);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    ::fstat(fd, &st);
    return std::make_unique<PosixFile>(path, fd, st, true);
  }

  ObjectKind KindOf(const std::string& path) override {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? ObjectKind::Missing : ObjectKind::Other;
    return KindOfMode(st.st_mode);
  }

  std::string RealPath(const std::string& path) override {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) {
      int err = errno;
      if (err == ENOENT || err == ENOTDIR)
        throw Error(ErrorCode::FileNotFound, "Database file " + Quoted(path) + " does not exist");
      if (err == EACCES)
        throw Error(ErrorCode::AccessDenied, "No permission to reach database file " + Quoted(path) + ": " +
                                                 std::strerror(err));
      ThrowIo("Cannot resolve the path of database file", path, err);
    }
    std::string result = real;
    std::free(real);
    return result;
  }

  void Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) ThrowIo("Cannot remove file", path, errno);
  }

  void Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) ThrowIo("Cannot rename file", from, errno);
  }

  std::vector<std::string> List(const std::string& folder) override {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) ThrowIo("Cannot list folder", folder, errno);
    std::vector<std::string> names;
    errno = 0;
    while (struct dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
    }
    int err = errno;
    ::closedir(dir);
    if (err != 0) ThrowIo("Cannot list folder", folder, err);
    return names;
  }

  void SyncFolder(const std::string& folder) override {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) ThrowIo("Cannot open folder", folder, errno);
    int rc;
    while ((rc = ::fsync(fd)) != 0 && errno == EINTR) {
    }
    int err = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; they have nothing to make durable then.
    if (rc != 0 && err != EINVAL && err != EROFS) ThrowIo("Cannot save changes to folder", folder, err);
  }

  std::uint64_t FreeSpace(const std::string& folder) override {
    struct statvfs sv {};
    if (::statvfs(folder.c_str(), &sv) != 0) ThrowIo("Cannot examine the free space of folder", folder, errno);
    return static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize;
  }

  LockProbe ProbeForeignLock(const std::string& path) override {
    ObjectKind kind = KindOf(path);
    if (kind == ObjectKind::Missing) return {};
    if (kind != ObjectKind::File) return {ForeignLock::CannotTell, std::string(Describe(kind)) + " stands there"};
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
      if (errno == ENOENT) return {};
      return {ForeignLock::CannotTell, std::strerror(errno)};
    }
    LockProbe probe;
    struct stat st {};
    struct flock fl = WholeFile(F_WRLCK);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      probe = {ForeignLock::CannotTell, "it is not a regular file"};
    } else if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) {
      probe = {ForeignLock::CannotTell, std::strerror(errno)};
    } else if (fl.l_type != F_UNLCK) {
      probe.state = ForeignLock::Held;
    }
    ::close(fd);
    return probe;
  }
};

}  // namespace

Env& Env::Default() {
  static PosixEnv env;
  return env;
}

}  // namespace jet::os
