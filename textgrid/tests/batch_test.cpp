#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "parallel/pool_testing.hpp"
#include "parallel/thread_pool.hpp"
#include "read/batch.hpp"
#include "read/read.hpp"
#include "test_files.hpp"

namespace textgrid {
namespace {

// Every file's TextGrid, or view, read in order; a file that fails yields an
// empty one.
std::vector<TextGrid> read_textgrids(const std::vector<std::string>& files, bool strict,
                                     FileType file_type) {
  std::vector<TextGrid> out;
  read_in_order<TextGrid>(
      files, {.file_type = file_type, .strict = strict}, {},
      [](Result<TextGridView>&& view) { return view ? view->to_textgrid() : TextGrid{}; },
      [&](std::size_t, TextGrid&& grid) {
        out.push_back(std::move(grid));
        return true;
      });
  return out;
}

std::vector<TextGridView> read_textgrid_views(const std::vector<std::string>& files, bool strict,
                                              FileType file_type) {
  std::vector<TextGridView> out;
  read_in_order<TextGridView>(
      files, {.file_type = file_type, .strict = strict}, {},
      [](Result<TextGridView>&& view) { return view ? std::move(*view) : TextGridView{}; },
      [&](std::size_t, TextGridView&& view) {
        out.push_back(std::move(view));
        return true;
      });
  return out;
}

template <class Consume>
void read_views_in_order(const std::vector<std::string>& files, bool strict, FileType file_type,
                         const ShouldStop& stop, const CallerLock& lock, Consume consume) {
  read_in_order<TextGridView>(
      files, {.file_type = file_type, .strict = strict, .should_stop = stop}, lock,
      [](Result<TextGridView>&& view) { return view ? std::move(*view) : TextGridView{}; },
      consume);
}

std::string tag_of(std::size_t i) {
  return std::string("f").append(std::to_string(i));
}

std::string label_of(const std::string& tag, std::size_t j) {
  return std::string(tag).append(":").append(std::to_string(j));
}

// A long-layout file with one interval tier of `count` unit intervals, labels
// "<tag>:<j>", so every file and every entry can be told apart.
std::string long_text(const std::string& tag, std::size_t count) {
  // Appends only: GCC 12 misreads `literal + std::string` at -O3 (-Wrestrict).
  const std::string end = std::to_string(count);
  std::string text = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \n";
  text.append("xmax = ").append(end).append(" \ntiers? <exists> \nsize = 1 \nitem []: \n");
  text.append("    item [1]:\n        class = \"IntervalTier\" \n");
  text.append("        name = \"").append(tag).append("\" \n        xmin = 0 \n");
  text.append("        xmax = ").append(end).append(" \n");
  text.append("        intervals: size = ").append(end).append(" \n");
  for (std::size_t j = 0; j < count; ++j) {
    text.append("        intervals [").append(std::to_string(j + 1)).append("]:\n");
    text.append("            xmin = ").append(std::to_string(j)).append(" \n");
    text.append("            xmax = ").append(std::to_string(j + 1)).append(" \n");
    text.append("            text = \"").append(label_of(tag, j)).append("\" \n");
  }
  return text;
}

// Items 0 and 1 overlap: the strict reader rejects it, the lenient one keeps it.
const char* kOverlapping =
    "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = 2\n"
    "tiers? <exists>\nsize = 1\nitem []:\n    item [1]:\n        class = \"IntervalTier\"\n"
    "        name = \"bad\"\n        xmin = 0\n        xmax = 2\n        intervals: size = 2\n"
    "        intervals [1]:\n            xmin = 0\n            xmax = 1.5\n"
    "            text = \"a\"\n        intervals [2]:\n            xmin = 1\n"
    "            xmax = 2\n            text = \"b\"\n";

// A valid document whose only tier has no items.
const char* kNoItems =
    "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = 2\n"
    "tiers? <exists>\nsize = 1\nitem []:\n    item [1]:\n        class = \"IntervalTier\"\n"
    "        name = \"none\"\n        xmin = 0\n        xmax = 2\n        intervals: size = 0\n";

class batch : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& text) const {
    return dir_.write(name, text);
  }

  // Files f0 .. f<n-1>, file i holding i % 7 + 1 intervals.
  std::vector<std::string> good_files(std::size_t n) const {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < n; ++i) {
      const std::string tag = tag_of(i);
      paths.push_back(write(tag + ".TextGrid", long_text(tag, i % 7 + 1)));
    }
    return paths;
  }

  testing::TempDir dir_;
};

void expect_vectors_of(const TextGridVectors& v, const std::string& tag, std::size_t count) {
  ASSERT_EQ(v.tmins.size(), count) << tag;
  ASSERT_EQ(v.tmaxs.size(), count);
  ASSERT_EQ(v.labels.size(), count);
  ASSERT_EQ(v.tier_of.size(), count);
  ASSERT_EQ(v.tier_names, std::vector<std::string>(count > 0 ? 1 : 0, tag));
  ASSERT_EQ(v.is_intervals.size(), count);
  for (std::size_t j = 0; j < count; ++j) {
    EXPECT_EQ(v.tmins[j], static_cast<double>(j));
    EXPECT_EQ(v.tmaxs[j], static_cast<double>(j + 1));
    EXPECT_EQ(v.labels[j], label_of(tag, j));
    EXPECT_EQ(v.tier_of[j], 0u);
    EXPECT_EQ(v.is_intervals[j], 1);
  }
}

