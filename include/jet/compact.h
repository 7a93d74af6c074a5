#pragma once
// Compaction: a database file rewritten without its free pages, every table, row, index,
// relationship, query, permission, property and Access object kept as it was (see
// page_copy.h for how), AutoNumber counters included: a compacted table never hands
// out a number it gave before.
//
// Safe at every moment: the compacted file is written beside the original under a
// temporary name (created exclusively), synced, checked (the integrity check, and every
// table's row count against the original), and only then put in the original's place in
// one rename, with the original's permissions, followed by a sync of the folder. Until
// that rename the original is untouched; a temporary left by an interrupted compaction
// is removed by the next opening for changes and is never opened as the database.
//
//   jet::CompactResult r = jet::CompactDatabase("Journal.mdb", {.password = ""});

#include <cstdint>
#include <string>

namespace jet {

namespace os {
class Env;
}

struct CompactOptions {
  std::string password;
  os::Env* env = nullptr;  // null: the system's own
};

struct CompactResult {
  std::uint64_t size_before = 0;  // bytes
  std::uint64_t size_after = 0;
};

// Compacts the file at `path` in place. Refuses, changing nothing, with jet::Error:
// Locked (in use by another program, by the rules of opening for changes),
// Unsupported (several hard links, or an unfinished change's journal beside it),
// Corrupt (the file fails the integrity check), Io (too little free space in its
// folder, or a failure while writing or replacing), WrongPassword and the errors of
// opening. Each names the file.
CompactResult CompactDatabase(const std::string& path, const CompactOptions& options = {});

// Where the compacted file is written before it replaces the file at `real_path`.
std::string CompactionTemporaryPath(const std::string& real_path);

// Removes what an interrupted compaction of the file at `real_path` left, if anything.
// Only for a caller holding the file's exclusive lock.
void RemoveLeftoverCompaction(os::Env& env, const std::string& real_path);

}  // namespace jet
