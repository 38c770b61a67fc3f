#include "arrow/table_preview.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>
#include <utility>

#include "arrow/arrow_export.hpp"

namespace textgrid {

namespace {

constexpr std::size_t kMaxChars = 24;  // of a text cell, the ellipsis included

// Releases what it guards, as a consumer of the C interfaces must.
template <class T>
struct Released {
  T value{};
  Released() = default;
  Released(const Released&) = delete;
  Released& operator=(const Released&) = delete;
  ~Released() {
    if (value.release != nullptr) value.release(&value);
  }
};

std::string counted(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count).append(" ").append(count == 1 ? one : many);
}

std::string type_name(const ArrowSchema& schema) {
  const std::string_view format = schema.format;
  std::string name = format == "I"   ? "uint32"
                     : format == "i" ? "int32"
                     : format == "L" ? "uint64"
                     : format == "l" ? "int64"
                     : format == "b" ? "bool"
                     : format == "g" ? "double"
                     : format == "u" ? "string"
                     : format == "U" ? "large_string"
                                     : std::string(format);
  if (schema.dictionary == nullptr) return name;
  return "dictionary<values=" + type_name(*schema.dictionary) + ", indices=" + name + ">";
}

bool is_numeric(const ArrowSchema& schema) {
  return schema.dictionary == nullptr && std::strchr("IiLlg", schema.format[0]) != nullptr &&
         schema.format[1] == '\0';
}

std::size_t chars_of(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// A label or name on one line: control characters escaped, cut after
// kMaxChars - 1 characters with an ellipsis.
std::string shown_text(std::string_view text) {
  std::string out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool starts = (byte & 0xC0) != 0x80;
    if (starts && ++chars == kMaxChars && chars_of(text.substr(i)) > 1) {
      out.append("\u2026");
      break;
    }
    if (byte == '\n') {
      out.append("\\n");
    } else if (byte == '\r') {
      out.append("\\r");
    } else if (byte == '\t') {
      out.append("\\t");
    } else if (byte < 0x20 || byte == 0x7f) {
      constexpr char kHex[] = "0123456789abcdef";
      out.append("\\x").push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

template <class T>
T value_at(const ArrowArray& array, std::int64_t row, std::size_t buffer = 1) {
  T value;
  std::memcpy(&value,
              static_cast<const char*>(array.buffers[buffer]) +
                  static_cast<std::size_t>(array.offset + row) * sizeof(T),
              sizeof(T));
  return value;
}

template <class Offset>
std::string_view text_at(const ArrowArray& array, std::int64_t row) {
  const auto begin = value_at<Offset>(array, row);
  const auto end = value_at<Offset>(array, row + 1);
  return {static_cast<const char*>(array.buffers[2]) + begin,
          static_cast<std::size_t>(end - begin)};
}

std::string number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string cell(const ArrowSchema& schema, const ArrowArray& array, std::int64_t row) {
  const auto at = static_cast<std::size_t>(array.offset + row);
  if (array.null_count != 0 && array.buffers[0] != nullptr &&
      ((static_cast<const std::uint8_t*>(array.buffers[0])[at >> 3] >> (at & 7)) & 1) == 0) {
    return "null";
  }
  const std::string_view format = schema.format;
  std::int64_t index = 0;
  if (format == "I") {
    index = value_at<std::uint32_t>(array, row);
  } else if (format == "i") {
    index = value_at<std::int32_t>(array, row);
  } else if (format == "l") {
    index = value_at<std::int64_t>(array, row);
  } else if (format == "L") {
    return std::to_string(value_at<std::uint64_t>(array, row));
  } else if (format == "b") {
    const auto byte = static_cast<const std::uint8_t*>(array.buffers[1])[at >> 3];
    return ((byte >> (at & 7)) & 1) != 0 ? "true" : "false";
  } else if (format == "g") {
    return number(value_at<double>(array, row));
  } else if (format == "u") {
    return shown_text(text_at<std::int32_t>(array, row));
  } else if (format == "U") {
    return shown_text(text_at<std::int64_t>(array, row));
  } else {
    return "?";
  }
  if (schema.dictionary != nullptr && array.dictionary != nullptr) {
    return cell(*schema.dictionary, *array.dictionary, index);
  }
  return std::to_string(index);
}

std::string counts_of(const TablePreview& preview) {
  return counted(static_cast<std::size_t>(preview.rows), "row", "rows") + ", " +
         counted(preview.files, "file", "files") + ", " + std::to_string(preview.failed) +
         " failed, " + counted(preview.batches, "batch", "batches");
}

std::string rows_heading(const TablePreview& preview) {
  if (preview.shown == static_cast<std::size_t>(preview.rows)) return "rows";
  return "first " + std::to_string(preview.shown) + " of " + std::to_string(preview.rows) + " rows";
}

void append_padded(std::string& line, const std::string& text, std::size_t width, bool right) {
  const std::string pad(width - chars_of(text), ' ');
  line.append(right ? pad : "").append(text).append(right ? "" : pad);
}

std::string html_escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out.append("&amp;"); break;
      case '<': out.append("&lt;"); break;
      case '>': out.append("&gt;"); break;
      case '"': out.append("&quot;"); break;
      default: out.push_back(c);
    }
  }
  return out;
}

}  // namespace