void expect_data_of(const TextGridData& d, const std::string& tag, std::size_t count) {
  EXPECT_EQ(d.tmin, 0.0);
  EXPECT_EQ(d.tmax, static_cast<double>(count));
  ASSERT_EQ(d.tiers.size(), 1u) << tag;
  EXPECT_EQ(d.tiers[0].name, tag);
  EXPECT_TRUE(d.tiers[0].is_interval);
  ASSERT_EQ(d.tiers[0].items.size(), count);
  for (std::size_t j = 0; j < count; ++j) {
    EXPECT_EQ(d.tiers[0].items[j].tmin, static_cast<double>(j));
    EXPECT_EQ(d.tiers[0].items[j].label, label_of(tag, j));
  }
}

void expect_empty(const TextGridVectors& v) {
  EXPECT_TRUE(v.tmins.empty());
  EXPECT_TRUE(v.tmaxs.empty());
  EXPECT_TRUE(v.labels.empty());
  EXPECT_TRUE(v.tier_of.empty());
  EXPECT_TRUE(v.tier_names.empty());
  EXPECT_TRUE(v.is_intervals.empty());
}

void expect_empty(const TextGridData& d) {
  EXPECT_EQ(d.tmin, 0.0);
  EXPECT_EQ(d.tmax, 0.0);
  EXPECT_TRUE(d.tiers.empty());
}

TEST_F(batch, no_paths_give_no_results) {
  EXPECT_TRUE(files_to_data({}, true, "auto").empty());
  EXPECT_TRUE(files_to_vectors({}, true, "auto").empty());
}

TEST_F(batch, failing_files_leave_empty_results_in_place) {
  const std::vector<std::string> good = good_files(2);
  const std::vector<std::string> paths{good[0], write("bad.TextGrid", kOverlapping),
                                       dir_.path("missing.TextGrid"), good[1]};
  const auto vectors = files_to_vectors(paths, true, "long");
  ASSERT_EQ(vectors.size(), 4u);
  expect_vectors_of(vectors[0], "f0", 1);
  expect_empty(vectors[1]);
  expect_empty(vectors[2]);
  expect_vectors_of(vectors[3], "f1", 2);

  const auto data = files_to_data(paths, true, "auto");
  ASSERT_EQ(data.size(), 4u);
  expect_data_of(data[0], "f0", 1);
  expect_empty(data[1]);
  expect_empty(data[2]);
  expect_data_of(data[3], "f1", 2);

  // Lenient reading keeps the overlapping file; an unknown layout word fails all.
  EXPECT_EQ(files_to_vectors(paths, false, "long")[1].labels, (std::vector<std::string>{"a", "b"}));
  for (const TextGridData& d : files_to_data(paths, true, "Long")) expect_empty(d);
}

TEST_F(batch, a_file_without_items_has_the_vectors_of_a_failed_one) {
  const std::vector<std::string> paths{write("none.TextGrid", kNoItems)};
  expect_empty(files_to_vectors(paths, true, "auto")[0]);
  const TextGridData data = files_to_data(paths, true, "auto")[0];
  EXPECT_EQ(data.tmax, 2.0);
  ASSERT_EQ(data.tiers.size(), 1u);
  EXPECT_TRUE(data.tiers[0].items.empty());
}

TEST_F(batch, the_same_path_twice_is_read_twice) {
  const std::vector<std::string> good = good_files(1);
  const auto vectors = files_to_vectors({good[0], good[0]}, true, "auto");
  ASSERT_EQ(vectors.size(), 2u);
  expect_vectors_of(vectors[0], "f0", 1);
  expect_vectors_of(vectors[1], "f0", 1);
  // Two separate results, not one shared.
  EXPECT_NE(vectors[0].labels.data(), vectors[1].labels.data());
}

// A batch element converting a tier above the threshold maps on the same
// pool from inside a worker; with one worker that must neither deadlock nor
// reorder.
TEST_F(batch, large_tiers_inside_a_parallel_batch_on_one_worker) {
  detail::reset_thread_pool_for_testing(1);
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < 45; ++i) {
    paths.push_back(write(tag_of(i) + ".TextGrid", long_text(tag_of(i), 100 + i)));
  }
  const auto data = files_to_data(paths, true, "long");
  ASSERT_EQ(data.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) expect_data_of(data[i], tag_of(i), 100 + i);
}

std::atomic<std::size_t> g_largest_piece_end{0};

void record_piece_end(std::size_t, std::size_t end) {
  std::size_t seen = g_largest_piece_end.load();
  while (end > seen && !g_largest_piece_end.compare_exchange_weak(seen, end)) {}
}

