#include "system_files.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace orvane {

SystemFiles::SystemFiles(std::string root) : m_root(std::move(root))
{
    while (m_root.size() > 1 && m_root.back() == '/')
        m_root.pop_back();
}

std::string SystemFiles::path(std::string_view relative) const
{
    while (!relative.empty() && relative.front() == '/')
        relative.remove_prefix(1);
    return m_root == "/" ? "/" + std::string(relative) : m_root + "/" + std::string(relative);
}

std::optional<std::string> SystemFiles::read(std::string_view relative, std::size_t limit) const
{
    // Plain reads: /proc files report a size of 0, and a statistics request
    // reads a few of them per process.
    int fd = ::open(path(relative).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    while (text.size() < limit) {
        ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - text.size()));
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

std::vector<std::string> SystemFiles::list(std::string_view folder) const
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(path(folder).c_str());
    if (!dir)
        return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string_view trimmed(std::string_view text)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<std::string_view> fieldValue(std::string_view text, std::string_view key,
                                           char separator)
{
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        std::size_t at = line.find(separator);
        if (at != std::string_view::npos && trimmed(line.substr(0, at)) == key)
            return trimmed(line.substr(at + 1));
    }
    return std::nullopt;
}

std::optional<std::int64_t> parseInteger(std::string_view text)
{
    text = trimmed(text);
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data())
        return std::nullopt;
    return value;
}

} // namespace orvane
