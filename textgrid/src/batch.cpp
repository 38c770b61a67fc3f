#include <span>
#include <utility>

#include "lib.hpp"
#include "parallel_map.hpp"

namespace textgrid {

// A file that fails to read gives the default-constructed result: (0, 0, no
// tiers) or five empty columns. The error itself is dropped by design. Each
// file is converted whole on the thread that read it: the files already keep
// the pool busy, and a map nested per tier would only add hand-offs.

std::vector<TextGrid> read_textgrids(const std::vector<std::string>& files, bool strict,
                                 std::string_view file_type) {
  return parallel_map(std::span<const std::string>(files),
                      [strict, file_type](const std::string& path) {
                        Result<TextGrid> textgrid = read_from_file(path, strict, file_type);
                        return textgrid ? std::move(*textgrid) : TextGrid{};
                      });
}

std::vector<TextGridData> files_to_data(const std::vector<std::string>& files, bool strict,
                                        std::string_view file_type) {
  return parallel_map(std::span<const std::string>(files),
                      [strict, file_type](const std::string& path) {
                        Result<TextGrid> textgrid = read_from_file(path, strict, file_type);
                        return textgrid ? textgrid->to_data(false) : TextGridData{};
                      });
}

std::vector<TextGridVectors> files_to_vectors(const std::vector<std::string>& files, bool strict,
                                              std::string_view file_type) {
  return parallel_map(std::span<const std::string>(files),
                      [strict, file_type](const std::string& path) {
                        Result<TextGrid> textgrid = read_from_file(path, strict, file_type);
                        return textgrid ? textgrid->to_vectors() : TextGridVectors{};
                      });
}

}  // namespace textgrid
