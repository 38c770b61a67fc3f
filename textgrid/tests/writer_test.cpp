#include "write/writer.hpp"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/cpus.hpp"
#include "model/textgrid.hpp"
#include "parallel/pool_testing.hpp"
#include "text/number_format.hpp"
#include "write/file_output.hpp"

namespace textgrid {
namespace {

namespace fs = std::filesystem;

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string expected(const std::string& name) {
  return read_bytes(std::string(PLINTH_TEXTGRID_TEST_DIR) + "/expected/" + name);
}

Tier words_tier() {
  Tier tier{"the \"best\" words", true, 0, 2.5, 99, {}};
  tier.items = {{0, 0.25, ""},
                {0.25, 1.1, "say \"hi\""},
                {1.1, 2, "a\\\"b"},
                {2, 2.5, "naïve\tline\nbreak\r\n€ 日本"}};
  return tier;
}

Tier tones_tier() {
  Tier tier{"tones", false, 0, 3, 0, {}};
  // The second point's tmax differs: only its tmin is written.
  tier.items = {{1e-7, 1e-7, "H*"}, {0.1 + 0.2, 0.9, "\"quoted\""}, {1e23, 1e23, ""}};
  return tier;
}

TextGrid document(const std::string& which) {
  TextGrid grid;
  grid.name = "never written";
  grid.size = 5;  // the declared size is never written
  if (which == "empty") {
    grid.tmax = 2.5;
  } else if (which == "empty_tier") {
    grid.tmax = 1;
    grid.tiers.push_back(Tier{"silence", true, 0, 1, 3, {}});
  } else if (which == "intervals") {
    grid.tmax = 2.5;
    grid.tiers.push_back(words_tier());
  } else if (which == "points") {
    grid.tmin = -0.0;
    grid.tmax = 3;
    grid.tiers.push_back(tones_tier());
  } else {
    grid.tmax = 3;
    grid.tiers.push_back(words_tier());
    grid.tiers.push_back(tones_tier());
  }
  return grid;
}

class layouts : public ::testing::TestWithParam<const char*> {};

TEST_P(layouts, long_layout_matches_expected_bytes) {
  const std::string which = GetParam();
  EXPECT_EQ(document(which).to_long_textgrid_string(), expected(which + "_long.TextGrid"));
}

TEST_P(layouts, short_layout_matches_expected_bytes) {
  const std::string which = GetParam();
  EXPECT_EQ(document(which).to_short_textgrid_string(), expected(which + "_short.TextGrid"));
}

INSTANTIATE_TEST_SUITE_P(documents, layouts,
                         ::testing::Values("empty", "empty_tier", "intervals", "points", "mixed"));

TEST(writer, quotes_doubled_and_nothing_else_touched) {
  std::string out;
  append_quoted_body(out, "a\"b");
  EXPECT_EQ(out, "a\"\"b");
  out.clear();
  append_quoted_body(out, "\\\"\"x\\\t\r\n\"");
  EXPECT_EQ(out, "\\\"\"\"\"x\\\t\r\n\"\"");
  out.clear();
  append_quoted_body(out, "");
  EXPECT_EQ(out, "");
}

// The item blocks as the layout tables give them, one after another, to check
// the pool's output against.
std::string quoted(const std::string& text) {
  std::string out;
  append_quoted_body(out, text);
  return out;
}

std::string reference_long_items(const Tier& tier) {
  std::string out;
  for (std::size_t i = 0; i < tier.items.size(); ++i) {
    const Item& item = tier.items[i];
    out += "        intervals [" + std::to_string(i + 1) + "]:\r\n";
    out += "            xmin = " + format_time(item.tmin) + " \r\n";
    out += "            xmax = " + format_time(item.tmax) + " \r\n";
    out += "            text = \"" + quoted(item.text) + "\" \r\n";
  }
  return out;
}

std::string reference_short_items(const Tier& tier) {
  std::string out;
  for (const Item& item : tier.items)
    out += format_time(item.tmin) + "\r\n" + format_time(item.tmax) + "\r\n\"" + quoted(item.text) +
           "\"\r\n";
  return out;
}

std::string reference_long_points(const Tier& tier) {
  std::string out;
  for (std::size_t i = 0; i < tier.items.size(); ++i) {
    const Item& item = tier.items[i];
    out += "        points [" + std::to_string(i + 1) + "]:\r\n";
    out += "            number = " + format_time(item.tmin) + " \r\n";
    out += "            mark = \"" + quoted(item.text) + "\" \r\n";
  }
  return out;
}

std::string reference_short_points(const Tier& tier) {
  std::string out;
  for (const Item& item : tier.items)
    out += format_time(item.tmin) + "\r\n\"" + quoted(item.text) + "\"\r\n";
  return out;
}

Tier counted_tier(std::size_t count) {
  Tier tier{"n", true, 0, static_cast<double>(count), 0, {}};
  tier.items.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) * 0.01;
    tier.items.push_back({t, t + 0.01, "label " + std::to_string(i * 7)});
  }
  return tier;
}

