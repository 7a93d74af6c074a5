#pragma once
// The file format in one place: where things lie in the two page layouts, Jet 3 (Access
// 97, 2 KB pages, single-byte text) and Jet 4 (Access 2000-2003, 4 KB pages, UCS-2 text),
// and the constants and flags of every structure. Reading, editing and writing new files
// all take their offsets from here.

#include <cstddef>
#include <cstdint>

#include "jet/table_source.h"
#include "jet/version.h"

namespace jet {

enum class PageType : std::uint8_t {
  Header = 0x00,
  Data = 0x01,
  TableDef = 0x02,
  IndexNode = 0x03,
  IndexLeaf = 0x04,
  UsageMap = 0x05,
};

// The byte after the page type on every page Jet writes.
inline constexpr std::uint8_t kPageMark = 0x01;

struct Format {
  JetVersion version;
  std::uint32_t page_size;

  // Data pages.
  std::uint32_t data_free_space;  // 2 bytes: the free space the page records
  std::uint32_t data_tdef_page;   // owning table definition (or "LVAL")
  std::uint32_t data_row_count;   // 2 bytes, then the slot table
  std::uint32_t data_slots;

  // Table definition pages: the page type, kPageMark, the page's free space (2 bytes)
  // and the page the definition continues on (0 on its last page). Where a field below
  // is marked "Jet 4", Jet 3 has none and its offset is 0, where no such field can lie.
  std::uint32_t tdef_free_space;  // Jet 4
  std::uint32_t tdef_next_page;

  // Table definitions (offsets into the definition joined across its pages).
  std::uint32_t tdef_length;
  std::uint32_t tdef_magic;  // Jet 4: kTableMagic
  std::uint32_t tdef_row_count;
  std::uint32_t tdef_autonumber;     // the last number given
  std::uint32_t tdef_autonumber_on;  // Jet 4, 1 byte: Access numbers new rows only when it is 1
  std::uint32_t tdef_table_type;
  std::uint32_t tdef_max_columns;
  std::uint32_t tdef_var_columns;
  std::uint32_t tdef_columns;
  std::uint32_t tdef_logical_indexes;
  std::uint32_t tdef_real_indexes;
  std::uint32_t tdef_used_pages;
  std::uint32_t tdef_free_pages;
  std::uint32_t tdef_body;                // first real-index counter block
  std::uint32_t tdef_real_index_counter;  // bytes per real index before the columns
  std::uint32_t tdef_real_index_rows;     // the index's row count, within that block
  std::uint32_t tdef_continuation_header; // bytes skipped on each further definition page

  // One column entry.
  std::uint32_t col_entry_size;
  std::uint32_t col_type;
  std::uint32_t col_magic;  // Jet 4: kTableMagic
  std::uint32_t col_number;
  std::uint32_t col_var_index;
  std::uint32_t col_row_number;  // the column number again, as Jet writes it
  std::uint32_t col_sort_order;  // text and memo, 2 bytes
  std::uint32_t col_precision;   // numeric, 1 byte, where text has its sort order
  std::uint32_t col_scale;
  std::uint32_t col_flags;
  std::uint32_t col_compressed;  // Jet 4: kColumnCompressed
  std::uint32_t col_fixed_offset;
  std::uint32_t col_length;

  std::uint32_t name_length_size;  // 1 (Jet 3) or 2 (Jet 4) bytes before each name

  // One physical index definition: kIndexMagic (Jet 4), kMaxIndexColumns slots of
  // kIndexColumnSlot, the usage map's row pointer, the root page, the flags.
  std::uint32_t real_index_size;
  std::uint32_t real_index_columns;
  std::uint32_t real_index_used_pages;
  std::uint32_t real_index_root;
  std::uint32_t real_index_flags;

  // One logical index definition: kTableMagic (Jet 4), then the fields below.
  std::uint32_t logical_index_size;
  std::uint32_t logical_index_number;
  std::uint32_t logical_index_real;  // 4 bytes: the physical index it uses
  std::uint32_t logical_index_related_type;  // 1 byte
  std::uint32_t logical_index_related_index;
  std::uint32_t logical_index_related_page;
  std::uint32_t logical_index_cascade_updates;  // 1 byte each
  std::uint32_t logical_index_cascade_deletes;
  std::uint32_t logical_index_type;

