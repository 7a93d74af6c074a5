#include "power_loss.h"

#include <algorithm>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/integrity.h"
#include "jet/memory_env.h"
#include "jet/session.h"
#include "jet/tsv.h"
#include "write/write_support.h"

namespace jet::testing {

namespace {
constexpr std::size_t kSector = 512;
}

struct PowerLossEnv::Node {
  struct Change {
    std::uint64_t offset;  // a write at offset, or (data empty) the size set to offset
    std::string data;
  };
  std::string cache, synced;
  std::vector<Change> changes;  // since the last sync
};

class PowerLossFile : public os::File {
 public:
  PowerLossFile(PowerLossEnv& env, std::string path, std::shared_ptr<PowerLossEnv::Node> node, bool writable)
      : env_(env), path_(std::move(path)), node_(std::move(node)), writable_(writable) {}
  const std::string& Path() const override { return path_; }
  std::uint64_t Size() const override { return node_->cache.size(); }
  bool Writable() const override { return writable_; }
  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    env_.Alive(path_, "read");
    if (offset >= node_->cache.size()) return 0;
    n = std::min<std::size_t>(n, node_->cache.size() - offset);
    std::copy_n(node_->cache.data() + offset, n, static_cast<char*>(buf));
    return n;
  }
  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
    if (!writable_) os::File::WriteAt(offset, buf, n);
    env_.Alive(path_, "write");
    std::string& c = node_->cache;
    if (c.size() < offset + n) c.resize(offset + n, '\0');
    const char* p = static_cast<const char*>(buf);
    std::copy_n(p, n, c.data() + offset);
    if (n != 0) node_->changes.push_back({offset, std::string(p, n)});
    env_.CountWrite();
  }
  void Sync() override {
    if (!writable_) os::File::Sync();
    env_.Alive(path_, "sync");
    if (env_.CountSync()) env_.Alive(path_, "sync");
    node_->synced = node_->cache;
    node_->changes.clear();
  }
  void Truncate(std::uint64_t size) override {
    if (!writable_) os::File::Truncate(size);
    env_.Alive(path_, "truncate");
    node_->cache.resize(size, '\0');
    node_->changes.push_back({size, {}});
  }

 private:
  PowerLossEnv& env_;
  std::string path_;
  std::shared_ptr<PowerLossEnv::Node> node_;
  bool writable_;
};

void PowerLossEnv::Put(const std::string& path, std::string bytes) {
  auto node = std::make_shared<Node>();
  node->cache = node->synced = std::move(bytes);
  names_[path] = synced_names_[path] = node;
}

void PowerLossEnv::Alive(const std::string& path, const char* what) const {
  if (off_) throw Error(ErrorCode::Io, std::string("Cannot ") + what + " '" + path + "': the power failed");
}

bool PowerLossEnv::CountSync() {
  if (++syncs_ == cut_sync_) PowerOff();
  return off_;
}

void PowerLossEnv::CountWrite() {
  if (++writes_ == cut_write_) {
    PowerOff();
    Alive("the disk", "write");
  }
}

std::string PowerLossEnv::Survivor(const Node& node) {
  std::string bytes = node.synced;
  auto pick = [&](int n) { return static_cast<int>(rng_() % static_cast<std::uint64_t>(n)); };
  for (const Node::Change& c : node.changes) {
    if (c.data.empty()) {  // a size change: kept or lost
      if (pick(2) == 0) bytes.resize(c.offset, '\0');
      continue;
    }
    const int how = pick(3);  // 0 kept whole, 1 lost, 2 kept sector by sector
    if (how == 1) continue;
    const std::uint64_t end = c.offset + c.data.size();
    for (std::uint64_t at = c.offset; at < end;) {
      const std::uint64_t next = std::min(end, (at / kSector + 1) * kSector);
      if (how == 0 || pick(2) == 0) {
        if (bytes.size() < next) bytes.resize(next, '\0');
        std::copy_n(c.data.data() + (at - c.offset), next - at, bytes.data() + at);
      }
      at = next;
    }
  }
  return bytes;
}

