// The link in the pairing QR code: what the computer writes, and what a
// phone takes from a scan.
#include "protocol/pairing_url.h"

#include <gtest/gtest.h>

#include <tuple>

namespace orvane {
namespace {

auto items(const PairingUrl& url)
{
    return std::tie(url.computerName, url.code, url.qrKey);
}

// Each row reads to its items. The first is what the computer writes: all
// but the unreserved characters percent-encoded.
TEST(PairingUrl, ReadsTheComputersLinkAndLooserSpellings)
{
    const PairingUrl written{"Zoë's Desk & Co", "012345", "ab-_cd"};
    EXPECT_EQ(buildPairingUrl(written),
              "orvane://pair?v=1&m=Zo%C3%AB%27s%20Desk%20%26%20Co&c=012345&k=ab-_cd");
    const std::pair<std::string, PairingUrl> rows[] = {
        {buildPairingUrl(written), written},
        // "+" is not a space in a URL query; leading zeros are kept.
        {"orvane://pair?v=1&m=Anna%E2%80%99s%20Laptop+2&c=004217&k=Zm9v-YmFy_YmF6cXV4cXV1",
         {"Anna\u2019s Laptop+2", "004217", "Zm9v-YmFy_YmF6cXV4cXV1"}},
        // Scheme case, a trailing slash, item order and a missing name do not matter.
        {"ORVANE://pair/?k=key&c=123456&v=1", {"", "123456", "key"}},
    };
    for (const auto& [url, expected] : rows) {
        const auto parsed = parsePairingUrl(url);
        ASSERT_TRUE(parsed.ok()) << url << ": " << parsed.error().message;
        EXPECT_EQ(items(*parsed), items(expected)) << url;
    }
}

TEST(PairingUrl, RefusesWhatCannotKeyASession)
{
    const std::pair<const char*, const char*> cases[] = {
        {"https://pair?v=1&c=123456&k=key", "orvane://pair"},
        {"orvane://unpair?v=1&c=123456&k=key", "orvane://unpair"},
        {"orvane://pair?c=123456&k=key", "version"},
        {"orvane://pair?v=2&c=123456&k=key", "version 2"},
        {"orvane://pair?v=1&k=key", "code item c is missing"},
        {"orvane://pair?v=1&c=12345&k=key", "not six digits"},
        {"orvane://pair?v=1&c=12a456&k=key", "not six digits"},
        {"orvane://pair?v=1&c=123456", "key item k is missing"},
        {"orvane://pair?v=1&c=123456&k=", "key item k is missing"},
        {"orvane://pair?v=1&c=123456&k=a%2", "percent-encoding"},
        {"orvane://pair?v=1&c=123456&k=a%zz", "percent-encoding"},
    };
    for (const auto& [url, expected] : cases) {
        auto parsed = parsePairingUrl(url);
        ASSERT_FALSE(parsed.ok()) << url;
        EXPECT_NE(parsed.error().message.find(expected), std::string::npos)
            << url << " -> " << parsed.error().message;
    }
}

} // namespace
} // namespace orvane
