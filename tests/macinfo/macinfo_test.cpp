// The computer's description and usage statistics as the Linux machine reads
// them from fixture trees for /proc, /sys and /etc, and the fallbacks.
#include "macinfo/mac_info_provider.h"
#include "macinfo/stats_provider.h"
#include "platform/linux/machine/linux_machine.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace orvane {
namespace {

// A Linux machine on a throwaway root folder with files written into it.
class FixtureTree : public ::testing::Test {
protected:
    void write(const std::string& path, const std::string& text) const
    {
        const std::filesystem::path file = root.path().toStdString() + "/" + path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    // What a provider that has read nothing yet makes of the tree.
    MacInfo describe() { return MacInfoProvider(machine, nullptr).macInfo("Desk", false); }

    QTemporaryDir root;
    LinuxMachine machine{SystemFiles(root.path().toStdString()), "/", 100};
    std::vector<RunningApp> running;
    std::int64_t nowNs = 1'000'000'000;
    StatsProvider provider{machine, [this] { return running; }, [this] { return nowNs; }};
};

// Batteries follow the first with a full charge; a laptop's picture is
// asked for once, and our own stands in when the desktop has none.
TEST_F(FixtureTree, BatteriesAndPicture)
{
    EXPECT_EQ(machine.battery(), (BatteryStatus{std::nullopt, false, true})) << "mains, no battery";
    const std::string supplies = "sys/class/power_supply/";
    write(supplies + "AC/type", "Mains\n");
    write(supplies + "AC/online", "1\n");
    write(supplies + "BAT0/type", "Battery\n");
    write(supplies + "BAT0/energy_now", "22500000\n");
    write(supplies + "BAT0/energy_full", "50000000\n");
    write(supplies + "BAT0/status", "Charging\n");
    EXPECT_EQ(machine.battery(), (BatteryStatus{45, true, true}));
    std::vector<bool> asked; // whether each render asked for a laptop
    MacInfoProvider info(machine, [&](bool laptop) -> std::optional<Bytes> {
        asked.push_back(laptop);
        return std::nullopt;
    });
    const MacInfo first = info.macInfo("Desk", true);
    EXPECT_EQ(info.macInfo("Desk", true).imagePNG, first.imagePNG);
    EXPECT_EQ(asked, std::vector<bool>{true});
    ASSERT_TRUE(first.imagePNG);
    EXPECT_EQ(asText(*first.imagePNG).substr(0, 4), "\x89PNG");
    EXPECT_FALSE(info.macInfo("Desk", false).imagePNG);
    EXPECT_EQ(first.batteryPercent, 45);
    EXPECT_GT(first.storageTotalBytes.value_or(0), 0) << "statvfs of /";

    // A battery with no full charge is skipped; charge_* counts like energy_*;
    // the share is not clamped; unplugged is battery power.
    write(supplies + "AC/online", "0\n");
    write(supplies + "BAT0/energy_full", "0\n");
    write(supplies + "BAT1/type", "Battery\n");
    write(supplies + "BAT1/charge_now", "5200\n");
    write(supplies + "BAT1/charge_full", "5000\n");
    write(supplies + "BAT1/status", "Full\n");
    EXPECT_EQ(machine.battery(), (BatteryStatus{104, false, false}));
    // Garbage where numbers belong: skipped, so no battery at all.
    write(supplies + "BAT1/charge_now", "lots\n");
    EXPECT_EQ(machine.battery(), (BatteryStatus{std::nullopt, false, true}));
}

// The model from DMI with placeholders ignored, then the processor, memory,
// system version and uptime, each with its fallback.
TEST_F(FixtureTree, DescriptionAndItsFallbacks)
{
    EXPECT_EQ(machine.model(), ModelDescription{});
    MacInfo info = describe();
    EXPECT_EQ(std::tie(info.modelName, info.chip, info.memoryBytes, info.systemVersion),
              std::tuple("Mac", "Apple silikon", 0, "Linux"));
    EXPECT_EQ(machine.uptimeSeconds(), std::nullopt);

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
        write("sys/class/dmi/id/product_name", std::string(c.product) + "\n");
        write("sys/class/dmi/id/product_version", std::string(c.version) + "\n");
        write("sys/class/dmi/id/sys_vendor", std::string(c.vendor) + "\n");
        write("sys/class/dmi/id/product_family", std::string(c.family) + "\n");
        const MacInfo model = describe();
        EXPECT_EQ(model.modelIdentifier, c.identifier) << c.product;
        EXPECT_EQ(model.modelName, c.name) << c.product;
    }

