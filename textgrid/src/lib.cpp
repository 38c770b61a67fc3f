#include "lib.hpp"

namespace textgrid {

// STUB: dispatch lands with the readers.
Result<TextGrid> read_from_file(const std::string&, bool, std::string_view file_type) {
  return fail(ErrorKind::InvalidInput, "Unknown file type: " + std::string(file_type));
}

}  // namespace textgrid
