// Playing back a journal left by a statement that did not finish, and the administrator's
// forced playback of an intact journal over a database that no longer matches it.

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "jet/error.h"
#include "jet/pager/journal.h"
#include "jet/pager/journal_layout.h"

namespace jet {

using namespace journal;

namespace {

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// A journal being played back, and how its messages name it and its database.
struct Playback {
  os::File& journal;
  os::File& database;
  std::string database_path, journal_path;
  HeaderCopy header;

  std::string Both() const { return "database " + Quoted(database_path) + " and its journal " + Quoted(journal_path); }
  std::string Kept() const { return " Both files were left as they are; keep a copy of both."; }
  std::string Remedy() const {
    return Kept() + " If no other program was meant to change the database, an administrator can have the "
                    "interrupted change undone whatever the database holds now with 'jetsql " + database_path +
           " --restore-journal', which first keeps a copy of both files.";
  }
  Error Damaged() const {
    return Error(ErrorCode::Corrupt, "The journal of " + Both() +
                                         " is damaged: the unfinished change it records cannot be undone, and the "
                                         "database may hold part of it." + Kept() +
                                         " Bring the database back from a backup, or move the journal away to use "
                                         "the database as it is.");
  }
};

// The newer header copy. Each copy lies in a sector of its own that is written whole or
// not at all, and both are synced before the first record: in a journal with records
// both copies are valid, and one that is not is damage. A journal of the previous
// layout, whose copies share a sector, is read from its newer valid copy. Not valid when
// there is no valid copy; throws Corrupt for a damaged journal or one of another layout.
HeaderCopy ReadHeader(const Playback& p) {
  std::vector<std::uint8_t> start(kCurrent.records_start, 0);
  const std::size_t got = p.journal.ReadAt(0, start.data(), start.size());
  bool foreign = false;
  for (const Layout* layout : {&kCurrent, &kPrevious}) {
    HeaderCopy copies[2];
    std::size_t at[2] = {0, layout->second_header};
    for (int k = 0; k < 2; ++k) {
      if (got >= at[k] + kHeaderSize) copies[k] = ParseHeader(start.data() + at[k], *layout);
      foreign = foreign || copies[k].foreign;
    }
    if (!copies[0].valid() && !copies[1].valid()) continue;
    if (layout == &kCurrent && p.journal.Size() > kCurrent.records_start &&
        !(copies[0].valid() && copies[1].valid()))
      throw p.Damaged();
    const bool first = copies[0].valid() && (!copies[1].valid() || copies[0].sequence > copies[1].sequence);
    return copies[first ? 0 : 1];
  }
  if (foreign)
    throw Error(ErrorCode::Corrupt, "The journal of " + p.Both() +
                                        " was written by another version of this program and cannot be played "
                                        "back. Run that version once to undo the interrupted change." + p.Kept());
  return {};
}

// Without a valid header copy, only a journal whose creation never finished may go: the
// writer syncs both copies before any record, so such a journal holds nothing but zeros
// and is no longer than the copies; one shorter than the first record of any layout never
// held a record. Anything else is damage.
bool NeverReliedOn(os::File& journal) {
  const std::uint64_t size = journal.Size();
  if (size <= kPrevious.records_start) return true;
  if (size > kCurrent.records_start) return false;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (journal.ReadAt(0, bytes.data(), bytes.size()) != bytes.size()) return false;
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

void CheckPageSize(const Playback& p, std::uint32_t page_size) {
  if (p.header.page_size != page_size)
    throw Error(ErrorCode::Corrupt, "The journal " + Quoted(p.journal_path) + " does not belong to database " +
                                        Quoted(p.database_path) + ": it is for pages of " +
                                        std::to_string(p.header.page_size) + " bytes, the database has pages of " +
                                        std::to_string(page_size) + "." + p.Kept());
}

// The database must have a size the interrupted change can have left.
void CheckDatabaseSize(const Playback& p) {
  const HeaderCopy& h = p.header;
  const std::uint64_t size = p.database.Size(), most = std::max(h.original_size, h.size_after);
  if (size < h.original_size || size > most)
    throw Error(ErrorCode::Corrupt, "The database " + Quoted(p.database_path) + " has " + std::to_string(size) +
                                        " bytes, which the interrupted change recorded in its journal " +
                                        Quoted(p.journal_path) + " cannot have left (it left between " +
                                        std::to_string(h.original_size) + " and " + std::to_string(most) +
                                        " bytes): another program changed the file since." + p.Remedy());
}

// Visits the records the header vouches for, in order, as (kind, page, record bytes).
// The bodies of written-version records are read only when `with_written`.
template <typename Visit>
void ForEachRecord(const Playback& p, bool with_written, Visit visit) {
  const HeaderCopy& h = p.header;
  const Layout& layout = *h.layout;
  std::vector<std::uint8_t> r(4 + h.page_size + kChecksumSize);
  const std::uint64_t end = layout.records_start + h.records;
  for (std::uint64_t at = layout.records_start; at < end;) {
    if (p.journal.ReadAt(at, r.data(), 4) != 4) throw p.Damaged();
    const std::uint32_t tag = Load32(r.data());
    const std::uint32_t kind = tag >> 24, page = tag & 0xFFFFFFu;
    if (kind != kOriginal && kind != kWritten) throw p.Damaged();
    const std::size_t body = kind == kOriginal ? h.page_size : layout.WrittenBody(h.page_size);
    const std::size_t record = 4 + body + kChecksumSize;
    at += record;
    if (kind == kWritten && !with_written) continue;
    if (at > end || p.journal.ReadAt(at - record, r.data(), record) != record) throw p.Damaged();
    visit(kind, page, r.data(), body);
  }
}

// The sector checksums of every version written, by page: version v's checksum of sector
// s at v * sectors + s.
using WrittenVersions = std::unordered_map<std::uint32_t, std::vector<std::uint64_t>>;

// Checks every record's checksum and that each original lies within the database as it
// was; returns the versions the statement wrote.
WrittenVersions VerifyRecords(const Playback& p) {
  const HeaderCopy& h = p.header;
  WrittenVersions written;
  ForEachRecord(p, true, [&](std::uint32_t kind, std::uint32_t page, const std::uint8_t* r, std::size_t body) {
    if (h.layout->sum(h.nonce, r, 4 + body) != Load64(r + 4 + body)) throw p.Damaged();
    if (kind == kOriginal && static_cast<std::uint64_t>(page) * h.page_size + h.page_size > h.original_size)
      throw p.Damaged();
    if (kind == kWritten) {
      std::vector<std::uint64_t>& sums = written[page];
      for (std::size_t at = 4; at < 4 + body; at += kChecksumSize) sums.push_back(Load64(r + at));
    }
  });
  return written;
}

// Checks that every sector of every page the journal covers holds the original's or a
// version the statement wrote (a power loss can leave a page part one, part the other):
// anything else was written by another program, or damaged by the disk.
void VerifyPagesKnown(const Playback& p, const WrittenVersions& written) {
  const HeaderCopy& h = p.header;
  const Layout& layout = *h.layout;
  const std::size_t sectors = layout.Sectors(h.page_size), sector = layout.SectorBytes(h.page_size);
  std::vector<std::uint8_t> current(h.page_size);
  static const std::vector<std::uint64_t> kNone;
  ForEachRecord(p, false, [&](std::uint32_t, std::uint32_t page, const std::uint8_t* r, std::size_t) {
    if (p.database.ReadAt(static_cast<std::uint64_t>(page) * h.page_size, current.data(), current.size()) !=
        current.size())
      throw Error(ErrorCode::Corrupt, "The database " + Quoted(p.database_path) + " is cut short inside page " +
                                          std::to_string(page) + ", which its journal " + Quoted(p.journal_path) +
                                          " records." + p.Remedy());
    const std::uint8_t* original = r + 4;
    auto found = written.find(page);
    const std::vector<std::uint64_t>& sums = found == written.end() ? kNone : found->second;
    for (std::size_t s = 0; s < sectors; ++s) {
      const std::uint8_t* now = current.data() + s * sector;
      if (std::memcmp(now, original + s * sector, sector) == 0) continue;
      const std::uint64_t sum = layout.sum(h.nonce, now, sector);
      bool known = false;
      for (std::size_t v = s; v < sums.size() && !known; v += sectors) known = sums[v] == sum;
      if (!known)
        throw Error(ErrorCode::Corrupt,
                    "The database " + Quoted(p.database_path) + " holds on page " + std::to_string(page) +
                        " data that neither the interrupted change recorded in its journal " +
                        Quoted(p.journal_path) + " nor the database before that change wrote: another program "
                        "changed the file since, or the disk damaged it." + p.Remedy());
    }
  });
}

// Writes every original back and cuts off the pages the statement added.
void RestoreOriginals(const Playback& p) {
  const HeaderCopy& h = p.header;
  ForEachRecord(p, false, [&](std::uint32_t, std::uint32_t page, const std::uint8_t* r, std::size_t) {
    p.database.WriteAt(static_cast<std::uint64_t>(page) * h.page_size, r + 4, h.page_size);
  });
  if (p.database.Size() != h.original_size) p.database.Truncate(h.original_size);
  p.database.Sync();
}

// The database is as it was before the interrupted change, or the journal was never
// relied on: the journal goes, durably.
void RemovePlayedJournal(os::Env& env, std::unique_ptr<os::File> journal, const std::string& path) {
  journal.reset();
  env.Remove(path);
  env.SyncFolder(os::FolderOf(path));
}

// A synced copy of `from` at `to`, where nothing may stand yet.
void CopyFile(os::Env& env, os::File& from, const std::string& to) {
  std::unique_ptr<os::File> copy = env.CreateExclusive(to, from.Access());
  std::vector<std::uint8_t> chunk(1 << 20);
  const std::uint64_t size = from.Size();
  for (std::uint64_t at = 0; at < size;) {
    const std::size_t n = from.ReadAt(at, chunk.data(), static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - at)));
    if (n == 0) break;
    copy->WriteAt(at, chunk.data(), n);
    at += n;
  }
  copy->Sync();
}

}  // namespace

