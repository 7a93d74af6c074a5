#include "jet/format/index_page.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace jet {

IndexPage ParseIndexPage(ByteView v, std::uint32_t number, const Format& f) {
  auto where = [&] { return "index page " + std::to_string(number); };
  IndexPage p;
  std::uint8_t type = v.U8(0);
  if (type != static_cast<std::uint8_t>(PageType::IndexLeaf) && type != static_cast<std::uint8_t>(PageType::IndexNode))
    ThrowCorrupt("page " + std::to_string(number) + " should be an index page but has type " + std::to_string(type));
  p.leaf = type == static_cast<std::uint8_t>(PageType::IndexLeaf);
  p.owner = v.U32(4);
  p.prev_page = v.U32(f.index_prev_page);
  p.next_page = v.U32(f.index_next_page);
  p.tail_page = v.U32(f.index_tail_page);
  p.prefix_length = f.index_prefix_length_size == 1 ? v.U8(f.index_prefix_length) : v.U16(f.index_prefix_length);

  const std::size_t pointer_size = IndexPointerSize(p.leaf);
  const std::size_t bitmap_bytes = f.index_entries - f.index_bitmap;
  std::size_t start = f.index_entries;
  std::string prefix;
  bool first = true;
  for (std::size_t i = 0; i < bitmap_bytes * 8; ++i) {
    if ((v.U8(f.index_bitmap + i / 8) & (1u << (i % 8))) == 0) continue;
    std::size_t end = f.index_entries + i;
    if (end <= start || end > v.size()) ThrowCorrupt(where() + " has an entry outside the page");
    ByteView raw = v.Sub(start, end - start);
    std::string bytes;
    if (first) {
      if (p.prefix_length > raw.size()) ThrowCorrupt(where() + " shares a prefix longer than its first entry");
      prefix = raw.Sub(0, p.prefix_length).Str();
      bytes = raw.Str();
      first = false;
    } else {
      bytes = prefix + raw.Str();
    }
    if (bytes.size() < pointer_size + 1) ThrowCorrupt(where() + " has an entry too short for its key");
    ByteView e(bytes, "index entry");
    IndexEntry entry;
    std::size_t key_size = bytes.size() - pointer_size;
    entry.row = IndexRowIdAt(e.data() + key_size);
    if (!p.leaf) entry.child_page = e.BigU32(key_size + kIndexRowIdSize);
    entry.key = bytes.substr(0, key_size);
    p.entries.push_back(std::move(entry));
    start = end;
  }
  return p;
}

IndexLeafView::IndexLeafView(ByteView v, std::uint32_t number, const Format& f) : page_(v), f_(&f) {
  auto where = [&] { return "index page " + std::to_string(number); };
  if (v.U8(0) != static_cast<std::uint8_t>(PageType::IndexLeaf))
    ThrowCorrupt("page " + std::to_string(number) + " should be an index leaf but has type " + std::to_string(v.U8(0)));
  prefix_ = f.index_prefix_length_size == 1 ? v.U8(f.index_prefix_length) : v.U16(f.index_prefix_length);
  const std::size_t bitmap_bytes = f.index_entries - f.index_bitmap;
  v.Need(f.index_bitmap, bitmap_bytes);
  std::size_t start = f.index_entries;
  ends_.reserve(f.page_size / 8);  // enough for most leaves at once
  for (std::size_t byte = 0; byte < bitmap_bytes; ++byte) {
    for (unsigned bits = v.data()[f.index_bitmap + byte]; bits != 0; bits &= bits - 1) {
      const std::size_t end = f.index_entries + byte * 8 + static_cast<std::size_t>(std::countr_zero(bits));
      if (end <= start || end > v.size()) ThrowCorrupt(where() + " has an entry outside the page");
      if (ends_.empty() && prefix_ > end - start) ThrowCorrupt(where() + " shares a prefix longer than its first entry");
      if (end - start + (ends_.empty() ? 0 : prefix_) < IndexPointerSize(true) + 1)
        ThrowCorrupt(where() + " has an entry too short for its key");
      ends_.push_back(static_cast<std::uint16_t>(end));
      start = end;
    }
  }
}

