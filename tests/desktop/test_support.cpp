#include "test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>

namespace orvane::test {

namespace {

// Generous: these bound a wait for something that should happen at once, so
// a slow machine under sanitizers still passes and a real fault still ends.
constexpr int waitLimitMs = 30000;

std::optional<std::string>& problem()
{
    static std::optional<std::string> reason;
    return reason;
}

std::optional<std::string> connectionProblem()
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return "ORVANE_TEST_DISPLAY_OK is set, but DISPLAY is not";
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    bool failed = xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    if (failed)
        return std::string("cannot connect to the X display ") + display;
    return std::nullopt;
}

} // namespace

void chooseQtPlatform()
{
    const char* ok = std::getenv("ORVANE_TEST_DISPLAY_OK");
    if (ok && std::string(ok) == "1") {
        problem() = connectionProblem();
    } else {
        const char* error = std::getenv("ORVANE_TEST_DISPLAY_ERROR");
        problem() = error && *error ? std::string("no X display: ") + error
                                    : std::string("no X display: ORVANE_TEST_DISPLAY_OK is not "
                                                  "set (test.sh starts Xvfb and sets it)");
    }
    qputenv("QT_QPA_PLATFORM", problem() ? "offscreen" : "xcb");
}

std::optional<std::string> displayProblem()
{
    if (problem())
        return problem();
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return "Qt runs on the " + QGuiApplication::platformName().toStdString() +
               " platform, not xcb";
    return std::nullopt;
}

std::optional<QString> runChild(const QString& mode, const QProcessEnvironment& env)
{
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), mode});
    if (!child.waitForFinished(waitLimitMs) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(child.readAllStandardOutput());
}

std::optional<QByteArray> waitForFile(const QString& path)
{
    QDeadlineTimer deadline(waitLimitMs);
    while (!QFile::exists(path)) {
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::msleep(5);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace orvane::test
