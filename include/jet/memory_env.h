#pragma once
// Files kept in memory behind the engine's file interface: for running the engine over
// bytes that must never reach a disk (checking damaged files, fuzzing the write path).
// Locks always succeed: one program holds the files.

#include <map>
#include <memory>
#include <string>

#include "jet/env.h"

namespace jet::os {

class MemoryEnv : public Env {
 public:
  void Put(const std::string& path, std::string bytes);
  // The bytes of the file at `path`, or nullptr when there is none.
  const std::string* Get(const std::string& path) const;

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
  std::unique_ptr<File> CreateExclusive(const std::string& path, const FileAccess& like) override;
  std::unique_ptr<File> Create(const std::string& path) override;
  void CreateFolder(const std::string&) override {}
  ObjectKind KindOf(const std::string& path) override;
  std::string RealPath(const std::string& path) override;
  void Remove(const std::string& path) override { files_.erase(path); }
  void Rename(const std::string& from, const std::string& to) override;
  std::vector<std::string> List(const std::string& folder) override;
  void SyncFolder(const std::string&) override {}
  std::uint64_t FreeSpace(const std::string&) override { return std::uint64_t{1} << 40; }
  LockProbe ProbeForeignLock(const std::string&) override { return {}; }

 private:
  std::map<std::string, std::shared_ptr<std::string>> files_;
};

}  // namespace jet::os