// The files keep the pool busy: a batch element converts its large tier on
// its own worker, so every piece run is a range of files, none of items.
TEST_F(batch, large_tiers_are_converted_on_the_worker_that_read_them) {
  detail::reset_thread_pool_for_testing(2);
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < 45; ++i) {
    paths.push_back(write(tag_of(i) + ".TextGrid", long_text(tag_of(i), 300)));
  }
  g_largest_piece_end = 0;
  detail::set_piece_observer_for_testing(record_piece_end);
  const auto data = files_to_data(paths, true, "long");
  const auto grids = read_textgrids(paths, true, FileType::Long);
  detail::set_piece_observer_for_testing(nullptr);
  EXPECT_LE(g_largest_piece_end.load(), paths.size());
  ASSERT_EQ(data.size(), paths.size());
  ASSERT_EQ(grids.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    expect_data_of(data[i], tag_of(i), 300);
    expect_data_of(grids[i].to_data(), tag_of(i), 300);
  }
}

// Batches below and well above the parallel threshold, with failures spread
// through them, on one worker and on several: every result sits at its own
// file's position.
class batch_order : public batch,
                    public ::testing::WithParamInterface<std::tuple<std::size_t, std::size_t>> {};

TEST_P(batch_order, results_in_input_order) {
  detail::reset_thread_pool_for_testing(std::get<0>(GetParam()));
  std::vector<std::string> paths = good_files(std::get<1>(GetParam()));
  const std::string bad = write("bad.TextGrid", kOverlapping);
  for (std::size_t i = 3; i < paths.size(); i += 11) paths[i] = bad;
  const auto vectors = files_to_vectors(paths, true, "auto");
  const auto data = files_to_data(paths, true, "auto");
  const auto grids = read_textgrids(paths, true, FileType::Auto);
  const auto views = read_textgrid_views(paths, true, FileType::Auto);
  std::vector<TextGridData> streamed;
  read_views_in_order(paths, true, FileType::Auto, {}, {}, [&](std::size_t i, TextGridView&& view) {
    EXPECT_EQ(i, streamed.size());
    streamed.push_back(view.text ? view.to_textgrid().to_data() : TextGridData{});
    return true;
  });
  ASSERT_EQ(streamed.size(), paths.size());
  ASSERT_EQ(views.size(), paths.size());
  ASSERT_EQ(vectors.size(), paths.size());
  ASSERT_EQ(data.size(), paths.size());
  ASSERT_EQ(grids.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (paths[i] == bad) {
      expect_empty(vectors[i]);
      expect_empty(data[i]);
      expect_empty(streamed[i]);
      expect_empty(grids[i].to_data());
      EXPECT_TRUE(views[i].tiers.empty() && !views[i].text);
    } else {
      expect_vectors_of(vectors[i], tag_of(i), i % 7 + 1);
      expect_data_of(data[i], tag_of(i), i % 7 + 1);
      expect_data_of(streamed[i], tag_of(i), i % 7 + 1);
      expect_data_of(grids[i].to_data(), tag_of(i), i % 7 + 1);
      expect_data_of(views[i].to_textgrid().to_data(), tag_of(i), i % 7 + 1);
    }
  }
}

// A FIFO without a writer in the middle of a batch read in order: the stop
// hook, asked on the calling thread with its lock held while it waits for
// the FIFO (or reads it itself), ends the wait; every file is still handed
// over once, in order, the FIFO and the files not yet read as empty views
// (which ones those are depends on timing).
TEST_F(batch, a_stop_ends_the_wait_for_a_fifo_read_in_order) {
  detail::reset_thread_pool_for_testing(2);
  std::vector<std::string> paths = good_files(60);
  const std::string fifo = dir_.path("fifo.TextGrid");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  paths[30] = fifo;
  const std::thread::id caller = std::this_thread::get_id();
  bool held = true;
  int faults = 0;
  const CallerLock lock{[&] {
                          faults += held ? 0 : 1;
                          held = false;
                        },
                        [&] {
                          faults += held ? 1 : 0;
                          held = true;
                        }};
  int asked = 0;
  const ShouldStop stop = [&] {
    faults += std::this_thread::get_id() == caller && held ? 0 : 1;
    return ++asked >= 2;
  };
  std::vector<bool> full;
  read_views_in_order(paths, true, FileType::Auto, stop, lock,
                      [&](std::size_t i, TextGridView&& view) {
                        faults += i == full.size() && held ? 0 : 1;
                        if (view.text)
                          expect_data_of(view.to_textgrid().to_data(), tag_of(i), i % 7 + 1);
                        full.push_back(view.text != nullptr);
                        return true;
                      });
  EXPECT_EQ(faults, 0);
  EXPECT_TRUE(held);
  EXPECT_EQ(asked, 2);  // never again once it said stop
  ASSERT_EQ(full.size(), paths.size());
  EXPECT_FALSE(full[30]);
}

INSTANTIATE_TEST_SUITE_P(workers_and_sizes, batch_order,
                         ::testing::Combine(::testing::Values(1u, 4u),
                                            ::testing::Values(1u, 5u, 19u, 20u, 40u, 41u, 400u)));

}  // namespace
}  // namespace textgrid
