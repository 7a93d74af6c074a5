// The engine's files on Windows. What differs from POSIX:
// - Sharing: a database is opened sharing reading and writing, as Access and the Jet
//   engine open one in shared mode; a program that holds it without sharing (Jet's
//   exclusive mode) makes the open fail with a sharing violation, reported as Locked.
// - Locks are LockFileEx ranges over the whole file. They are mandatory: while Scourex
//   writes, another program's reads and writes of the file fail instead of seeing half a
//   change, which is how Access and the product's own Jet learn that it is busy.
// - The journal is shared for deletion, so that it can be removed while still open.
// - Windows cannot sync a folder as POSIX does. NTFS records the creation and removal of
//   files in its own metadata log, and FlushFileBuffers on the journal commits that log
//   together with the journal's contents; a folder flush is still asked for where the
//   file system takes it, and refused quietly where it does not.

// The interface first, before windows.h can rename CreateFile.
#include "jet/os/file.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "jet/error.h"
#include "jet/os/faults.h"
#include "jet/os/windows_text.h"

#undef CreateFile

namespace jet::os {
namespace {

using windows::SystemMessage;
using windows::SystemPath;

constexpr DWORD kShareDatabase = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

[[noreturn]] void ThrowIo(const std::string& what, const std::string& path, DWORD code) {
  throw Error(ErrorCode::Io, what + " " + Quoted(path) + ": " + SystemMessage(code));
}

// A failure the fault injection chose, in the words of the system.
[[noreturn]] void ThrowInjected(const std::string& what, const std::string& path, int err) {
  ThrowIo(what, path, err == ENOSPC ? ERROR_DISK_FULL : ERROR_IO_DEVICE);
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class WindowsFile : public File {
 public:
  WindowsFile(std::string path, HANDLE h, std::uint64_t size, bool writable)
      : path_(std::move(path)), h_(h), size_(size), writable_(writable) {}
  ~WindowsFile() override { CloseHandle(h_); }
  WindowsFile(const WindowsFile&) = delete;
  WindowsFile& operator=(const WindowsFile&) = delete;

  const std::string& Path() const override { return path_; }
  std::uint64_t Size() const override { return size_; }
  bool Writable() const override { return writable_; }

  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    if (int err = faults::Check(faults::Op::Read)) ThrowInjected("Cannot read file", path_, err);
    std::size_t done = 0;
    auto* out = static_cast<char*>(buf);
    while (done < n) {
      OVERLAPPED o = At(offset + done);
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
      DWORD got = 0;
      if (!ReadFile(h_, out + done, chunk, &got, &o)) {
        DWORD code = GetLastError();
        if (code == ERROR_HANDLE_EOF) break;
        ThrowIo("Cannot read file", path_, code);
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
    if (!writable_) File::WriteAt(offset, buf, n);
    const auto* in = static_cast<const char*>(buf);
    if (int err = faults::Check(faults::Op::Write)) {
      // A full disk takes part of the write before it refuses the rest.
      if (err == ENOSPC && n > 1 && Put(offset, in, n / 2) == 0) size_ = std::max<std::uint64_t>(size_, offset + n / 2);
      ThrowInjected("Cannot write file", path_, err);
    }
    if (DWORD code = Put(offset, in, n)) ThrowIo("Cannot write file", path_, code);
    size_ = std::max<std::uint64_t>(size_, offset + n);
  }

  void Sync() override {
    if (!writable_) File::Sync();
    if (int err = faults::Check(faults::Op::Sync)) ThrowInjected("Cannot save changes to file", path_, err);
    if (!FlushFileBuffers(h_)) ThrowIo("Cannot save changes to file", path_, GetLastError());
  }

  void Truncate(std::uint64_t size) override {
    if (!writable_) File::Truncate(size);
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(h_, FileEndOfFileInfo, &end, sizeof end))
      ThrowIo("Cannot set the size of file", path_, GetLastError());
    size_ = size;
  }

  bool TryLock(LockKind kind) override {
    OVERLAPPED o = At(0);
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (kind == LockKind::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (locked_) Unlock();
    if (!LockFileEx(h_, flags, 0, MAXDWORD, MAXDWORD, &o)) {
      DWORD code = GetLastError();
      if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return false;
      ThrowIo("Cannot lock file", path_, code);
    }
    locked_ = true;
    return true;
  }

  void Unlock() override {
    if (!locked_) return;
    OVERLAPPED o = At(0);
    UnlockFileEx(h_, 0, MAXDWORD, MAXDWORD, &o);
    locked_ = false;
  }

 private:
  // Writes all of `n` bytes at `offset`; 0 when done, else the system's error.
  DWORD Put(std::uint64_t offset, const char* in, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      OVERLAPPED o = At(offset + done);
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
      DWORD put = 0;
      if (!WriteFile(h_, in + done, chunk, &put, &o)) return GetLastError();
      done += put;
    }
    return 0;
  }

  std::string path_;
  HANDLE h_;
  std::uint64_t size_;
  bool writable_;
  bool locked_ = false;
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
  const bool write = mode == OpenMode::ReadWrite;
  const std::wstring wide = SystemPath(path);
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | (write ? GENERIC_WRITE : 0), kShareDatabase, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    switch (code) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
      case ERROR_INVALID_DRIVE:
      case ERROR_BAD_NETPATH:
      case ERROR_BAD_NET_NAME:
        throw Error(ErrorCode::FileNotFound, "Database file " + Quoted(path) + " does not exist");
      case ERROR_SHARING_VIOLATION:
      case ERROR_LOCK_VIOLATION:
        throw Error(ErrorCode::Locked, "Database file " + Quoted(path) +
                                           " is held open by another program that shares it with no one "
                                           "(a sharing violation, as with Access's exclusive mode)");
      case ERROR_ACCESS_DENIED:
      case ERROR_WRITE_PROTECT:
        if (IsDirectory(wide)) throw Error(ErrorCode::NotJet, Quoted(path) + " is a directory, not a Jet database");
        throw Error(ErrorCode::AccessDenied, "No permission to open database file " + Quoted(path) +
                                                 (write ? " for writing: " : ": ") + SystemMessage(code));
      default:
        throw Error(ErrorCode::Io, "Cannot open database file " + Quoted(path) + ": " + SystemMessage(code));
    }
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    throw Error(ErrorCode::NotJet, Quoted(path) + " is not a regular file, not a Jet database");
  }
  std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return std::make_unique<WindowsFile>(path, h, size, write);
}

std::unique_ptr<File> CreateFile(const std::string& path) {
  HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT)
      throw Error(ErrorCode::AccessDenied, "No permission to create file " + Quoted(path) + ": " + SystemMessage(code));
    ThrowIo("Cannot create file", path, code);
  }
  return std::make_unique<WindowsFile>(path, h, 0, true);
}

std::unique_ptr<File> MemoryFile(std::string name, std::string bytes) {
  return std::make_unique<MemFile>(std::move(name), std::move(bytes));
}

bool Exists(const std::string& path) { return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveFile(const std::string& path) {
  if (!DeleteFileW(SystemPath(path).c_str())) {
    DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) ThrowIo("Cannot remove file", path, code);
  }
}

void SyncDirectoryOf(const std::string& path) {
  std::string::size_type slash = path.find_last_of("/\\");
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (int simulated = faults::Check(faults::Op::Sync)) ThrowInjected("Cannot save changes to folder", dir, simulated);
  HANDLE h = CreateFileW(SystemPath(dir).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;  // see the top of this file: NTFS has already logged the change
  FlushFileBuffers(h);
  CloseHandle(h);
}

bool HasForeignLock(const std::string& path) {
  // A lock file that cannot even be opened is held by someone who shares it with no one.
  HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  OVERLAPPED o = At(0);
  bool locked = !LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY | LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &o);
  if (!locked) {
    o = At(0);
    UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &o);
  }
  CloseHandle(h);
  return locked;
}

}  // namespace jet::os
