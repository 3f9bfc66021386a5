#pragma once

// What the tests against stand-in services share: the check that test.sh
// started a bus, an environment variable set for a while, and one stand-in
// service of fake_services.cpp run as a child process.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <optional>

namespace orvane::test {

// Success when test.sh started the service NAME (SESSION_BUS, SYSTEM_BUS);
// otherwise a failure that carries its reason. Never a skip.
inline ::testing::AssertionResult serviceStarted(const char* name)
{
    const QByteArray prefix = QByteArray("ORVANE_TEST_") + name;
    if (qgetenv(prefix + "_OK") == "1")
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << name << " unavailable: "
           << qEnvironmentVariable((prefix + "_ERROR").constData(),
                                   "not started; run the tests under test.sh")
                  .toStdString();
}

// Sets an environment variable, or unsets it, for the life of this object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QByteArray>& value) : m_name(name)
    {
        if (qEnvironmentVariableIsSet(name))
            m_saved = qgetenv(name);
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    ~ScopedEnv() { m_saved ? qputenv(m_name, *m_saved) : qunsetenv(m_name); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<QByteArray> m_saved;
};

// One stand-in service, stopped with this object. It prints "ready" once it
// owns its bus name, then a line for each call it receives.
class FakeService {
public:
    explicit FakeService(const QStringList& arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(ORVANE_SYSTEM_FAKE_SERVICES), arguments);
    }
    ~FakeService()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    // Whether it owns its bus name; the reason otherwise.
    ::testing::AssertionResult ready()
    {
        const auto line = waitFor(QString());
        if (line == QStringLiteral("ready"))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "fake service not ready: " << line.value_or("(silent)").toStdString();
    }
    // The next line that starts with prefix; nothing when the service stays
    // silent for ten seconds.
    std::optional<QString> waitFor(const QString& prefix)
    {
        for (const QDeadlineTimer deadline(10000);;) {
            while (m_next < lines().size())
                if (m_lines[m_next++].startsWith(prefix))
                    return m_lines[m_next - 1];
            if (!m_process.waitForReadyRead(int(deadline.remainingTime())))
                return std::nullopt;
        }
    }
    // Every line so far, with what is still in the pipe: a line printed
    // before the service answered a call is seen once the call has returned.
    const QStringList& lines()
    {
        while (m_process.state() == QProcess::Running && m_process.waitForReadyRead(0)) {
        }
        while (m_process.canReadLine())
            m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
        return m_lines;
    }

private:
    QProcess m_process;
    QStringList m_lines;
    qsizetype m_next = 0;
};

} // namespace orvane::test
