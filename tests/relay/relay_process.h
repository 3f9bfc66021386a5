#pragma once

// The orvane-relay program (or nginx) as a child process on loopback ports.
#include "support/pump.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>

#include <gtest/gtest.h>

namespace orvane::relay::test {

// A program whose standard error the test reads line by line.
class Child {
public:
    Child(const QString& program, const QStringList& arguments)
    {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&m_process, &QProcess::readyRead,
                         [this] { m_output += m_process.readAll(); });
        m_process.start();
    }
    ~Child()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // The first capture of the first output line that `pattern` matches.
    QString waitFor(const QRegularExpression& pattern, int timeoutMs = 10'000)
    {
        QString found;
        orvane::test::pumpUntil(
            [&] {
                const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(m_output));
                if (match.hasMatch())
                    found = match.captured(1);
                return match.hasMatch() || m_process.state() == QProcess::NotRunning;
            },
            timeoutMs);
        return found;
    }

    // Sends SIGTERM and returns the exit code, or -1 if it did not end.
    int stop(int timeoutMs = 10'000)
    {
        m_process.terminate();
        return wait(timeoutMs);
    }

    // The exit code once it has ended by itself, or -1.
    int wait(int timeoutMs = 10'000)
    {
        const bool ended = orvane::test::pumpUntil(
            [this] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
        return ended && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QString output() const { return QString::fromUtf8(m_output); }

private:
    QProcess m_process;
    QByteArray m_output;
};

// A relay program on a free loopback port, with its status page on another.
struct RelayProcess {
    explicit RelayProcess(QStringList extra = {})
        : child(QStringLiteral(ORVANE_RELAY_PATH),
                QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                            QStringLiteral("--status"), QStringLiteral("127.0.0.1:0")} +
                    extra)
    {
        port = child.waitFor(QRegularExpression(QStringLiteral("listening on ws://[^:]+:(\\d+)")))
                   .toUShort();
        statusPort =
            child.waitFor(QRegularExpression(QStringLiteral("status on http://[^:]+:(\\d+)")))
                .toUShort();
    }

    Child child;
    quint16 port = 0;
    quint16 statusPort = 0;
};

// A port nobody listens on now.
inline quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace orvane::relay::test
