#pragma once

#include "x_test_client.h"

#include <QProcess>
#include <QTemporaryDir>

namespace orvane::test {

// An Xvfb of the test's own, so the test neither sees nor disturbs the
// shared test display. DISPLAY names it while it runs.
class PrivateDisplay : public XTestClient {
public:
    ~PrivateDisplay();
    // Starts Xvfb with a screen of that size and the extra arguments, and
    // connects to it; fails with the reason when it cannot.
    ::testing::AssertionResult start(const QStringList& serverArguments = {},
                                     const QString& screen = QStringLiteral("1920x1080x24"));

private:
    QProcess m_server;
    QByteArray m_oldDisplay;
};

// A private display with a window manager: other suites on the shared
// display count on there being none.
class ManagedDisplay : public PrivateDisplay {
public:
    ~ManagedDisplay();
    // Starts Xvfb, with the extra arguments, and openbox.
    ::testing::AssertionResult start(const QStringList& serverArguments = {});
    // Starts the application and waits until openbox manages its windows.
    ::testing::AssertionResult show(TestApplication& app, const QStringList& windows);

    bool hasState(xcb_window_t window, const char* state);
    std::vector<std::uint32_t> stacking() { return property(root(), "_NET_CLIENT_LIST_STACKING"); }

private:
    bool managed(const std::vector<std::uint32_t>& windows);

    QProcess m_windowManager;
    QTemporaryDir m_home;
};

} // namespace orvane::test