const std::uint8_t* IndexLeafView::ShortPointer(std::size_t i) const {
  full_ = Stored(i);  // at least five bytes, as the constructor checked
  return reinterpret_cast<const std::uint8_t*>(full_.data() + full_.size() - kIndexRowIdSize);
}

std::string IndexLeafView::Stored(std::size_t i) const {
  std::string s;
  StoredInto(i, &s);
  return s;
}

void IndexLeafView::StoredInto(std::size_t i, std::string* out) const {
  const char* bytes = reinterpret_cast<const char*>(page_.data());
  out->assign(bytes + f_->index_entries, i > 0 ? prefix_ : 0);
  out->append(bytes + Start(i), ends_[i] - Start(i));
}

IndexEntry IndexLeafView::Entry(std::size_t i) const {
  IndexEntry e;
  e.key = Stored(i);
  e.key.resize(e.key.size() - IndexPointerSize(true));
  e.row = row(i);
  return e;
}

void CompactIndexLeaf(const IndexLeafView& leaf, const std::vector<bool>& gone, std::uint8_t* w,
                      std::vector<std::uint8_t>* scratch) {
  const Format& f = *leaf.f_;
  const std::size_t first_start = f.index_entries;
  std::vector<std::uint8_t>& out = *scratch;
  out.clear();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < leaf.size(); ++i) kept += gone[i] ? 0 : 1;
  const std::size_t prefix = kept < 2 ? 0 : leaf.prefix_;
  // The bitmap marks ends relative to the start of the entries; collect them first.
  std::vector<std::uint16_t> ends;
  ends.reserve(kept);
  for (std::size_t i = 0; i < leaf.size(); ++i) {
    if (gone[i]) continue;
    if (ends.empty() && i > 0) out.insert(out.end(), w + first_start, w + first_start + leaf.prefix_);
    out.insert(out.end(), w + leaf.Start(i), w + leaf.ends_[i]);
    ends.push_back(static_cast<std::uint16_t>(out.size()));
  }
  const std::size_t space = f.page_size - f.index_entries;
  if (!out.empty()) std::memcpy(w + first_start, out.data(), out.size());
  std::memset(w + first_start + out.size(), 0, space - out.size());
  std::memset(w + f.index_bitmap, 0, f.index_entries - f.index_bitmap);
  for (std::uint16_t end : ends) w[f.index_bitmap + end / 8] |= static_cast<std::uint8_t>(1u << (end % 8));
  Put16(w + 2, static_cast<std::uint16_t>(space - out.size()));
  if (f.index_prefix_length_size == 1) {
    w[f.index_prefix_length] = static_cast<std::uint8_t>(prefix);
  } else {
    Put16(w + f.index_prefix_length, static_cast<std::uint16_t>(prefix));
  }
}

std::size_t IndexPointerSize(bool leaf) { return leaf ? kIndexRowIdSize : kIndexRowIdSize + 4; }

std::size_t MaxIndexPrefix(const Format& f) { return f.index_prefix_length_size == 1 ? 0xFF : 0xFFFF; }

std::size_t SharedLength(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  return static_cast<std::size_t>(std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin()).first - a.begin());
}

std::string StoredIndexEntry(const IndexEntry& e, bool leaf) {
  std::string s = e.key;
  s.resize(e.key.size() + IndexPointerSize(leaf));
  auto* p = reinterpret_cast<std::uint8_t*>(s.data() + e.key.size());
  PutIndexRowId(p, e.row);
  if (!leaf) PutBigU32(p + kIndexRowIdSize, e.child_page);
  return s;
}

std::size_t IndexEntryBytes(const IndexPage& page) {
  std::size_t total = 0;
  const std::size_t pointer = IndexPointerSize(page.leaf);
  for (std::size_t i = 0; i < page.entries.size(); ++i) {
    total += page.entries[i].key.size() + pointer;
    if (i > 0) total -= std::min<std::size_t>(page.prefix_length, page.entries[i].key.size() + pointer);
  }
  return total;
}

