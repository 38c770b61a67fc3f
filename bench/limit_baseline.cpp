// The physical-limit row of the benchmark: the least work any reader or
// writer of these files must do. "read" reads each file from the page cache
// into memory and counts its line breaks; "write" writes a buffer that is
// already in memory to a file. Prints one JSON line with the median of the
// repetitions, so the bench can put it beside the tools' rows.
//
// Usage: limit_baseline [--reps N] read FILE... | @LIST
//        limit_baseline [--reps N] write SOURCE DESTINATION
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "read_whole.hpp"

namespace {

struct Totals {
  std::size_t bytes = 0;
  std::size_t lines = 0;
};

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "limit_baseline: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

std::size_t read_whole_or_die(const std::string& path, std::vector<char>& buffer) {
  const auto size = read_whole(path, buffer);
  if (!size) die(path);
  return *size;
}

Totals read_and_count(const std::vector<std::string>& paths, std::vector<char>& buffer) {
  Totals totals;
  for (const auto& path : paths) {
    const std::size_t size = read_whole_or_die(path, buffer);
    totals.bytes += size;
    totals.lines += static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + size, '\n'));
  }
  return totals;
}

void write_whole(const std::string& path, const std::vector<char>& data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) die(path);
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) die(path);
    done += static_cast<std::size_t>(put);
  }
  if (::close(fd) != 0) die(path);
}

std::vector<std::string> expand_paths(char** first, char** last) {
  std::vector<std::string> paths;
  for (char** arg = first; arg != last; ++arg) {
    if ((*arg)[0] != '@') {
      paths.emplace_back(*arg);
      continue;
    }
    std::ifstream list(*arg + 1);
    if (!list) die(*arg + 1);
    for (std::string line; std::getline(list, line);) {
      if (!line.empty()) paths.push_back(line);
    }
  }
  return paths;
}

template <typename Work>
double median_seconds(int reps, Work work) {
  std::vector<double> times;
  for (int rep = 0; rep < reps; ++rep) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    times.push_back(took.count());
  }
  std::sort(times.begin(), times.end());
  const std::size_t mid = times.size() / 2;
  return times.size() % 2 == 1 ? times[mid] : (times[mid - 1] + times[mid]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 21;
  int arg = 1;
  if (arg + 1 < argc && std::strcmp(argv[arg], "--reps") == 0) {
    reps = std::max(1, std::atoi(argv[arg + 1]));
    arg += 2;
  }
  if (arg >= argc) {
    std::fprintf(stderr,
                 "usage: limit_baseline [--reps N] read FILE...|@LIST | write SOURCE DEST\n");
    return 2;
  }
  const std::string mode = argv[arg++];
  std::vector<char> buffer;
  if (mode == "read") {
    const auto paths = expand_paths(argv + arg, argv + argc);
    Totals totals = read_and_count(paths, buffer);  // warms the page cache
    const double median = median_seconds(reps, [&] { totals = read_and_count(paths, buffer); });
    std::printf(
        "{\"mode\": \"read\", \"files\": %zu, \"bytes\": %zu, \"lines\": %zu, "
        "\"reps\": %d, \"median_s\": %.9f}\n",
        paths.size(), totals.bytes, totals.lines, reps, median);
    return 0;
  }
  if (mode == "write" && argc - arg == 2) {
    const std::string destination = argv[arg + 1];
    buffer.resize(read_whole_or_die(argv[arg], buffer));
    write_whole(destination, buffer);
    const double median = median_seconds(reps, [&] { write_whole(destination, buffer); });
    std::printf(
        "{\"mode\": \"write\", \"files\": 1, \"bytes\": %zu, \"reps\": %d, "
        "\"median_s\": %.9f}\n",
        buffer.size(), reps, median);
    return 0;
  }
  std::fprintf(stderr, "limit_baseline: unknown mode or arguments\n");
  return 2;
}
