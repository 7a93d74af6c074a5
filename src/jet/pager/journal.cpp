#include "jet/pager/journal.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "jet/error.h"
#include "jet/pager/journal_layout.h"

namespace jet {

using namespace journal;

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
static_assert(kBufferSize % os::File::kBlockAlignment == 0);

// `n` bytes rounded up to whole blocks.
std::size_t WholeBlocks(std::size_t n) {
  constexpr std::size_t kBlock = os::File::kBlockAlignment;
  return (n + kBlock - 1) / kBlock * kBlock;
}

std::uint64_t RandomNonce() {
  std::random_device rd;
  return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
}

}  // namespace

JournalWriter::JournalWriter(os::Env& env, const std::string& real_path, const os::File& database,
                             std::uint32_t page_size, std::uint64_t original_size)
    : env_(env),
      path_(JournalPath(real_path)),
      page_size_(page_size),
      original_size_(original_size),
      size_after_(original_size),
      nonce_(RandomNonce()),
      sum_(nonce_),
      end_(kCurrent.records_start),
      sealed_(kCurrent.records_start),
      block_start_(kCurrent.records_start) {
  static_assert(kCurrent.records_start % os::File::kBlockAlignment == 0);
  file_ = env_.CreateExclusive(path_, database.Access());
  buffer_.reset(new (std::align_val_t{os::File::kBlockAlignment}) std::uint8_t[kBufferSize]);
  // Both header copies, vouching for no record, are on disk before any record is written:
  // a journal without a valid copy can then only be one whose creation never finished,
  // all zeros and no longer than this.
  std::vector<std::uint8_t> start(kCurrent.records_start, 0);
  sequence_ = 1;
  HeaderCopy h{.page_size = page_size_, .original_size = original_size_, .nonce = nonce_, .sequence = sequence_,
               .size_after = size_after_};
  FormatHeader(start.data(), h);
  FormatHeader(start.data() + kCurrent.second_header, h);
  try {
    file_->WriteAt(0, start.data(), start.size());
    file_->Sync();
    env_.SyncFolder(os::FolderOf(path_));
  } catch (const Error&) {
    // Nothing relied on it yet; the next statement must find the path free again.
    file_.reset();
    try {
      env_.Remove(path_);
    } catch (const Error&) {
    }
    throw;
  }
  // Records are written once and read back only to undo a statement.
  file_->WriteAroundCache();
}

JournalWriter::~JournalWriter() = default;

void JournalWriter::Append(std::uint32_t tag, const std::uint8_t* body, std::size_t n) {
  std::size_t record = 4 + n + kChecksumSize;
  if (used_ + record > kBufferSize) FlushBuffer();
  std::uint8_t* at = buffer_.get() + used_;
  Put32(at, tag);
  std::memcpy(at + 4, body, n);
  Put64(at + 4 + n, sum_(at, 4 + n));
  used_ += record;
}

void JournalWriter::Add(std::uint32_t page_number, const std::uint8_t* stored) {
  Append(page_number | (kOriginal << 24), stored, page_size_);
}

void JournalWriter::AddWritten(std::uint32_t page_number, const std::uint8_t* stored) {
  // A checksum per sector: after a power loss a page may hold some sectors of this version
  // and some of another, and playback must still recognise it as this statement's.
  std::uint8_t sums[4096 / kSector * kChecksumSize];
  const std::size_t sectors = kCurrent.Sectors(page_size_);
  for (std::size_t s = 0; s < sectors; ++s)
    Put64(sums + s * kChecksumSize, sum_(stored + s * kSector, kSector));
  Append(page_number | (kWritten << 24), sums, sectors * kChecksumSize);
}

std::uint64_t JournalWriter::pending_bytes() const {
  const std::uint64_t whole = block_start_ + WholeBlocks(used_);
  return whole > file_->Size() ? whole - file_->Size() : 0;
}

void JournalWriter::FlushBuffer() {
  if (used_ == kept_) return;
  const std::size_t blocks = WholeBlocks(used_);
  std::memset(buffer_.get() + used_, 0, blocks - used_);
  file_->WriteAt(block_start_, buffer_.get(), blocks);
  end_ = block_start_ + used_;
  // The last block, when not full, is written again with the records that follow.
  const std::size_t whole = used_ / os::File::kBlockAlignment * os::File::kBlockAlignment;
  std::memmove(buffer_.get(), buffer_.get() + whole, used_ - whole);
  block_start_ += whole;
  used_ -= whole;
  kept_ = used_;
}

void JournalWriter::WriteHeader() {
  std::uint8_t h[kHeaderSize];
  FormatHeader(h, {.page_size = page_size_, .original_size = original_size_, .nonce = nonce_,
                   .sequence = sequence_, .records = end_ - kCurrent.records_start, .size_after = size_after_});
  // Over the older copy, which lies in another sector than the newer one.
  file_->WriteAt(sequence_ % 2 == 0 ? 0 : kCurrent.second_header, h, sizeof h);
}

void JournalWriter::Seal(std::uint64_t size_after) {
  FlushBuffer();
  file_->Sync();
  ++sequence_;
  size_after_ = std::max(size_after_, size_after);
  WriteHeader();
  file_->Sync();
  sealed_ = end_;
}

void JournalWriter::ForEachSealed(const std::function<void(std::uint32_t, const std::uint8_t*)>& visit) {
  if (!file_) throw Error(ErrorCode::Io, "The journal '" + path_ + "' has already been removed");
  std::vector<std::uint8_t> r(4 + page_size_ + kChecksumSize);
  for (std::uint64_t at = kCurrent.records_start; at < sealed_;) {
    if (file_->ReadAt(at, r.data(), 4) != 4)
      throw Error(ErrorCode::Io, "The journal '" + path_ + "' is shorter than what was written to it");
    std::uint32_t tag = Load32(r.data());
    std::size_t body = (tag >> 24) == kOriginal ? page_size_ : kCurrent.WrittenBody(page_size_);
    std::size_t record = 4 + body + kChecksumSize;
    if ((tag >> 24) == kOriginal) {
      if (file_->ReadAt(at, r.data(), record) != record)
        throw Error(ErrorCode::Io, "The journal '" + path_ + "' is shorter than what was written to it");
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

}  // namespace jet
