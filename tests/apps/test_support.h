#pragma once

#include "platform/application_catalog.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <ostream>
#include <string>

namespace orvane {

inline void PrintTo(const RunningApp& app, std::ostream* out)
{
    *out << "{" << app.pid << ", \"" << app.bundleID.toStdString() << "\", \""
         << app.name.toStdString() << "\", \"" << app.fileName.toStdString() << "\"}";
}

inline void PrintTo(const InstalledApp& app, std::ostream* out)
{
    *out << "{\"" << app.bundleID.toStdString() << "\", \"" << app.name.toStdString() << "\", \""
         << app.fileName.toStdString() << "\", \"" << app.path.toStdString() << "\"}";
}

} // namespace orvane

namespace orvane::test {

// Replaces environment variables for one test and puts them back after.
class ScopedEnvironment {
public:
    ~ScopedEnvironment()
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                qputenv(name.c_str(), *value);
            else
                qunsetenv(name.c_str());
        }
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
        if (m_saved.count(name) == 0)
            m_saved[name] =
                qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    }
    std::map<std::string, std::optional<QByteArray>> m_saved;
};

inline void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
}

// A user data folder and one system data folder, both empty, with the
// message locale cleared.
class XdgFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid() && m_system.isValid());
        m_env.set("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
        m_env.set("XDG_DATA_DIRS", QFile::encodeName(m_system.path()));
        m_env.unset("LC_ALL");
        m_env.unset("LC_MESSAGES");
        m_env.unset("LANG");
    }
    QString userEntry(const QString& relative) const
    {
        return m_home.path() + QStringLiteral("/applications/") + relative;
    }
    QString systemEntry(const QString& relative) const
    {
        return m_system.path() + QStringLiteral("/applications/") + relative;
    }
    static QByteArray entry(const QByteArray& name, const QByteArray& exec,
                            const QByteArray& extra = {})
    {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extra;
    }

    QTemporaryDir m_home;
    QTemporaryDir m_system;
    ScopedEnvironment m_env;
};

// Tests that need the X display fail, never skip, when test.sh could not
// provide it.
inline ::testing::AssertionResult displayAvailable()
{
    const char* ok = std::getenv("ORVANE_TEST_DISPLAY_OK");
    if (ok && std::string(ok) == "1")
        return ::testing::AssertionSuccess();
    const char* why = std::getenv("ORVANE_TEST_DISPLAY_ERROR");
    return ::testing::AssertionFailure()
           << "no test X display: " << (why ? why : "ORVANE_TEST_DISPLAY_OK is not set");
}

} // namespace orvane::test
