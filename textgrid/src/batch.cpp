#include "lib.hpp"

namespace textgrid {

// STUB: batches land with the conversions.
std::vector<TextGridData> files_to_data(const std::vector<std::string>& files, bool,
                                        std::string_view) {
  return std::vector<TextGridData>(files.size());
}
std::vector<TextGridVectors> files_to_vectors(const std::vector<std::string>& files, bool,
                                              std::string_view) {
  return std::vector<TextGridVectors>(files.size());
}

}  // namespace textgrid
