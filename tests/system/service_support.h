#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <optional>

namespace orvane::test {

// Success when test.sh started the service NAME (SESSION_BUS, SYSTEM_BUS);
// otherwise a failure that carries its reason. Never a skip.
::testing::AssertionResult serviceStarted(const char* name);

// Sets an environment variable for the life of this object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QByteArray>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    QByteArray m_name;
    std::optional<QByteArray> m_saved;
};

// One stand-in service (see fake_services.cpp), stopped with this object.
class FakeService {
public:
    explicit FakeService(const QStringList& arguments);
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    // Whether it owns its bus name; the reason otherwise.
    ::testing::AssertionResult ready();
    // Waits for the next line that starts with prefix and returns it;
    // nothing when the service stays silent for ten seconds.
    std::optional<QString> waitFor(const QString& prefix);
    // Every line received so far.
    QStringList lines();

private:
    void readAvailable();

    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
    int m_next = 0;
};

} // namespace orvane::test
