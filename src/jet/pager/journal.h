#pragma once
// The rollback journal of a statement, kept beside the database's real file (links
// resolved) as "<file>-journal". Before a page of the database changes on disk, its
// original bytes (as stored, that is encrypted where the database is) and a checksum of
// the version about to be written are in the journal, and the journal is on disk; a
// statement that does not finish is undone by writing the originals back.
//
// Layout (numbers little endian):
//   two header copies, 64 bytes each, at offsets 0 and 4096 (in different sectors of 512
//   and of 4096 bytes, so that a torn write of one never touches the other):
//     0  magic "ScxJetJ\x01"        8 bytes
//     8  layout version (3)          4
//    12  page size                   4
//    16  database size before        8   (pages added later are cut off again)
//    24  nonce                       8   (random per journal)
//    32  sequence                    8   (which copy is newer)
//    40  record bytes vouched for    8   (from offset 8192)
//    48  database size after         8   (the most the statement may have grown it to)
//    56  checksum of bytes 0..55     8
//   records from offset 8192, each: tag (4: page number, kind in the top byte), body,
//   checksum (8) over the tag and the body. Kind 0: the body is the page's original.
//   Kind 1: the body is a checksum (8) of each 512-byte sector of a version of the page
//   written to the database. Checksums are XXH3-64 seeded with the nonce (0 for the
//   header): they recognise versions and find damage, nobody forges a journal.
//   Records are written in whole blocks of 4096 bytes, around the system's cache where
//   it allows (a journal is read back only to undo); the last block is padded with zeros
//   that the next write replaces, so the header, not the file's size, says where the
//   records end.
//
// The journal is created with both header copies vouching for no record, synced with its
// folder, before any record is written. Records are appended and synced; then a header
// copy vouching for them is written over the older copy and synced; only then may
// database pages be written. So a torn header write always leaves the other copy intact,
// and a journal without a valid copy is either one whose creation never finished (all
// zeros, no longer than the copies: removed) or damaged (kept, and every opening fails).
//
// Playback restores only a file the journal recognises: of the page size and a size
// between the two recorded, every sector of every page it covers holding either its
// original's bytes or those of a version the statement wrote (a power loss may leave a
// page part old, part new). Anything else means another program changed the file since,
// or the disk damaged it; the journal then changes nothing and both files are kept.
// ForceJournalPlayback is the administrator's way past that refusal.
//
// Playback also reads the previous layout (version 2: header copies at 0 and 64, records
// from 512, SHA-256 checksums, one per version written), so that a journal left by the
// previous release is still undone.

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "jet/crypto/fast_hash.h"
#include "jet/env.h"

namespace jet {

inline std::string JournalPath(const std::string& real_database_path) { return real_database_path + "-journal"; }

class JournalWriter {
 public:
  // Bytes a journal takes when created, before any record.
  static constexpr std::uint64_t kCreatedSize = 8192;

  // Creates the journal of `database` (whose real path is `real_path`); nothing may
  // stand at the journal's path.
  JournalWriter(os::Env& env, const std::string& real_path, const os::File& database, std::uint32_t page_size,
                std::uint64_t original_size);
  ~JournalWriter();
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  const std::string& path() const { return path_; }
  // Records the original of a page (`page_size` bytes, as stored).
  void Add(std::uint32_t page_number, const std::uint8_t* stored);
  // Records the version of a page about to be written to the database.
  void AddWritten(std::uint32_t page_number, const std::uint8_t* stored);
  // Bytes that the next Seal will add to the journal file.
  std::uint64_t pending_bytes() const;
  // Makes every record added so far durable, then a header that vouches for them and for
  // a database of up to `size_after` bytes.
  void Seal(std::uint64_t size_after);
  // The originals the last header vouches for, in order (for undoing a statement in this
  // process): records never made durable were never relied on.
  void ForEachSealed(const std::function<void(std::uint32_t page_number, const std::uint8_t* stored)>& visit);
  // Closes and removes the journal; durable once this returns.
  void Remove();

 private:
  void Append(std::uint32_t tag, const std::uint8_t* body, std::size_t n);
  void FlushBuffer();
  void WriteHeader();

  os::Env& env_;
  std::string path_;
  std::unique_ptr<os::File> file_;
  std::uint32_t page_size_;
  std::uint64_t original_size_;
  std::uint64_t size_after_;
  std::uint64_t nonce_;
  crypto::FastHasher sum_;  // the records' checksum, seeded with the nonce
  std::uint64_t sequence_ = 0;
  std::uint64_t end_;      // end of the records written to the file
  std::uint64_t sealed_;   // end of the records the header vouches for
  // Records not yet written, after the bytes already written of the block they start in
  // (`kept_` of them): the buffer is written in whole blocks from `block_start_`, so that
  // the system can take it around its cache; the last block's rest is zeros until the
  // next write fills it.
  struct BlockFree {
    void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{os::File::kBlockAlignment}); }
  };
  std::unique_ptr<std::uint8_t[], BlockFree> buffer_;
  std::size_t used_ = 0;  // bytes in the buffer
  std::uint64_t block_start_;
  std::size_t kept_ = 0;
};

// Plays back a journal left by a statement that did not finish: restores the pages its
// valid header vouches for, cuts the database back to its size before, syncs it and
// removes the journal. A journal without a valid header is removed unread only when its
// creation never finished. `database`
// (real path `real_path`, pages of `page_size`) must be open for writing and locked
// exclusively. Returns whether a journal was there. Throws jet::Error, each naming both
// files and leaving both as they were: Corrupt when a record the header vouches for is
// damaged or the file no longer is the one the journal was written for, Io when
// something other than a file stands at the journal's path or a call fails.
bool PlayBackJournal(os::Env& env, const std::string& real_path, os::File& database, std::uint32_t page_size);

// For an administrator, once playback refused because the database holds what neither
// the interrupted statement nor the original wrote: checks that the journal itself is
// intact (headers, record checksums, page size), keeps a synced copy of both files at
// "<database>.before-restore" and "<journal>.before-restore" (never over anything), then
// writes back every original whatever the database holds, cuts it to its size before,
// syncs it and removes the journal. Throws jet::Error, changing nothing in the database:
// FileNotFound without a journal, Corrupt for a damaged journal, Io when a copy cannot be
// made.
struct JournalCopies {
  std::string database, journal;
};
JournalCopies ForceJournalPlayback(os::Env& env, const std::string& real_path, os::File& database,
                                   std::uint32_t page_size);

// Throws jet::Error(Io) naming the object when something other than a regular file
// stands at the journal's path of the database at `real_path`; returns whether a
// journal is there.
bool JournalPresent(os::Env& env, const std::string& real_path);

}  // namespace jet
