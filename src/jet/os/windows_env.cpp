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
// - Links: a reparse point (symbolic link or junction) at a path the engine creates or
//   opens is never followed; permissions are the folder's inherited ACLs, so a journal
//   is exactly as readable as the database beside it.

#include "jet/env.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "jet/error.h"
#include "jet/windows_text.h"

namespace jet::os {
namespace {

using windows::Narrow;
using windows::PlainPath;
using windows::SystemMessage;
using windows::SystemPath;

constexpr DWORD kShareDatabase = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

[[noreturn]] void ThrowIo(const std::string& what, const std::string& path, DWORD code) {
  throw Error(ErrorCode::Io, what + " " + Quoted(path) + ": " + SystemMessage(code));
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

bool Missing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME ||
         code == ERROR_INVALID_DRIVE || code == ERROR_BAD_NETPATH || code == ERROR_BAD_NET_NAME;
}

ObjectKind KindOfAttributes(DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return ObjectKind::Link;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ObjectKind::Folder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return ObjectKind::Other;
  return ObjectKind::File;
}

class WindowsFile : public File {
 public:
  WindowsFile(std::string path, HANDLE h, const BY_HANDLE_FILE_INFORMATION& info, bool writable)
      : path_(std::move(path)),
        h_(h),
        size_((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow),
        links_(info.nNumberOfLinks),
        writable_(writable) {}
  ~WindowsFile() override {
    Unlock();
    CloseHandle(h_);
  }
  WindowsFile(const WindowsFile&) = delete;
  WindowsFile& operator=(const WindowsFile&) = delete;

  const std::string& Path() const override { return path_; }
  std::uint64_t Size() const override { return size_; }
  bool Writable() const override { return writable_; }
  // Windows keeps no permission bits: a new file takes its folder's inherited rights.
  FileAccess Access() const override { return {0600, 0, 0, links_}; }

  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
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
    std::size_t done = 0;
    while (done < n) {
      OVERLAPPED o = At(offset + done);
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
      DWORD put = 0;
      if (!WriteFile(h_, in + done, chunk, &put, &o)) {
        DWORD code = GetLastError();
        size_ = std::max<std::uint64_t>(size_, offset + done);
        ThrowIo("Cannot write file", path_, code);
      }
      done += put;
    }
    size_ = std::max<std::uint64_t>(size_, offset + n);
  }

  void Sync() override {
    if (!writable_) File::Sync();
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
    if (locked_) Unlock();
    OVERLAPPED o = At(0);
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (kind == LockKind::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (!LockFileEx(h_, flags, 0, MAXDWORD, MAXDWORD, &o)) {
      DWORD code = GetLastError();
      if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return false;
      ThrowIo("Cannot lock file", path_, code);
    }
    locked_ = true;
    return true;
  }

 private:
  void Unlock() {
    if (!locked_) return;
    OVERLAPPED o = At(0);
    UnlockFileEx(h_, 0, MAXDWORD, MAXDWORD, &o);
    locked_ = false;
  }

  std::string path_;
  HANDLE h_;
  std::uint64_t size_;
  std::uint64_t links_;
  bool writable_;
  bool locked_ = false;
};

class WindowsEnv : public Env {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    const bool write = mode == OpenMode::ReadWrite;
    const std::wstring wide = SystemPath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && KindOfAttributes(attributes) != ObjectKind::File)
      throw Error(ErrorCode::NotJet,
                  Quoted(path) + " is " + Describe(KindOfAttributes(attributes)) + ", not a Jet database");
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | (write ? GENERIC_WRITE : 0), kShareDatabase, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      if (Missing(code)) throw Error(ErrorCode::FileNotFound, "Database file " + Quoted(path) + " does not exist");
      if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
        throw Error(ErrorCode::Locked, "Database file " + Quoted(path) +
                                           " is held open by another program that shares it with no one "
                                           "(a sharing violation, as with Access's exclusive mode)");
      if (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT)
        throw Error(ErrorCode::AccessDenied, "No permission to open database file " + Quoted(path) +
                                                 (write ? " for writing: " : ": ") + SystemMessage(code));
      throw Error(ErrorCode::Io, "Cannot open database file " + Quoted(path) + ": " + SystemMessage(code));
    }
    return Wrap(path, h, write, "database file");
  }