bool JournalPresent(os::Env& env, const std::string& real_path) {
  const std::string path = JournalPath(real_path);
  os::ObjectKind kind = env.KindOf(path);
  if (kind == os::ObjectKind::Missing) return false;
  if (kind != os::ObjectKind::File)
    throw Error(ErrorCode::Io, "Database " + Quoted(real_path) + " cannot be used: " + os::Describe(kind) +
                                   " stands at its journal's path " + Quoted(path) +
                                   ", where only this program's journal belongs; nothing was changed. Remove it "
                                   "after checking what it is");
  return true;
}

bool PlayBackJournal(os::Env& env, const std::string& real_path, os::File& database, std::uint32_t page_size) {
  if (!JournalPresent(env, real_path)) return false;
  const std::string path = JournalPath(real_path);
  std::unique_ptr<os::File> journal = env.Open(path, os::OpenMode::ReadOnly);
  Playback p{*journal, database, real_path, path, {}};
  p.header = ReadHeader(p);
  if (!p.header.valid()) {
    if (!NeverReliedOn(*journal)) throw p.Damaged();
  } else if (p.header.records != 0) {
    // Everything is checked before the first page is written back: a damaged journal, or
    // a file changed since, changes nothing.
    CheckPageSize(p, page_size);
    CheckDatabaseSize(p);
    VerifyPagesKnown(p, VerifyRecords(p));
    RestoreOriginals(p);
  }
  RemovePlayedJournal(env, std::move(journal), path);
  return true;
}

JournalCopies ForceJournalPlayback(os::Env& env, const std::string& real_path, os::File& database,
                                   std::uint32_t page_size) {
  const std::string path = JournalPath(real_path);
  if (!JournalPresent(env, real_path))
    throw Error(ErrorCode::FileNotFound, "Database " + Quoted(real_path) + " has no journal " + Quoted(path) +
                                             ": there is no interrupted change to undo; nothing was changed");
  std::unique_ptr<os::File> journal = env.Open(path, os::OpenMode::ReadOnly);
  Playback p{*journal, database, real_path, path, {}};
  p.header = ReadHeader(p);
  if (!p.header.valid()) throw p.Damaged();
  if (p.header.records != 0) {
    CheckPageSize(p, page_size);
    VerifyRecords(p);
  }
  JournalCopies copies{real_path + ".before-restore", path + ".before-restore"};
  CopyFile(env, database, copies.database);
  CopyFile(env, *journal, copies.journal);
  env.SyncFolder(os::FolderOf(real_path));
  if (p.header.records != 0) RestoreOriginals(p);
  RemovePlayedJournal(env, std::move(journal), path);
  return copies;
}

}  // namespace jet
