#pragma once
// The engine's only contact with the operating system: a database file read (and later
// written and locked) at byte offsets. A memory-backed file serves tests and the fuzzer
// without touching the disk.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace jet::os {

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
};

enum class OpenMode { ReadOnly, ReadWrite };

// Throws jet::Error: FileNotFound, AccessDenied, NotJet (a directory or other non-file), Io.
std::unique_ptr<File> OpenFile(const std::string& path, OpenMode mode);

// A read-only file over `bytes`.
std::unique_ptr<File> MemoryFile(std::string name, std::string bytes);

}  // namespace jet::os
