#pragma once

#include "x_test_client.h"

#include <QProcess>
#include <QTemporaryDir>

namespace orvane::test {

// A private X server with a window manager, so the window tests neither see
// nor disturb the shared test display, where other suites count on there
// being no window manager. Points DISPLAY at it.
class ManagedDisplay : public XTestClient {
public:
    ~ManagedDisplay();
    // Starts Xvfb, with the extra arguments, and openbox; fails with the
    // reason when either cannot run.
    ::testing::AssertionResult start(const QStringList& serverArguments = {});
    // Starts the application and waits until openbox manages its windows.
    ::testing::AssertionResult show(TestApplication& app, const QStringList& windows);

    bool hasState(xcb_window_t window, const char* state);
    std::vector<std::uint32_t> stacking() { return property(root(), "_NET_CLIENT_LIST_STACKING"); }

private:
    bool managed(const std::vector<std::uint32_t>& windows);

    QProcess m_server;
    QProcess m_windowManager;
    QTemporaryDir m_home;
};

} // namespace orvane::test
