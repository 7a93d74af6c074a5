#include "jet/row/long_value_writer.h"

#include "jet/error.h"
#include "jet/page/data_page.h"

namespace jet {
namespace {

// The longest row on a long-value page: one slot, and room for a chain's link.
std::size_t MaxRow(const Format& f) { return f.page_size - f.data_slots - 2 - 4; }

}  // namespace

std::uint32_t LongValueWriter::NewPage() {
  const std::uint32_t number = editor_->Allocate();
  InitDataPage(editor_->Write(number), editor_->format(), kLongValueOwner);
  pages_.push_back(number);
  return number;
}

std::string LongValueWriter::Put(std::string_view data) {
  if (data.size() > kLongValueLengthMask) throw Error(ErrorCode::Unsupported, "A long value is larger than 1 GB");
  const Format& f = editor_->format();
  std::string ref(kLongValueRefSize, '\0');
  auto* r = reinterpret_cast<std::uint8_t*>(ref.data());
  const auto size = static_cast<std::uint32_t>(data.size());
  if (data.size() <= MaxRow(f)) {
    if (open_ == 0 || DataPageRoom(*editor_->Read(open_), f) < data.size()) open_ = NewPage();
    const std::uint8_t slot = AddRowToPage(editor_->Write(open_), open_, f, data);
    Put32(r, size | kLongValueSingle);
    Put32(r + 4, RowId{open_, slot}.Raw());
    return ref;
  }
  // A chain: pages taken first, so that each row can name the next.
  const std::size_t chunk = MaxRow(f) - 4;
  const std::size_t count = (data.size() + chunk - 1) / chunk;
  std::vector<std::uint32_t> chain;
  for (std::size_t k = 0; k < count; ++k) chain.push_back(NewPage());
  for (std::size_t k = 0; k < count; ++k) {
    std::string row(4, '\0');
    if (k + 1 < count) Put32(reinterpret_cast<std::uint8_t*>(row.data()), RowId{chain[k + 1], 0}.Raw());
    row.append(data.substr(k * chunk, chunk));
    AddRowToPage(editor_->Write(chain[k]), chain[k], f, row);
  }
  Put32(r, size);
  Put32(r + 4, RowId{chain[0], 0}.Raw());
  return ref;
}

}  // namespace jet
