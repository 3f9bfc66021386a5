// Usage statistics from fixture /proc trees read by the Linux machine: rates
// between requests, memory, per-application figures and their order.
#include "fixture_tree.h"

#include "macinfo/stats_provider.h"
#include "platform/linux/machine/linux_machine.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::FixtureTree;

std::string procStat(std::uint64_t user, std::uint64_t idle)
{
    // user nice system idle iowait irq softirq steal
    return "cpu  " + std::to_string(user) + " 0 0 " + std::to_string(idle) + " 0 0 0 0 0 0\n" +
           "cpu0 1 2 3 4\n";
}

std::string pidStat(int pid, const std::string& comm, std::uint64_t utime, std::uint64_t stime)
{
    return std::to_string(pid) + " (" + comm + ") S 1 1 1 0 -1 4194560 100 0 0 0 " +
           std::to_string(utime) + " " + std::to_string(stime) + " 0 0 20 0 1 0 100 0 0\n";
}

class Stats : public ::testing::Test {
protected:
    FixtureTree tree;
    std::vector<RunningApp> running;
    std::int64_t nowNs = 1'000'000'000;
    LinuxMachine machine{SystemFiles(tree.root()), "/", 100};
    StatsProvider provider{machine, [this] { return running; }, [this] { return nowNs; }};
};

TEST_F(Stats, OverallLoadIsARateCappedAndSafeFromBackwardCounters)
{
    EXPECT_EQ(provider.cpuPercent(), 0) << "unreadable";
    tree.write("proc/stat", procStat(100, 900));
    EXPECT_EQ(provider.cpuPercent(), 0) << "first sample";
    tree.write("proc/stat", procStat(150, 950));
    EXPECT_DOUBLE_EQ(provider.cpuPercent(), 50);
    tree.write("proc/stat", procStat(10, 960)); // counters reset
    EXPECT_EQ(provider.cpuPercent(), 0);
    tree.write("proc/stat", procStat(20, 960));
    EXPECT_DOUBLE_EQ(provider.cpuPercent(), 100);
    tree.write("proc/stat", "cpu  x y z\n");
    EXPECT_EQ(provider.cpuPercent(), 0);
}

TEST_F(Stats, MemoryIsTotalLessAvailable)
{
    EXPECT_EQ(provider.memoryUsage(), (std::pair<std::int64_t, std::int64_t>{0, 0}));
    tree.write("proc/meminfo", "MemTotal: 1000 kB\nMemFree: 100 kB\nMemAvailable: 250 kB\n");
    EXPECT_EQ(provider.memoryUsage(),
              (std::pair<std::int64_t, std::int64_t>{750 * 1024, 1000 * 1024}));
    tree.write("proc/meminfo", "MemTotal: 1000 kB\nMemAvailable: 5000 kB\n");
    EXPECT_EQ(provider.memoryUsage().first, 0);
}

TEST_F(Stats, ApplicationsInTicksPerSecondOfWallTimeSortedByLoadThenMemory)
{
    running = {{10, "org.a", "Alpha", "org.a"},
               {20, "", "", "beta"},
               {30, "", "", ""},
               {40, "org.gone", "Gone", "org.gone"}};
    tree.write("proc/10/stat", pidStat(10, "alpha (main) x", 100, 50));
    tree.write("proc/10/smaps_rollup", "Rss: 9000 kB\nPss: 4000 kB\n");
    tree.write("proc/20/stat", pidStat(20, "beta", 10, 0));
    tree.write("proc/20/status", "Name: beta\nVmRSS: 8000 kB\n");
    tree.write("proc/30/stat", pidStat(30, "nameless", 0, 0));

    auto first = provider.appUsages();
    ASSERT_EQ(first.size(), 3u) << "an unreadable process is left out";
    for (const auto& usage : first)
        EXPECT_EQ(usage.cpu, 0) << "first sample";
    EXPECT_EQ(first[0].pid, 20) << "equal load: the larger footprint first";
    EXPECT_EQ(first[0].memory, 8000 * 1024);
    EXPECT_EQ(first[1].memory, 4000 * 1024);
    EXPECT_EQ(first[2].name, "?");
    EXPECT_EQ(first[0].name, "beta");
    EXPECT_EQ(first[0].bundleID, "");

    // Two seconds later: alpha used 3 s of processor time (300 ticks), beta
    // went backwards (a reused pid) and counts as 0.
    nowNs += 2'000'000'000;
    tree.write("proc/10/stat", pidStat(10, "alpha (main) x", 350, 100));
    tree.write("proc/20/stat", pidStat(20, "beta", 1, 0));
    auto second = provider.appUsages();
    ASSERT_EQ(second.size(), 3u);
    EXPECT_EQ(second[0].pid, 10);
    EXPECT_DOUBLE_EQ(second[0].cpu, 150) << "busy on more than one core";
    EXPECT_EQ(second[1].cpu, 0);

    // A pid seen for the first time starts at 0.
    running.push_back({50, "", "New", ""});
    tree.write("proc/50/stat", pidStat(50, "new", 500, 500));
    nowNs += 1'000'000'000;
    for (const auto& usage : provider.appUsages()) {
        if (usage.pid == 50) {
            EXPECT_EQ(usage.cpu, 0);
        }
    }
}

TEST_F(Stats, FootprintsAreReadAFewAtATimeAndResidentSizeStandsInMeanwhile)
{
    const int count = StatsProvider::footprintReadsPerRequest + 4;
    for (int pid = 100; pid < 100 + count; ++pid) {
        running.push_back({pid, "", "App", ""});
        std::string base = "proc/" + std::to_string(pid);
        tree.write(base + "/stat", pidStat(pid, "app", 0, 0));
        tree.write(base + "/smaps_rollup", "Pss: 1000 kB\n");
        tree.write(base + "/status", "VmRSS: 3000 kB\n");
    }
    auto countPss = [](const std::vector<AppUsage>& list) {
        return std::count_if(list.begin(), list.end(),
                             [](const AppUsage& u) { return u.memory == 1000 * 1024; });
    };
    auto first = provider.appUsages();
    EXPECT_EQ(countPss(first), StatsProvider::footprintReadsPerRequest);
    EXPECT_EQ(first.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(countPss(provider.appUsages()), count) << "the rest on the next request";
}

} // namespace
} // namespace orvane
