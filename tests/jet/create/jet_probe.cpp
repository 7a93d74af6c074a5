#include "jet_probe.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace jet_probe {
namespace {

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) { return U16(p) | (static_cast<std::uint32_t>(U16(p + 2)) << 16); }
std::uint32_t U32BE(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

void AppendUtf8(std::string* out, unsigned c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xc0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
  } else {
    out->push_back(static_cast<char>(0xe0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
  }
}

std::string TextToUtf8(const std::string& stored) {
  std::string out;
  auto p = reinterpret_cast<const std::uint8_t*>(stored.data());
  if (stored.size() >= 2 && p[0] == 0xff && p[1] == 0xfe) {
    bool compressed = true;
    for (std::size_t i = 2; i < stored.size();) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        AppendUtf8(&out, p[i++]);
      } else {
        if (i + 1 >= stored.size()) break;
        AppendUtf8(&out, U16(p + i));
        i += 2;
      }
    }
    return out;
  }
  for (std::size_t i = 0; i + 1 < stored.size(); i += 2) AppendUtf8(&out, U16(p + i));
  return out;
}

std::string Ucs2Name(const std::uint8_t* p, std::size_t bytes) {
  std::string raw(reinterpret_cast<const char*>(p), bytes);
  return TextToUtf8(raw);
}

}  // namespace

File::File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::ostringstream s;
  s << in.rdbuf();
  data_ = s.str();
  if (data_.size() < 4096 * 3 || data_.size() % 4096 != 0) throw std::runtime_error("not a Jet 4 file: " + path);
}

const std::uint8_t* File::Page(std::uint32_t n) const {
  if (n >= PageCount()) throw std::runtime_error("page " + std::to_string(n) + " is beyond the file");
  return reinterpret_cast<const std::uint8_t*>(data_.data()) + static_cast<std::size_t>(n) * 4096;
}

TableDef File::Definition(std::uint32_t tdef_page) const {
  std::string b;
  std::uint32_t page = tdef_page;
  bool first = true;
  while (page != 0) {
    const std::uint8_t* p = Page(page);
    if (p[0] != 0x02) throw std::runtime_error("page " + std::to_string(page) + " is not a table definition");
    b.append(reinterpret_cast<const char*>(p) + (first ? 0 : 8), first ? 4096 : 4088);
    first = false;
    page = U32(p + 4);
  }
  auto d = reinterpret_cast<const std::uint8_t*>(b.data());
  TableDef t;
  t.page = tdef_page;
  t.rows = U32(d + 16);
  t.autonumber = U32(d + 20);
  t.type = d[40];
  t.var_count = U16(d + 43);
  int ncols = U16(d + 45);
  int nlogical = static_cast<int>(U32(d + 47));
  int nreal = static_cast<int>(U32(d + 51));
  t.used_map = U32(d + 55);
  std::size_t o = 63 + 12 * static_cast<std::size_t>(nreal);
  for (int k = 0; k < ncols; ++k, o += 25) {
    Column c;
    c.type = d[o];
    c.number = U16(d + o + 5);
    c.var_index = U16(d + o + 7);
    c.fixed = (d[o + 15] & 0x01) != 0;
    c.fixed_offset = U16(d + o + 21);
    c.length = U16(d + o + 23);
    t.columns.push_back(c);
  }
  for (int k = 0; k < ncols; ++k) {
    std::size_t len = U16(d + o);
    t.columns[static_cast<std::size_t>(k)].name = Ucs2Name(d + o + 2, len);
    o += 2 + len;
  }
  for (int k = 0; k < nreal; ++k, o += 52) {
    RealIndex r;
    for (int c = 0; c < 10; ++c) {
      std::uint16_t num = U16(d + o + 4 + 3 * c);
      if (num != 0xffff) r.columns.emplace_back(num, d[o + 6 + 3 * c] == 0x01);
    }
    r.used_map = U32(d + o + 34);
    r.root = U32(d + o + 38);
    r.flags = d[o + 46];
    t.real.push_back(r);
  }
  for (int k = 0; k < nlogical; ++k, o += 28) {
    LogicalIndex l;
    l.number = static_cast<int>(U32(d + o + 4));
    l.real = static_cast<int>(U32(d + o + 8));
    l.related_kind = d[o + 12];
    l.related_index = static_cast<int>(U32(d + o + 13));
    l.related_tdef = U32(d + o + 17);
    l.kind = d[o + 23];
    t.logical.push_back(l);
  }
  for (int k = 0; k < nlogical; ++k) {
    std::size_t len = U16(d + o);
    t.logical[static_cast<std::size_t>(k)].name = Ucs2Name(d + o + 2, len);
    o += 2 + len;
  }
  return t;
}

