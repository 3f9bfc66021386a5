#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <map>
#include <optional>
#include <string>

namespace orvane::test {

// Replaces environment variables for one test and puts them back after.
class ScopedEnvironment {
public:
    ~ScopedEnvironment()
    {
        for (const auto& [name, value] : m_saved)
            value ? qputenv(name.c_str(), *value) : qunsetenv(name.c_str());
    }
    void set(const char* name, const QByteArray& value)
    {
        save(name);
        qputenv(name, value);
    }
    void unset(const char* name)
    {
        save(name);
        qunsetenv(name);
    }

private:
    void save(const char* name)
    {
        // The first value is the one to put back.
        m_saved.try_emplace(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name))
                                                                  : std::nullopt);
    }
    std::map<std::string, std::optional<QByteArray>> m_saved;
};

} // namespace orvane::test