void PowerLossEnv::PowerOff() {
  if (off_) return;
  off_ = true;
  std::map<std::string, std::shared_ptr<Node>> names = synced_names_;
  for (const FolderOp& op : folder_ops_) {
    if (rng_() % 2 == 0) continue;  // lost
    if (op.kind == FolderOp::Create) names[op.to] = op.node;
    if (op.kind == FolderOp::Remove) names.erase(op.from);
    if (op.kind == FolderOp::Rename && names.count(op.from) != 0) {
      names[op.to] = names[op.from];
      names.erase(op.from);
    }
  }
  for (const auto& [path, node] : names) survivors_[path] = Survivor(*node);
}

std::map<std::string, std::string> PowerLossEnv::Files() const {
  if (off_) return survivors_;
  std::map<std::string, std::string> files;
  for (const auto& [path, node] : names_) files[path] = node->cache;
  return files;
}

std::unique_ptr<os::File> PowerLossEnv::Open(const std::string& path, os::OpenMode mode) {
  Alive(path, "open");
  auto it = names_.find(path);
  if (it == names_.end()) throw Error(ErrorCode::FileNotFound, "File '" + path + "' does not exist");
  return std::make_unique<PowerLossFile>(*this, path, it->second, mode == os::OpenMode::ReadWrite);
}

std::unique_ptr<os::File> PowerLossEnv::CreateExclusive(const std::string& path, const os::FileAccess&) {
  Alive(path, "create");
  if (names_.count(path) != 0) throw Error(ErrorCode::Io, "Cannot create '" + path + "': a file is already there");
  auto node = std::make_shared<Node>();
  names_[path] = node;
  folder_ops_.push_back({FolderOp::Create, {}, path, node});
  return std::make_unique<PowerLossFile>(*this, path, node, true);
}

os::ObjectKind PowerLossEnv::KindOf(const std::string& path) {
  Alive(path, "look at");
  return names_.count(path) != 0 ? os::ObjectKind::File : os::ObjectKind::Missing;
}

std::string PowerLossEnv::RealPath(const std::string& path) {
  Alive(path, "open");
  if (names_.count(path) == 0) throw Error(ErrorCode::FileNotFound, "File '" + path + "' does not exist");
  return path;
}

void PowerLossEnv::Remove(const std::string& path) {
  Alive(path, "remove");
  if (names_.erase(path) != 0) folder_ops_.push_back({FolderOp::Remove, path, {}, nullptr});
}

void PowerLossEnv::Rename(const std::string& from, const std::string& to) {
  Alive(from, "rename");
  auto it = names_.find(from);
  if (it == names_.end()) throw Error(ErrorCode::Io, "Cannot rename '" + from + "': it does not exist");
  names_[to] = it->second;
  names_.erase(from);
  folder_ops_.push_back({FolderOp::Rename, from, to, nullptr});
}

std::vector<std::string> PowerLossEnv::List(const std::string& folder) {
  Alive(folder, "list");
  std::vector<std::string> out;
  for (const auto& [path, node] : names_)
    if (os::FolderOf(path) == folder) out.push_back(os::NameOf(path));
  return out;
}

void PowerLossEnv::SyncFolder(const std::string& folder) {
  Alive(folder, "sync");
  if (CountSync()) Alive(folder, "sync");
  synced_names_ = names_;
  folder_ops_.clear();
}

namespace {

const std::string kPath = "/disk/Journal.mdb";

// Every user table's rows, sorted, as text; throws jet::Error when the file cannot be read.
std::string Dump(Database& db, std::map<std::string, std::size_t>* counts = nullptr) {
  std::string out;
  std::vector<std::string> names = db.TableNames();
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::vector<std::string> rows;
    db.GetTable(name)->Scan({}, [&](RowId, const Row& row) {
      rows.push_back(FormatTsvRow(row));
      return true;
    });
    std::sort(rows.begin(), rows.end());
    out += name + " " + std::to_string(rows.size()) + "\n";
    if (counts != nullptr) (*counts)[name] = rows.size();
    for (const std::string& r : rows) out += r + "\n";
  }
  return out;
}