std::string File::RowBytes(std::uint32_t page, int slot) const {
  const std::uint8_t* p = Page(page);
  int count = U16(p + 12);
  if (slot < 0 || slot >= count) throw std::runtime_error("no slot " + std::to_string(slot));
  std::size_t start = U16(p + 14 + 2 * slot) & 0x1fff;
  std::size_t end = slot == 0 ? 4096 : (U16(p + 14 + 2 * (slot - 1)) & 0x1fff);
  return std::string(reinterpret_cast<const char*>(p) + start, end - start);
}

std::vector<std::uint32_t> File::MapPages(std::uint32_t pointer) const {
  std::string row = RowBytes(pointer >> 8, static_cast<int>(pointer & 0xff));
  auto r = reinterpret_cast<const std::uint8_t*>(row.data());
  std::vector<std::uint32_t> pages;
  if (r[0] == 0x00) {
    std::uint32_t start = U32(r + 1);
    for (std::size_t bit = 0; bit < (row.size() - 5) * 8; ++bit) {
      if (r[5 + bit / 8] & (1u << (bit % 8))) pages.push_back(start + static_cast<std::uint32_t>(bit));
    }
  } else {
    for (std::size_t k = 0; 1 + 4 * k + 4 <= row.size(); ++k) {
      std::uint32_t map_page = U32(r + 1 + 4 * k);
      if (map_page == 0) continue;
      const std::uint8_t* m = Page(map_page);
      if (m[0] != 0x05) throw std::runtime_error("usage map points to a page that is no bitmap");
      for (std::uint32_t bit = 0; bit < 4092 * 8; ++bit) {
        if (m[4 + bit / 8] & (1u << (bit % 8))) pages.push_back(static_cast<std::uint32_t>(k) * 4092 * 8 + bit);
      }
    }
  }
  return pages;
}

std::uint32_t File::TablePage(const std::string& name) const {
  TableDef objects = Definition(2);
  for (const StoredRow& row : Rows(objects)) {
    if (Decode(objects, row, "Name") == name && Decode(objects, row, "Type") == "1") {
      return static_cast<std::uint32_t>(std::stoll(*Decode(objects, row, "Id")) & 0xffffff);
    }
  }
  throw std::runtime_error("no table " + name);
}

std::vector<StoredRow> File::Rows(const TableDef& t) const {
  std::vector<StoredRow> rows;
  for (std::uint32_t page : MapPages(t.used_map)) {
    const std::uint8_t* p = Page(page);
    if (p[0] != 0x01 || U32(p + 4) != t.page) throw std::runtime_error("table map lists a foreign page");
    int count = U16(p + 12);
    for (int s = 0; s < count; ++s) rows.push_back({page, s, RowBytes(page, s)});
  }
  return rows;
}

Field File::Decode(const TableDef& t, const StoredRow& row, const std::string& column) const {
  const Column* c = nullptr;
  for (const Column& x : t.columns) {
    if (x.name == column) c = &x;
  }
  if (!c) throw std::runtime_error("no column " + column);
  auto r = reinterpret_cast<const std::uint8_t*>(row.bytes.data());
  std::size_t n = row.bytes.size();
  int ncols = U16(r);
  std::size_t mask_size = static_cast<std::size_t>((ncols + 7) / 8);
  const std::uint8_t* mask = r + n - mask_size;
  bool bit = (mask[c->number / 8] >> (c->number % 8)) & 1;
  if (c->type == 0x01) return std::string(bit ? "1" : "0");
  if (!bit) return std::nullopt;
  if (c->fixed) {
    const std::uint8_t* f = r + 2 + c->fixed_offset;
    switch (c->type) {
      case 0x02: return std::to_string(f[0]);
      case 0x03: return std::to_string(static_cast<std::int16_t>(U16(f)));
      case 0x04: return std::to_string(static_cast<std::int32_t>(U32(f)));
      case 0x05: {
        std::uint64_t v = U32(f) | (static_cast<std::uint64_t>(U32(f + 4)) << 32);
        return std::to_string(static_cast<std::int64_t>(v));
      }
      case 0x07:
      case 0x08: {
        std::uint64_t v = U32(f) | (static_cast<std::uint64_t>(U32(f + 4)) << 32);
        double d;
        std::memcpy(&d, &v, 8);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", d);
        return std::string(buf);
      }
      default: throw std::runtime_error("probe cannot decode fixed type " + std::to_string(c->type));
    }
  }
  int var_count = U16(r + n - mask_size - 2);
  if (c->var_index >= var_count) return std::nullopt;
  auto offset = [&](int v) { return U16(r + n - mask_size - 4 - 2 * v); };
  std::size_t start = offset(c->var_index);
  std::size_t end = c->var_index + 1 < var_count ? offset(c->var_index + 1) : U16(r + n - mask_size - 4 - 2 * var_count);
  std::string stored = row.bytes.substr(start, end - start);
  if (c->type == 0x0a) return TextToUtf8(stored);
  if (c->type == 0x09) return stored;
  if (c->type == 0x0c) {  // memo
    auto m = reinterpret_cast<const std::uint8_t*>(stored.data());
    std::uint32_t head = U32(m);
    std::uint32_t size = head & 0x3fffffff;
    std::string bytes;
    if (head & 0x80000000u) {
      bytes = stored.substr(12, size);
    } else {
      std::uint32_t pointer = U32(m + 4);
      while (bytes.size() < size) {
        std::string part = RowBytes(pointer >> 8, static_cast<int>(pointer & 0xff));
        if (head & 0x40000000u) {
          bytes += part;
          break;
        }
        pointer = U32(reinterpret_cast<const std::uint8_t*>(part.data()));
        bytes += part.substr(4);
        if (pointer == 0) break;
      }
    }
    if (bytes.size() != size) throw std::runtime_error("memo length does not match its data");
    return TextToUtf8(bytes);
  }
  throw std::runtime_error("probe cannot decode variable type " + std::to_string(c->type));
}

