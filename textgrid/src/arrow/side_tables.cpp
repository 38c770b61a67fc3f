#include "arrow/side_tables.hpp"

#include <cstring>
#include <utility>

#include "model/checks.hpp"
#include "text/text_input.hpp"

namespace textgrid {

namespace {

constexpr SideField kFileFields[] = {
    {"file_id", "I", false},     {"path", "u", false},       {"tmin", "g", true},
    {"tmax", "g", true},         {"tier_count", "I", false}, {"error", "u", true},
    {"lenient_note", "u", true},
};
constexpr SideField kTierFields[] = {
    {"file_id", "I", false},     {"tier_id", "I", false},       {"name", "u", false},
    {"is_interval", "b", false}, {"tmin", "g", false},          {"tmax", "g", false},
    {"size", "L", false},        {"declared_size", "L", false},
};
enum FileColumn { kFileError = 5 };

std::size_t bit_bytes(std::size_t rows) {
  return (rows + 7) / 8;
}

template <class T, class Get>
SideColumn fixed_column(std::size_t rows, Get get) {
  SideColumn column;
  column.values = ArrowBuffer::allocate(rows * sizeof(T));
  T* values = column.values.as<T>();
  for (std::size_t i = 0; i < rows; ++i) values[i] = static_cast<T>(get(i));
  return column;
}

// One bit per row, least significant first.
template <class Get>
ArrowBuffer bits_of(std::size_t rows, Get get) {
  ArrowBuffer bits = ArrowBuffer::allocate(bit_bytes(rows));
  auto* bytes = bits.as<std::uint8_t>();
  if (rows > 0) std::memset(bytes, 0, bits.size());
  for (std::size_t i = 0; i < rows; ++i) {
    if (get(i)) bytes[i >> 3] = static_cast<std::uint8_t>(bytes[i >> 3] | (1u << (i & 7)));
  }
  return bits;
}

// Gives `column` a validity bitmap when some row is not `valid`.
template <class Valid>
void set_validity(SideColumn& column, std::size_t rows, Valid valid) {
  std::size_t nulls = 0;
  for (std::size_t i = 0; i < rows; ++i) nulls += valid(i) ? 0 : 1;
  column.null_count = static_cast<std::int64_t>(nulls);
  if (nulls > 0) column.validity = bits_of(rows, valid);
}

// A string column; `get(i)` gives a pointer to the row's text, null for null.
template <class Get>
SideColumn text_column(std::size_t rows, Get get) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    if (const std::string* text = get(i)) bytes += text->size();
  }
  if (bytes > 0x7fffffffu) throw std::bad_alloc();  // past int32 offsets
  SideColumn column;
  column.values = ArrowBuffer::allocate((rows + 1) * sizeof(std::int32_t));
  column.data = ArrowBuffer::allocate(bytes);
  auto* offsets = column.values.as<std::int32_t>();
  char* data = column.data.as<char>();
  std::size_t end = 0;
  offsets[0] = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    if (const std::string* text = get(i); text != nullptr && !text->empty()) {
      std::memcpy(data + end, text->data(), text->size());
      end += text->size();
    }
    offsets[i + 1] = static_cast<std::int32_t>(end);
  }
  set_validity(column, rows, [&](std::size_t i) { return get(i) != nullptr; });
  return column;
}

SideColumn error_column(std::size_t rows, std::span<const std::size_t> failed,
                        std::span<const std::string> messages) {
  std::vector<std::string> shown;  // UTF-8 whatever the paths in them
  shown.reserve(messages.size());
  for (const std::string& message : messages) shown.push_back(shown_utf8(message));
  std::vector<const std::string*> of_row(rows, nullptr);
  for (std::size_t i = 0; i < failed.size(); ++i) of_row[failed[i]] = &shown[i];
  return text_column(rows, [&](std::size_t i) { return of_row[i]; });
}

}  // namespace

std::string shown_utf8(std::string_view bytes) {
  std::string shown;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t valid = first_invalid_utf8(bytes.substr(at));
    shown.append(bytes.substr(at, valid));
    at += valid;
    if (at == bytes.size()) break;
    constexpr char kDigits[] = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(bytes[at++]);
    shown.append("\\x").push_back(kDigits[byte >> 4]);
    shown.push_back(kDigits[byte & 15]);
  }
  return shown;
}

std::span<const SideField> side_fields(TablePart part) noexcept {
  if (part == TablePart::Files) return kFileFields;
  return kTierFields;
}

