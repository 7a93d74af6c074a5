#pragma once
// The pages of a new file, held in memory until it is saved, behind the same PageEditor
// through which statements change a file: new files get their rows, long values, usage
// maps and index pages from the statement's own page editors.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/env.h"
#include "jet/format/format.h"
#include "jet/pager/page_editor.h"

namespace jet::create {

class PageStore : public PageEditor {
 public:
  const Format& format() const override { return kJet4Format; }
  // Throws FormatError for a page not yet allocated.
  PageRef Read(std::uint32_t page_number) override;
  std::vector<std::uint8_t>& Write(std::uint32_t page_number) override;
  // A new zeroed page at the end. Throws jet::Error(Unsupported) past Jet's 2 GiB.
  std::uint32_t Allocate() override;
  // A new file frees nothing; throws jet::Error(Unsupported).
  void Free(std::uint32_t page_number) override;

  std::uint32_t Count() const { return static_cast<std::uint32_t>(pages_.size()); }
  // Writes every page to `path` through `env` (replacing it). Throws jet::Error (Io)
  // naming the file.
  void Save(os::Env& env, const std::string& path) const;

 private:
  std::vector<std::shared_ptr<PageData>> pages_;
};

}  // namespace jet::create
