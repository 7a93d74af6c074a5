#pragma once
// Where things lie in the two page layouts: Jet 3 (Access 97, 2 KB pages, single-byte
// text) and Jet 4 (Access 2000-2003, 4 KB pages, UCS-2 text).

#include <cstddef>
#include <cstdint>

namespace jet {

enum class JetVersion : std::uint8_t { Jet3 = 3, Jet4 = 4 };

enum class PageType : std::uint8_t {
  Header = 0x00,
  Data = 0x01,
  TableDef = 0x02,
  IndexNode = 0x03,
  IndexLeaf = 0x04,
  UsageMap = 0x05,
};

struct Format {
  JetVersion version;
  std::uint32_t page_size;

  // Data pages.
  std::uint32_t data_tdef_page;   // owning table definition (or "LVAL")
  std::uint32_t data_row_count;   // 2 bytes, then the slot table
  std::uint32_t data_slots;

  // Table definitions (offsets into the definition joined across its pages).
  std::uint32_t tdef_length;
  std::uint32_t tdef_row_count;
  std::uint32_t tdef_autonumber;
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
  std::uint32_t tdef_continuation_header; // bytes skipped on each further definition page

  // One column entry.
  std::uint32_t col_entry_size;
  std::uint32_t col_type;
  std::uint32_t col_number;
  std::uint32_t col_var_index;
  std::uint32_t col_row_number;
  std::uint32_t col_misc;        // text: sort order; numeric: precision, scale
  std::uint32_t col_flags;
  std::uint32_t col_fixed_offset;
  std::uint32_t col_length;

  std::uint32_t name_length_size;    // 1 (Jet 3) or 2 (Jet 4) bytes before each name
  std::uint32_t real_index_size;     // one physical index definition
  std::uint32_t real_index_lead;     // unknown bytes before its column list
  std::uint32_t real_index_flags;    // flags, counted from the end of the column list
  std::uint32_t logical_index_size;  // one logical index definition
  std::uint32_t logical_index_lead;

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

const Format& FormatFor(JetVersion version);

}  // namespace jet
