#pragma once
// The rollback journal of a statement, kept beside the database as "<file>-journal".
// Before a page of the database changes on disk, its original bytes (as stored, that is
// encrypted where the database is) are in the journal and the journal is on disk; a
// statement that does not finish is undone by writing them back.
//
// Layout (numbers little endian):
//   two header copies, 64 bytes each, at offsets 0 and 64:
//     0  magic "ScxJetJ\x01"        8 bytes
//     8  layout version (1)          4
//    12  page size                   4
//    16  database size before        8   (pages added later are cut off again)
//    24  nonce                       8   (random per journal)
//    32  sequence                    8   (which copy is newer)
//    40  records the copy vouches for 4
//    44  zero                        4
//    48  checksum of bytes 0..47     8
//    56  zero                        8
//   records from offset 512: page number (4), the page (page size), checksum (8) over
//   the nonce, the page number and the page.
//
// Records are appended and synced first; then a header copy counting them is written
// over the older copy and synced; only then may database pages be written. So a torn
// header write always leaves the other copy intact, and a journal with no valid copy
// was never relied on: the database was not touched and the journal is removed.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jet/os/file.h"

namespace jet {

inline std::string JournalPath(const std::string& database_path) { return database_path + "-journal"; }

class JournalWriter {
 public:
  // Creates (or empties) the journal of the database at `database_path`.
  JournalWriter(const std::string& database_path, std::uint32_t page_size, std::uint64_t original_size);
  ~JournalWriter();
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  const std::string& path() const { return path_; }
  std::uint64_t original_size() const { return original_size_; }
  // Records the original of a page (`page_size` bytes, as stored).
  void Add(std::uint32_t page_number, const std::uint8_t* stored);
  std::uint32_t count() const { return count_; }
  // Makes every record added so far durable, then a header that vouches for them.
  void Seal();
  // Every record added, in order (for undoing a statement in this process).
  void ForEach(const std::function<void(std::uint32_t page_number, const std::uint8_t* stored)>& visit);
  // Closes and removes the journal; durable once this returns.
  void Remove();

 private:
  void FlushBuffer();
  void WriteHeader();

  std::string path_;
  std::unique_ptr<os::File> file_;
  std::uint32_t page_size_;
  std::uint64_t original_size_;
  std::uint64_t nonce_;
  std::uint64_t sequence_ = 0;
  std::uint32_t count_ = 0;       // records added
  std::uint64_t end_;             // where the next record goes in the file
  std::vector<std::uint8_t> buffer_;
  bool folder_synced_ = false;
};

// Plays back a journal left by a statement that did not finish: restores the pages its
// valid header vouches for, cuts the database back to its size before, syncs it and
// removes the journal. A journal without a valid header is removed unread. `database`
// must be open for writing and locked exclusively. Returns whether a journal was there.
// Throws jet::Error: Corrupt when a record the header vouches for is damaged (the
// journal is left in place), Io.
bool PlayBackJournal(os::File& database);

}  // namespace jet
