#include "jet/database/database_internal.h"

#include <algorithm>

#include "jet/compact.h"
#include "jet/format/header.h"
#include "jet/index/index_walk.h"
#include "jet/pager/journal.h"
#include "jet/write/free_pages.h"
#include "jet/write/row_insert.h"
#include "jet/write/table_edit.h"

namespace jet {

OpenTable::OpenTable(OpenDatabase* db, std::unique_ptr<TableReader> reader, bool system)
    : db_(db), reader_(std::move(reader)), system_(system) {
  Describe();
}

void OpenTable::Reload() {
  placement_ = RowPlacement();  // what a statement's inserts learnt ends with it
  TableDef def = ReadTableDef(db_->pager(), reader_->def().page);
  reader_->Reset(std::move(def));
  Describe();
}

void OpenTable::Describe() {
  columns_.clear();
  indexes_.clear();
  const TableDef& def = reader_->def();
  for (const auto& c : def.columns) columns_.push_back({c.name, c.type, c.autonumber()});
  for (const auto& l : def.indexes) {
    const RealIndexDef& r = def.real_indexes[l.real_index];
    IndexInfo info;
    info.name = l.name;
    for (const auto& ic : r.columns) {
      std::size_t pos = 0;
      while (pos < def.columns.size() && def.columns[pos].number != ic.column_number) ++pos;
      if (pos == def.columns.size())
        ThrowCorrupt("index '" + l.name + "' of table '" + reader_->name() + "' names column number " +
                     std::to_string(ic.column_number) + ", which the table does not have");
      info.columns.push_back({def.columns[pos].name, pos, ic.descending});
    }
    info.primary = l.type == kIndexTypePrimary;
    info.foreign_key = l.type == kIndexTypeForeign;
    info.unique = (r.flags & kIndexUnique) != 0;
    info.required = (r.flags & kIndexRequired) != 0;
    info.ignore_nulls = (r.flags & kIndexIgnoreNulls) != 0;
    info.real_index = l.real_index;
    info.root_page = r.root_page;
    info.related_table_page = l.related_table_page;
    info.related_index = l.related_index;
    info.cascade_updates = l.cascade_updates;
    info.cascade_deletes = l.cascade_deletes;
    indexes_.push_back(std::move(info));
  }
}

void OpenTable::Scan(const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit) {
  db_->Guard([&] { reader_->Scan(wanted, visit); });
}

Row OpenTable::ReadRow(RowId id, const std::vector<bool>& wanted) {
  return db_->Guard([&] { return reader_->ReadRow(id, wanted); });
}

const IndexInfo* Table::FindIndex(std::string_view name) const {
  for (const auto& i : Indexes())
    if (SameName(i.name, name)) return &i;
  return nullptr;
}

void OpenTable::WalkIndex(const IndexInfo& index, const std::function<bool(RowId, const std::string&)>& visit) {
  db_->Guard([&] {
    try {
      jet::WalkIndex(db_->pager(), reader_->def().page, index.root_page,
                     [&](const IndexEntry& e) { return visit(e.row, e.key); });
    } catch (const FormatError& e) {
      throw FormatError("index '" + index.name + "' of table '" + Name() + "': " + e.what());
    }
  });
}

std::int64_t OpenTable::DeleteRows(const std::vector<RowId>& ids) {
  return db_->Change([&] { return write::DeleteRows(*db_, *this, ids); });
}

std::int64_t OpenTable::DeleteWhere(const std::vector<bool>& wanted, const std::function<bool(const Row&)>& matches,
                                    const DateComparison* same) {
  return db_->Change([&] { return write::DeleteWhere(*db_, *this, wanted, matches, same); });
}

void OpenTable::InsertRow(const Row& values, const std::function<void(std::size_t)>& misfit) {
  db_->Change([&] { write::InsertRow(*db_, *this, values, misfit); });
}

std::vector<RowId> Table::IndexRowIds(const IndexInfo& index) {
  std::vector<RowId> ids;
  WalkIndex(index, [&](RowId id, const std::string&) {
    ids.push_back(id);
    return true;
  });
  return ids;
}

OpenDatabase::OpenDatabase(std::unique_ptr<os::File> file, const OpenOptions& options, os::Env* env, std::string real_path)
    : change_memory_(options.change_memory) {
  const std::string name = file->Path();
  try {
    pager_ = std::make_unique<Pager>(std::move(file), options.password, env, std::move(real_path));
    catalog_ = std::make_unique<Catalog>(*pager_);
  } catch (const FormatError& e) {
    throw Error(ErrorCode::Corrupt, "Database '" + name + "' is damaged: " + e.what());
  }
}

OpenDatabase::~OpenDatabase() {
  if (in_statement_) RollbackStatement();
}

namespace {

[[noreturn]] void ThrowInUse(const std::string& path) {
  throw Error(ErrorCode::Locked, "Database '" + path + "' is in use by another program");
}

// The lock file Jet keeps beside a database while it is open: same name, ".ldb".
std::string LockFileName(const std::string& path) {
  std::string name = os::NameOf(path);
  std::string::size_type dot = name.rfind('.');
  return (dot == std::string::npos ? name : name.substr(0, dot)) + ".ldb";
}

// Access and the Jet engine on Windows (also through a file server) lock byte ranges of
// the lock file while they have the database open. Clients through a share may create it
// in any letter case; one that cannot be examined may be in use all the same.
void CheckAccessLockFile(os::Env& env, const std::string& path, const std::string& real_path) {
  std::vector<std::string> candidates;
  for (const std::string& beside : {path, real_path}) {
    const std::string folder = os::FolderOf(beside), wanted = LockFileName(beside);
    std::vector<std::string> names;
    try {
      names = env.List(folder);
    } catch (const Error&) {
      names = {wanted};  // a folder that cannot be listed: at least the usual name
    }
    for (const std::string& name : names) {
      std::string candidate = folder + "/" + name;
      if (SameName(name, wanted) &&
          std::find(candidates.begin(), candidates.end(), candidate) == candidates.end())
        candidates.push_back(candidate);
    }
  }
  for (const std::string& ldb : candidates) {
    os::LockProbe probe = env.ProbeForeignLock(ldb);
    if (probe.state == os::ForeignLock::Held) ThrowInUse(path);
    if (probe.state == os::ForeignLock::CannotTell)
      throw Error(ErrorCode::Locked, "Database '" + path + "' may be in use by another program: its lock file '" + ldb +
                                         "' cannot be examined (" + probe.why + ")");
  }
}

// The file opened by its real path, named in descriptions by the path it was given.
class NamedFile : public os::File {
 public:
  NamedFile(std::unique_ptr<os::File> file, std::string name) : file_(std::move(file)), name_(std::move(name)) {}
  const std::string& Path() const override { return name_; }
  std::uint64_t Size() const override { return file_->Size(); }
  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override { return file_->ReadAt(offset, buf, n); }
  bool Writable() const override { return file_->Writable(); }
  os::FileAccess Access() const override { return file_->Access(); }
  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override { file_->WriteAt(offset, buf, n); }
  void Sync() override { file_->Sync(); }
  void Truncate(std::uint64_t size) override { file_->Truncate(size); }
  bool TryLock(os::LockKind kind) override { return file_->TryLock(kind); }

