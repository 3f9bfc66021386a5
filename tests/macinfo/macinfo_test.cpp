// The computer's description and its usage statistics from fixture trees
// standing in for /proc, /sys and /etc, as the Linux machine reads them, and
// the fallbacks the description puts in their place.
#include "macinfo/mac_info.h"
#include "macinfo/stats_provider.h"
#include "platform/linux/machine/linux_machine.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace orvane {
namespace {

// A throwaway root folder with files written into it.
struct FixtureTree {
    QTemporaryDir dir;
    std::string root = dir.path().toStdString();
    void write(const std::string& path, const std::string& text) const
    {
        const std::filesystem::path file = root + "/" + path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
};

// What a provider that has read nothing yet makes of the tree.
MacInfo describe(const FixtureTree& tree)
{
    LinuxMachine machine{SystemFiles(tree.root)};
    return MacInfoProvider(machine, nullptr).macInfo(QStringLiteral("Desk"), false);
}

void laptopSupplies(const FixtureTree& tree)
{
    const std::string supplies = "sys/class/power_supply/";
    tree.write(supplies + "AC/type", "Mains\n");
    tree.write(supplies + "AC/online", "1\n");
    tree.write(supplies + "BAT0/type", "Battery\n");
    tree.write(supplies + "BAT0/energy_now", "22500000\n");
    tree.write(supplies + "BAT0/energy_full", "50000000\n");
    tree.write(supplies + "BAT0/status", "Charging\n");
}

TEST(MacInfoSources, BatteriesFollowTheFirstWithAFullCharge)
{
    FixtureTree tree;
    LinuxMachine machine{SystemFiles(tree.root)};
    EXPECT_EQ(machine.battery(), (BatteryStatus{std::nullopt, false, true})) << "mains, no battery";
    laptopSupplies(tree);
    EXPECT_EQ(machine.battery(), (BatteryStatus{45, true, true}));

    // A battery with no full charge is skipped; charge_* counts like energy_*;
    // the share is not clamped; unplugged is battery power.
    tree.write("sys/class/power_supply/AC/online", "0\n");
    tree.write("sys/class/power_supply/BAT0/energy_full", "0\n");
    tree.write("sys/class/power_supply/BAT1/type", "Battery\n");
    tree.write("sys/class/power_supply/BAT1/charge_now", "5200\n");
    tree.write("sys/class/power_supply/BAT1/charge_full", "5000\n");
    tree.write("sys/class/power_supply/BAT1/status", "Full\n");
    EXPECT_EQ(machine.battery(), (BatteryStatus{104, false, false}));
    // Garbage where numbers belong: skipped, so no battery at all.
    tree.write("sys/class/power_supply/BAT1/charge_now", "lots\n");
    EXPECT_EQ(machine.battery(), (BatteryStatus{std::nullopt, false, true}));
}

TEST(MacInfoSources, ModelFromDmiWithPlaceholdersIgnored)
{
    FixtureTree tree;
    EXPECT_EQ(LinuxMachine(SystemFiles(tree.root)).model(), ModelDescription{});
    EXPECT_EQ(describe(tree).modelName, "Mac");
    const struct {
        const char *product, *version, *vendor, *family, *identifier, *name;
    } cases[] = {
        {"20XW0026GE", "ThinkPad X1 Carbon Gen 9", "LENOVO", "ThinkPad X1 Carbon Gen 9",
         "20XW0026GE", "LENOVO ThinkPad X1 Carbon Gen 9"},
        {"XPS 13 9310", "", "Dell Inc.", "XPS", "XPS 13 9310", "Dell Inc. XPS"},
        {"Standard PC (Q35 + ICH9, 2009)", "pc-q35-7.2", "QEMU", "",
         "Standard PC (Q35 + ICH9, 2009)", "QEMU Standard PC (Q35 + ICH9, 2009)"},
        {"System Product Name", "System Version", "To Be Filled By O.E.M.", "", "Mac", "Mac"},
        {"", "", "Framework", "Laptop", "Mac", "Framework Laptop"}};
    for (const auto& c : cases) {
        tree.write("sys/class/dmi/id/product_name", std::string(c.product) + "\n");
        tree.write("sys/class/dmi/id/product_version", std::string(c.version) + "\n");
        tree.write("sys/class/dmi/id/sys_vendor", std::string(c.vendor) + "\n");
        tree.write("sys/class/dmi/id/product_family", std::string(c.family) + "\n");
        const MacInfo info = describe(tree);
        EXPECT_EQ(info.modelIdentifier, c.identifier) << c.product;
        EXPECT_EQ(info.modelName, c.name) << c.product;
    }
}

TEST(MacInfoSources, ProcessorMemoryVersionAndUptime)
{
    FixtureTree tree;
    LinuxMachine machine{SystemFiles(tree.root)};
    MacInfo info = describe(tree);
    EXPECT_EQ(std::tie(info.chip, info.memoryBytes, info.systemVersion),
              std::tuple("Apple silikon", 0, "Linux"));
    EXPECT_EQ(machine.uptimeSeconds(), std::nullopt);

    tree.write("proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\n"
                               "model name\t: Intel(R) Core(TM) i7-1185G7 @ 3.00GHz\n");
    tree.write("proc/meminfo", "MemTotal:       16303540 kB\nMemFree:  100 kB\n");
    tree.write("etc/os-release",
               "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    tree.write("proc/uptime", "12345.67 45678.90\n");
    info = describe(tree);
    EXPECT_EQ(info.chip, "Intel(R) Core(TM) i7-1185G7 @ 3.00GHz");
    EXPECT_EQ(info.memoryBytes, 16303540LL * 1024);
    EXPECT_EQ(info.systemVersion, "Debian GNU/Linux 12 (bookworm)");
    EXPECT_DOUBLE_EQ(machine.uptimeSeconds().value_or(0), 12345.67);
    EXPECT_GE(info.uptime, 12345.67) << "uptime runs on from its reading";

    tree.write("proc/meminfo", "MemTotal: 99999999999999999999 kB\n");
    tree.write("proc/uptime", "nan\n");
    info = describe(tree);
    EXPECT_EQ(info.memoryBytes, 0);
    EXPECT_EQ(machine.uptimeSeconds(), std::nullopt);
    EXPECT_EQ(info.uptime, MacInfo{}.uptime) << "an unreadable uptime keeps its fallback";
}

TEST(MacInfoSources, PictureIsMadeOnceAndFallsBackToOurOwn)
{
    FixtureTree tree;
    laptopSupplies(tree);
    std::vector<bool> asked; // whether each render asked for a laptop
    LinuxMachine machine{SystemFiles(tree.root)};
    MacInfoProvider provider(machine, [&](bool laptop) -> std::optional<Bytes> {
        asked.push_back(laptop);
        return std::nullopt;
    });
    const MacInfo first = provider.macInfo(QStringLiteral("Desk"), true);
    EXPECT_EQ(provider.macInfo(QStringLiteral("Desk"), true).imagePNG, first.imagePNG);
    EXPECT_EQ(asked, std::vector<bool>{true});
    ASSERT_TRUE(first.imagePNG && first.imagePNG->size() > 8);
    EXPECT_EQ(Bytes(first.imagePNG->begin(), first.imagePNG->begin() + 4),
              (Bytes{0x89, 'P', 'N', 'G'}));
    EXPECT_FALSE(provider.macInfo(QStringLiteral("Desk"), false).imagePNG);
    EXPECT_EQ(first.name, "Desk");
    EXPECT_EQ(first.batteryPercent, 45);
    EXPECT_GT(first.storageTotalBytes.value_or(0), 0) << "statvfs of /";
}

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
    LinuxMachine machine{SystemFiles(tree.root), "/", 100};
    StatsProvider provider{machine, [this] { return running; }, [this] { return nowNs; }};
};

TEST_F(Stats, LoadIsACappedRateSafeFromBackwardCountersAndMemoryIsTotalLessAvailable)
{
    // Unreadable, first sample, half busy, counters reset, all busy, garbage.
    const std::pair<std::string, double> samples[] = {{"", 0},
                                                      {procStat(100, 900), 0},
                                                      {procStat(150, 950), 50},
                                                      {procStat(10, 960), 0},
                                                      {procStat(20, 960), 100},
                                                      {"cpu  x y z\n", 0}};
    for (const auto& [text, percent] : samples) {
        if (!text.empty())
            tree.write("proc/stat", text);
        EXPECT_DOUBLE_EQ(provider.cpuPercent(), percent) << text;
    }
    using Use = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(provider.memoryUsage(), (Use{0, 0}));
    tree.write("proc/meminfo", "MemTotal: 1000 kB\nMemFree: 100 kB\nMemAvailable: 250 kB\n");
    EXPECT_EQ(provider.memoryUsage(), (Use{750 * 1024, 1000 * 1024}));
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

    // First sample: no load yet; the larger footprint first; an unreadable
    // process left out; names from the file name, then "?".
    auto usages = provider.appUsages();
    ASSERT_EQ(usages.size(), 3u);
    EXPECT_EQ(usages[0], (AppUsage{20, "", "beta", 0, 8000 * 1024}));
    EXPECT_EQ(usages[1], (AppUsage{10, "org.a", "Alpha", 0, 4000 * 1024}));
    EXPECT_EQ(usages[2], (AppUsage{30, "", "?", 0, 0}));

    // Two seconds later: alpha used 3 s of processor time (300 ticks), beta
    // went backwards (a reused pid) and counts as 0, and a pid seen for the
    // first time starts at 0.
    nowNs += 2'000'000'000;
    tree.write("proc/10/stat", pidStat(10, "alpha (main) x", 350, 100));
    tree.write("proc/20/stat", pidStat(20, "beta", 1, 0));
    running.push_back({50, "", "New", ""});
    tree.write("proc/50/stat", pidStat(50, "new", 500, 500));
    usages = provider.appUsages();
    ASSERT_EQ(usages.size(), 4u);
    EXPECT_EQ(usages[0].pid, 10);
    EXPECT_DOUBLE_EQ(usages[0].cpu, 150) << "busy on more than one core";
    for (std::size_t i = 1; i < usages.size(); ++i)
        EXPECT_EQ(usages[i].cpu, 0) << usages[i].pid;
}

TEST_F(Stats, FootprintsAreReadAFewAtATimeAndResidentSizeStandsInMeanwhile)
{
    const int count = StatsProvider::footprintReadsPerRequest + 4;
    for (int pid = 100; pid < 100 + count; ++pid) {
        running.push_back({pid, "", "App", ""});
        const std::string base = "proc/" + std::to_string(pid);
        tree.write(base + "/stat", pidStat(pid, "app", 0, 0));
        tree.write(base + "/smaps_rollup", "Pss: 1000 kB\n");
        tree.write(base + "/status", "VmRSS: 3000 kB\n");
    }
    auto proportional = [&] {
        const auto usages = provider.appUsages();
        EXPECT_EQ(usages.size(), std::size_t(count));
        return std::ranges::count(usages, 1000 * 1024, &AppUsage::memory);
    };
    EXPECT_EQ(proportional(), StatsProvider::footprintReadsPerRequest);
    EXPECT_EQ(proportional(), count) << "the rest on the next request";
}

} // namespace
} // namespace orvane
