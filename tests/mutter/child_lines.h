#pragma once

// A Python child of a test that reports a line at a time on standard output.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <optional>

namespace orvane::test {

class ChildLines {
public:
    ChildLines(const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
    }
    ~ChildLines()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // The next line holding `part`, skipping others; nothing after 10 s.
    // Runs the event loop meanwhile, as our side of the calls needs it.
    std::optional<QString> waitFor(const QString& part, int timeoutMs = 10000)
    {
        for (const QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired();) {
            read();
            while (m_next < m_lines.size())
                if (m_lines[m_next++].contains(part))
                    return m_lines[m_next - 1];
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            m_process.waitForReadyRead(5);
        }
        return std::nullopt;
    }
    QStringList unread()
    {
        read();
        const QStringList rest = m_lines.mid(m_next);
        m_next = m_lines.size();
        return rest;
    }
    std::string transcript() { return (read(), m_lines.join('\n').toStdString()); }
    void tell(const QString& line) { m_process.write((line + '\n').toUtf8()); }
    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() == QProcess::Running; }

private:
    void read()
    {
        while (m_process.waitForReadyRead(0)) {
        }
        while (m_process.canReadLine())
            m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
    }

    QProcess m_process;
    QStringList m_lines;
    qsizetype m_next = 0;
};

} // namespace orvane::test