class sequential_and_parallel : public ::testing::TestWithParam<std::size_t> {};

// Just below the threshold the items are made on the calling thread, from it
// on the pool: the bytes must not tell the two apart.
TEST_P(sequential_and_parallel, give_identical_bytes) {
  detail::reset_thread_pool_for_testing(GetParam());
  const std::size_t threshold = parallel_threshold();
  for (std::size_t count :
       {threshold - 1, threshold, threshold + 1, std::size_t{40}, std::size_t{2039}}) {
    const Tier tier = counted_tier(count);
    const std::string long_text = tier.to_long_textgrid_string(0);
    const std::string short_text = tier.to_short_textgrid_string();
    const std::string long_header =
        "    item [1]:\r\n        class = \"IntervalTier\" \r\n        name = \"n\" \r\n"
        "        xmin = 0 \r\n        xmax = " +
        std::to_string(count) + " \r\n        intervals: size = " + std::to_string(count) + " \r\n";
    EXPECT_EQ(long_text, long_header + reference_long_items(tier)) << count;
    const std::string short_header = "\"IntervalTier\"\r\n\"n\"\r\n0\r\n" + std::to_string(count) +
                                     "\r\n" + std::to_string(count) + "\r\n";
    EXPECT_EQ(short_text, short_header + reference_short_items(tier)) << count;
  }
}

// Texts that take the most room per byte of input (all quotes), times of
// every length (subnormal, huge, NaN, negative zero) and labels far longer
// than the rest: each buffer, whole or per piece, is sized from bounds, and
// none of these may run past it or leave a gap.
TEST_P(sequential_and_parallel, awkward_items_give_identical_bytes) {
  detail::reset_thread_pool_for_testing(GetParam());
  const double times[] = {0.0,
                          -0.0,
                          5e-324,
                          1.7976931348623157e308,
                          0.1,
                          1e-7,
                          123456.789,
                          std::numeric_limits<double>::quiet_NaN(),
                          -std::numeric_limits<double>::infinity()};
  for (std::size_t count : {parallel_threshold() - 1, std::size_t{500}}) {
    Tier intervals{"q\"", true, 0, 1, 0, {}};
    Tier points{"p", false, 0, 1, 0, {}};
    for (std::size_t i = 0; i < count; ++i) {
      std::string text(i % 5 == 0 ? 1000 : i % 7, '"');
      if (i % 3 == 0) text += "caf\xc3\xa9 \"x\"";
      intervals.items.push_back({times[i % 9], times[(i + 4) % 9], text});
      points.items.push_back({times[(i + 2) % 9], times[(i + 2) % 9], text});
    }
    const std::string long_text = intervals.to_long_textgrid_string(0);
    EXPECT_EQ(long_text.substr(long_text.size() - reference_long_items(intervals).size()),
              reference_long_items(intervals))
        << count;
    const std::string short_text = intervals.to_short_textgrid_string();
    EXPECT_EQ(short_text.substr(short_text.size() - reference_short_items(intervals).size()),
              reference_short_items(intervals))
        << count;
    const std::string long_points = points.to_long_textgrid_string(0);
    EXPECT_EQ(long_points.substr(long_points.size() - reference_long_points(points).size()),
              reference_long_points(points));
    const std::string short_points = points.to_short_textgrid_string();
    EXPECT_EQ(short_points.substr(short_points.size() - reference_short_points(points).size()),
              reference_short_points(points));
    EXPECT_EQ(long_text.find("name = \"q\"\"\" \r\n"), 56u);
    // The save writes the slices where they lie, beside the small tiers'
    // buffer: the file must hold the very bytes of the joined text.
    TextGrid grid{
        "g", 0, 1, 3, {points, Tier{"small", true, 0, 1, 0, {{0, 1, "a\"b"}}}, intervals}};
    const std::string file =
        (fs::temp_directory_path() / ("writer_pieces_" + std::to_string(getpid()))).string();
    for (const bool long_layout : {true, false}) {
      ASSERT_TRUE(grid.save_textgrid(file, long_layout).has_value());
      EXPECT_EQ(read_bytes(file),
                long_layout ? grid.to_long_textgrid_string() : grid.to_short_textgrid_string())
          << count;
    }
    fs::remove(file);
  }
}

