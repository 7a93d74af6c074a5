#pragma once
// Pages of a database file: the header decoded once, every other page read through a
// small cache and decrypted when the database key is set. While a statement changes the
// file (a Transaction), reads see the statement's own changes.

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "jet/env.h"
#include "jet/format/bytes.h"
#include "jet/format/format.h"
#include "jet/format/header.h"
#include "jet/format/text.h"

namespace jet {

using PageData = std::vector<std::uint8_t>;
using PageRef = std::shared_ptr<const PageData>;

inline ByteView ViewOf(const PageRef& page, const char* label = "page") {
  return ByteView(page->data(), page->size(), label);
}

class Transaction;

class Pager {
 public:
  // Decodes the header and checks `password` against the database password (a file
  // without one accepts any). Throws jet::Error: NotJet, Unsupported, Corrupt (truncated),
  // WrongPassword, Io, each naming the file.
  // `env` and `real_path` (the file's path with links resolved) are where the journal
  // of a change is kept; without them changes go through the system's Env beside the
  // path the file was opened by.
  Pager(std::unique_ptr<os::File> file, std::string_view password, os::Env* env = nullptr, std::string real_path = {});

  const std::string& path() const { return file_->Path(); }
  const std::string& real_path() const { return real_path_; }
  os::Env& env() { return *env_; }
  const Format& format() const { return *format_; }
  const Header& header() const { return header_; }
  JetVersion version() const { return format_->version; }
  std::uint32_t page_size() const { return format_->page_size; }
  std::uint32_t page_count() const { return page_count_; }
  TextCodec& text() { return *text_; }

  // A page as the engine sees it (decrypted). Throws FormatError for a page past the end.
  PageRef Read(std::uint32_t page_number);

  // The header page with its encoded region decoded.
  const PageData& header_page() const { return header_page_; }


  bool writable() const { return file_->Writable(); }
  os::File& file() { return *file_; }
  // The statement changing pages, if any.
  Transaction* transaction() const { return transaction_; }

 private:
  friend class Transaction;
  void Forget(std::uint32_t page_number);
  void ForgetAll();
  // Reads page `first` and, up to `most` pages in all, the pages after it that are neither
  // cached nor changed by the statement, in one call; caches them all and returns the first.
  PageRef ReadRun(std::uint32_t first, std::uint32_t most);
  // A buffer holding a copy of `bytes` (a page) about to be cached: the one leaving the
  // cache if nobody holds it.
  std::shared_ptr<PageData> TakeBuffer(const std::uint8_t* bytes);

  std::unique_ptr<os::File> file_;
  os::Env* env_;
  std::string real_path_;
  Transaction* transaction_ = nullptr;
  const Format* format_ = nullptr;
  Header header_;
  PageData header_page_;
  std::uint32_t page_count_ = 0;
  std::unique_ptr<TextCodec> text_;

  std::size_t capacity_ = 512;
  // Pages read at once when a miss follows the previous one's page (a scan): one system
  // call instead of one a page.
  static constexpr std::uint32_t kReadAhead = 16;
  std::uint32_t last_miss_ = 0;
  std::vector<std::uint8_t> run_;  // pages as read, before they are cached
  std::list<std::uint32_t> lru_;  // most recently used first
  struct Cached {
    PageRef page;
    std::list<std::uint32_t>::iterator position;
  };
  std::unordered_map<std::uint32_t, Cached> cache_;
};

}  // namespace jet