IndexWalk File::Walk(const TableDef& t, const RealIndex& idx) const {
  IndexWalk walk;
  std::vector<std::uint32_t> leaves;
  // Returns the last full entry (without a child pointer) of the subtree.
  std::function<std::string(std::uint32_t, int)> visit = [&](std::uint32_t page, int depth) -> std::string {
    ++walk.pages;
    walk.levels = std::max(walk.levels, depth + 1);
    const std::uint8_t* p = Page(page);
    bool leaf = p[0] == 0x04;
    if (!leaf && p[0] != 0x03) {
      walk.problems.push_back("page " + std::to_string(page) + " is no index page");
      return {};
    }
    if (U32(p + 4) != t.page) walk.problems.push_back("page " + std::to_string(page) + " names another table");
    std::size_t prefix_len = U16(p + 24);
    std::vector<std::string> entries;
    std::string prefix;
    std::size_t last = 0;
    for (std::size_t bit = 0; bit < 453 * 8; ++bit) {
      if (!(p[27 + bit / 8] & (1u << (bit % 8)))) continue;
      if (bit > 4096 - 480) {
        walk.problems.push_back("entry mask runs past the page");
        break;
      }
      std::string e(reinterpret_cast<const char*>(p) + 480 + last, bit - last);
      if (entries.empty()) prefix = e.substr(0, prefix_len);
      else e = prefix + e;
      entries.push_back(e);
      last = bit;
    }
    if (U16(p + 2) != 4096 - 480 - last) walk.problems.push_back("free space of page " + std::to_string(page) + " is wrong");
    std::string max_entry;
    if (leaf) {
      leaves.push_back(page);
      for (const std::string& e : entries) {
        if (e.size() < 5) {
          walk.problems.push_back("short leaf entry");
          continue;
        }
        auto q = reinterpret_cast<const std::uint8_t*>(e.data()) + e.size() - 4;
        walk.entries.push_back({e.substr(0, e.size() - 4), (static_cast<std::uint32_t>(q[0]) << 16) | (q[1] << 8) | q[2], q[3]});
        max_entry = e;
      }
      return max_entry;
    }
    for (const std::string& e : entries) {
      if (e.size() < 9) {
        walk.problems.push_back("short node entry");
        continue;
      }
      std::uint32_t child = U32BE(reinterpret_cast<const std::uint8_t*>(e.data()) + e.size() - 4);
      std::string child_max = visit(child, depth + 1);
      if (child_max != e.substr(0, e.size() - 4)) {
        walk.problems.push_back("node entry on page " + std::to_string(page) + " is not the last entry of its child");
      }
      max_entry = child_max;
    }
    std::uint32_t tail = U32(p + 20);
    if (tail != 0) max_entry = visit(tail, depth + 1);
    return max_entry;
  };
  visit(idx.root, 0);
  for (std::size_t k = 1; k < walk.entries.size(); ++k) {
    const IndexEntry& a = walk.entries[k - 1];
    const IndexEntry& b = walk.entries[k];
    auto full = [](const IndexEntry& e) {
      std::string s = e.key;
      s.push_back(static_cast<char>(e.page >> 16));
      s.push_back(static_cast<char>(e.page >> 8));
      s.push_back(static_cast<char>(e.page));
      s.push_back(static_cast<char>(e.slot));
      return s;
    };
    if (full(a) >= full(b)) {
      walk.problems.push_back("entries out of order at " + std::to_string(k));
      break;
    }
  }
  for (std::size_t k = 0; k < leaves.size(); ++k) {
    const std::uint8_t* p = Page(leaves[k]);
    std::uint32_t prev = k > 0 ? leaves[k - 1] : 0, next = k + 1 < leaves.size() ? leaves[k + 1] : 0;
    if (U32(p + 12) != prev || U32(p + 16) != next) walk.problems.push_back("leaf links are broken");
  }
  return walk;
}

}  // namespace jet_probe
