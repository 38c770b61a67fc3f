// What a table shows of itself: its schema, its counts and its first rows, as
// plain text (a REPL) or as an HTML fragment (a notebook). The rows are read
// back through the table's own Arrow export, so every column it exports shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arrow/arrow_table.hpp"
#include "arrow/side_tables.hpp"

namespace textgrid {

struct PreviewColumn {
  std::string name;
  std::string type;  // in Arrow's words: "uint32", "string", ...
  bool numeric = false;
  std::vector<std::string> cells;  // one per row shown, texts shortened and escaped
};

struct TablePreview {
  std::int64_t rows = 0;
  std::size_t files = 0;
  std::size_t batches = 0;
  std::size_t failed = 0;
  std::size_t shown = 0;  // rows shown: the first ones
  std::vector<PreviewColumn> columns;
};

// Returns the preview of the table's `part` with its first `max_rows` rows; `failed` is
// the count of the files that failed. Allocates; throws std::bad_alloc. Any
// thread.
TablePreview preview_table(const std::shared_ptr<const ArrowTable>& table, std::size_t failed,
                           std::size_t max_rows, TablePart part = TablePart::Items);

// Returns the preview as lines of text (no line break after the last): the
// counts, the schema, then the rows in aligned columns. Allocates.
std::string preview_text(const TablePreview& preview);

// Returns the preview as an HTML fragment (a table whose second header row
// holds the types), every text escaped. Allocates.
std::string preview_html(const TablePreview& preview);

}  // namespace textgrid
