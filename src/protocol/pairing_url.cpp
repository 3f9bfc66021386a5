#include "pairing_url.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace orvane {
namespace {

constexpr std::string_view schemePrefix = "orvane://";

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

Error urlError(std::string message)
{
    return Error{"pairing link: " + std::move(message), {}};
}

// Later duplicates replace earlier ones, as a last-wins reader of the query
// would; the computer never writes a key twice.
Result<std::map<std::string, std::string>> parseQuery(std::string_view query)
{
    std::map<std::string, std::string> items;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        if (item.empty()) {
            continue;
        }
        const std::size_t eq = item.find('=');
        auto key = percentDecode(item.substr(0, eq));
        auto value = percentDecode(eq == std::string_view::npos ? "" : item.substr(eq + 1));
        if (!key || !value) {
            return urlError("malformed percent-encoding in \"" + std::string(item) + "\"");
        }
        items[*key] = *value;
    }
    return items;
}

} // namespace

std::optional<std::string> percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(high << 4 | low));
        i += 2;
    }
    return out;
}

std::string percentEncode(std::string_view text)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(digits[byte >> 4]);
            out.push_back(digits[byte & 0x0f]);
        }
    }
    return out;
}

std::string buildPairingUrl(const PairingUrl& pairing)
{
    return "orvane://pair?v=1&m=" + percentEncode(pairing.computerName) +
           "&c=" + percentEncode(pairing.code) + "&k=" + percentEncode(pairing.qrKey);
}

bool isPairingCode(std::string_view code)
{
    return code.size() == 6 &&
           std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Result<PairingUrl> parsePairingUrl(std::string_view url)
{
    if (!startsWithNoCase(url, schemePrefix)) {
        return urlError("expected a link starting with orvane://pair");
    }
    std::string_view rest = url.substr(schemePrefix.size());
    rest = rest.substr(0, rest.find('#'));
    const std::size_t question = rest.find('?');
    std::string_view host = rest.substr(0, question);
    if (!host.empty() && host.back() == '/') {
        host.remove_suffix(1);
    }
    if (!startsWithNoCase(host, "pair") || host.size() != 4) {
        return urlError("expected orvane://pair, not orvane://" + std::string(host));
    }
    auto items = parseQuery(question == std::string_view::npos ? "" : rest.substr(question + 1));
    if (!items) {
        return items.error();
    }
    const auto& query = *items;
    const auto item = [&](const char* key) {
        const auto found = query.find(key);
        return found == query.end() ? std::optional<std::string>{} : found->second;
    };
    const auto version = item("v");
    if (!version) {
        return urlError("the version item v is missing");
    }
    if (*version != "1") {
        return urlError("version " + *version + " is not supported (only 1)");
    }
    PairingUrl parsed{item("m").value_or(""), item("c").value_or(""), item("k").value_or("")};
    if (!isPairingCode(parsed.code)) {
        return urlError(parsed.code.empty() ? "the code item c is missing"
                                            : "the code \"" + parsed.code + "\" is not six digits");
    }
    if (parsed.qrKey.empty()) {
        return urlError("the key item k is missing");
    }
    return parsed;
}

} // namespace orvane
