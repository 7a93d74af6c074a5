#include "jet/pager/journal.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <unordered_map>
#include <utility>

#include "jet/crypto/sha256.h"
#include "jet/error.h"

namespace jet {
namespace {

constexpr std::uint8_t kMagic[8] = {'S', 'c', 'x', 'J', 'e', 't', 'J', 0x01};
constexpr std::uint32_t kLayoutVersion = 2;
constexpr std::size_t kHeaderSize = 64;
constexpr std::size_t kHeaderSummed = 56;
constexpr std::size_t kRecordsStart = 512;
constexpr std::size_t kChecksumSize = 8;
constexpr std::size_t kBufferSize = 1 << 20;
constexpr std::uint32_t kOriginal = 0;
constexpr std::uint32_t kWritten = 1;

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
std::uint64_t Get64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// SHA-256 cut to eight bytes: torn and stale writes are what it must catch, and the
// system's implementation runs it at memory speed on current processors.
void Checksum(std::uint64_t nonce, const std::uint8_t* a, std::size_t an, const std::uint8_t* b, std::size_t bn,
              std::uint8_t* out) {
  crypto::Sha256 hash;
  std::uint8_t n[8];
  Put64(n, nonce);
  hash.Update(n, sizeof n);
  hash.Update(a, an);
  if (bn != 0) hash.Update(b, bn);
  hash.Final(out, kChecksumSize);
}

std::uint64_t PageSum(std::uint64_t nonce, const std::uint8_t* page, std::size_t n) {
  std::uint8_t sum[kChecksumSize];
  Checksum(nonce, page, n, nullptr, 0, sum);
  return Get64(sum);
}

std::uint64_t RandomNonce() {
  std::random_device rd;
  return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

struct HeaderCopy {
  bool valid = false;
  bool foreign = false;  // intact, but of a layout this program does not know
  std::uint32_t page_size = 0;
  std::uint64_t original_size = 0;
  std::uint64_t nonce = 0;
  std::uint64_t sequence = 0;
  std::uint64_t records = 0;
  std::uint64_t size_after = 0;
};

HeaderCopy ParseHeader(const std::uint8_t* h) {
  HeaderCopy c;
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0) return c;
  std::uint8_t sum[kChecksumSize];
  Checksum(0, h, kHeaderSummed, nullptr, 0, sum);
  if (std::memcmp(sum, h + kHeaderSummed, kChecksumSize) != 0) {
    // The first layout summed 48 bytes; its journals must not be taken for unfinished ones.
    Checksum(0, h, 48, nullptr, 0, sum);
    c.foreign = std::memcmp(sum, h + 48, kChecksumSize) == 0;
    return c;
  }
  if (Get32(h + 8) != kLayoutVersion) {
    c.foreign = true;
    return c;
  }
  c.page_size = Get32(h + 12);
  c.original_size = Get64(h + 16);
  c.nonce = Get64(h + 24);
  c.sequence = Get64(h + 32);
  c.records = Get64(h + 40);
  c.size_after = Get64(h + 48);
  c.valid = c.sequence != 0 && (c.page_size == 2048 || c.page_size == 4096);
  return c;
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

JournalWriter::JournalWriter(os::Env& env, const std::string& real_path, const os::File& database,
                             std::uint32_t page_size, std::uint64_t original_size)
    : env_(env),
      path_(JournalPath(real_path)),
      page_size_(page_size),
      original_size_(original_size),
      size_after_(original_size),
      nonce_(RandomNonce()),
      end_(kRecordsStart),
      sealed_(kRecordsStart) {
  file_ = env_.CreateExclusive(path_, database.Access());
  buffer_.reserve(kBufferSize);
}

JournalWriter::~JournalWriter() = default;

void JournalWriter::Append(std::uint32_t tag, const std::uint8_t* body, std::size_t n) {
  std::size_t record = 4 + n + kChecksumSize;
  if (buffer_.size() + record > kBufferSize) FlushBuffer();
  std::size_t at = buffer_.size();
  buffer_.resize(at + record);
  std::uint8_t* p = buffer_.data() + at;
  Put32(p, tag);
  std::memcpy(p + 4, body, n);
  Checksum(nonce_, p, 4, body, n, p + 4 + n);
}

void JournalWriter::Add(std::uint32_t page_number, const std::uint8_t* stored) {
  Append(page_number | (kOriginal << 24), stored, page_size_);
}

void JournalWriter::AddWritten(std::uint32_t page_number, const std::uint8_t* stored) {
  std::uint8_t sum[8];
  Put64(sum, PageSum(nonce_, stored, page_size_));
  Append(page_number | (kWritten << 24), sum, sizeof sum);
}

void JournalWriter::FlushBuffer() {
  if (buffer_.empty()) return;
  file_->WriteAt(end_, buffer_.data(), buffer_.size());
  end_ += buffer_.size();
  buffer_.clear();
}

void JournalWriter::WriteHeader() {
  std::uint8_t h[kHeaderSize] = {};
  std::memcpy(h, kMagic, sizeof kMagic);
  Put32(h + 8, kLayoutVersion);
  Put32(h + 12, page_size_);
  Put64(h + 16, original_size_);
  Put64(h + 24, nonce_);
  Put64(h + 32, sequence_);
  Put64(h + 40, end_ - kRecordsStart);
  Put64(h + 48, size_after_);
  Checksum(0, h, kHeaderSummed, nullptr, 0, h + kHeaderSummed);
  file_->WriteAt((sequence_ % 2) * kHeaderSize, h, sizeof h);
}

void JournalWriter::Seal(std::uint64_t size_after) {
  FlushBuffer();
  file_->Sync();
  ++sequence_;
  size_after_ = std::max(size_after_, size_after);
  WriteHeader();
  file_->Sync();
  sealed_ = end_;
  if (!folder_synced_) {
    env_.SyncFolder(os::FolderOf(path_));
    folder_synced_ = true;
  }
}

void JournalWriter::ForEachSealed(const std::function<void(std::uint32_t, const std::uint8_t*)>& visit) {
  if (!file_) throw Error(ErrorCode::Io, "The journal " + Quoted(path_) + " has already been removed");
  std::vector<std::uint8_t> r(4 + page_size_ + kChecksumSize);
  for (std::uint64_t at = kRecordsStart; at < sealed_;) {
    if (file_->ReadAt(at, r.data(), 4) != 4)
      throw Error(ErrorCode::Io, "The journal " + Quoted(path_) + " is shorter than what was written to it");
    std::uint32_t tag = Get32(r.data());
    std::size_t body = (tag >> 24) == kOriginal ? page_size_ : kChecksumSize;
    std::size_t record = 4 + body + kChecksumSize;
    if ((tag >> 24) == kOriginal) {
      if (file_->ReadAt(at, r.data(), record) != record)
        throw Error(ErrorCode::Io, "The journal " + Quoted(path_) + " is shorter than what was written to it");
      visit(tag & 0xFFFFFFu, r.data() + 4);
    }
    at += record;
  }
}

void JournalWriter::Remove() {
  // Removing the journal is the moment the change stands; until then the open journal
  // can still undo it.
  env_.Remove(path_);
  file_.reset();
  try {
    env_.SyncFolder(os::FolderOf(path_));
  } catch (const Error&) {
    // The change is on disk and the journal gone. A folder that cannot be synced only
    // means that a power loss now might bring the journal back, and the next opening
    // would then undo this change: nothing is lost either way.
  }
}

namespace {

constexpr const char* kKept =
    " Both files were left as they are. Keep a copy of both; to keep the database as it is now, move the journal "
    "away; to have the interrupted change undone, first bring back the database as it was when the change was "
    "interrupted.";

// A journal being played back, and how its messages name it and its database.
struct Playback {
  os::File& journal;
  os::File& database;
  HeaderCopy header;
  std::string both;  // the database and its journal, quoted
  std::string Damaged() const {
    return "The journal of " + both + " is damaged: the unfinished change it records cannot be undone." + kKept;
  }
};

// The newer of the two header copies; not valid when neither is (the journal was never
// relied on). Throws Corrupt for a journal of another layout.
HeaderCopy ReadHeader(os::File& journal, const std::string& both) {
  std::uint8_t headers[2 * kHeaderSize] = {};
  std::size_t got = journal.ReadAt(0, headers, sizeof headers);
  HeaderCopy a = got >= kHeaderSize ? ParseHeader(headers) : HeaderCopy{};
  HeaderCopy b = got >= 2 * kHeaderSize ? ParseHeader(headers + kHeaderSize) : HeaderCopy{};
  HeaderCopy h = a.valid && (!b.valid || a.sequence > b.sequence) ? a : b;
  if (!h.valid && (a.foreign || b.foreign))
    throw Error(ErrorCode::Corrupt, "The journal of " + both +
                                        " was written by another version of this program and cannot be played back."
                                        " Run that version once to undo the interrupted change." + kKept);
  return h;
}

// The database must have the journal's page size and a size the interrupted change can
// have left.
void CheckDatabaseFits(const Playback& p, std::uint32_t page_size) {
  const HeaderCopy& h = p.header;
  if (h.page_size != page_size)
    throw Error(ErrorCode::Corrupt, "The journal of " + p.both + " does not belong to this database: it is for pages of " +
                                        std::to_string(h.page_size) + " bytes, the database has pages of " +
                                        std::to_string(page_size) + "." + kKept);
  const std::uint64_t size = p.database.Size();
  if (size < h.original_size || size > std::max(h.original_size, h.size_after))
    throw Error(ErrorCode::Corrupt,
                "The " + p.both + " no longer match: another program changed the database after a change by this "
                "program was interrupted. The database has " + std::to_string(size) + " bytes; the interrupted "
                "change left it between " + std::to_string(h.original_size) + " and " +
                std::to_string(std::max(h.original_size, h.size_after)) + " bytes." + kKept);
}

// Visits the records the header vouches for, in order, as (kind, page, record bytes).
// The bodies of written-version records are read only when `with_written`.
template <typename Visit>
void ForEachRecord(const Playback& p, bool with_written, Visit visit) {
  const HeaderCopy& h = p.header;
  std::vector<std::uint8_t> r(4 + h.page_size + kChecksumSize);
  const std::uint64_t end = kRecordsStart + h.records;
  for (std::uint64_t at = kRecordsStart; at < end;) {
    if (p.journal.ReadAt(at, r.data(), 4) != 4) throw Error(ErrorCode::Corrupt, p.Damaged());
    const std::uint32_t tag = Get32(r.data());
    const std::uint32_t kind = tag >> 24, page = tag & 0xFFFFFFu;
    if (kind != kOriginal && kind != kWritten) throw Error(ErrorCode::Corrupt, p.Damaged());
    const std::size_t record = 4 + (kind == kOriginal ? h.page_size : kChecksumSize) + kChecksumSize;
    at += record;
    if (kind == kWritten && !with_written) continue;
    if (at > end || p.journal.ReadAt(at - record, r.data(), record) != record)
      throw Error(ErrorCode::Corrupt, p.Damaged());
    visit(kind, page, r.data());
  }
}

using WrittenVersions = std::unordered_multimap<std::uint32_t, std::uint64_t>;

// Checks every record's checksum and that each original lies within the database as it
// was; returns the checksums of the versions the statement wrote, by page.
WrittenVersions VerifyRecords(const Playback& p) {
  const HeaderCopy& h = p.header;
  WrittenVersions written;
  ForEachRecord(p, true, [&](std::uint32_t kind, std::uint32_t page, const std::uint8_t* r) {
    const std::size_t body = kind == kOriginal ? h.page_size : kChecksumSize;
    std::uint8_t sum[kChecksumSize];
    Checksum(h.nonce, r, 4, r + 4, body, sum);
    if (std::memcmp(sum, r + 4 + body, kChecksumSize) != 0) throw Error(ErrorCode::Corrupt, p.Damaged());
    if (kind == kOriginal && static_cast<std::uint64_t>(page) * h.page_size + h.page_size > h.original_size)
      throw Error(ErrorCode::Corrupt, p.Damaged());
    if (kind == kWritten) written.emplace(page, Get64(r + 4));
  });
  return written;
}

// Checks that every page the journal covers holds its original or a version the
// statement wrote: anything else was changed by another program since.
void VerifyPagesKnown(const Playback& p, const WrittenVersions& written) {
  const HeaderCopy& h = p.header;
  std::vector<std::uint8_t> current(h.page_size);
  ForEachRecord(p, false, [&](std::uint32_t, std::uint32_t page, const std::uint8_t* r) {
    if (p.database.ReadAt(static_cast<std::uint64_t>(page) * h.page_size, current.data(), current.size()) !=
        current.size())
      throw Error(ErrorCode::Corrupt, p.Damaged());
    if (std::memcmp(current.data(), r + 4, h.page_size) == 0) return;
    bool known = false;
    const std::uint64_t sum = PageSum(h.nonce, current.data(), current.size());
    for (auto [it, last] = written.equal_range(page); it != last && !known; ++it) known = it->second == sum;
    if (!known)
      throw Error(ErrorCode::Corrupt,
                  "The " + p.both + " no longer match: another program changed the database after a change "
                  "by this program was interrupted. Page " + std::to_string(page) +
                  " holds neither its version before nor after the interrupted change." + kKept);
  });
}

// Writes every original back and cuts off the pages the statement added.
void RestoreOriginals(const Playback& p) {
  const HeaderCopy& h = p.header;
  ForEachRecord(p, false, [&](std::uint32_t, std::uint32_t page, const std::uint8_t* r) {
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

}  // namespace

bool PlayBackJournal(os::Env& env, const std::string& real_path, os::File& database, std::uint32_t page_size) {
  if (!JournalPresent(env, real_path)) return false;
  const std::string path = JournalPath(real_path);
  std::unique_ptr<os::File> journal = env.Open(path, os::OpenMode::ReadOnly);
  const std::string both = "database " + Quoted(real_path) + " and its journal " + Quoted(path);
  Playback p{*journal, database, ReadHeader(*journal, both), both};
  if (p.header.valid) {
    // Everything is checked before the first page is written back: a damaged journal, or
    // a file changed since, changes nothing.
    CheckDatabaseFits(p, page_size);
    VerifyPagesKnown(p, VerifyRecords(p));
    RestoreOriginals(p);
  }
  RemovePlayedJournal(env, std::move(journal), path);
  return true;
}

}  // namespace jet
