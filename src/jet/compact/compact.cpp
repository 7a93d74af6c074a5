#include "jet/compact.h"

#include <algorithm>
#include <map>

#include "jet/compact/page_copy.h"
#include "jet/database/database_internal.h"
#include "jet/integrity.h"
#include "jet/page/table_def.h"
#include "jet/pager/journal.h"

namespace jet {
namespace {

[[noreturn]] void Refuse(ErrorCode code, const std::string& path, const std::string& why) {
  throw Error(code, "Database '" + path + "' is not compacted: " + why);
}

using RowCounts = std::map<std::uint32_t, std::uint32_t>;  // definition page -> recorded rows

std::vector<std::uint32_t> DefinitionPages(const OpenDatabase& db) {
  std::vector<std::uint32_t> pages{kCatalogPage};
  for (const CatalogObject* t : db.catalog().Tables(true)) pages.push_back(t->definition_page());
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  return pages;
}

// Every table's recorded row count, system tables included (also those with column types
// the engine does not read).
RowCounts CountRows(OpenDatabase& db) {
  return db.Guard([&] {
    RowCounts counts;
    for (std::uint32_t page : DefinitionPages(db)) {
      const std::string bytes = ReadTableDefBytes(db.pager(), page);
      counts[page] = ByteView(bytes, "table definition").U32(db.pager().format().tdef_row_count);
    }
    return counts;
  });
}

// The compacted file, opened as a database, against the original: the same settings,
// every table with its row count, and a clean integrity check.
void Verify(os::Env& env, const std::string& path, const std::string& temporary, const CompactOptions& options,
            Database& original, const RowCounts& counts) {
  std::unique_ptr<Database> copy = Database::Open(temporary, {.password = options.password, .env = &env});
  if (copy->version() != original.version() || copy->code_page() != original.code_page() ||
      copy->sort_order() != original.sort_order() || copy->database_key() != original.database_key())
    Refuse(ErrorCode::Corrupt, path, "the compacted copy's header differs from the original's");
  if (CountRows(Internal(*copy)) != counts) Refuse(ErrorCode::Corrupt, path, "the compacted copy's tables differ from the original's");
  std::vector<std::string> problems = CheckIntegrity(*copy);
  if (!problems.empty()) Refuse(ErrorCode::Corrupt, path, "the compacted copy fails the integrity check: " + problems.front());
}

void RemoveQuietly(os::Env& env, const std::string& temporary) {
  try {
    env.Remove(temporary);
  } catch (const Error&) {
    // The next opening for changes removes it.
  }
}

}  // namespace

std::string CompactionTemporaryPath(const std::string& real_path) { return real_path + "-compacting"; }

void RemoveLeftoverCompaction(os::Env& env, const std::string& real_path) {
  const std::string temporary = CompactionTemporaryPath(real_path);
  if (env.KindOf(temporary) != os::ObjectKind::File) return;
  env.Remove(temporary);
  env.SyncFolder(os::FolderOf(real_path));
}

CompactResult CompactDatabase(const std::string& path, const CompactOptions& options) {
  os::Env& env = options.env != nullptr ? *options.env : os::Env::Default();
  const std::string real_path = env.RealPath(path);
  const std::string folder = os::FolderOf(real_path);
  {
    std::unique_ptr<os::File> file = env.Open(real_path, os::OpenMode::ReadOnly);
    if (const std::uint64_t links = file->Access().links; links > 1)
      Refuse(ErrorCode::Unsupported, path,
             "it has " + std::to_string(links) + " names in the file system (hard links), and a compacted file "
             "would take the place of one of them only");
  }
  if (JournalPresent(env, real_path))
    Refuse(ErrorCode::Unsupported, path,
           "it holds an unfinished change (journal '" + JournalPath(real_path) +
               "'); open it for a statement first, which undoes the change");

  // Opening for changes takes the file's exclusive lock by the rules of a statement, and
  // keeps it until the compacted file has taken the original's place.
  std::unique_ptr<Database> db =
      Database::Open(path, {.password = options.password, .read_write = true, .env = &env});
  OpenDatabase& open = Internal(*db);
  RemoveLeftoverCompaction(env, real_path);
  if (std::vector<std::string> problems = CheckIntegrity(*db); !problems.empty())
    Refuse(ErrorCode::Corrupt, path, "it fails the integrity check (" + problems.front() + ")");
  const RowCounts counts = CountRows(open);

  CompactResult result;
  result.size_before = open.pager().file().Size();
  const std::uint64_t page_size = open.pager().page_size();
  const std::string temporary = CompactionTemporaryPath(real_path);
  {
    compact::PageCopy copy = open.Guard([&] { return compact::PageCopy(open.pager(), DefinitionPages(open)); });
    const std::uint64_t needed = (std::uint64_t{copy.planned_pages()} + 16) * page_size;
    if (const std::uint64_t free = env.FreeSpace(folder); free < needed)
      Refuse(ErrorCode::Io, path,
             "its folder '" + folder + "' has " + std::to_string(free) + " bytes free and the compacted file needs " +
                 std::to_string(needed));
    try {
      std::unique_ptr<os::File> out = env.CreateExclusive(temporary, open.pager().file().Access());
      const std::uint32_t pages = open.Guard([&] { return copy.WriteTo(*out); });
      out->Sync();
      result.size_after = std::uint64_t{pages} * page_size;
    } catch (...) {
      RemoveQuietly(env, temporary);
      throw;
    }
  }
  // The copy's bookkeeping is gone before the check of the new file takes its own.
  try {
    Verify(env, path, temporary, options, *db, counts);
  } catch (...) {
    RemoveQuietly(env, temporary);
    throw;
  }
  try {
    env.Replace(temporary, real_path);
  } catch (const Error&) {
    // A system that cannot replace a file held open (Windows): the lock is let go for the
    // replace alone.
    db.reset();
    try {
      env.Replace(temporary, real_path);
    } catch (const Error&) {
      RemoveQuietly(env, temporary);
      throw;
    }
  }
  db.reset();
  env.SyncFolder(folder);
  return result;
}

}  // namespace jet
