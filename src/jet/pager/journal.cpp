#include "jet/pager/journal.h"

#include <cstring>
#include <random>

#include "jet/crypto/sha256.h"
#include "jet/error.h"
#include "jet/pager/failpoint.h"

namespace jet {
namespace {

constexpr std::uint8_t kMagic[8] = {'S', 'c', 'x', 'J', 'e', 't', 'J', 0x01};
constexpr std::uint32_t kLayoutVersion = 1;
constexpr std::size_t kHeaderSize = 64;
constexpr std::size_t kRecordsStart = 512;
constexpr std::size_t kChecksumSize = 8;
constexpr std::size_t kBufferSize = 1 << 20;

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

std::uint64_t RandomNonce() {
  std::random_device rd;
  return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
}

struct HeaderCopy {
  bool valid = false;
  std::uint32_t page_size = 0;
  std::uint64_t original_size = 0;
  std::uint64_t nonce = 0;
  std::uint64_t sequence = 0;
  std::uint32_t count = 0;
};

HeaderCopy ParseHeader(const std::uint8_t* h) {
  HeaderCopy c;
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0) return c;
  std::uint8_t sum[kChecksumSize];
  Checksum(0, h, 48, nullptr, 0, sum);
  if (std::memcmp(sum, h + 48, kChecksumSize) != 0) return c;
  if (Get32(h + 8) != kLayoutVersion) return c;
  c.page_size = Get32(h + 12);
  if (c.page_size != 2048 && c.page_size != 4096) return c;
  c.original_size = Get64(h + 16);
  c.nonce = Get64(h + 24);
  c.sequence = Get64(h + 32);
  c.count = Get32(h + 40);
  c.valid = c.sequence != 0;
  return c;
}

}  // namespace

JournalWriter::JournalWriter(const std::string& database_path, std::uint32_t page_size, std::uint64_t original_size)
    : path_(JournalPath(database_path)),
      page_size_(page_size),
      original_size_(original_size),
      nonce_(RandomNonce()),
      end_(kRecordsStart) {
  failpoint::Step("creating the journal");
  file_ = os::CreateFile(path_);
  buffer_.reserve(kBufferSize);
}

JournalWriter::~JournalWriter() = default;

void JournalWriter::Add(std::uint32_t page_number, const std::uint8_t* stored) {
  std::size_t record = 4 + page_size_ + kChecksumSize;
  if (buffer_.size() + record > kBufferSize) FlushBuffer();
  std::size_t at = buffer_.size();
  buffer_.resize(at + record);
  std::uint8_t* p = buffer_.data() + at;
  Put32(p, page_number);
  std::memcpy(p + 4, stored, page_size_);
  Checksum(nonce_, p, 4, stored, page_size_, p + 4 + page_size_);
  ++count_;
}

void JournalWriter::FlushBuffer() {
  if (buffer_.empty()) return;
  failpoint::Step("writing the journal");
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
  Put32(h + 40, count_);
  Checksum(0, h, 48, nullptr, 0, h + 48);
  failpoint::Step("writing the journal header");
  file_->WriteAt((sequence_ % 2) * kHeaderSize, h, sizeof h);
}

void JournalWriter::Seal() {
  FlushBuffer();
  failpoint::Step("syncing the journal");
  file_->Sync();
  ++sequence_;
  WriteHeader();
  failpoint::Step("syncing the journal header");
  file_->Sync();
  if (!folder_synced_) {
    failpoint::Step("syncing the journal's folder");
    os::SyncDirectoryOf(path_);
    folder_synced_ = true;
  }
}

void JournalWriter::ForEach(const std::function<void(std::uint32_t, const std::uint8_t*)>& visit) {
  if (!file_) throw Error(ErrorCode::Io, "The journal '" + path_ + "' has already been removed");
  FlushBuffer();
  std::size_t record = 4 + page_size_ + kChecksumSize;
  std::vector<std::uint8_t> r(record);
  for (std::uint32_t i = 0; i < count_; ++i) {
    std::uint64_t at = kRecordsStart + static_cast<std::uint64_t>(i) * record;
    if (file_->ReadAt(at, r.data(), r.size()) != r.size())
      throw Error(ErrorCode::Io, "The journal '" + path_ + "' is shorter than what was written to it");
    visit(Get32(r.data()), r.data() + 4);
  }
}

void JournalWriter::Remove() {
  failpoint::Step("removing the journal");
  // Removing the journal is the moment the change stands; until then the open journal
  // can still undo it.
  os::RemoveFile(path_);
  file_.reset();
  try {
    os::SyncDirectoryOf(path_);
  } catch (const Error&) {
    // The change is on disk and the journal gone. A folder that cannot be synced only
    // means that a power loss now might bring the journal back, and the next opening
    // would then undo this change: nothing is lost either way.
  }
}

bool PlayBackJournal(os::File& database) {
  const std::string db_path = database.Path();
  const std::string path = JournalPath(db_path);
  if (!os::Exists(path)) return false;
  std::unique_ptr<os::File> journal = os::OpenFile(path, os::OpenMode::ReadOnly);

  std::uint8_t headers[2 * kHeaderSize] = {};
  std::size_t got = journal->ReadAt(0, headers, sizeof headers);
  HeaderCopy a = got >= kHeaderSize ? ParseHeader(headers) : HeaderCopy{};
  HeaderCopy b = got >= 2 * kHeaderSize ? ParseHeader(headers + kHeaderSize) : HeaderCopy{};
  HeaderCopy h = a.valid && (!b.valid || a.sequence > b.sequence) ? a : b;
  if (h.valid) {
    const std::size_t record = 4 + h.page_size + kChecksumSize;
    std::vector<std::uint8_t> r(record);
    std::uint8_t sum[kChecksumSize];
    const std::string damaged = "The journal '" + path + "' of database '" + db_path +
                                "' is damaged: the unfinished change it records cannot be undone";
    // Check every record before writing any, so that a damaged journal changes nothing.
    for (int pass = 0; pass < 2; ++pass) {
      for (std::uint32_t i = 0; i < h.count; ++i) {
        std::uint64_t at = kRecordsStart + static_cast<std::uint64_t>(i) * record;
        if (journal->ReadAt(at, r.data(), r.size()) != r.size()) throw Error(ErrorCode::Corrupt, damaged);
        Checksum(h.nonce, r.data(), 4, r.data() + 4, h.page_size, sum);
        std::uint64_t page = Get32(r.data());
        if (std::memcmp(sum, r.data() + 4 + h.page_size, kChecksumSize) != 0 ||
            (page + 1) * h.page_size > h.original_size)
          throw Error(ErrorCode::Corrupt, damaged);
        if (pass == 1) {
          failpoint::Step("restoring a page from the journal");
          database.WriteAt(page * h.page_size, r.data() + 4, h.page_size);
        }
      }
    }
    if (database.Size() != h.original_size) {
      failpoint::Step("restoring the database size");
      database.Truncate(h.original_size);
    }
    failpoint::Step("syncing the restored database");
    database.Sync();
  }
  journal.reset();
  failpoint::Step("removing the journal");
  os::RemoveFile(path);
  os::SyncDirectoryOf(path);
  return true;
}

}  // namespace jet