  // Index pages.
  std::uint32_t index_prev_page;
  std::uint32_t index_next_page;
  std::uint32_t index_tail_page;
  std::uint32_t index_prefix_length;
  // Bytes of that length: 1 in Jet 3, whose next byte is something else (Access 97 sets
  // it on node pages), 2 in Jet 4.
  std::uint32_t index_prefix_length_size;
  std::uint32_t index_bitmap;
  std::uint32_t index_entries;

  // Number of bytes a row count, an offset or a variable-column count takes in a record.
  std::uint32_t row_int_size;

  // Header page.
  std::uint32_t header_encoded_length;
  std::uint32_t header_password_length;
};

inline constexpr Format kJet3Format{
    .version = JetVersion::Jet3,
    .page_size = 2048,
    .data_free_space = 2,
    .data_tdef_page = 4,
    .data_row_count = 8,
    .data_slots = 10,
    .tdef_free_space = 0,
    .tdef_next_page = 4,
    .tdef_length = 8,
    .tdef_magic = 0,
    .tdef_row_count = 12,
    .tdef_autonumber = 16,
    .tdef_autonumber_on = 0,
    .tdef_table_type = 20,
    .tdef_max_columns = 21,
    .tdef_var_columns = 23,
    .tdef_columns = 25,
    .tdef_logical_indexes = 27,
    .tdef_real_indexes = 31,
    .tdef_used_pages = 35,
    .tdef_free_pages = 39,
    .tdef_body = 43,
    .tdef_real_index_counter = 8,
    .tdef_real_index_rows = 4,
    .tdef_continuation_header = 8,
    .col_entry_size = 18,
    .col_type = 0,
    .col_magic = 0,
    .col_number = 1,
    .col_var_index = 3,
    .col_row_number = 5,
    .col_sort_order = 9,
    .col_precision = 9,
    .col_scale = 10,
    .col_flags = 13,
    .col_compressed = 0,
    .col_fixed_offset = 14,
    .col_length = 16,
    .name_length_size = 1,
    .real_index_size = 39,
    .real_index_columns = 0,
    .real_index_used_pages = 30,
    .real_index_root = 34,
    .real_index_flags = 38,
    .logical_index_size = 20,
    .logical_index_number = 0,
    .logical_index_real = 4,
    .logical_index_related_type = 8,
    .logical_index_related_index = 9,
    .logical_index_related_page = 13,
    .logical_index_cascade_updates = 17,
    .logical_index_cascade_deletes = 18,
    .logical_index_type = 19,
    .index_prev_page = 8,
    .index_next_page = 12,
    .index_tail_page = 16,
    .index_prefix_length = 20,
    .index_prefix_length_size = 1,
    .index_bitmap = 0x16,
    .index_entries = 0xF8,
    .row_int_size = 1,
    .header_encoded_length = 126,
    .header_password_length = 20,
};

inline constexpr Format kJet4Format{
    .version = JetVersion::Jet4,
    .page_size = 4096,
    .data_free_space = 2,
    .data_tdef_page = 4,
    .data_row_count = 12,
    .data_slots = 14,
    .tdef_free_space = 2,
    .tdef_next_page = 4,
    .tdef_length = 8,
    .tdef_magic = 12,
    .tdef_row_count = 16,
    .tdef_autonumber = 20,
    .tdef_autonumber_on = 24,
    .tdef_table_type = 40,
    .tdef_max_columns = 41,
    .tdef_var_columns = 43,
    .tdef_columns = 45,
    .tdef_logical_indexes = 47,
    .tdef_real_indexes = 51,
    .tdef_used_pages = 55,
    .tdef_free_pages = 59,
    .tdef_body = 63,
    .tdef_real_index_counter = 12,
    .tdef_real_index_rows = 4,
    .tdef_continuation_header = 8,
    .col_entry_size = 25,
    .col_type = 0,
    .col_magic = 1,
    .col_number = 5,
    .col_var_index = 7,
    .col_row_number = 9,
    .col_sort_order = 11,
    .col_precision = 11,
    .col_scale = 12,
    .col_flags = 15,
    .col_compressed = 16,
    .col_fixed_offset = 21,
    .col_length = 23,
    .name_length_size = 2,
    .real_index_size = 52,
    .real_index_columns = 4,
    .real_index_used_pages = 34,
    .real_index_root = 38,
    .real_index_flags = 46,
    .logical_index_size = 28,
    .logical_index_number = 4,
    .logical_index_real = 8,
    .logical_index_related_type = 12,
    .logical_index_related_index = 13,
    .logical_index_related_page = 17,
    .logical_index_cascade_updates = 21,
    .logical_index_cascade_deletes = 22,
    .logical_index_type = 23,
    .index_prev_page = 12,
    .index_next_page = 16,
    .index_tail_page = 20,
    .index_prefix_length = 24,
    .index_prefix_length_size = 2,
    .index_bitmap = 0x1B,
    .index_entries = 0x1E0,
    .row_int_size = 2,
    .header_encoded_length = 128,
    .header_password_length = 40,
};

inline const Format& FormatFor(JetVersion version) { return version == JetVersion::Jet3 ? kJet3Format : kJet4Format; }

// Rows per data page: an index entry keeps the slot in one byte.
inline constexpr std::size_t kMaxRowsPerPage = 255;

// Data-page slot table entries: the row's offset in the low bits, two flags above.
constexpr std::uint16_t kSlotOffsetMask = 0x1FFF;
constexpr std::uint16_t kSlotLookup = 0x4000;   // the row holds a pointer to its data elsewhere
constexpr std::uint16_t kSlotMoved = 0x8000;    // data reached through such a pointer
constexpr std::uint16_t kSlotDeleted = 0xC000;  // both bits together

// Long values: "LVAL" where a data page holding them names its table, and the flags in
// the first word of a reference in a row (neither set: a chain of pages).
inline constexpr std::uint32_t kLongValueOwner = 0x4C41564C;
inline constexpr std::uint32_t kLongValueInline = 0x80000000u;
inline constexpr std::uint32_t kLongValueSingle = 0x40000000u;
inline constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFFu;
inline constexpr std::size_t kLongValueRefSize = 12;

// Usage maps: a row holding either the bitmap itself (type 0, after the first page it
// covers) or pointers to bitmap pages (type 1), each page's bits after a 4-byte header.
inline constexpr std::uint8_t kUsageMapInline = 0;
inline constexpr std::uint8_t kUsageMapReference = 1;
inline constexpr std::size_t kUsageMapRowSize = 69;  // as Jet writes them for a new table
inline constexpr std::size_t kUsageMapPageHeader = 4;

// Table definitions (Jet 4): numbers repeated in column and logical index entries and at
// the start of each real index entry, and the most columns an index may have.
inline constexpr std::uint32_t kTableMagic = 1625;
inline constexpr std::uint32_t kIndexMagic = 1923;
inline constexpr std::size_t kMaxIndexColumns = 10;

// A physical index's column slot: the column number, or `unused`, then the order byte.
struct IndexColumnSlot {
  std::size_t size, order;
  std::uint16_t unused;
  std::uint8_t ascending;  // descending: 0
};
inline constexpr IndexColumnSlot kIndexColumnSlot{3, 2, 0xFFFF, 0x01};

// After the logical index names (Jet 4): for each memo and OLE column an entry of its
// number (2 bytes) and the row pointers of the usage maps of its used and free long-value
// pages; then the end mark (2 bytes).
struct ColumnMapsEntry {
  std::size_t column, used, free, size;
};
inline constexpr ColumnMapsEntry kColumnMaps{0, 2, 6, 10};
inline constexpr std::uint16_t kTableDefEnd = 0xFFFF;

// A column's text kept in the compressed form (Jet 4), in the byte after its flags.
inline constexpr std::uint8_t kColumnCompressed = 0x01;

// Table types.
constexpr std::uint8_t kTableTypeUser = 0x4E;
constexpr std::uint8_t kTableTypeSystem = 0x53;

// Column flags.
constexpr std::uint8_t kColumnFixed = 0x01;
constexpr std::uint8_t kColumnNullable = 0x02;
constexpr std::uint8_t kColumnAutoLong = 0x04;
constexpr std::uint8_t kColumnAutoGuid = 0x40;

// Real index flags (0x80 is always set in what Jet writes).
constexpr std::uint8_t kIndexUnique = 0x01;
constexpr std::uint8_t kIndexIgnoreNulls = 0x02;
constexpr std::uint8_t kIndexRequired = 0x08;
constexpr std::uint8_t kIndexAlwaysSet = 0x80;

// Logical index kinds.
constexpr std::uint8_t kIndexTypePrimary = 0x01;
constexpr std::uint8_t kIndexTypeForeign = 0x02;

// Jet's "General" sort order, the only one whose text keys this engine can build, and
// the code page of a new Jet 4 file.
inline constexpr std::uint16_t kSortGeneral = 0x0409;
inline constexpr std::uint16_t kCodePage1252 = 1252;

}  // namespace jet
