// The CPU quota a control group directory sets, as -j's default reads it:
// cgroup v2's cpu.max, else v1's quota over its period, rounded up; none
// where the quota is unlimited or the files are missing or unreadable.
#include "parallel/workers.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

TEST(Workers, QuotaOfAControlGroup) {
  const struct {
    const char *max, *v1_quota, *v1_period; // null: no such file
    unsigned cores;
  } kCases[] = {
      {"max 100000", nullptr, nullptr, 0},
      {"150000 100000", nullptr, nullptr, 2},
      {"200000 100000", nullptr, nullptr, 2},
      {"50000 100000", nullptr, nullptr, 1},
      {"999999999999999 1000", nullptr, nullptr, 1024},
      {"0 100000", nullptr, nullptr, 0},
      {"100000 0", nullptr, nullptr, 0},
      {nullptr, "-1", "100000", 0},
      {nullptr, "250000", "100000", 3},
      {nullptr, "250000", nullptr, 0},
      {nullptr, nullptr, nullptr, 0},
      // cpu.max wins over v1's files, which a v2 group does not have.
      {"max 100000", "400000", "100000", 0},
  };
  char dir[] = "/tmp/knotfit_cgroup_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::filesystem::path group = dir;
  for (const auto &c : kCases) {
    for (const auto &[name, text] : {std::pair{"cpu.max", c.max},
                                     {"cpu.cfs_quota_us", c.v1_quota},
                                     {"cpu.cfs_period_us", c.v1_period}}) {
      std::filesystem::remove(group / name);
      if (text != nullptr) {
        std::ofstream(group / name) << text << "\n";
      }
    }
    EXPECT_EQ(QuotaIn(dir), c.cores)
        << (c.max ? c.max : "-") << " " << (c.v1_quota ? c.v1_quota : "-");
  }
  std::filesystem::remove_all(group);
}

// As many as the affinity allows (taskset), unless a quota allows fewer.
TEST(Workers, UsableCoresFollowTheAffinity) {
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  const unsigned count = static_cast<unsigned>(CPU_COUNT(&all));
  const unsigned quota = CgroupQuota();
  EXPECT_EQ(UsableCores(), quota > 0 ? std::min(count, quota) : count);
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE && CPU_COUNT(&one) == 0; ++cpu) {
    if (CPU_ISSET(cpu, &all)) {
      CPU_SET(cpu, &one);
    }
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(UsableCores(), 1u);
  ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
}

} // namespace
