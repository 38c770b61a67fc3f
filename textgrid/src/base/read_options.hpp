// How a file is read: one value, made once per call at the edge (the Python
// module parses its words into it) and passed whole down to the decoder and
// the readers. A new reading option is a field here and the one place that
// reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/error.hpp"
#include "base/interrupt.hpp"

namespace textgrid {

// The layout asked for: Auto lets the file's bytes choose the reader (binary,
// chronological, long or short).
enum class FileType : std::uint8_t { Auto, Long, Short };

// How the bytes of a text file that has no UTF-16 byte-order mark become
// text. Utf8 refuses bytes that are not UTF-8; Praat takes UTF-8 where the
// bytes are valid UTF-8 and else each byte as Praat's 8-bit reading gives
// it; Latin1 and Cp1252 decode every file that way.
enum class Encoding : std::uint8_t { Utf8, Praat, Latin1, Cp1252 };

struct ReadOptions {
  FileType file_type = FileType::Auto;
  bool strict = false;
  Encoding encoding = Encoding::Utf8;
  // Whether one large file may be read and checked in two stretches on the
  // pool. Batch readers, which already keep the pool busy with other files,
  // turn it off.
  bool may_split = true;
  // Asked while a file waits for data (FIFOs, devices) and between files of a
  // batch; see wait_ready. Empty: never stop.
  ShouldStop should_stop = {};
};

// The layout word of the reading functions, exactly "auto", "long" or
// "short" (byte for byte, case-sensitive), or nothing for any other word.
std::optional<FileType> parse_file_type(std::string_view word);

// The failure of a layout word that parse_file_type refuses: "Unknown file
// type: <word>", the word exactly as given.
Error unknown_file_type(std::string_view word);

// The encoding word of the table functions ("utf-8", "praat", "latin-1",
// "cp1252"), or nothing for any other word.
std::optional<Encoding> parse_encoding(std::string_view word);

}  // namespace textgrid
