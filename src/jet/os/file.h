#pragma once
// The engine's only contact with the operating system: a database file read, written,
// synced and locked at byte offsets, and the few directory operations a rollback journal
// needs. A memory-backed file serves tests and the fuzzer without touching the disk.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace jet::os {

enum class LockKind { Shared, Exclusive };

class File {
 public:
  virtual ~File() = default;
  // The name given when opening, for error descriptions.
  virtual const std::string& Path() const = 0;
  virtual std::uint64_t Size() const = 0;
  // Reads up to `n` bytes at `offset`; returns how many were read (fewer only at the end
  // of the file). Throws jet::Error(Io) on failure.
  virtual std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) = 0;
  virtual bool Writable() const { return false; }

  // The calls below throw jet::Error: ReadOnly on a file not opened for writing, Io when
  // the system refuses. Each names the file.
  virtual void WriteAt(std::uint64_t offset, const void* buf, std::size_t n);
  // Data and size reach the disk before this returns.
  virtual void Sync();
  virtual void Truncate(std::uint64_t size);

  // An open-file-description lock over the whole file: held until Unlock or until the
  // file is closed (also when the process dies), and in conflict with every other opening
  // of the file, in this process or another. Returns false when another holds a
  // conflicting lock; throws jet::Error(Io) when locking itself fails.
  virtual bool TryLock(LockKind kind);
  virtual void Unlock() {}
};

enum class OpenMode { ReadOnly, ReadWrite };

// Throws jet::Error: FileNotFound, AccessDenied, NotJet (a directory or other non-file), Io.
std::unique_ptr<File> OpenFile(const std::string& path, OpenMode mode);

// A new empty file (an existing one is emptied), open for reading and writing.
// Throws jet::Error: AccessDenied, Io.
std::unique_ptr<File> CreateFile(const std::string& path);

// A read-only file over `bytes`.
std::unique_ptr<File> MemoryFile(std::string name, std::string bytes);

bool Exists(const std::string& path);
// Removes the file if it is there. Throws jet::Error(Io) naming it when that fails.
void RemoveFile(const std::string& path);
// Makes the creation or removal of files in the folder holding `path` durable.
// Throws jet::Error(Io).
void SyncDirectoryOf(const std::string& path);

// Whether some program holds a byte-range lock anywhere in the file at `path` (false
// when there is no such file or it cannot be examined). This is how the lock file Jet
// keeps beside a database in use shows that the database is open, also when the lock
// comes from a Windows client through a file server.
bool HasForeignLock(const std::string& path);

}  // namespace jet::os