bool IndexPageFits(const IndexPage& page, const Format& format) {
  return IndexEntryBytes(page) <= format.page_size - format.index_entries;
}

std::uint16_t CommonIndexPrefix(const std::vector<IndexEntry>& entries, const Format& format) {
  if (entries.size() < 2) return 0;
  std::size_t prefix = std::min(entries[0].key.size(), MaxIndexPrefix(format));
  for (std::size_t i = 1; i < entries.size() && prefix > 0; ++i)
    prefix = std::min(prefix, SharedLength(entries[0].key, entries[i].key));
  return static_cast<std::uint16_t>(prefix);
}

void EncodeIndexPage(const IndexPage& page, const Format& f, std::uint8_t* out) {
  const std::size_t space = f.page_size - f.index_entries;
  const std::size_t bitmap_bytes = f.index_entries - f.index_bitmap;
  const bool leaf = page.leaf;
  std::string first;
  if (!page.entries.empty()) {
    first = StoredIndexEntry(page.entries[0], leaf);
    if (page.prefix_length > first.size())
      ThrowCorrupt("an index page's shared prefix is longer than its first entry");
  }
  if (page.prefix_length > MaxIndexPrefix(f)) ThrowCorrupt("an index page's shared prefix is too long for its length field");
  const std::size_t used = IndexEntryBytes(page);
  if (used > space)
    ThrowCorrupt("index entries of " + std::to_string(used) + " bytes do not fit one page (" + std::to_string(space) +
                 " bytes)");

  out[0] = static_cast<std::uint8_t>(leaf ? PageType::IndexLeaf : PageType::IndexNode);
  out[1] = 0x01;
  Put16(out + 2, static_cast<std::uint16_t>(space - used));
  Put32(out + 4, page.owner);
  Put32(out + f.index_prev_page, page.prev_page);
  Put32(out + f.index_next_page, page.next_page);
  Put32(out + f.index_tail_page, page.tail_page);
  if (f.index_prefix_length_size == 1) {
    out[f.index_prefix_length] = static_cast<std::uint8_t>(page.prefix_length);
  } else {
    Put16(out + f.index_prefix_length, page.prefix_length);
  }
  // Access sets the byte after the prefix length on node pages and clears it on leaves; a
  // root node that became a leaf must not keep it.
  if (leaf) out[f.index_prefix_length + f.index_prefix_length_size] = 0;
  std::memset(out + f.index_bitmap, 0, bitmap_bytes);
  std::memset(out + f.index_entries, 0, space);

  // Each entry's bytes go to the page as they lie in the entry: the key, then its pointers.
  std::uint8_t* entries = out + f.index_entries;
  std::size_t pos = 0;
  const std::size_t prefix = page.prefix_length, pointer = IndexPointerSize(leaf);
  std::uint8_t pointers[kIndexRowIdSize + 4];
  for (std::size_t i = 0; i < page.entries.size(); ++i) {
    const IndexEntry& e = page.entries[i];
    const std::size_t key = e.key.size();
    PutIndexRowId(pointers, e.row);
    if (!leaf) PutBigU32(pointers + kIndexRowIdSize, e.child_page);
    std::size_t skip = 0;
    if (i > 0) {
      const std::size_t in_key = std::min(prefix, key);
      if (key + pointer <= prefix || std::memcmp(e.key.data(), first.data(), in_key) != 0 ||
          (prefix > key && std::memcmp(pointers, first.data() + key, prefix - key) != 0))
        ThrowCorrupt("an index entry does not share the page's prefix");
      skip = prefix;
    }
    if (skip < key) {
      std::memcpy(entries + pos, e.key.data() + skip, key - skip);
      pos += key - skip;
    }
    const std::size_t from = skip > key ? skip - key : 0;
    std::memcpy(entries + pos, pointers + from, pointer - from);
    pos += pointer - from;
    out[f.index_bitmap + pos / 8] = static_cast<std::uint8_t>(out[f.index_bitmap + pos / 8] | (1u << (pos % 8)));
  }
}

}  // namespace jet
