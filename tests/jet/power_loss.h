#pragma once
// What a disk holds after a power loss, for tests: an engine file system in memory that
// remembers, for every file, the writes and size changes since its last sync, and for the
// folder the creations, removals and renames since its last sync. At the power loss each
// unsynced write is kept whole, lost, or kept in part, 512-byte sector by sector; each
// unsynced size change and folder operation is kept or lost; the choices come from a seed.
// Everything synced stays. After the power loss every call fails.
//
// And the runs built on it: a statement on a database in that file system, cut at its
// n-th sync or n-th write, the survivors opened (which plays back the journal) and
// compared with the database before and after the statement.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "jet/env.h"

namespace jet::testing {

class PowerLossEnv : public os::Env {
 public:
  explicit PowerLossEnv(std::uint64_t seed) : rng_(seed) {}

  // A file on disk since before (durable).
  void Put(const std::string& path, std::string bytes);
  // The power fails at the `n`-th sync (of a file or the folder; before it takes effect)
  // or at the `n`-th write (once it reached the cache) from now; 0: never.
  void CutAtSync(std::uint64_t n) { cut_sync_ = n; }
  void CutAtWrite(std::uint64_t n) { cut_write_ = n; }
  // The power fails now, if it has not yet.
  void PowerOff();
  bool off() const { return off_; }
  std::uint64_t syncs() const { return syncs_; }
  std::uint64_t writes() const { return writes_; }
  // What the disk holds: after PowerOff, the survivors; before, what the files hold now.
  std::map<std::string, std::string> Files() const;

  std::unique_ptr<os::File> Open(const std::string& path, os::OpenMode mode) override;
  std::unique_ptr<os::File> CreateExclusive(const std::string& path, const os::FileAccess& like) override;
  os::ObjectKind KindOf(const std::string& path) override;
  std::string RealPath(const std::string& path) override;
  void Remove(const std::string& path) override;
  void Rename(const std::string& from, const std::string& to) override;
  std::vector<std::string> List(const std::string& folder) override;
  void SyncFolder(const std::string& folder) override;
  std::uint64_t FreeSpace(const std::string&) override { return std::uint64_t{1} << 40; }
  os::LockProbe ProbeForeignLock(const std::string&) override { return {}; }

  struct Node;

 private:
  friend class PowerLossFile;
  struct FolderOp {
    enum Kind { Create, Remove, Rename } kind;
    std::string from, to;
    std::shared_ptr<Node> node;
  };
  void Alive(const std::string& path, const char* what) const;
  bool CountSync();
  void CountWrite();
  std::string Survivor(const Node& node);

  std::mt19937_64 rng_;
  std::map<std::string, std::shared_ptr<Node>> names_, synced_names_;
  std::vector<FolderOp> folder_ops_;
  std::map<std::string, std::string> survivors_;
  std::uint64_t syncs_ = 0, writes_ = 0, cut_sync_ = 0, cut_write_ = 0;
  bool off_ = false;
};

// A statement over the database at `path`, through `env`.
using Statement = std::function<void(os::Env& env, const std::string& path)>;

struct PowerLossCase {
  std::string name;
  std::string database;  // the file's bytes before the statement
  Statement statement;
};

// One power loss and what the next opening found.
struct PowerLossOutcome {
  enum State { Before, After, Between, Failed } state = Failed;
  std::string problem;     // for Between and Failed: what was wrong
  std::string recovered;   // the database's bytes after the opening that played back
  std::map<std::string, std::size_t> rows;  // each table's rows then
};

class PowerLossRun {
 public:
  // Runs the statement once without a power loss, to know the states before and after
  // and how many syncs and writes it takes.
  explicit PowerLossRun(PowerLossCase c);
  std::uint64_t syncs() const { return syncs_; }
  std::uint64_t writes() const { return writes_; }
  // The power fails at the `n`-th sync (or, with `at_write`, the `n`-th write); n past the
  // last: after the statement ended. `seed` decides what survives.
  PowerLossOutcome Cut(std::uint64_t n, bool at_write, std::uint64_t seed) const;

 private:
  PowerLossCase case_;
  std::string before_, after_;  // every table's rows
  std::uint64_t syncs_ = 0, writes_ = 0;
};

// The cases the power-loss runs use: a purge with index upkeep, the same purge spilling
// changed pages through a small page budget, and a day of inserted events.
std::vector<PowerLossCase> PowerLossCases();

}  // namespace jet::testing
