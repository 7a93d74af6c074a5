#include "jet/format/index_page.h"

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

  const std::size_t pointer_size = p.leaf ? 4 : 8;
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
    entry.data_page = e.BigU24(key_size);
    entry.data_row = e.U8(key_size + 3);
    if (!p.leaf) entry.child_page = e.BigU32(key_size + 4);
    entry.key = bytes.substr(0, key_size);
    p.entries.push_back(std::move(entry));
    start = end;
  }
  return p;
}

}  // namespace jet
