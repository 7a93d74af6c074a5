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
  // where the database is) by the time the statement commits. The reference lasts until the
  // next Write or Allocate at most, since an editor may then write its changed pages out to
  // stay within its memory (see Transaction::Spilling): use it at once, and call Write
  // again rather than keep it across another page call.
  virtual std::vector<std::uint8_t>& Write(std::uint32_t page_number) = 0;
  // A new zeroed page at the end of the file (or a free page reused); its number.
  virtual std::uint32_t Allocate() = 0;
  // The page is no longer used by anything.
  virtual void Free(std::uint32_t page_number) = 0;
};

}  // namespace jet
