#pragma once
// Changing pages inside one statement. The pager's transaction implements it: the first
// write to a page journals its original, so that a failed or interrupted statement
// leaves the file as it was. The index and table layers change pages only through it.

#include <cstdint>
#include <vector>

#include "jet/format/format.h"
#include "jet/pager/pager.h"

namespace jet {

class PageEditor {
 public:
  virtual ~PageEditor() = default;
  virtual const Format& format() const = 0;
  // The page as the statement currently sees it (its own changes included).
  virtual PageRef Read(std::uint32_t page_number) = 0;
  // A writable copy of the page, journaled before the first change, written back (encrypted
  // where the database is) when the statement commits. The reference stays valid until the
  // statement ends, unless the editor writes changed pages out early to stay within its
  // memory (Transaction::Release, Transaction::Spilling): then it ends at the next Write or
  // Allocate. Code that may run so uses it at once and calls Write again for the page.
  virtual std::vector<std::uint8_t>& Write(std::uint32_t page_number) = 0;
  // A new zeroed page at the end of the file (or a free page reused); its number.
  virtual std::uint32_t Allocate() = 0;
  // The page is no longer used by anything.
  virtual void Free(std::uint32_t page_number) = 0;
};

}  // namespace jet
