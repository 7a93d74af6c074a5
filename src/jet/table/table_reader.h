#pragma once
// The rows of one table in scan order: the data pages its usage map marks, ascending,
// and on each page the slots in order. A slot that points elsewhere (a row moved off its
// page) is reported at its own place with the data from where it points; the moved data
// itself and deleted slots are skipped.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/page/data_page.h"
#include "jet/page/table_def.h"
#include "jet/row/record.h"
#include "jet/table_source.h"

namespace jet {

class TableReader {
 public:
  TableReader(Pager& pager, std::string name, TableDef def);

  const std::string& name() const { return name_; }
  const TableDef& def() const { return def_; }
  // Takes a definition read again after it changed.
  void Reset(TableDef def);

  // The table's data pages, ascending.
  std::vector<std::uint32_t> DataPages() const;

  // Visits the live rows; `visit` returns false to stop.
  void Scan(const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit) const;
  // The same, each row as its stored record (valid during the call); FormatErrors thrown
  // by `visit` come back naming the table.
  void ScanRecords(const std::function<bool(RowId, ByteView record)>& visit) const;

  // The record a live row of this table stands for (following a moved row), or an empty
  // view when `id` is not a live row of the table. `keep` holds the page alive.
  ByteView Record(RowId id, PageRef* keep) const;

  // Throws FormatError when `id` is not a live row of this table.
  Row ReadRow(RowId id, const std::vector<bool>& wanted) const;

 private:
  // Throws `e` again, naming this table when it does not yet.
  [[noreturn]] void Rethrow(const FormatError& e) const;

  Pager* pager_;
  std::string name_;
  TableDef def_;
  RecordDecoder codec_;
};

}  // namespace jet
