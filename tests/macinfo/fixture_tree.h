#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace orvane::test {

// A throwaway root folder with files written into it, standing in for /.
class FixtureTree {
public:
    FixtureTree()
    {
        char pattern[] = "/tmp/orvane-root-XXXXXX";
        m_root = ::mkdtemp(pattern) ? pattern : "";
    }
    ~FixtureTree() { std::filesystem::remove_all(m_root); }
    FixtureTree(const FixtureTree&) = delete;
    FixtureTree& operator=(const FixtureTree&) = delete;

    void write(const std::string& path, const std::string& text) const
    {
        std::filesystem::path file = std::filesystem::path(m_root) / path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    void remove(const std::string& path) const
    {
        std::filesystem::remove_all(std::filesystem::path(m_root) / path);
    }
    const std::string& root() const { return m_root; }

private:
    std::string m_root;
};

} // namespace orvane::test
