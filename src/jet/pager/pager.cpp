#include "jet/pager/pager.h"

#include <algorithm>

#include "jet/pager/transaction.h"

namespace jet {

Pager::Pager(std::unique_ptr<os::File> file, std::string_view password, os::Env* env, std::string real_path)
    : file_(std::move(file)),
      env_(env != nullptr ? env : &os::Env::Default()),
      real_path_(real_path.empty() ? file_->Path() : std::move(real_path)) {
  const std::string& name = file_->Path();
  std::uint8_t start[0x18] = {};
  std::size_t got = file_->ReadAt(0, start, sizeof start);
  JetVersion version = CheckSignature(ByteView(start, got), name);
  format_ = &FormatFor(version);

  std::uint64_t size = file_->Size();
  if (size < format_->page_size)
    throw Error(ErrorCode::Corrupt, "Database '" + name + "' is truncated: " + std::to_string(size) +
                                        " bytes, less than one page");
  std::uint64_t pages = size / format_->page_size;
  page_count_ = pages > 0xFFFFFFu ? 0xFFFFFFu : static_cast<std::uint32_t>(pages);

  header_page_.resize(format_->page_size);
  if (file_->ReadAt(0, header_page_.data(), header_page_.size()) != header_page_.size())
    throw Error(ErrorCode::Corrupt, "Database '" + name + "' is truncated in its header page");
  ToggleHeaderEncoding(header_page_.data(), header_page_.size(), version);
  header_ = ParseHeader(ByteView(header_page_.data(), header_page_.size(), "header page"), version);
  text_ = std::make_unique<TextCodec>(header_.code_page);

  if (header_.HasPassword() && HeaderPassword(header_, *text_) != password)
    throw Error(ErrorCode::WrongPassword, "The password given for database '" + name + "' is not valid");
}

PageRef Pager::Read(std::uint32_t page_number) {
  if (transaction_ != nullptr) {
    if (PageRef changed = transaction_->Changed(page_number)) return changed;
  }
  auto it = cache_.find(page_number);
  if (it != cache_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second.position);
    return it->second.page;
  }
  if (page_number >= page_count_)
    ThrowCorrupt("page " + std::to_string(page_number) + " lies past the end of the file (" +
                 std::to_string(page_count_) + " pages)");
  // A miss right after the previous one's page is a scan: read ahead.
  const bool sequential = page_number != 0 && page_number == last_miss_ + 1;
  return ReadRun(page_number, sequential ? kReadAhead : 1);
}

std::shared_ptr<PageData> Pager::TakeBuffer(const std::uint8_t* bytes) {
  // The page leaving the cache lends its buffer when nobody else holds it: no allocation.
  // A new buffer is made from the bytes themselves, never zeroed first.
  const std::size_t size = format_->page_size;
  std::shared_ptr<PageData> data;
  if (cache_.size() >= capacity_) {
    auto victim = cache_.find(lru_.back());
    if (victim->second.page.use_count() == 1) data = std::const_pointer_cast<PageData>(std::move(victim->second.page));
    cache_.erase(victim);
    lru_.pop_back();
  }
  if (data && data->size() == size)
    std::copy_n(bytes, size, data->data());
  else
    data = std::make_shared<PageData>(bytes, bytes + size);
  return data;
}

PageRef Pager::ReadRun(std::uint32_t first, std::uint32_t most) {
  const std::size_t size = format_->page_size;
  // The file holds the current version of every page the statement has not changed
  // (pages written out early included), and only those are read ahead.
  std::uint32_t count = 1;
  while (count < most && first + count < page_count_ && cache_.count(first + count) == 0 &&
         (transaction_ == nullptr || !transaction_->Changed(first + count)))
    ++count;
  // Grown only, never shrunk: growing zeroes the new part, which the read overwrites.
  if (run_.size() < std::size_t{count} * size) run_.resize(std::size_t{count} * size);
  const std::size_t got = file_->ReadAt(static_cast<std::uint64_t>(first) * size, run_.data(), std::size_t{count} * size);
  if (got < size) ThrowCorrupt("page " + std::to_string(first) + " is cut short");
  count = static_cast<std::uint32_t>(got / size);
  PageRef ref;
  for (std::uint32_t k = count; k-- > 0;) {
    // The header page as decoded, the others decrypted.
    const bool header = first + k == 0;
    std::shared_ptr<PageData> data = TakeBuffer(header ? header_page_.data() : run_.data() + k * size);
    if (!header && header_.database_key != 0) CryptPage(header_.database_key, first + k, data->data(), size);
    lru_.push_front(first + k);
    cache_.emplace(first + k, Cached{data, lru_.begin()});
    if (k == 0) ref = std::move(data);
  }
  last_miss_ = first + count - 1;
  return ref;
}

void Pager::Forget(std::uint32_t page_number) {
  auto it = cache_.find(page_number);
  if (it == cache_.end()) return;
  lru_.erase(it->second.position);
  cache_.erase(it);
}

void Pager::ForgetAll() {
  cache_.clear();
  lru_.clear();
}

}  // namespace jet
