#pragma once

// One stand-in of fake_services.cpp on the tests' private buses, stopped
// with this object. It prints "ready" once it owns its bus name, then a line
// for each call it receives, before it answers.
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace orvane::test {

class FakeService {
public:
    explicit FakeService(const QStringList& arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(ORVANE_FAKE_DBUS_SERVICES), arguments);
    }
    ~FakeService()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    // A stand-in that owns its bus name, or a failure.
    static std::unique_ptr<FakeService> start(const QStringList& arguments)
    {
        auto service = std::make_unique<FakeService>(arguments);
        EXPECT_EQ(service->waitFor(QString()), QStringLiteral("ready"))
            << arguments.join(' ').toStdString();
        return service;
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
    // A line on the service's standard input, e.g. "invoke 1 decline".
    void tell(const QString& line)
    {
        m_process.write((line + '\n').toUtf8());
        m_process.waitForBytesWritten();
    }
    // The last call received; "" when none came after "ready".
    std::string lastCall() { return lines().size() > 1 ? m_lines.last().toStdString() : ""; }

private:
    QProcess m_process;
    QStringList m_lines;
    qsizetype m_next = 0;
};

} // namespace orvane::test
