#include "base/cpus.hpp"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace textgrid {
namespace {

const std::string kFixtures = std::string(PLINTH_TEXTGRID_TEST_DIR) + "/fixtures/cgroup/";

struct QuotaCase {
  const char* tree;
  std::optional<std::size_t> limit;
};

class cgroup_quota : public ::testing::TestWithParam<QuotaCase> {};

TEST_P(cgroup_quota, limit_from_fixture_tree) {
  const QuotaCase& c = GetParam();
  EXPECT_EQ(detail::cgroup_cpu_limit(kFixtures + c.tree), c.limit) << c.tree;
}

INSTANTIATE_TEST_SUITE_P(
    trees, cgroup_quota,
    ::testing::Values(QuotaCase{"v2_quota", 2},           // 1.5 CPUs round up to 2
                      QuotaCase{"v2_max", std::nullopt},  // "max": unlimited
                      QuotaCase{"v2_parent_limit", 3},    // the parent's quota binds
                      QuotaCase{"v2_tightest_wins", 1},   // smallest along the path
                      QuotaCase{"v2_zero_period", std::nullopt},
                      QuotaCase{"v2_garbage", std::nullopt},
                      QuotaCase{"v2_root_group", 1},            // 0.5 CPU rounds up to 1
                      QuotaCase{"v1_quota", 3},                 // hybrid: no cgroup2 mount, v1 read
                      QuotaCase{"v1_unlimited", std::nullopt},  // quota -1
                      QuotaCase{"v1_half_cpu", 1},
                      QuotaCase{"v1_mount_root", 3},  // group is the mount's own root
                      QuotaCase{"no_cgroup_files", std::nullopt}),
    [](const auto& param_info) { return std::string(param_info.param.tree); });

TEST(available_cpus, positive_and_within_affinity) {
  const std::size_t cpus = available_cpus();
  EXPECT_GE(cpus, 1u);
  if (const auto affinity = detail::affinity_cpus()) {
    EXPECT_LE(cpus, *affinity);
  }
  EXPECT_EQ(parallel_threshold(), cpus * 20 / 2);
}

}  // namespace
}  // namespace textgrid
