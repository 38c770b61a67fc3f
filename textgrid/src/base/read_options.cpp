#include "base/read_options.hpp"

#include <string>

namespace textgrid {

std::optional<FileType> parse_file_type(std::string_view word) {
  if (word == "auto") return FileType::Auto;
  if (word == "long") return FileType::Long;
  if (word == "short") return FileType::Short;
  return std::nullopt;
}

Error unknown_file_type(std::string_view word) {
  return Error{ErrorKind::InvalidInput, "Unknown file type: " + std::string(word), 0};
}

std::optional<Encoding> parse_encoding(std::string_view word) {
  if (word == "utf-8") return Encoding::Utf8;
  if (word == "praat") return Encoding::Praat;
  if (word == "latin-1") return Encoding::Latin1;
  if (word == "cp1252") return Encoding::Cp1252;
  return std::nullopt;
}

}  // namespace textgrid
