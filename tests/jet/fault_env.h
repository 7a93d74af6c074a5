#pragma once
// The engine's file system with faults on demand, for tests only: the n-th call of a kind
// fails once with an input/output error, the disk fills up at the n-th write and stays
// full (writes that would grow a file fail after taking what fits, as a real file system
// does), or the process ends at the n-th step that changes something on disk.

#include <unistd.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "jet/env.h"
#include "jet/error.h"

namespace jet::testing {

class FaultEnv : public os::Env {
 public:
  enum class Op { Read, Write, Sync, Step };  // Step: any call that changes the disk
  enum class Kind { IoError, DiskFull, Exit };
  static constexpr int kExitStatus = 86;

  explicit FaultEnv(os::Env& base = os::Env::Default()) : base_(base) {}

  // Arms the fault at the `n`-th call of `op` from now (n >= 1); counts restart.
  void Arm(Op op, std::uint64_t n, Kind kind) {
    Disarm();
    op_ = op;
    at_ = n;
    kind_ = kind;
  }
  void Disarm() {
    std::fill(std::begin(counts_), std::end(counts_), 0);
    at_ = 0;
    full_ = false;
  }
  // The disk is full from now on.
  void FillDisk() { full_ = true; }
  std::uint64_t Count(Op op) const { return counts_[static_cast<int>(op)]; }

  std::unique_ptr<os::File> Open(const std::string& path, os::OpenMode mode) override {
    return Wrap(base_.Open(path, mode));
  }
  std::unique_ptr<os::File> CreateExclusive(const std::string& path, const os::FileAccess& like) override {
    Check(Op::Step, path, "create");
    return Wrap(base_.CreateExclusive(path, like));
  }
  std::unique_ptr<os::File> Create(const std::string& path) override {
    Check(Op::Step, path, "create");
    return Wrap(base_.Create(path));
  }
  void CreateFolder(const std::string& path) override {
    Check(Op::Step, path, "create a folder");
    base_.CreateFolder(path);
  }
  os::ObjectKind KindOf(const std::string& path) override { return base_.KindOf(path); }
  std::string RealPath(const std::string& path) override { return base_.RealPath(path); }
  void Remove(const std::string& path) override {
    Check(Op::Step, path, "remove");
    base_.Remove(path);
  }
  void Rename(const std::string& from, const std::string& to) override {
    Check(Op::Step, from, "rename");
    base_.Rename(from, to);
  }
  std::vector<std::string> List(const std::string& folder) override { return base_.List(folder); }
  void SyncFolder(const std::string& folder) override {
    Check(Op::Sync, folder, "sync");
    base_.SyncFolder(folder);
  }
  std::uint64_t FreeSpace(const std::string& folder) override { return full_ ? 0 : base_.FreeSpace(folder); }
  os::LockProbe ProbeForeignLock(const std::string& path) override { return base_.ProbeForeignLock(path); }

  // Returns true when the call must fail; ends the process or throws for the others.
  bool Check(Op op, const std::string& path, const char* what) {
    std::uint64_t n = ++counts_[static_cast<int>(op)];
    if (op != Op::Read && op != Op::Step) Check(Op::Step, path, what);
    if (op != op_ || n != at_) return false;
    if (kind_ == Kind::Exit) ::_exit(kExitStatus);
    if (kind_ == Kind::DiskFull) {
      full_ = true;
      return false;  // the write itself decides what still fits
    }
    throw Error(ErrorCode::Io, std::string("Cannot ") + what + " '" + path + "': Input/output error");
  }

 private:
  class FaultFile : public os::File {
   public:
    FaultFile(FaultEnv& env, std::unique_ptr<os::File> base) : env_(env), base_(std::move(base)) {}
    const std::string& Path() const override { return base_->Path(); }
    std::uint64_t Size() const override { return base_->Size(); }
    bool Writable() const override { return base_->Writable(); }
    os::FileAccess Access() const override { return base_->Access(); }
    std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
      env_.Check(Op::Read, Path(), "read");
      return base_->ReadAt(offset, buf, n);
    }
    void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
      env_.Check(Op::Write, Path(), "write");
      if (env_.full_ && offset + n > Size()) {
        // What fits is what the file already has room for, in whole blocks.
        std::uint64_t room = Size() > offset ? (Size() - offset) / 4096 * 4096 : 0;
        if (room > 0) base_->WriteAt(offset, buf, static_cast<std::size_t>(std::min<std::uint64_t>(room, n)));
        throw Error(ErrorCode::Io, "Cannot write file '" + Path() + "': No space left on device");
      }
      base_->WriteAt(offset, buf, n);
    }
    void Sync() override {
      env_.Check(Op::Sync, Path(), "sync");
      base_->Sync();
    }
    void Truncate(std::uint64_t size) override {
      env_.Check(Op::Step, Path(), "truncate");
      if (env_.full_ && size > Size()) throw Error(ErrorCode::Io, "Cannot set the size of file '" + Path() + "'");
      base_->Truncate(size);
    }
    bool TryLock(os::LockKind kind) override { return base_->TryLock(kind); }
    void WriteAroundCache() override { base_->WriteAroundCache(); }

   private:
    FaultEnv& env_;
    std::unique_ptr<os::File> base_;
  };

  std::unique_ptr<os::File> Wrap(std::unique_ptr<os::File> file) {
    return std::make_unique<FaultFile>(*this, std::move(file));
  }

  os::Env& base_;
  std::uint64_t counts_[4] = {0, 0, 0, 0};
  Op op_ = Op::Read;
  std::uint64_t at_ = 0;
  Kind kind_ = Kind::IoError;
  bool full_ = false;
};

#ifndef _WIN32
// The exit status of `body` run in a child process, -1 when it did not end by itself within
// a minute (a hang); what the child put in `said` comes back in *said.
inline int InChild(const std::function<int(std::string& said)>& body, std::string* said = nullptr) {
  int out[2];
  if (pipe(out) != 0) return -2;
  pid_t pid = fork();
  if (pid == 0) {
    alarm(60);
    close(out[0]);
    std::string text;
    int code = body(text);
    (void)!::write(out[1], text.data(), text.size());
    _exit(code);
  }
  close(out[1]);
  char buf[4096];
  std::string text;
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  if (said != nullptr) *said = text;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace jet::testing
