#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "common/error.h"
#include "platform/platform.h"

namespace scourex {
namespace {

std::string ParentFolder(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The classic runtime's answer to a failed open: a missing folder is "Path not found",
// a missing file in an existing folder "File not found", anything else an access error.
Error OpenError(const std::string& path, int err) {
  if (err == ENOENT) {
    struct stat st {};
    std::string parent = ParentFolder(path);
    if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return runtime::Make(runtime::kPathNotFound);
    return runtime::Make(runtime::kFileNotFound);
  }
  if (err == ENOTDIR) return runtime::Make(runtime::kPathNotFound);
  return runtime::Make(runtime::kPathFileAccess);
}

LocalDateTime LocalTimeOf(std::time_t t) {
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// A small file of the kernel's (/proc), read whole.
std::string ProcFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// When process `pid` started: the boot time plus its start in clock ticks since boot.
std::optional<LocalDateTime> ProcessStart(long long pid) {
  const std::string stat = ProcFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t name_end = stat.rfind(')');  // the command name may hold spaces and parentheses
  if (name_end == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(name_end + 1));
  std::string field;
  // Field 22 of the line is the start time; the name was field 2.
  for (int index = 3; index <= 22 && (fields >> field); ++index) {
    if (index < 22) continue;
    const std::string boot = ProcFile("/proc/stat");
    const size_t at = boot.find("\nbtime ");
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (at == std::string::npos || ticks <= 0) return std::nullopt;
    const long long boot_time = std::atoll(boot.c_str() + at + 7);
    const long long started = std::atoll(field.c_str());
    return LocalTimeOf(static_cast<std::time_t>(boot_time + started / ticks));
  }
  return std::nullopt;
}

class PosixPlatform final : public Platform {
 public:
  PosixPlatform() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string exe = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    if (char* real = exe.empty() ? nullptr : ::realpath(exe.c_str(), nullptr)) {
      exe = real;
      std::free(real);
    }
    auto slash = exe.find_last_of('/');
    folder_ = slash == std::string::npos ? "." : exe.substr(0, slash);
    name_ = slash == std::string::npos ? exe : exe.substr(slash + 1);
  }

  std::string ExecutableFolder() override { return folder_; }
  std::string ExecutableName() override { return name_; }
  char PathSeparator() const override { return '/'; }

  void SetCurrentDirectory(const std::string& folder) override {
    if (::chdir(folder.c_str()) != 0) throw runtime::Make(runtime::kPathNotFound);
  }

  std::vector<std::string> ListFiles() override { return List(true); }
  std::vector<std::string> ListOtherEntries() override { return List(false); }

  void RequireRegularFile(const std::string& path) override {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return;  // nothing stands there
      throw runtime::Make(runtime::kPathFileAccess);
    }
    if (!S_ISREG(st.st_mode)) throw NotRegularFile(path, KindOf(st.st_mode));
  }

  std::string ReadFile(const std::string& path) override {
    int fd = OpenRegular(path, O_RDONLY);
    std::string data;
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ::close(fd);
        throw runtime::Make(runtime::kPathFileAccess);
      }
      if (n == 0) break;
      data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
  }

  void AppendToFile(const std::string& path, const std::string& line) override {
    int fd = OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT);
    // One write, so that concurrent writers interleave whole lines.
    ssize_t n;
    do {
      n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n != static_cast<ssize_t>(line.size())) throw runtime::Make(runtime::kPathFileAccess);
  }

  bool LockInstallation(const std::string& folder) override {
    // A lock on the folder itself: nothing is created, nothing is left behind. Where the
    // folder cannot be locked at all, the engine's own file locks still keep writers apart.
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      bool held_elsewhere = errno == EWOULDBLOCK;
      ::close(fd);
      return !held_elsewhere;
    }
    installation_lock_fd_ = fd;  // held until the process ends
    return true;
  }

  std::optional<InstallationHolder> InstallationHolderOf(const std::string& folder) override {
    // The kernel lists every lock with its holder (/proc/locks); the folder's is the
    // FLOCK on its device and inode. Nothing is read that another user could have written.
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return std::nullopt;
    std::istringstream locks(ProcFile("/proc/locks"));
    for (std::string line; std::getline(locks, line);) {
      std::istringstream fields(line);
      std::string number, kind, mode, access, node;
      long long pid = 0;
      if (!(fields >> number >> kind >> mode >> access >> pid >> node) || kind != "FLOCK" || pid <= 0) continue;
      unsigned major = 0, minor = 0;
      unsigned long long inode = 0;
      if (std::sscanf(node.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
      if (major != ::major(st.st_dev) || minor != ::minor(st.st_dev) || inode != st.st_ino) continue;
      return InstallationHolder{pid, ProcessStart(pid)};
    }
    return std::nullopt;
  }

  LocalDateTime Now() override { return LocalTimeOf(std::time(nullptr)); }

  void Debug(const std::string& line) override {
    std::string out = line + "\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
  }

  void Beep() override {
    int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;  // no controlling terminal: nothing to sound
    ssize_t ignored = ::write(fd, "\a", 1);
    (void)ignored;
    ::close(fd);
  }

 private:
  static std::vector<std::string> List(bool regular) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(".");
    if (dir == nullptr) throw runtime::Make(runtime::kPathNotFound);
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name.empty() || name[0] == '.') continue;
      struct stat st {};
      if (::lstat(name.c_str(), &st) == 0 && (S_ISREG(st.st_mode) != 0) == regular) names.push_back(name);
    }
    ::closedir(dir);
    return names;
  }

  // Opens `path` only when it is a regular file: the last component is not followed, and
  // the open does not wait (a pipe without a writer, a device), the file is checked, and
  // then the descriptor blocks as usual.
  static int OpenRegular(const std::string& path, int flags) {
    int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
      int err = errno;
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) throw NotRegularFile(path, KindOf(st.st_mode));
      throw OpenError(path, err);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      throw NotRegularFile(path, KindOf(st.st_mode));
    }
    int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
      ::close(fd);
      throw runtime::Make(runtime::kPathFileAccess);
    }
    return fd;
  }

  static std::string KindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "something else";
  }

  std::string folder_;
  std::string name_;
  int installation_lock_fd_ = -1;
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform() { return std::make_unique<PosixPlatform>(); }

}  // namespace scourex
