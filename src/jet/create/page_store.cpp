#include "jet/create/page_store.h"

#include "jet/error.h"

namespace jet::create {

PageRef PageStore::Read(std::uint32_t page_number) {
  if (page_number >= pages_.size())
    ThrowCorrupt("page " + std::to_string(page_number) + " lies past the end of the new file");
  return pages_[page_number];
}

std::vector<std::uint8_t>& PageStore::Write(std::uint32_t page_number) {
  if (page_number >= pages_.size())
    ThrowCorrupt("page " + std::to_string(page_number) + " lies past the end of the new file");
  return *pages_[page_number];
}

std::uint32_t PageStore::Allocate() {
  // A Jet 4 file holds at most 2 GiB.
  if ((pages_.size() + 1) * kJet4Format.page_size > (std::size_t{2} << 30)) {
    throw Error(ErrorCode::Unsupported, "The database would grow past 2 GiB, the most a Jet 4 file can hold");
  }
  pages_.push_back(std::make_shared<PageData>(kJet4Format.page_size, 0));
  return static_cast<std::uint32_t>(pages_.size() - 1);
}

void PageStore::Free(std::uint32_t page_number) {
  throw Error(ErrorCode::Unsupported, "A new file frees no page (page " + std::to_string(page_number) + ")");
}

void PageStore::Save(os::Env& env, const std::string& path) const {
  std::unique_ptr<os::File> file = env.Create(path);
  std::uint64_t at = 0;
  for (const auto& page : pages_) {
    file->WriteAt(at, page->data(), page->size());
    at += page->size();
  }
}

}  // namespace jet::create
