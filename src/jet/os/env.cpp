#include "jet/env.h"

#include <algorithm>
#include <cstring>

#include "jet/error.h"
#include "jet/memory_env.h"

namespace jet::os {
namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

class MemFile : public File {
 public:
  MemFile(std::string name, std::shared_ptr<std::string> bytes, bool writable)
      : name_(std::move(name)), bytes_(std::move(bytes)), writable_(writable) {}
  const std::string& Path() const override { return name_; }
  std::uint64_t Size() const override { return bytes_->size(); }
  bool Writable() const override { return writable_; }
  FileAccess Access() const override { return {0600, 0, 0, 1}; }
  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    if (offset >= bytes_->size()) return 0;
    std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_->size() - offset));
    std::memcpy(buf, bytes_->data() + offset, take);
    return take;
  }
  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
    if (!writable_) File::WriteAt(offset, buf, n);
    if (offset + n > bytes_->size()) bytes_->resize(static_cast<std::size_t>(offset + n));
    std::memcpy(bytes_->data() + offset, buf, n);
  }
  void Sync() override {
    if (!writable_) File::Sync();
  }
  void Truncate(std::uint64_t size) override {
    if (!writable_) File::Truncate(size);
    bytes_->resize(static_cast<std::size_t>(size));
  }

 private:
  std::string name_;
  std::shared_ptr<std::string> bytes_;
  bool writable_;
};

}  // namespace

const char* Describe(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::Missing:
      return "nothing";
    case ObjectKind::File:
      return "a file";
    case ObjectKind::Folder:
      return "a folder";
    case ObjectKind::Link:
      return "a symbolic link";
    case ObjectKind::Fifo:
      return "a FIFO";
    case ObjectKind::Other:
      break;
  }
  return "a device or other special file";
}

void File::WriteAt(std::uint64_t, const void*, std::size_t) {
  throw Error(ErrorCode::ReadOnly, "File " + Quoted(Path()) + " is open for reading only");
}
void File::Sync() { throw Error(ErrorCode::ReadOnly, "File " + Quoted(Path()) + " is open for reading only"); }
void File::Truncate(std::uint64_t) {
  throw Error(ErrorCode::ReadOnly, "File " + Quoted(Path()) + " is open for reading only");
}
bool File::TryLock(LockKind) { return true; }

std::unique_ptr<File> Env::Create(const std::string& path) {
  throw Error(ErrorCode::Unsupported, "Cannot create file " + Quoted(path) + ": this environment creates no files");
}
void Env::CreateFolder(const std::string& path) {
  throw Error(ErrorCode::Unsupported, "Cannot create folder " + Quoted(path) + ": this environment creates no folders");
}

std::unique_ptr<File> MemoryFile(std::string name, std::string bytes) {
  return std::make_unique<MemFile>(std::move(name), std::make_shared<std::string>(std::move(bytes)), false);
}

std::string FolderOf(const std::string& path) {
  std::string::size_type slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  std::string::size_type slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void MemoryEnv::Put(const std::string& path, std::string bytes) {
  files_[path] = std::make_shared<std::string>(std::move(bytes));
}

const std::string* MemoryEnv::Get(const std::string& path) const {
  auto it = files_.find(path);
  return it == files_.end() ? nullptr : it->second.get();
}

std::unique_ptr<File> MemoryEnv::Open(const std::string& path, OpenMode mode) {
  auto it = files_.find(path);
  if (it == files_.end()) throw Error(ErrorCode::FileNotFound, "Database file " + Quoted(path) + " does not exist");
  return std::make_unique<MemFile>(path, it->second, mode == OpenMode::ReadWrite);
}

std::unique_ptr<File> MemoryEnv::CreateExclusive(const std::string& path, const FileAccess&) {
  if (files_.count(path) != 0) throw Error(ErrorCode::Io, "Cannot create file " + Quoted(path) + ": a file is already there");
  auto bytes = std::make_shared<std::string>();
  files_[path] = bytes;
  return std::make_unique<MemFile>(path, bytes, true);
}

std::unique_ptr<File> MemoryEnv::Create(const std::string& path) {
  auto bytes = std::make_shared<std::string>();
  files_[path] = bytes;
  return std::make_unique<MemFile>(path, bytes, true);
}

ObjectKind MemoryEnv::KindOf(const std::string& path) {
  return files_.count(path) != 0 ? ObjectKind::File : ObjectKind::Missing;
}

std::string MemoryEnv::RealPath(const std::string& path) {
  if (files_.count(path) == 0) throw Error(ErrorCode::FileNotFound, "Database file " + Quoted(path) + " does not exist");
  return path;
}

void MemoryEnv::Rename(const std::string& from, const std::string& to) {
  auto it = files_.find(from);
  if (it == files_.end()) throw Error(ErrorCode::Io, "Cannot rename file " + Quoted(from) + ": it does not exist");
  files_[to] = it->second;
  files_.erase(from);
}

std::vector<std::string> MemoryEnv::List(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& [path, bytes] : files_)
    if (FolderOf(path) == folder) names.push_back(NameOf(path));
  return names;
}

}  // namespace jet::os