std::string DumpOf(const std::string& bytes) {
  os::MemoryEnv env;
  env.Put(kPath, bytes);
  return Dump(*Database::Open(kPath, {.password = "", .read_write = false, .change_memory = 0, .env = &env}));
}

}  // namespace

PowerLossRun::PowerLossRun(PowerLossCase c) : case_(std::move(c)) {
  before_ = DumpOf(case_.database);
  PowerLossEnv env(0);
  env.Put(kPath, case_.database);
  case_.statement(env, kPath);
  syncs_ = env.syncs();
  writes_ = env.writes();
  after_ = DumpOf(env.Files().at(kPath));
}

PowerLossOutcome PowerLossRun::Cut(std::uint64_t n, bool at_write, std::uint64_t seed) const {
  PowerLossEnv env(seed);
  env.Put(kPath, case_.database);
  (at_write ? std::function<void(std::uint64_t)>([&](std::uint64_t k) { env.CutAtWrite(k); })
            : std::function<void(std::uint64_t)>([&](std::uint64_t k) { env.CutAtSync(k); }))(n);
  PowerLossOutcome out;
  try {
    case_.statement(env, kPath);
  } catch (const Error&) {
    if (!env.off()) {
      out.problem = "the statement failed before the power did";
      return out;
    }
  }
  env.PowerOff();
  os::MemoryEnv disk;
  for (const auto& [path, bytes] : env.Files()) disk.Put(path, bytes);
  try {
    auto db = Database::Open(kPath, {.password = "", .read_write = true, .change_memory = 0, .env = &disk});
    if (disk.Get(JournalPath(kPath)) != nullptr) out.problem = "the journal is still there after the opening; ";
    for (const std::string& p : CheckIntegrity(*db)) out.problem += p + "; ";
    const std::string rows = Dump(*db, &out.rows);
    db.reset();
    out.recovered = *disk.Get(kPath);
    if (!out.problem.empty()) return out;
    out.state = rows == before_ ? PowerLossOutcome::Before
                : rows == after_ ? PowerLossOutcome::After
                                 : PowerLossOutcome::Between;
    if (out.state == PowerLossOutcome::Between) out.problem = "the rows are neither those before nor after";
  } catch (const Error& e) {
    out.problem = e.what();
  }
  return out;
}

std::vector<PowerLossCase> PowerLossCases() {
  TempDir dir;
  const std::string events = ReadAll(MakeEventDatabase(dir.path() / "events.mdb", 3000));
  auto purge = [](std::size_t memory) {
    return [memory](os::Env& env, const std::string& path) {
      Session::Open(path, {.password = "", .read_write = true, .change_memory = memory, .env = &env})
          ->Execute("DELETE FROM Log WHERE [Date] < 45012 OR Badge LIKE 'B1*'");
    };
  };
  auto insert_day = [](os::Env& env, const std::string& path) {
    auto db = Database::Open(path, {.password = "", .read_write = true, .change_memory = 0, .env = &env});
    Table* log = db->GetTable("Log");
    db->BeginStatement();
    for (int k = 0; k < 400; ++k)
      log->InsertRow({Value::Null(), Value::DateValue(45100.0 + k / 400.0),
                      k % 5 == 0 ? Value::Null() : Value::Str("B" + std::to_string(k % 97)),
                      Value::Str("Access granted at door " + std::to_string(k % 200))});
    db->CommitStatement();
  };
  return {{"purge", events, purge(0)},
          {"purge spilling past a 64 KiB page budget", events, purge(64 * 1024)},
          {"a day of inserted events", events, insert_day}};
}

}  // namespace jet::testing
