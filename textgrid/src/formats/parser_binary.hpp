// The reader of Praat's binary layout: "ooBinaryFile", the class name, then
// the same values as the text layouts, times as big-endian 64-bit floats,
// counts as big-endian 32-bit integers and texts in Praat's binary strings.
#pragma once

#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/read_options.hpp"
#include "model/textgrid.hpp"

namespace textgrid {

// The bytes every binary file of Praat's begins with.
inline constexpr std::string_view kBinaryMagic = "ooBinaryFile";

// Returns whether `bytes` (the file as stored, before any decoding) begin
// with kBinaryMagic. No allocation.
bool is_binary_file(std::string_view bytes);

// Reads `bytes` in the binary layout into a TextGrid called `name`; texts
// become UTF-8 (8-bit strings as ISO Latin-1, the others from UTF-16). Every
// count and length is checked against the bytes left before anything is
// reserved; a short or inconsistent file fails, naming the value expected and
// its byte offset. Never reads out of bounds, whatever the bytes. With
// `options.strict`, the finished TextGrid must pass its document check.
Result<TextGrid> parse_binary(std::string_view bytes, std::string name, const ReadOptions& options);

}  // namespace textgrid
