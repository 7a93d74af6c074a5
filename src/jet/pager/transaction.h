#pragma once
// One statement's changes to a database file, all or nothing.
//
// The first change of a page records its original (as stored) in the rollback journal.
// Changed pages stay in memory until the statement commits, or until they take more
// than the memory budget: then the journal is made durable and the pages are written to
// the database early, which the journal makes safe. Commit writes the remaining pages,
// syncs the database and removes the journal. Rollback drops the pages in memory and,
// when some already reached the file, writes the originals back and cuts off pages
// added at the end.

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "jet/pager/journal.h"
#include "jet/pager/page_editor.h"
#include "jet/pager/pager.h"

namespace jet {

class Transaction : public PageEditor {
 public:
  // Throws jet::Error(ReadOnly) when the pager's file is open for reading only.
  explicit Transaction(Pager& pager);
  // Rolls back whatever was not committed (errors are swallowed: a journal left behind
  // is played back when the database is next opened).
  ~Transaction() override;
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  const Format& format() const override { return pager_->format(); }
  PageRef Read(std::uint32_t page_number) override { return pager_->Read(page_number); }
  std::vector<std::uint8_t>& Write(std::uint32_t page_number) override;
  std::uint32_t Allocate() override;
  void Free(std::uint32_t page_number) override;

  // Writes changed pages out early when they take more memory than the budget. Only
  // between operations: references from Write end here.
  void Release();

  // While one lives, Write and Allocate themselves write the changed pages out first when
  // they take more memory than the budget, so that a pass over more pages than memory
  // should hold stays within it (what PageEditor::Write's contract allows).
  class Spilling {
   public:
    explicit Spilling(Transaction& txn) : txn_(txn), before_(txn.spilling_) { txn_.spilling_ = true; }
    ~Spilling() { txn_.spilling_ = before_; }
    Spilling(const Spilling&) = delete;
    Spilling& operator=(const Spilling&) = delete;

   private:
    Transaction& txn_;
    bool before_;
  };

  void Commit();
  // Leaves the file as it was before the statement. Throws jet::Error(Io) when the file
  // cannot be restored; the journal then stays for the next opening to play back.
  void Rollback();

  // Pages added at the end of the file by this statement, in order.
  const std::vector<std::uint32_t>& allocated() const { return allocated_; }
  void set_memory_budget(std::size_t bytes) { budget_ = bytes; }

  // The statement's own version of a page, or null (for Pager::Read).
  PageRef Changed(std::uint32_t page_number) const;

 private:
  void Journal(std::uint32_t page_number, const PageData& current);
  void StartJournal();
  // Throws jet::Error(Io) naming the folder when it has less than `needed` bytes free.
  void CheckFreeSpace(std::uint64_t needed);
  void WriteOut();
  void Finish();

  Pager* pager_;
  std::uint32_t original_pages_;
  std::uint64_t original_size_;
  std::unordered_map<std::uint32_t, std::shared_ptr<PageData>> dirty_;
  std::vector<bool> journaled_;  // per original page
  std::vector<std::uint32_t> allocated_;
  std::unique_ptr<JournalWriter> journal_;
  std::size_t budget_ = 16u << 20;
  bool spilling_ = false;
  bool touched_ = false;  // some page reached the database file
  bool finished_ = false;
};

}  // namespace jet
