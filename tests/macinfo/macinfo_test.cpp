// The computer's description from fixture trees: DMI, processor, memory,
// system version, batteries and uptime, with their fallbacks.
#include "fixture_tree.h"

#include "macinfo/mac_info.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::FixtureTree;

void laptopSupplies(const FixtureTree& tree)
{
    tree.write("sys/class/power_supply/AC/type", "Mains\n");
    tree.write("sys/class/power_supply/AC/online", "1\n");
    tree.write("sys/class/power_supply/BAT0/type", "Battery\n");
    tree.write("sys/class/power_supply/BAT0/energy_now", "22500000\n");
    tree.write("sys/class/power_supply/BAT0/energy_full", "50000000\n");
    tree.write("sys/class/power_supply/BAT0/status", "Charging\n");
}

TEST(MacInfoSources, BatteriesFollowTheFirstWithAFullCharge)
{
    FixtureTree tree;
    EXPECT_EQ(batteryStatus(SystemFiles(tree.root())), (BatteryStatus{std::nullopt, false, true}))
        << "no power supplies: mains, no battery";

    laptopSupplies(tree);
    EXPECT_EQ(batteryStatus(SystemFiles(tree.root())), (BatteryStatus{45, true, true}));

    // A battery with no full charge is skipped; charge_* counts like energy_*;
    // the share is not clamped; unplugged is battery power.
    tree.write("sys/class/power_supply/AC/online", "0\n");
    tree.write("sys/class/power_supply/BAT0/energy_full", "0\n");
    tree.write("sys/class/power_supply/BAT1/type", "Battery\n");
    tree.write("sys/class/power_supply/BAT1/charge_now", "5200\n");
    tree.write("sys/class/power_supply/BAT1/charge_full", "5000\n");
    tree.write("sys/class/power_supply/BAT1/status", "Full\n");
    EXPECT_EQ(batteryStatus(SystemFiles(tree.root())), (BatteryStatus{104, false, false}));

    // Garbage where numbers belong: skipped, so no battery at all.
    tree.write("sys/class/power_supply/BAT1/charge_now", "lots\n");
    EXPECT_EQ(batteryStatus(SystemFiles(tree.root())), (BatteryStatus{std::nullopt, false, true}));
}

TEST(MacInfoSources, ModelFromDmiWithPlaceholdersIgnored)
{
    FixtureTree tree;
    SystemFiles files(tree.root());
    auto model = modelDescription(files);
    EXPECT_EQ(model.identifier, "Mac");
    EXPECT_EQ(model.name, "Mac");

    const struct {
        const char *product, *version, *vendor, *family, *identifier, *name;
    } cases[] = {
        {"20XW0026GE", "ThinkPad X1 Carbon Gen 9", "LENOVO", "ThinkPad X1 Carbon Gen 9",
         "20XW0026GE", "LENOVO ThinkPad X1 Carbon Gen 9"},
        {"XPS 13 9310", "", "Dell Inc.", "XPS", "XPS 13 9310", "Dell Inc. XPS"},
        {"Standard PC (Q35 + ICH9, 2009)", "pc-q35-7.2", "QEMU", "", "Standard PC (Q35 + ICH9, 2009)",
         "QEMU Standard PC (Q35 + ICH9, 2009)"},
        {"System Product Name", "System Version", "To Be Filled By O.E.M.", "", "Mac", "Mac"},
    };
    for (const auto& c : cases) {
        tree.write("sys/class/dmi/id/product_name", std::string(c.product) + "\n");
        tree.write("sys/class/dmi/id/product_version", std::string(c.version) + "\n");
        tree.write("sys/class/dmi/id/sys_vendor", std::string(c.vendor) + "\n");
        tree.write("sys/class/dmi/id/product_family", std::string(c.family) + "\n");
        model = modelDescription(files);
        EXPECT_EQ(model.identifier, c.identifier);
        EXPECT_EQ(model.name, c.name);
    }
}

TEST(MacInfoSources, ProcessorMemoryVersionAndUptime)
{
    FixtureTree tree;
    SystemFiles files(tree.root());
    EXPECT_EQ(chipName(files), "Apple silikon");
    EXPECT_EQ(memoryBytes(files), 0);
    EXPECT_EQ(systemVersion(files), "Linux");
    EXPECT_EQ(uptimeSeconds(files), 0);

    tree.write("proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\n"
                               "model name\t: Intel(R) Core(TM) i7-1185G7 @ 3.00GHz\n");
    tree.write("proc/meminfo", "MemTotal:       16303540 kB\nMemFree:  100 kB\n");
    tree.write("etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    tree.write("proc/uptime", "12345.67 45678.90\n");
    EXPECT_EQ(chipName(files), "Intel(R) Core(TM) i7-1185G7 @ 3.00GHz");
    EXPECT_EQ(memoryBytes(files), 16303540LL * 1024);
    EXPECT_EQ(systemVersion(files), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_DOUBLE_EQ(uptimeSeconds(files), 12345.67);

    tree.write("proc/meminfo", "MemTotal: 99999999999999999999 kB\n");
    tree.write("proc/uptime", "nan\n");
    EXPECT_EQ(memoryBytes(files), 0);
    EXPECT_EQ(uptimeSeconds(files), 0);
}

TEST(MacInfoSources, PictureIsMadeOnceAndFallsBackToOurOwn)
{
    FixtureTree tree;
    laptopSupplies(tree);
    int renders = 0;
    std::optional<bool> askedForLaptop;
    MacInfoProvider provider(SystemFiles(tree.root()), [&](bool laptop) -> std::optional<Bytes> {
        ++renders;
        askedForLaptop = laptop;
        return std::nullopt;
    });
    auto first = provider.macInfo(QStringLiteral("Desk"), true);
    auto second = provider.macInfo(QStringLiteral("Desk"), true);
    EXPECT_EQ(renders, 1);
    EXPECT_EQ(askedForLaptop, true);
    ASSERT_TRUE(first.imagePNG && first.imagePNG->size() > 8);
    EXPECT_EQ(first.imagePNG, second.imagePNG);
    EXPECT_EQ(Bytes(first.imagePNG->begin(), first.imagePNG->begin() + 4),
              (Bytes{0x89, 'P', 'N', 'G'}));
    EXPECT_FALSE(provider.macInfo(QStringLiteral("Desk"), false).imagePNG);
    EXPECT_EQ(first.name, "Desk");
    EXPECT_EQ(first.batteryPercent, 45);
    EXPECT_TRUE(first.storageTotalBytes.value_or(0) > 0) << "statvfs of /";
}

} // namespace
} // namespace orvane
