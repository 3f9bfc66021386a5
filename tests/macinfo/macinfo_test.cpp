// The computer's description from fixture trees: DMI, processor, memory,
// system version, batteries and uptime as the Linux machine reads them, and
// the fallbacks the description puts in their place.
#include "fixture_tree.h"

#include "macinfo/mac_info.h"
#include "platform/linux/machine/linux_machine.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::FixtureTree;

BatteryStatus batteryStatus(const FixtureTree& tree)
{
    return LinuxMachine(SystemFiles(tree.root())).battery();
}

// What a provider that has read nothing yet makes of the tree.
MacInfo describe(const FixtureTree& tree)
{
    LinuxMachine machine{SystemFiles(tree.root())};
    return MacInfoProvider(machine, nullptr).macInfo(QStringLiteral("Desk"), false);
}

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
    EXPECT_EQ(batteryStatus(tree), (BatteryStatus{std::nullopt, false, true}))
        << "no power supplies: mains, no battery";

    laptopSupplies(tree);
    EXPECT_EQ(batteryStatus(tree), (BatteryStatus{45, true, true}));

    // A battery with no full charge is skipped; charge_* counts like energy_*;
    // the share is not clamped; unplugged is battery power.
    tree.write("sys/class/power_supply/AC/online", "0\n");
    tree.write("sys/class/power_supply/BAT0/energy_full", "0\n");
    tree.write("sys/class/power_supply/BAT1/type", "Battery\n");
    tree.write("sys/class/power_supply/BAT1/charge_now", "5200\n");
    tree.write("sys/class/power_supply/BAT1/charge_full", "5000\n");
    tree.write("sys/class/power_supply/BAT1/status", "Full\n");
    EXPECT_EQ(batteryStatus(tree), (BatteryStatus{104, false, false}));

    // Garbage where numbers belong: skipped, so no battery at all.
    tree.write("sys/class/power_supply/BAT1/charge_now", "lots\n");
    EXPECT_EQ(batteryStatus(tree), (BatteryStatus{std::nullopt, false, true}));
}

TEST(MacInfoSources, ModelFromDmiWithPlaceholdersIgnored)
{
    FixtureTree tree;
    EXPECT_EQ(LinuxMachine(SystemFiles(tree.root())).model(), ModelDescription{});
    MacInfo info = describe(tree);
    EXPECT_EQ(info.modelIdentifier, "Mac");
    EXPECT_EQ(info.modelName, "Mac");

    const struct {
        const char *product, *version, *vendor, *family, *identifier, *name;
    } cases[] = {
        {"20XW0026GE", "ThinkPad X1 Carbon Gen 9", "LENOVO", "ThinkPad X1 Carbon Gen 9",
         "20XW0026GE", "LENOVO ThinkPad X1 Carbon Gen 9"},
        {"XPS 13 9310", "", "Dell Inc.", "XPS", "XPS 13 9310", "Dell Inc. XPS"},
        {"Standard PC (Q35 + ICH9, 2009)", "pc-q35-7.2", "QEMU", "",
         "Standard PC (Q35 + ICH9, 2009)", "QEMU Standard PC (Q35 + ICH9, 2009)"},
        {"System Product Name", "System Version", "To Be Filled By O.E.M.", "", "Mac", "Mac"},
        {"", "", "Framework", "Laptop", "Mac", "Framework Laptop"},
    };
    for (const auto& c : cases) {
        tree.write("sys/class/dmi/id/product_name", std::string(c.product) + "\n");
        tree.write("sys/class/dmi/id/product_version", std::string(c.version) + "\n");
        tree.write("sys/class/dmi/id/sys_vendor", std::string(c.vendor) + "\n");
        tree.write("sys/class/dmi/id/product_family", std::string(c.family) + "\n");
        info = describe(tree);
        EXPECT_EQ(info.modelIdentifier, c.identifier) << c.product;
        EXPECT_EQ(info.modelName, c.name) << c.product;
    }
}

TEST(MacInfoSources, ProcessorMemoryVersionAndUptime)
{
    FixtureTree tree;
    LinuxMachine machine{SystemFiles(tree.root())};
    MacInfo info = describe(tree);
    EXPECT_EQ(info.chip, "Apple silikon");
    EXPECT_EQ(info.memoryBytes, 0);
    EXPECT_EQ(info.systemVersion, "Linux");
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
    int renders = 0;
    std::optional<bool> askedForLaptop;
    LinuxMachine machine{SystemFiles(tree.root())};
    MacInfoProvider provider(machine, [&](bool laptop) -> std::optional<Bytes> {
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