  std::unique_ptr<File> Create(const std::string& path) override {
    HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      if (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT)
        throw Error(ErrorCode::AccessDenied, "No permission to create file " + Quoted(path) + ": " + SystemMessage(code));
      ThrowIo("Cannot create file", path, code);
    }
    return Wrap(path, h, true, "file");
  }

  void CreateFolder(const std::string& path) override {
    if (CreateDirectoryW(SystemPath(path).c_str(), nullptr)) return;
    DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS && KindOf(path) == ObjectKind::Folder) return;
    ThrowIo("Cannot create folder", path, code);
  }

  std::unique_ptr<File> CreateExclusive(const std::string& path, const FileAccess& /*like*/) override {
    HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
        throw Error(ErrorCode::Io,
                    "Cannot create file " + Quoted(path) + ": " + Describe(KindOf(path)) + " is already there");
      if (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT) {
        ObjectKind there = KindOf(path);
        if (there != ObjectKind::Missing)
          throw Error(ErrorCode::Io, "Cannot create file " + Quoted(path) + ": " + Describe(there) + " is already there");
        throw Error(ErrorCode::AccessDenied, "No permission to create file " + Quoted(path) + ": " + SystemMessage(code));
      }
      ThrowIo("Cannot create file", path, code);
    }
    return Wrap(path, h, true, "file");
  }

  ObjectKind KindOf(const std::string& path) override {
    DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Missing(GetLastError()) ? ObjectKind::Missing : ObjectKind::Other;
    return KindOfAttributes(attributes);
  }

  std::string RealPath(const std::string& path) override {
    HANDLE h = CreateFileW(SystemPath(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      if (Missing(code)) throw Error(ErrorCode::FileNotFound, "Database file " + Quoted(path) + " does not exist");
      if (code == ERROR_ACCESS_DENIED)
        throw Error(ErrorCode::AccessDenied, "No permission to reach database file " + Quoted(path) + ": " +
                                                 SystemMessage(code));
      ThrowIo("Cannot resolve the path of database file", path, code);
    }
    // Room for the longest path Windows has: no second call, whose answer may differ.
    std::wstring buffer(32768, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    CloseHandle(h);
    if (n == 0 || n >= buffer.size()) {
      // Some file systems (and Wine, for long paths) cannot name the file from its handle;
      // the full path with "." and ".." resolved names it as well where no link is involved.
      const std::wstring wide = SystemPath(path);
      n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
      if (n == 0 || n >= buffer.size()) ThrowIo("Cannot resolve the path of database file", path, GetLastError());
    }
    buffer.resize(n);
    return Narrow(PlainPath(buffer));
  }

  void Remove(const std::string& path) override {
    if (!DeleteFileW(SystemPath(path).c_str())) {
      DWORD code = GetLastError();
      if (!Missing(code)) ThrowIo("Cannot remove file", path, code);
    }
  }

  void Rename(const std::string& from, const std::string& to) override {
    if (!MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      ThrowIo("Cannot rename file", from, GetLastError());
  }

  void Replace(const std::string& from, const std::string& to) override {
    // The new file takes the owner, group and access list of the one it replaces; a
    // process that may not give files away keeps at least the access list.
    const std::wstring target = SystemPath(to), source = SystemPath(from);
    const SECURITY_INFORMATION full = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    GetFileSecurityW(target.c_str(), full, nullptr, 0, &needed);
    std::vector<std::uint8_t> descriptor(needed);
    if (needed == 0 || !GetFileSecurityW(target.c_str(), full, descriptor.data(), needed, &needed))
      ThrowIo("Cannot read the security descriptor of", to, GetLastError());
    if (!SetFileSecurityW(source.c_str(), full, descriptor.data()) &&
        !SetFileSecurityW(source.c_str(), DACL_SECURITY_INFORMATION, descriptor.data()))
      ThrowIo("Cannot give the security descriptor of " + Quoted(to) + " to", from, GetLastError());
    Rename(from, to);
  }

  std::vector<std::string> List(const std::string& folder) override {
    std::wstring pattern = SystemPath(folder);
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    std::vector<std::string> names;
    if (h == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      if (code == ERROR_FILE_NOT_FOUND) return names;
      ThrowIo("Cannot list folder", folder, code);
    }
    do {
      std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(Narrow(name));
    } while (FindNextFileW(h, &found));
    DWORD code = GetLastError();
    FindClose(h);
    if (code != ERROR_NO_MORE_FILES) ThrowIo("Cannot list folder", folder, code);
    return names;
  }

  void SyncFolder(const std::string& folder) override {
    HANDLE h = CreateFileW(SystemPath(folder).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;  // see the top of this file: NTFS has already logged the change
    FlushFileBuffers(h);
    CloseHandle(h);
  }

  std::uint64_t FreeSpace(const std::string& folder) override {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(SystemPath(folder).c_str(), &available, nullptr, nullptr))
      ThrowIo("Cannot examine the free space of folder", folder, GetLastError());
    return available.QuadPart;
  }

  LockProbe ProbeForeignLock(const std::string& path) override {
    ObjectKind kind = KindOf(path);
    if (kind == ObjectKind::Missing) return {};
    if (kind != ObjectKind::File) return {ForeignLock::CannotTell, std::string(Describe(kind)) + " stands there"};
    HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      if (Missing(code)) return {};
      // A lock file that cannot even be opened is held by someone who shares it with no one.
      if (code == ERROR_SHARING_VIOLATION) return {ForeignLock::Held, {}};
      return {ForeignLock::CannotTell, SystemMessage(code)};
    }
    OVERLAPPED o = At(0);
    LockProbe probe;
    if (!LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY | LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &o)) {
      DWORD code = GetLastError();
      probe = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING
                  ? LockProbe{ForeignLock::Held, {}}
                  : LockProbe{ForeignLock::CannotTell, SystemMessage(code)};
    } else {
      o = At(0);
      UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &o);
    }
    CloseHandle(h);
    return probe;
  }

 private:
  static std::unique_ptr<File> Wrap(const std::string& path, HANDLE h, bool write, const char* what) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      CloseHandle(h);
      throw Error(ErrorCode::NotJet, Quoted(path) + " is not a regular " + what);
    }
    return std::make_unique<WindowsFile>(path, h, info, write);
  }
};

}  // namespace

Env& Env::Default() {
  static WindowsEnv env;
  return env;
}

}  // namespace jet::os
