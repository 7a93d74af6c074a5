#pragma once
// The engine's only contact with the operating system: files read, written, synced and
// locked at byte offsets, and the few folder operations a rollback journal and a lock
// check need. Every operation of the engine goes through one Env, so a program can run
// the engine over another implementation (another system, memory, or a test's wrapper
// that makes chosen calls fail). The header names no type of a particular system.
//
// Errors are jet::Error naming the file or folder concerned.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace jet::os {

enum class LockKind { Shared, Exclusive };
enum class OpenMode { ReadOnly, ReadWrite };

// What stands at a path, the path itself not followed when it is a link.
enum class ObjectKind { Missing, File, Folder, Link, Fifo, Other };
// "a symbolic link", "a FIFO", ... for error descriptions.
const char* Describe(ObjectKind kind);

// Who may read and write a file: its permission bits and owner as the system keeps them.
struct FileAccess {
  std::uint32_t mode = 0;
  std::uint64_t owner = 0;
  std::uint64_t group = 0;
  std::uint64_t links = 1;  // names the file has in the file system
};

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
  virtual FileAccess Access() const { return {}; }

  // The calls below throw jet::Error: ReadOnly on a file not opened for writing, Io when
  // the system refuses. Each names the file.
  virtual void WriteAt(std::uint64_t offset, const void* buf, std::size_t n);
  // Data and size reach the disk before this returns.
  virtual void Sync();
  // A hint for a file written once and seldom read back, such as a journal: from now on,
  // writes of whole blocks of kBlockAlignment bytes, at offsets and from memory so
  // aligned, may go to the disk around the system's cache instead of filling it. What
  // reads return and what Sync makes durable stay the same. By default nothing changes.
  static constexpr std::size_t kBlockAlignment = 4096;
  virtual void WriteAroundCache() {}
  virtual void Truncate(std::uint64_t size);

  // A lock over the whole file: held until the file is closed (also when
  // the process dies), and in conflict with every other opening of the file, in this
  // process or another. Returns false when another holds a conflicting lock; throws
  // jet::Error(Io) when locking itself fails.
  virtual bool TryLock(LockKind kind);
};

// Whether another program holds a lock in a file (Jet's lock file beside a database).
enum class ForeignLock { None, Held, CannotTell };
struct LockProbe {
  ForeignLock state = ForeignLock::None;
  std::string why;  // for CannotTell: what stood in the way
};

class Env {
 public:
  virtual ~Env() = default;
  // The implementation for the system the program runs on.
  static Env& Default();

  // Opens an existing regular file. Never blocks on a FIFO or device. Throws
  // jet::Error: FileNotFound, AccessDenied, NotJet (a folder or other non-file), Io.
  virtual std::unique_ptr<File> Open(const std::string& path, OpenMode mode) = 0;
  // Creates a new regular file for reading and writing; fails (Io, naming what stands
  // there) when anything exists at `path`, a link included, which is never followed.
  // The file gets the permission bits of `like`, and its owner where the process may
  // give files away; it is never readable by more than `like` at any moment.
  virtual std::unique_ptr<File> CreateExclusive(const std::string& path, const FileAccess& like) = 0;
  // Creates a file, or empties the one at `path`, for writing: how a tool writes a file
  // of its own. A new file gets the permissions the system gives new files. Throws
  // jet::Error (AccessDenied, Io) naming the file; an Env that cannot throws Unsupported.
  virtual std::unique_ptr<File> Create(const std::string& path);
  // Creates the folder at `path` unless one is there; its parent must exist.
  virtual void CreateFolder(const std::string& path);
  virtual ObjectKind KindOf(const std::string& path) = 0;
  // The path with every link and "." or ".." resolved. Throws like Open.
  virtual std::string RealPath(const std::string& path) = 0;
  // Removes a file if it is there (never what a link points to).
  virtual void Remove(const std::string& path) = 0;
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Puts the file at `from` in the place of the existing file at `to` in one step, with
  // `to`'s permissions where `from` was not created with them already (Windows: its
  // security descriptor). By default a Rename.
  virtual void Replace(const std::string& from, const std::string& to) { Rename(from, to); }
  // Names of the entries of a folder ("." and ".." left out).
  virtual std::vector<std::string> List(const std::string& folder) = 0;
  // Makes the creation or removal of files in `folder` durable.
  virtual void SyncFolder(const std::string& folder) = 0;
  // Bytes that an unprivileged program may still write in `folder`.
  virtual std::uint64_t FreeSpace(const std::string& folder) = 0;
  // Whether some program holds a byte-range lock anywhere in the file at `path`. This is
  // how the lock file Jet keeps beside a database in use shows that the database is
  // open, also when the lock comes from a Windows client through a file server.
  virtual LockProbe ProbeForeignLock(const std::string& path) = 0;
};

// A read-only file over `bytes`.
std::unique_ptr<File> MemoryFile(std::string name, std::string bytes);

// The folder holding `path`, and its last part.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);

}  // namespace jet::os
