#include "service_support.h"

#include <QDeadlineTimer>

namespace orvane::test {

namespace {
constexpr int patienceMs = 10000;
}

::testing::AssertionResult serviceStarted(const char* name)
{
    const QByteArray prefix = QByteArray("ORVANE_TEST_") + name;
    if (qgetenv(prefix + "_OK") == "1")
        return ::testing::AssertionSuccess();
    QByteArray why = qgetenv(prefix + "_ERROR");
    if (why.isEmpty())
        why = "not started; run the tests under test.sh";
    return ::testing::AssertionFailure() << name << " unavailable: " << why.constData();
}

ScopedEnv::ScopedEnv(const char* name, const std::optional<QByteArray>& value) : m_name(name)
{
    if (qEnvironmentVariableIsSet(name))
        m_saved = qgetenv(name);
    if (value)
        qputenv(name, *value);
    else
        qunsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (m_saved)
        qputenv(m_name.constData(), *m_saved);
    else
        qunsetenv(m_name.constData());
}

FakeService::FakeService(const QStringList& arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(ORVANE_SYSTEM_FAKE_SERVICES), arguments);
}

FakeService::~FakeService()
{
    m_process.terminate();
    if (!m_process.waitForFinished(patienceMs))
        m_process.kill();
    m_process.waitForFinished(patienceMs);
}

::testing::AssertionResult FakeService::ready()
{
    if (!m_process.waitForStarted(patienceMs))
        return ::testing::AssertionFailure()
               << "fake service did not start: " << m_process.errorString().toStdString();
    auto line = waitFor(QString());
    if (line == QStringLiteral("ready"))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "fake service not ready: " << line.value_or(QStringLiteral("(silent)")).toStdString();
}

std::optional<QString> FakeService::waitFor(const QString& prefix)
{
    QDeadlineTimer deadline(patienceMs);
    for (;;) {
        readAvailable();
        while (m_next < m_lines.size()) {
            const QString& line = m_lines[m_next++];
            if (line.startsWith(prefix))
                return line;
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return std::nullopt;
        m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
}

QStringList FakeService::lines()
{
    readAvailable();
    return m_lines;
}

void FakeService::readAvailable()
{
    // Also what is still in the pipe: a line printed before the service
    // answered a call is then seen as soon as the call has returned.
    while (m_process.state() == QProcess::Running && m_process.waitForReadyRead(0)) {
    }
    m_pending += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        m_lines << QString::fromUtf8(m_pending.left(end));
        m_pending.remove(0, end + 1);
    }
}

} // namespace orvane::test