std::optional<std::string> lenient_note(const TextGridView& grid) {
  // A file cut short shows as a tier, or a document, with fewer than it
  // declared: said with the counts, the tier first, as that is where it ends.
  for (const TierView& tier : grid.tiers) {
    if (tier.size == tier.items.size()) continue;
    return "declared " + std::to_string(tier.size) +
           (tier.is_interval ? " intervals in tier '" : " points in tier '") +
           std::string(tier.name) + "', found " + std::to_string(tier.items.size()) +
           (tier.size > tier.items.size() ? " before the end of the file" : "");
  }
  if (grid.size != grid.tiers.size()) {
    return "declared " + std::to_string(grid.size) + " tiers, found " +
           std::to_string(grid.tiers.size()) +
           (grid.size > grid.tiers.size() ? " before the end of the file" : "");
  }
  if (Status valid = grid.assert_valid(); !valid) return std::move(valid.error().message);
  return std::nullopt;
}

void record_file(const TextGridView& grid, std::uint32_t file_id, bool with_note, FileRecord& file,
                 std::vector<TierRecord>& tiers) {
  file.read = true;
  file.tmin = grid.tmin;
  file.tmax = grid.tmax;
  file.tier_count = static_cast<std::uint32_t>(grid.tiers.size());
  if (with_note) file.note = lenient_note(grid);
  std::uint32_t tier_id = 0;
  for (const TierView& tier : grid.tiers) {
    tiers.push_back(TierRecord{file_id, tier_id++, std::string(tier.name), tier.is_interval,
                               tier.tmin, tier.tmax, tier.items.size(), tier.size});
  }
}

SideTable files_table(std::span<const std::string> paths, std::span<const FileRecord> files,
                      std::span<const std::size_t> failed, std::span<const std::string> messages) {
  const std::size_t rows = files.size();
  SideTable table;
  table.rows = static_cast<std::int64_t>(rows);
  const auto read = [&](std::size_t i) { return files[i].read; };
  table.columns.push_back(fixed_column<std::uint32_t>(rows, [](std::size_t i) { return i; }));
  std::vector<std::string> shown;  // the paths that are not UTF-8, escaped
  shown.reserve(rows);             // never moved: path_of points into it
  std::vector<const std::string*> path_of(rows);
  for (std::size_t i = 0; i < rows; ++i) {
    path_of[i] = &paths[i];
    if (!is_valid_utf8(paths[i])) path_of[i] = &shown.emplace_back(shown_utf8(paths[i]));
  }
  table.columns.push_back(text_column(rows, [&](std::size_t i) { return path_of[i]; }));
  table.columns.push_back(fixed_column<double>(rows, [&](std::size_t i) { return files[i].tmin; }));
  set_validity(table.columns.back(), rows, read);
  table.columns.push_back(fixed_column<double>(rows, [&](std::size_t i) { return files[i].tmax; }));
  set_validity(table.columns.back(), rows, read);
  table.columns.push_back(
      fixed_column<std::uint32_t>(rows, [&](std::size_t i) { return files[i].tier_count; }));
  table.columns.push_back(error_column(rows, failed, messages));
  table.columns.push_back(text_column(rows, [&](std::size_t i) -> const std::string* {
    return files[i].note ? &*files[i].note : nullptr;
  }));
  return table;
}

SideTable tiers_table(std::span<const TierRecord> tiers) {
  const std::size_t rows = tiers.size();
  SideTable table;
  table.rows = static_cast<std::int64_t>(rows);
  const auto of = [&](auto member) {
    return [&tiers, member](std::size_t i) { return tiers[i].*member; };
  };
  table.columns.push_back(fixed_column<std::uint32_t>(rows, of(&TierRecord::file_id)));
  table.columns.push_back(fixed_column<std::uint32_t>(rows, of(&TierRecord::tier_id)));
  table.columns.push_back(text_column(rows, [&](std::size_t i) { return &tiers[i].name; }));
  SideColumn is_interval;
  is_interval.values = bits_of(rows, of(&TierRecord::is_interval));
  table.columns.push_back(std::move(is_interval));
  table.columns.push_back(fixed_column<double>(rows, of(&TierRecord::tmin)));
  table.columns.push_back(fixed_column<double>(rows, of(&TierRecord::tmax)));
  table.columns.push_back(fixed_column<std::uint64_t>(rows, of(&TierRecord::size)));
  table.columns.push_back(fixed_column<std::uint64_t>(rows, of(&TierRecord::declared_size)));
  return table;
}

void set_file_errors(SideTable& files, std::span<const std::size_t> failed,
                     std::span<const std::string> messages) {
  if (files.columns.size() <= kFileError) return;
  files.columns[kFileError] = error_column(static_cast<std::size_t>(files.rows), failed, messages);
}

}  // namespace textgrid