TablePreview preview_table(const std::shared_ptr<const ArrowTable>& table, std::size_t failed,
                           std::size_t max_rows, TablePart part) {
  TablePreview preview;
  preview.rows = part == TablePart::Items   ? table->rows()
                 : part == TablePart::Files ? table->files.rows
                                            : table->tiers.rows;
  preview.files = table->file_count;
  preview.batches = part == TablePart::Items ? table->batches.size() : 1;
  preview.failed = failed;
  Released<ArrowSchema> schema;
  export_schema(*table, &schema.value, part);
  for (std::int64_t i = 0; i < schema.value.n_children; ++i) {
    const ArrowSchema& field = *schema.value.children[i];
    preview.columns.push_back({field.name, type_name(field), is_numeric(field), {}});
  }
  Released<ArrowArrayStream> stream;
  export_stream(table, &stream.value, part);
  while (preview.shown < max_rows) {
    Released<ArrowArray> batch;
    if (stream.value.get_next(&stream.value, &batch.value) != 0) throw std::bad_alloc();
    if (batch.value.release == nullptr) break;  // the end of the stream
    const auto take =
        std::min(static_cast<std::size_t>(batch.value.length), max_rows - preview.shown);
    for (std::size_t c = 0; c < preview.columns.size(); ++c) {
      for (std::size_t row = 0; row < take; ++row) {
        preview.columns[c].cells.push_back(cell(*schema.value.children[c], *batch.value.children[c],
                                                static_cast<std::int64_t>(row)));
      }
    }
    preview.shown += take;
  }
  return preview;
}

std::string preview_text(const TablePreview& preview) {
  std::string text = "plinth.Table: " + counts_of(preview) + "\nschema:";
  for (const PreviewColumn& column : preview.columns) {
    text.append("\n  ").append(column.name).append(": ").append(column.type);
  }
  if (preview.shown == 0) return text;
  text.append("\n").append(rows_heading(preview)).append(":");
  std::vector<std::size_t> widths;
  for (const PreviewColumn& column : preview.columns) {
    std::size_t width = chars_of(column.name);
    for (const std::string& cell_text : column.cells) width = std::max(width, chars_of(cell_text));
    widths.push_back(width);
  }
  for (std::size_t row = 0; row <= preview.shown; ++row) {  // row 0: the names
    std::string line = " ";
    for (std::size_t c = 0; c < preview.columns.size(); ++c) {
      const PreviewColumn& column = preview.columns[c];
      line.append(" ");
      append_padded(line, row == 0 ? column.name : column.cells[row - 1], widths[c],
                    column.numeric);
      if (c + 1 < preview.columns.size()) line.append(" ");
    }
    line.erase(line.find_last_not_of(' ') + 1);
    text.append("\n").append(line);
  }
  return text;
}

std::string preview_html(const TablePreview& preview) {
  std::string html = "<div><p><b>plinth.Table</b>: " + counts_of(preview) + "</p>\n<table>\n";
  std::string names = "<thead>\n<tr>";
  std::string types = "<tr>";
  for (const PreviewColumn& column : preview.columns) {
    names.append("<th>").append(html_escaped(column.name)).append("</th>");
    types.append("<td><i>").append(html_escaped(column.type)).append("</i></td>");
  }
  html.append(names).append("</tr>\n").append(types).append("</tr>\n</thead>\n<tbody>\n");
  for (std::size_t row = 0; row < preview.shown; ++row) {
    html.append("<tr>");
    for (const PreviewColumn& column : preview.columns) {
      html.append("<td>").append(html_escaped(column.cells[row])).append("</td>");
    }
    html.append("</tr>\n");
  }
  html.append("</tbody>\n</table>\n");
  if (preview.shown > 0) html.append("<p>").append(rows_heading(preview)).append("</p>\n");
  return html.append("</div>");
}

}  // namespace textgrid
