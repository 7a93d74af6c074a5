#include "jet/pager/transaction.h"

#include <algorithm>
#include <string>

#include "jet/env.h"

namespace jet {

Transaction::Transaction(Pager& pager)
    : pager_(&pager), original_pages_(pager.page_count_), original_size_(pager.file_->Size()) {
  if (!pager.writable())
    throw Error(ErrorCode::ReadOnly, "Database '" + pager.path() + "' is open for reading only");
  if (pager.transaction_ != nullptr)
    throw Error(ErrorCode::Io, "Database '" + pager.path() + "' is already being changed by another statement");
  pager.transaction_ = this;
}

Transaction::~Transaction() {
  if (!finished_) {
    try {
      Rollback();
    } catch (const Error&) {
    }
  }
  Finish();
}

void Transaction::Finish() {
  finished_ = true;
  if (pager_->transaction_ == this) pager_->transaction_ = nullptr;
}

PageRef Transaction::Changed(std::uint32_t page_number) const {
  auto it = dirty_.find(page_number);
  return it == dirty_.end() ? PageRef() : PageRef(it->second);
}

void Transaction::Journal(std::uint32_t page_number, const PageData& current) {
  if (page_number >= original_pages_) return;
  if (journaled_.empty()) journaled_.assign(original_pages_, false);
  if (journaled_[page_number]) return;
  StartJournal();
  if (pager_->header().database_key == 0) {
    // Not yet changed by this statement, so what the pager read is what the file holds.
    journal_->Add(page_number, current.data());
  } else {
    PageData stored(pager_->page_size());
    std::uint64_t offset = static_cast<std::uint64_t>(page_number) * pager_->page_size();
    if (pager_->file_->ReadAt(offset, stored.data(), stored.size()) != stored.size())
      ThrowCorrupt("page " + std::to_string(page_number) + " is cut short");
    journal_->Add(page_number, stored.data());
  }
  journaled_[page_number] = true;
}

std::vector<std::uint8_t>& Transaction::Write(std::uint32_t page_number) {
  if (finished_) throw Error(ErrorCode::Io, "Database '" + pager_->path() + "': the statement has ended");
  auto it = dirty_.find(page_number);
  if (it != dirty_.end()) return *it->second;
  if (page_number == 0)
    throw Error(ErrorCode::Unsupported, "Database '" + pager_->path() + "': the header page cannot be changed");
  if (spilling_) Release();
  PageRef current = pager_->Read(page_number);  // checks the page exists
  Journal(page_number, *current);
  pager_->Forget(page_number);
  // The cache's buffer becomes the statement's version when no reader holds it any more.
  auto version = current.use_count() == 1 ? std::const_pointer_cast<PageData>(std::move(current))
                                          : std::make_shared<PageData>(*current);
  return *dirty_.emplace(page_number, std::move(version)).first->second;
}

std::uint32_t Transaction::Allocate() {
  if (finished_) throw Error(ErrorCode::Io, "Database '" + pager_->path() + "': the statement has ended");
  // Jet addresses at most 1 GiB of a Jet 3 file and 2 GiB of a Jet 4 file.
  const std::uint64_t limit = pager_->version() == JetVersion::Jet3 ? std::uint64_t{1} << 30 : std::uint64_t{2} << 30;
  if ((static_cast<std::uint64_t>(pager_->page_count_) + 1) * pager_->page_size() > limit)
    throw Error(ErrorCode::Io, "Database '" + pager_->path() + "' cannot grow past " +
                                   (pager_->version() == JetVersion::Jet3 ? "1 GiB, the most a Jet 3" : "2 GiB, the most a Jet 4") +
                                   " file can hold; the statement was not carried out");
  if (spilling_) Release();
  StartJournal();
  std::uint32_t number = pager_->page_count_++;
  allocated_.push_back(number);
  dirty_[number] = std::make_shared<PageData>(pager_->page_size(), 0);
  return number;
}

void Transaction::Free(std::uint32_t page_number) {
  // Jet leaves unused pages where they are until the database is compacted; nothing
  // refers to the page any more, so it simply stays unreferenced.
  (void)page_number;
}

void Transaction::StartJournal() {
  if (journal_) return;
  CheckFreeSpace(JournalWriter::kCreatedSize);
  journal_ = std::make_unique<JournalWriter>(pager_->env(), pager_->real_path(), *pager_->file_, pager_->page_size(),
                                             original_size_);
}

void Transaction::CheckFreeSpace(std::uint64_t needed) {
  const std::string folder = os::FolderOf(pager_->real_path());
  const std::uint64_t free = pager_->env().FreeSpace(folder);
  if (free < needed)
    throw Error(ErrorCode::Io, "Not enough free space in folder '" + folder + "' to change database '" +
                                   pager_->path() + "': " + std::to_string(needed) + " bytes are needed, " +
                                   std::to_string(free) + " are free");
}

void Transaction::WriteOut() {
  if (dirty_.empty()) return;
  StartJournal();
  std::vector<std::uint32_t> numbers;
  numbers.reserve(dirty_.size());
  for (const auto& [n, page] : dirty_) numbers.push_back(n);
  std::sort(numbers.begin(), numbers.end());
  const std::uint32_t key = pager_->header().database_key;
  const std::size_t page_size = pager_->page_size();

  // The journal vouches for every version written, so that a later opening can tell
  // this statement's pages from another program's.
  PageData stored;
  for (std::uint32_t n : numbers) {
    const PageData& page = *dirty_[n];
    if (key == 0) {
      journal_->AddWritten(n, page.data());
    } else {
      stored = page;
      CryptPage(key, n, stored.data(), page_size);
      journal_->AddWritten(n, stored.data());
    }
  }
  os::File& file = *pager_->file_;
  const std::uint64_t size_after =
      std::max(file.Size(), (static_cast<std::uint64_t>(numbers.back()) + 1) * page_size);
  // Fail before anything is written when the folder cannot take what is about to go there.
  CheckFreeSpace(journal_->pending_bytes() + (size_after - file.Size()));
  journal_->Seal(size_after);
  // Neighbouring pages go out in one write, up to a run of this many.
  constexpr std::size_t kRun = 64;
  std::vector<std::uint8_t> run;
  run.reserve(kRun * page_size);
  std::uint32_t first = 0;
  auto flush = [&] {
    if (run.empty()) return;
    touched_ = true;
    pager_->file_->WriteAt(static_cast<std::uint64_t>(first) * page_size, run.data(), run.size());
    run.clear();
  };
  for (std::uint32_t n : numbers) {
    if (!run.empty() && (n != first + run.size() / page_size || run.size() == kRun * page_size)) flush();
    if (run.empty()) first = n;
    const PageData& page = *dirty_[n];
    std::size_t at = run.size();
    run.insert(run.end(), page.begin(), page.end());
    if (key != 0) CryptPage(key, n, run.data() + at, page_size);
  }
  flush();
  dirty_.clear();
}

void Transaction::Release() {
  if (dirty_.size() * pager_->page_size() > budget_) WriteOut();
}

void Transaction::Commit() {
  if (finished_) throw Error(ErrorCode::Io, "Database '" + pager_->path() + "': the statement has ended");
  if (!dirty_.empty() || touched_) {
    WriteOut();
    pager_->file_->Sync();
  }
  if (journal_) {
    journal_->Remove();
    journal_.reset();
  }
  Finish();
}

void Transaction::Rollback() {
  dirty_.clear();
  pager_->page_count_ = original_pages_;
  pager_->ForgetAll();
  if (touched_) {
    os::File& file = *pager_->file_;
    const std::uint32_t page_size = pager_->page_size();
    // Only what the journal's header vouches for: every page that reached the file was
    // journaled and sealed first, and records never made durable were never relied on
    // (writing them now could meet the same full disk).
    journal_->ForEachSealed([&](std::uint32_t n, const std::uint8_t* stored) {
      file.WriteAt(static_cast<std::uint64_t>(n) * page_size, stored, page_size);
    });
    if (file.Size() != original_size_) {
      file.Truncate(original_size_);
    }
    file.Sync();
    touched_ = false;
  }
  if (journal_) {
    journal_->Remove();
    journal_.reset();
  }
  Finish();
}

}  // namespace jet
