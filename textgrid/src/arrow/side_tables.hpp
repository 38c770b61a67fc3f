// The tables that go with the items of a read: one row per file (its path,
// bounds, tier count, error and what a strict read would have refused) and
// one row per tier (its bounds and sizes, tiers without items included).
// Each is one record batch of plain Arrow columns (SideTable), built once the
// read is over from records that the read collects per file and per tier.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arrow/arrow_buffer.hpp"
#include "model/textgrid_view.hpp"

namespace textgrid {

// What a table exports: its items, or one of the tables beside them.
enum class TablePart { Items, Files, Tiers };

// One column of a table of one record batch: values of a fixed width (bits
// for bool), or int32 offsets into `data` for a string column; the validity
// bitmap is empty when no value is null.
struct SideColumn {
  std::int64_t null_count = 0;
  ArrowBuffer validity;
  ArrowBuffer values;
  ArrowBuffer data;
};

// A table of one record batch whose fields are fixed by what it describes
// (side_tables.hpp): the files of a read, or their tiers.
struct SideTable {
  std::int64_t rows = 0;
  std::vector<SideColumn> columns;
};

// A field of a side table; the format is that of the C data interface.
struct SideField {
  const char* name;
  const char* format;
  bool nullable;
};

// The fields of the files table (file_id, path, tmin, tmax, tier_count,
// error, lenient_note) or of the tiers table (file_id, tier_id, name,
// is_interval, tmin, tmax, size, declared_size). Not for TablePart::Items.
std::span<const SideField> side_fields(TablePart part) noexcept;

// What the read learnt of one file; `read` false for a file that failed.
struct FileRecord {
  bool read = false;
  double tmin = 0.0;
  double tmax = 0.0;
  std::uint32_t tier_count = 0;
  std::optional<std::string> note;
};

// One tier of a file that was read; `name` is copied out of the file's text.
struct TierRecord {
  std::uint32_t file_id = 0;
  std::uint32_t tier_id = 0;
  std::string name;
  bool is_interval = true;
  double tmin = 0.0;
  double tmax = 0.0;
  std::uint64_t size = 0;
  std::uint64_t declared_size = 0;
};

// Returns `bytes` as they are when they are valid UTF-8, else with every byte
// that is not part of valid UTF-8 written as \xNN (as Python's
// backslashreplace shows it): an Arrow string holds UTF-8 only, and a path
// may not be. Allocates.
std::string shown_utf8(std::string_view bytes);

// Returns null when `grid` passes the checks of a strict read, else the first
// thing a strict read would have refused, with where: "declared 120 intervals in
// tier 'phones', found 67 before the end of the file" for a tier that ends
// early, else the message of the document check. Pure; allocates only for a
// note.
std::optional<std::string> lenient_note(const TextGridView& grid);

// Appends the records of `grid`, file `file_id`, with its note when
// `with_note`. Allocates.
void record_file(const TextGridView& grid, std::uint32_t file_id, bool with_note, FileRecord& file,
                 std::vector<TierRecord>& tiers);

// Returns the files table of `paths`, one record each; the error column holds
// messages[i] in row failed[i], null elsewhere. Allocates; throws
// std::bad_alloc.
SideTable files_table(std::span<const std::string> paths, std::span<const FileRecord> files,
                      std::span<const std::size_t> failed, std::span<const std::string> messages);

// Returns the tiers table of `tiers`. Allocates; throws std::bad_alloc.
SideTable tiers_table(std::span<const TierRecord> tiers);

// Replaces the error column of the files table `files` as files_table makes
// it. Allocates; throws std::bad_alloc.
void set_file_errors(SideTable& files, std::span<const std::size_t> failed,
                     std::span<const std::string> messages);

}  // namespace textgrid
