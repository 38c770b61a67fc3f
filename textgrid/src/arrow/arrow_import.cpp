#include "arrow/arrow_import.hpp"

#include <cstring>
#include <limits>
#include <optional>
#include <utility>

namespace textgrid {

namespace {

// Release on every way out, as the C data interface asks of a consumer.
template <class T>
struct Released {
  T value{};
  ~Released() {
    if (value.release != nullptr) value.release(&value);
  }
};

// Where a column's values of one batch lie: its array (within the batch's
// struct), its schema, and the struct's offset, which applies to children.
struct Slice {
  const ArrowArray& array;
  const ArrowSchema& schema;
  std::int64_t offset;  // of the first row, counted in the child's own buffers
};

std::string_view format_of(const ArrowSchema& schema) {
  return schema.format != nullptr ? schema.format : "";
}

bool is_integer_format(std::string_view format) {
  return format.size() == 1 && std::string_view("cCsSiIlL").find(format[0]) != std::string::npos;
}

bool is_text_format(std::string_view format) {
  return format == "u" || format == "U" || format == "vu";
}

bool fits(const ArrowSchema& schema, ColumnType type) {
  const std::string_view format = format_of(schema);
  switch (type) {
    case ColumnType::Integer: return schema.dictionary == nullptr && is_integer_format(format);
    case ColumnType::Number:
      return schema.dictionary == nullptr && (format == "g" || format == "f");
    case ColumnType::Boolean: return schema.dictionary == nullptr && format == "b";
    case ColumnType::Text:
      if (schema.dictionary != nullptr) {
        return is_integer_format(format) && is_text_format(format_of(*schema.dictionary));
      }
      return is_text_format(format);
  }
  return false;
}

const char* type_words(ColumnType type) {
  switch (type) {
    case ColumnType::Integer: return "integers";
    case ColumnType::Number: return "float64 or float32 numbers";
    case ColumnType::Boolean: return "booleans";
    case ColumnType::Text: return "strings";
  }
  return "";
}

bool bit(const void* bits, std::int64_t index) {
  const auto* bytes = static_cast<const std::uint8_t*>(bits);
  return ((bytes[index >> 3] >> (index & 7)) & 1) != 0;
}

bool is_present(const ArrowArray& array, std::int64_t index) {
  return array.null_count == 0 || array.buffers[0] == nullptr || bit(array.buffers[0], index);
}

std::int64_t integer_at(const void* values, char format, std::int64_t i) {
  const auto read = [&]<class T>(T) {
    T value;
    std::memcpy(&value, static_cast<const char*>(values) + i * std::int64_t{sizeof(T)}, sizeof(T));
    return value;
  };
  switch (format) {
    case 'c': return read(std::int8_t{});
    case 'C': return read(std::uint8_t{});
    case 's': return read(std::int16_t{});
    case 'S': return read(std::uint16_t{});
    case 'i': return read(std::int32_t{});
    case 'I': return read(std::uint32_t{});
    case 'l': return read(std::int64_t{});
    default: {
      const std::uint64_t value = read(std::uint64_t{});
      constexpr auto kLargest =
          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
      return static_cast<std::int64_t>(value > kLargest ? kLargest : value);
    }
  }
}

// The text of row `i` of a string array of `format` (no dictionary).
std::string_view text_at(const ArrowArray& array, std::string_view format, std::int64_t i) {
  if (format == "vu") {
    const char* view = static_cast<const char*>(array.buffers[1]) + i * 16;
    std::int32_t length;
    std::memcpy(&length, view, 4);
    if (length <= 12) return {view + 4, static_cast<std::size_t>(length)};
    std::int32_t buffer, offset;
    std::memcpy(&buffer, view + 8, 4);
    std::memcpy(&offset, view + 12, 4);
    const char* data = static_cast<const char*>(array.buffers[2 + buffer]);
    return {data + offset, static_cast<std::size_t>(length)};
  }
  const char* data = static_cast<const char*>(array.buffers[2]);
  if (format == "U") {
    const auto* offsets = static_cast<const std::int64_t*>(array.buffers[1]);
    return {data + offsets[i], static_cast<std::size_t>(offsets[i + 1] - offsets[i])};
  }
  const auto* offsets = static_cast<const std::int32_t*>(array.buffers[1]);
  return {data + offsets[i], static_cast<std::size_t>(offsets[i + 1] - offsets[i])};
}

// The texts of a dictionary's values, by code.
std::vector<std::string_view> dictionary_texts(const ArrowArray& values,
                                               const ArrowSchema& schema) {
  const std::string_view format = format_of(schema);
  std::vector<std::string_view> texts;
  texts.reserve(static_cast<std::size_t>(values.length));
  for (std::int64_t d = values.offset; d < values.offset + values.length; ++d) {
    texts.push_back(is_present(values, d) ? text_at(values, format, d) : std::string_view());
  }
  return texts;
}

// Appends the values of rows [begin, end) (positions in the child's buffers);
// a null row gets a stand-in value, so every vector keeps one entry per row.
void append_values(const Slice& slice, ColumnType type, std::int64_t begin, std::int64_t end,
                   ImportedColumn& out) {
  const ArrowArray& array = slice.array;
  const std::string_view format = format_of(slice.schema);
  const void* values = array.buffers[1];
  switch (type) {
    case ColumnType::Integer:
      for (std::int64_t i = begin; i < end; ++i)
        out.integers.push_back(integer_at(values, format[0], i));
      return;
    case ColumnType::Number:
      if (format == "g") {
        const auto* numbers = static_cast<const double*>(values);
        out.numbers.insert(out.numbers.end(), numbers + begin, numbers + end);
      } else {
        const auto* numbers = static_cast<const float*>(values);
        out.numbers.insert(out.numbers.end(), numbers + begin, numbers + end);
      }
      return;
    case ColumnType::Boolean:
      for (std::int64_t i = begin; i < end; ++i) out.flags.push_back(bit(values, i) ? 1 : 0);
      return;
    case ColumnType::Text:
      if (slice.schema.dictionary == nullptr) {
        for (std::int64_t i = begin; i < end; ++i) out.texts.push_back(text_at(array, format, i));
        return;
      }
      const auto texts = dictionary_texts(*array.dictionary, *slice.schema.dictionary);
      for (std::int64_t i = begin; i < end; ++i) {
        const std::int64_t code = integer_at(values, format[0], i);
        out.texts.push_back(code >= 0 && static_cast<std::size_t>(code) < texts.size()
                                ? texts[static_cast<std::size_t>(code)]
                                : std::string_view());
      }
      return;
  }
}

// Appends `length` rows of one column; `first_row` counts rows of earlier
// batches, for the message about a null.
Status append_rows(const Slice& slice, const ColumnSpec& want, std::int64_t length,
                   std::int64_t first_row, std::string_view table, ImportedColumn& out) {
  const std::int64_t begin = slice.offset;
  const std::int64_t end = begin + length;
  append_values(slice, want.type, begin, end, out);
  if (want.nullable) out.present.reserve(out.present.size() + static_cast<std::size_t>(length));
  for (std::int64_t i = begin; i < end; ++i) {
    const bool present = is_present(slice.array, i);
    if (want.nullable) {
      out.present.push_back(present ? 1 : 0);
    } else if (!present) {
      return fail(ErrorKind::InvalidInput, std::string(table) + " column '" +
                                               std::string(want.name) + "' holds a null (row " +
                                               std::to_string(first_row + i - begin) + ")");
    }
  }
  return {};
}

Error stream_error(ArrowArrayStream& stream, std::string_view table, int code) {
  const char* said = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
  return Error{ErrorKind::InvalidInput,
               std::string(table) + " could not be read: " +
                   (said != nullptr ? std::string(said) : os_error(code).message),
               0};
}

// The child of each wanted column, by name (the first of that name), checked for
// type; -1 for an optional column that is missing.
Result<std::vector<std::int64_t>> find_columns(const ArrowSchema& schema, std::string_view table,
                                               std::span<const ColumnSpec> specs) {
  if (format_of(schema) != "+s") {
    return fail(ErrorKind::InvalidInput, std::string(table) + " is not a stream of record batches");
  }
  std::vector<std::int64_t> children;
  for (const ColumnSpec& want : specs) {
    std::optional<std::int64_t> found;
    for (std::int64_t c = 0; c < schema.n_children && !found; ++c) {
      const char* name = schema.children[c]->name;
      if (name != nullptr && want.name == name) found = c;
    }
    const std::string column = std::string(table) + " column '" + std::string(want.name) + "'";
    if (!found && want.optional) {
      children.push_back(-1);
      continue;
    }
    if (!found) {
      return fail(ErrorKind::InvalidInput,
                  std::string(table) + " has no column '" + std::string(want.name) + "'");
    }
    const ArrowSchema& child = *schema.children[*found];
    if (!fits(child, want.type)) {
      return fail(ErrorKind::InvalidInput, column + " must hold " + type_words(want.type) +
                                               ", not Arrow type '" +
                                               std::string(format_of(child)) + "'");
    }
    children.push_back(*found);
  }
  return children;
}

}  // namespace

KeptBatches::~KeptBatches() {
  for (ArrowArray& batch : batches) {
    if (batch.release != nullptr) batch.release(&batch);
  }
}

Result<ImportedTable> import_columns(ArrowArrayStream* stream, std::string_view table,
                                     std::span<const ColumnSpec> specs) {
  Released<ArrowArrayStream> owned{*stream};
  stream->release = nullptr;  // moved: the caller's copy no longer owns it
  Released<ArrowSchema> schema;
  if (const int code = owned.value.get_schema(&owned.value, &schema.value); code != 0) {
    return std::unexpected(stream_error(owned.value, table, code));
  }
  auto children = find_columns(schema.value, table, specs);
  if (!children) return std::unexpected(std::move(children.error()));
  ImportedTable imported;
  imported.columns.resize(specs.size());
  std::int64_t rows = 0;
  while (true) {
    ArrowArray batch{};
    if (const int code = owned.value.get_next(&owned.value, &batch); code != 0) {
      return std::unexpected(stream_error(owned.value, table, code));
    }
    if (batch.release == nullptr) break;  // the end of the stream
    // Kept before anything can fail, so that it is released on every way out.
    imported.kept->batches.push_back(batch);
    for (std::size_t s = 0; s < specs.size(); ++s) {
      if ((*children)[s] < 0) continue;  // an optional column that is not there
      const auto c = static_cast<std::size_t>((*children)[s]);
      const ArrowArray& array = *batch.children[c];
      const Slice slice{array, *schema.value.children[c], batch.offset + array.offset};
      if (Status added =
              append_rows(slice, specs[s], batch.length, rows, table, imported.columns[s]);
          !added) {
        return std::unexpected(std::move(added.error()));
      }
    }
    rows += batch.length;
  }
  return imported;
}

}  // namespace textgrid
