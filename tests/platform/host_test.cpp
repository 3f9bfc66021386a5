// /etc/machine-info is written by hostnamectl with shell quoting; the pretty
// name people chose must come back exactly, quotes and all. Absent or empty,
// it is "" and the caller falls back to the host name.
#include "platform/linux/machine/host_name.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(MachineInfo, PrettyHostname)
{
    const std::pair<const char*, const char*> cases[] = {
        {"PRETTY_HOSTNAME=\"Anna's Laptop\"\n", "Anna's Laptop"},
        {"PRETTY_HOSTNAME=\"Say \\\"hi\\\" \\\\ \\$5 \\n\"\n", "Say \"hi\" \\ $5 \\n"},
        {"PRETTY_HOSTNAME='B\xc3\xbcro \"PC\" \\'\n", "B\xc3\xbcro \"PC\" \\"}, // literal
        {"PRETTY_HOSTNAME=Kitchen\\ PC   \n", "Kitchen PC"},
        {"  PRETTY_HOSTNAME = \"Spaced\"\n", "Spaced"},
        {"# by hostnamectl\n; old: PRETTY_HOSTNAME=Old\nICON_NAME=computer-laptop\n"
         "PRETTY_HOSTNAME=\"Desk\"\nCHASSIS=desktop\n",
         "Desk"},
        {"PRETTY_HOSTNAME=One\nPRETTY_HOSTNAME=Two\n", "Two"},
        {"CHASSIS=laptop\r\nPRETTY_HOSTNAME=\"Win\"\r\n", "Win"},
        {"PRETTY_HOSTNAME=\"Tail\"", "Tail"},
        {"PRETTY_HOSTNAME=Two\\\nLines\n", "TwoLines"},
        {"#PRETTY_HOSTNAME=Hidden\n", ""},
        {"PRETTY_HOSTNAME_OLD=Nope\n", ""},
        {"PRETTY_HOSTNAME\n", ""},
        {"PRETTY_HOSTNAME=\n", ""},
        {"PRETTY_HOSTNAME=\"   \"\n", ""},
        {"", ""}};
    for (auto [contents, expected] : cases)
        EXPECT_EQ(prettyHostnameFromMachineInfo(QByteArray(contents)), QString::fromUtf8(expected))
            << contents;
}

} // namespace
} // namespace orvane