    write("proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\n"
                          "model name\t: Intel(R) Core(TM) i7-1185G7 @ 3.00GHz\n");
    write("proc/meminfo", "MemTotal:       16303540 kB\nMemFree:  100 kB\n");
    write("etc/os-release",
          "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    write("proc/uptime", "12345.67 45678.90\n");
    info = describe();
    EXPECT_EQ(info.chip, "Intel(R) Core(TM) i7-1185G7 @ 3.00GHz");
    EXPECT_EQ(info.memoryBytes, 16303540LL * 1024);
    EXPECT_EQ(info.systemVersion, "Debian GNU/Linux 12 (bookworm)");
    EXPECT_DOUBLE_EQ(machine.uptimeSeconds().value_or(0), 12345.67);
    EXPECT_GE(info.uptime, 12345.67) << "uptime runs on from its reading";

    write("proc/meminfo", "MemTotal: 99999999999999999999 kB\n");
    write("proc/uptime", "nan\n");
    info = describe();
    EXPECT_EQ(info.memoryBytes, 0);
    EXPECT_EQ(machine.uptimeSeconds(), std::nullopt);
    EXPECT_EQ(info.uptime, MacInfo{}.uptime) << "an unreadable uptime keeps its fallback";
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

TEST_F(FixtureTree, LoadIsACappedRateSafeFromBackwardCountersAndMemoryIsTotalLessAvailable)
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
            write("proc/stat", text);
        EXPECT_DOUBLE_EQ(provider.cpuPercent(), percent) << text;
    }
    using Use = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(provider.memoryUsage(), (Use{0, 0}));
    write("proc/meminfo", "MemTotal: 1000 kB\nMemFree: 100 kB\nMemAvailable: 250 kB\n");
    EXPECT_EQ(provider.memoryUsage(), (Use{750 * 1024, 1000 * 1024}));
    write("proc/meminfo", "MemTotal: 1000 kB\nMemAvailable: 5000 kB\n");
    EXPECT_EQ(provider.memoryUsage().first, 0);
}

TEST_F(FixtureTree, ApplicationsInTicksPerSecondOfWallTimeSortedByLoadThenMemory)
{
    running = {{10, "org.a", "Alpha", "org.a"},
               {20, "", "", "beta"},
               {30, "", "", ""},
               {40, "org.gone", "Gone", "org.gone"}};
    write("proc/10/stat", pidStat(10, "alpha (main) x", 100, 50));
    write("proc/10/smaps_rollup", "Rss: 9000 kB\nPss: 4000 kB\n");
    write("proc/20/stat", pidStat(20, "beta", 10, 0));
    write("proc/20/status", "Name: beta\nVmRSS: 8000 kB\n");
    write("proc/30/stat", pidStat(30, "nameless", 0, 0));

    // First sample: no load yet; the larger footprint first; an unreadable
    // process left out; names from the file name, then "?".
    EXPECT_EQ(provider.appUsages(), (std::vector<AppUsage>{{20, "", "beta", 0, 8000 * 1024},
                                                           {10, "org.a", "Alpha", 0, 4000 * 1024},
                                                           {30, "", "?", 0, 0}}));

    // Two seconds later: alpha used 3 s of processor time (300 ticks), beta
    // went backwards (a reused pid) and counts as 0, and a pid seen for the
    // first time starts at 0.
    nowNs += 2'000'000'000;
    write("proc/10/stat", pidStat(10, "alpha (main) x", 350, 100));
    write("proc/20/stat", pidStat(20, "beta", 1, 0));
    running.push_back({50, "", "New", ""});
    write("proc/50/stat", pidStat(50, "new", 500, 500));
    const auto usages = provider.appUsages();
    ASSERT_EQ(usages.size(), 4u);
    EXPECT_EQ(usages[0].pid, 10);
    EXPECT_DOUBLE_EQ(usages[0].cpu, 150) << "busy on more than one core";
    for (std::size_t i = 1; i < usages.size(); ++i)
        EXPECT_EQ(usages[i].cpu, 0) << usages[i].pid;
}

TEST_F(FixtureTree, FootprintsAreReadAFewAtATimeAndResidentSizeStandsInMeanwhile)
{
    const int count = StatsProvider::footprintReadsPerRequest + 4;
    for (int pid = 100; pid < 100 + count; ++pid) {
        running.push_back({pid, "", "App", ""});
        const std::string base = "proc/" + std::to_string(pid);
        write(base + "/stat", pidStat(pid, "app", 0, 0));
        write(base + "/smaps_rollup", "Pss: 1000 kB\n");
        write(base + "/status", "VmRSS: 3000 kB\n");
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
