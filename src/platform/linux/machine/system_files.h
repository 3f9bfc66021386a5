#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// The kernel's and the distribution's text files (/proc, /sys, /etc) read
// under a root folder, so tests can hand in a fixture tree instead.
class SystemFiles {
public:
    explicit SystemFiles(std::string root = "/");

    // The file's text, at most `limit` bytes; nothing when it cannot be read.
    std::optional<std::string> read(std::string_view path, std::size_t limit = 1 << 20) const;
    // The names in a folder, sorted; empty when it cannot be read.
    std::vector<std::string> list(std::string_view folder) const;
    const std::string& root() const { return m_root; }

private:
    std::string path(std::string_view relative) const;
    std::string m_root;
};

// Small parsing helpers shared by the readers.
std::string_view trimmed(std::string_view text);
// The value of "key: value" or "key=value" lines; nothing when absent.
std::optional<std::string_view> fieldValue(std::string_view text, std::string_view key,
                                           char separator);
// A leading decimal integer, ignoring surrounding blanks; nothing otherwise.
std::optional<std::int64_t> parseInteger(std::string_view text);

} // namespace orvane
