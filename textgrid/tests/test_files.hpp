// Temporary files for the reader tests: each test writes what it reads into a
// folder of its own under the system's temporary directory.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "model/textgrid.hpp"

namespace textgrid::testing {

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "plinth-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes `bytes` exactly into the file `name` of this folder; returns its path.
  std::string write(const std::string& name, std::string_view bytes) const {
    const std::string file = (path_ / name).string();
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

  std::string path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Returns the whole file as bytes, or an empty string when it cannot be read.
inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Returns `s` with every `from` replaced by `to`.
inline std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
  return s;
}

// Returns the records of `grid` as one comparable text.
inline std::string dump(const TextGrid& grid) {
  std::string out = grid.name + " " + std::to_string(grid.tmin) + " " + std::to_string(grid.tmax) +
                    " " + std::to_string(grid.size) + "\n";
  for (const Tier& tier : grid.tiers) {
    out += (tier.is_interval ? "I " : "P ") + tier.name + " " + std::to_string(tier.tmin) + " " +
           std::to_string(tier.tmax) + " " + std::to_string(tier.size) + "\n";
    for (const Item& item : tier.items) {
      out += "  " + std::to_string(item.tmin) + " " + std::to_string(item.tmax) + " [" + item.text +
             "]\n";
    }
  }
  return out;
}

// Returns "ok" or the message of a failed read.
inline std::string error_of(const Result<TextGrid>& read) {
  return read ? std::string("ok") : read.error().message;
}

}  // namespace textgrid::testing
