// /etc/machine-info is written by hostnamectl with shell quoting; the pretty
// name people chose must come back exactly, quotes and all.

#include "platform/linux/machine/host_name.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

namespace orvane {
namespace {

struct MachineInfoCase {
    const char* label;
    const char* contents;
    const char* expected;
};

void PrintTo(const MachineInfoCase& c, std::ostream* os)
{
    *os << c.label;
}

class MachineInfoTest : public ::testing::TestWithParam<MachineInfoCase> {};

TEST_P(MachineInfoTest, PrettyHostname)
{
    const auto& c = GetParam();
    EXPECT_EQ(prettyHostnameFromMachineInfo(QByteArray(c.contents)), QString::fromUtf8(c.expected))
        << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MachineInfoTest,
    ::testing::Values(
        // As hostnamectl writes it.
        MachineInfoCase{"double quotes", "PRETTY_HOSTNAME=\"Anna's Laptop\"\n", "Anna's Laptop"},
        MachineInfoCase{"escapes in double quotes",
                        "PRETTY_HOSTNAME=\"Say \\\"hi\\\" \\\\ \\$5 \\n\"\n",
                        "Say \"hi\" \\ $5 \\n"},
        MachineInfoCase{"single quotes are literal", "PRETTY_HOSTNAME='B\xc3\xbcro \"PC\" \\'\n",
                        "B\xc3\xbcro \"PC\" \\"},
        MachineInfoCase{"bare value, escaped space, trailing blanks",
                        "PRETTY_HOSTNAME=Kitchen\\ PC   \n", "Kitchen PC"},
        MachineInfoCase{"blanks around key and value", "  PRETTY_HOSTNAME = \"Spaced\"\n",
                        "Spaced"},
        MachineInfoCase{"among other keys and comments",
                        "# written by hostnamectl\n; old: PRETTY_HOSTNAME=Old\nICON_NAME=computer-"
                        "laptop\nPRETTY_HOSTNAME=\"Desk\"\nCHASSIS=desktop\n",
                        "Desk"},
        MachineInfoCase{"last assignment wins", "PRETTY_HOSTNAME=One\nPRETTY_HOSTNAME=Two\n",
                        "Two"},
        MachineInfoCase{"CRLF line ends", "CHASSIS=laptop\r\nPRETTY_HOSTNAME=\"Win\"\r\n", "Win"},
        MachineInfoCase{"no final newline", "PRETTY_HOSTNAME=\"Tail\"", "Tail"},
        MachineInfoCase{"continued line", "PRETTY_HOSTNAME=Two\\\nLines\n", "TwoLines"},
        // Absent or empty: the caller falls back to the host name.
        MachineInfoCase{"only a commented-out name", "#PRETTY_HOSTNAME=Hidden\n", ""},
        MachineInfoCase{"a longer key", "PRETTY_HOSTNAME_OLD=Nope\n", ""},
        MachineInfoCase{"a key without value", "PRETTY_HOSTNAME\n", ""},
        MachineInfoCase{"empty value", "PRETTY_HOSTNAME=\n", ""},
        MachineInfoCase{"only blanks", "PRETTY_HOSTNAME=\"   \"\n", ""},
        MachineInfoCase{"empty file", "", ""}),
    [](const ::testing::TestParamInfo<MachineInfoCase>& info) {
        std::string name;
        for (const char* c = info.param.label; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

} // namespace
} // namespace orvane