INSTANTIATE_TEST_SUITE_P(workers, sequential_and_parallel, ::testing::Values(1u, 3u));

class save : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("writer_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(save, writes_both_layouts_and_truncates) {
  const TextGrid grid = document("mixed");
  const std::string file = path("out.TextGrid");
  ASSERT_TRUE(grid.save_textgrid(file, true).has_value());
  EXPECT_EQ(read_bytes(file), expected("mixed_long.TextGrid"));
  ASSERT_TRUE(grid.save_textgrid(file, false).has_value());
  EXPECT_EQ(read_bytes(file), expected("mixed_short.TextGrid"));
}

// More pieces than one writev takes (IOV_MAX, 1024 on Linux), empty ones
// among them: every byte lands once and in order.
TEST_F(save, pieces_past_one_call_are_written_in_order) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < 2600; ++i) texts.push_back(i % 3 == 0 ? "" : std::to_string(i) + ",");
  const std::vector<std::string_view> pieces(texts.begin(), texts.end());
  std::string joined;
  for (const std::string& text : texts) joined += text;
  const std::string file = path("pieces.txt");
  ASSERT_TRUE(store_file(file, pieces).has_value());
  EXPECT_EQ(read_bytes(file), joined);
}

TEST_F(save, creates_with_0666_before_umask) {
  const mode_t old = umask(022);
  ASSERT_TRUE(document("empty").save_textgrid(path("a.TextGrid"), true).has_value());
  umask(0);
  ASSERT_TRUE(document("empty").save_textgrid(path("b.TextGrid"), true).has_value());
  umask(old);
  EXPECT_EQ(fs::status(path("a.TextGrid")).permissions(), static_cast<fs::perms>(0644));
  EXPECT_EQ(fs::status(path("b.TextGrid")).permissions(), static_cast<fs::perms>(0666));
}

struct SaveFailure {
  const char* path;  // relative to the test directory unless absolute
  const char* message;
  ErrorKind kind;
};

class save_fails : public save, public ::testing::WithParamInterface<SaveFailure> {};

TEST_P(save_fails, with_the_os_error) {
  const SaveFailure& c = GetParam();
  const std::string target = c.path[0] == '/' ? std::string(c.path) : path(c.path);
  const Status status = document("intervals").save_textgrid(target, true);
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().message, c.message);
  EXPECT_EQ(status.error().kind, c.kind);
  EXPECT_FALSE(fs::exists(path("no_such_dir")));
}

INSTANTIATE_TEST_SUITE_P(
    paths, save_fails,
    ::testing::Values(SaveFailure{"no_such_dir/missing.TextGrid",
                                  "No such file or directory (os error 2)", ErrorKind::NotFound},
                      SaveFailure{".", "Is a directory (os error 21)", ErrorKind::IsADirectory},
                      SaveFailure{"/dev/full", "No space left on device (os error 28)",
                                  ErrorKind::Other}));

// A write cut short past a file-size limit (in a child: the limit is the
// process's) leaves the previous file whole and no temporary beside it.
TEST_F(save, failed_write_keeps_the_previous_file) {
  const std::string file = path("kept.TextGrid");
  ASSERT_TRUE(document("empty").save_textgrid(file, false).has_value());
  const std::string before = read_bytes(file);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size() + 10, before.size() + 10};
    setrlimit(RLIMIT_FSIZE, &limit);
    const Status status = document("mixed").save_textgrid(file, true);
    _exit(!status && status.error().message == "File too large (os error 27)" ? 0 : 1);
  }
  int exit_status = 0;
  ASSERT_EQ(waitpid(child, &exit_status, 0), child);
  EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0);
  EXPECT_EQ(read_bytes(file), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(save, path_with_nul_byte_fails_and_creates_nothing) {
  const std::string file = path("cut") + std::string(1, '\0') + "rest";
  const Status status = document("empty").save_textgrid(file, false);
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().message, "file name contained an unexpected NUL byte");
  EXPECT_EQ(status.error().kind, ErrorKind::InvalidInput);
  EXPECT_FALSE(fs::exists(path("cut")));
}

TEST_F(save, unwritable_file_is_permission_denied) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores file modes";
  const std::string file = path("locked.TextGrid");
  std::ofstream(file) << "x";
  fs::permissions(file, fs::perms::owner_read);
  const Status status = document("empty").save_textgrid(file, true);
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().message, "Permission denied (os error 13)");
  EXPECT_EQ(read_bytes(file), "x");
}

}  // namespace
}  // namespace textgrid