 private:
  std::unique_ptr<os::File> file_;
  std::string name_;
};

std::unique_ptr<os::File> OpenReal(os::Env& env, const std::string& path, const std::string& real_path,
                                   os::OpenMode mode) {
  std::unique_ptr<os::File> file = env.Open(real_path, mode);
  if (path == real_path) return file;
  return std::make_unique<NamedFile>(std::move(file), path);
}

std::uint32_t PageSizeOf(os::File& file) {
  std::uint8_t start[0x18] = {};
  std::size_t got = file.ReadAt(0, start, sizeof start);
  return FormatFor(CheckSignature(ByteView(start, got), file.Path())).page_size;
}

std::unique_ptr<os::File> OpenForWriting(os::Env& env, const std::string& path, const std::string& real_path) {
  std::unique_ptr<os::File> file = OpenReal(env, path, real_path, os::OpenMode::ReadWrite);
  if (!file->TryLock(os::LockKind::Exclusive)) ThrowInUse(path);
  // The journal is found beside the real file; a file with several names would have its
  // journal missed by a program opening it by another name after an interrupted change,
  // and that program would read a half-changed file. Such a file is not changed.
  if (std::uint64_t links = file->Access().links; links > 1)
    throw Error(ErrorCode::Unsupported, "Database '" + path + "' has " + std::to_string(links) +
                                            " names in the file system (hard links), so an interrupted change could "
                                            "not be undone for all of them; it is opened for reading only. Give the "
                                            "file a single name to have it changed");
  CheckAccessLockFile(env, path, real_path);
  PlayBackJournal(env, real_path, *file, PageSizeOf(*file));
  try {
    RemoveLeftoverCompaction(env, real_path);
  } catch (const Error&) {
    // Only ever a temporary of its own name, never opened as the database.
  }
  return file;
}

std::unique_ptr<os::File> OpenForReading(os::Env& env, const std::string& path, const std::string& real_path) {
  for (int attempt = 0;; ++attempt) {
    std::unique_ptr<os::File> file = OpenReal(env, path, real_path, os::OpenMode::ReadOnly);
    if (!file->TryLock(os::LockKind::Shared)) ThrowInUse(path);
    // Holding the shared lock, no writer is at work: a journal here is what a writer
    // that died left behind, and the file may be half changed.
    if (!JournalPresent(env, real_path)) return file;
    if (attempt > 0) ThrowInUse(path);
    file.reset();
    std::unique_ptr<os::File> writer;
    try {
      writer = OpenReal(env, path, real_path, os::OpenMode::ReadWrite);
    } catch (const Error& e) {
      if (e.code() != ErrorCode::AccessDenied) throw;
      throw Error(ErrorCode::AccessDenied, "Database '" + path + "' holds an unfinished change (journal '" +
                                               JournalPath(real_path) +
                                               "') that must be undone before it can be read, which needs write "
                                               "access to the file");
    }
    if (!writer->TryLock(os::LockKind::Exclusive)) ThrowInUse(path);
    PlayBackJournal(env, real_path, *writer, PageSizeOf(*writer));
  }
}

}  // namespace

std::unique_ptr<Database> Database::Open(const std::string& path, const OpenOptions& options) {
  os::Env& env = options.env != nullptr ? *options.env : os::Env::Default();
  const std::string real_path = env.RealPath(path);
  std::unique_ptr<os::File> file =
      options.read_write ? OpenForWriting(env, path, real_path) : OpenForReading(env, path, real_path);
  return std::make_unique<OpenDatabase>(std::move(file), options, &env, real_path);
}

Database::RestoreCopies Database::RestoreJournal(const std::string& path, const OpenOptions& options) {
  os::Env& env = options.env != nullptr ? *options.env : os::Env::Default();
  const std::string real_path = env.RealPath(path);
  std::unique_ptr<os::File> file = OpenReal(env, path, real_path, os::OpenMode::ReadWrite);
  if (!file->TryLock(os::LockKind::Exclusive)) ThrowInUse(path);
  CheckAccessLockFile(env, path, real_path);
  JournalCopies copies = ForceJournalPlayback(env, real_path, *file, PageSizeOf(*file));
  return {copies.database, copies.journal};
}

std::unique_ptr<Database> Database::OpenBytes(std::string name, std::string bytes, const OpenOptions& options) {
  if (options.read_write)
    throw Error(ErrorCode::ReadOnly, "Database '" + name + "' lives in memory and can only be read");
  return std::make_unique<OpenDatabase>(os::MemoryFile(std::move(name), std::move(bytes)), options);
}

void OpenDatabase::CheckUsable() const {
  if (broken_)
    throw Error(ErrorCode::Io, "Database '" + path() +
                                   "' could not undo a failed change; open it again to have the change undone");
}

void OpenDatabase::BeginStatement(double timeout_seconds) {
  CheckUsable();
  if (in_statement_) throw Error(ErrorCode::Io, "Database '" + path() + "' is already running a statement");
  ReloadIfPending();
  deadline_ = Deadline(timeout_seconds);
  in_statement_ = true;
}

Transaction& OpenDatabase::Editor() {
  CheckUsable();
  if (!in_statement_) throw Error(ErrorCode::Io, "Database '" + path() + "': changes need a statement");
  if (!transaction_) {
    if (!writable()) throw Error(ErrorCode::ReadOnly, "Database '" + path() + "' is open for reading only");
    transaction_ = std::make_unique<Transaction>(*pager_);
    if (change_memory_ != 0) transaction_->set_memory_budget(change_memory_);
  }
  return *transaction_;
}

void OpenDatabase::EndStatement() {
  bool changed = transaction_ != nullptr;
  transaction_.reset();
  in_statement_ = false;
  deadline_ = Deadline();
  if (changed && !broken_) reload_pending_ = true;
  ReloadIfPending();
}

void OpenDatabase::ReloadIfPending() {
  if (!reload_pending_) return;
  for (auto& t : tables_) Guard([&] { t->Reload(); });
  reload_pending_ = false;
}

void OpenDatabase::CommitStatement() {
  if (!in_statement_) return;
  if (transaction_) {
    try {
      Guard([&] {
        write::ClaimAppendedPages(*transaction_);
        transaction_->Commit();
      });
    } catch (...) {
      RollbackStatement();
      throw;
    }
  }
  try {
    EndStatement();
  } catch (...) {
    // The change is on disk: the statement succeeded. The table definitions are read
    // again before the next use.
  }
}

void OpenDatabase::RollbackStatement() noexcept {
  if (!in_statement_) return;
  if (transaction_) {
    try {
      transaction_->Rollback();
    } catch (...) {
      broken_ = true;
    }
  }
  try {
    EndStatement();
  } catch (...) {
    // The file is as it was; the definitions are read again before the next use.
  }
}

OpenTable* OpenDatabase::GetTable(std::string_view name) {
  if (!in_statement_) ReloadIfPending();
  const CatalogObject* object = catalog_->FindTable(name);
  if (object == nullptr) return nullptr;
  for (auto& t : tables_)
    if (t->definition().page == object->definition_page()) return t.get();
  return Guard([&] {
    std::unique_ptr<OpenTable> t(new OpenTable(this, catalog_->OpenTable(*object), object->is_system()));
    tables_.push_back(std::move(t));
    return tables_.back().get();
  });
}

std::vector<std::string> OpenDatabase::TableNames(bool include_system) const {
  std::vector<std::string> names;
  for (const CatalogObject* o : catalog_->Tables(include_system)) names.push_back(o->name);
  return names;
}

const std::vector<RelationshipInfo>& OpenDatabase::Relationships() {
  if (relationships_loaded_) return relationships_;
  relationships_ = Guard([&] { return catalog_->ReadRelationships(); });
  relationships_loaded_ = true;
  return relationships_;
}

}  // namespace jet
