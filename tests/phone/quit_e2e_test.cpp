// Quitting applications from the phone, against the real server on the test
// display. The server runs inside a stand-in terminal that owns a window, as
// it does when a user starts it from one; the applications are test windows
// of their own processes (tests/apps/test_window.cpp).
#include "command_line_fixture.h"

namespace orvane::phone {
namespace {

const std::regex windowId("^\\d+$");
const std::regex refused("^close refused$");

class Quit : public CommandLine {
protected:
    void prepareHome() override
    {
        writeFile(m_home / ".local/share/applications/org.orvane.Refuses.desktop",
                  "[Desktop Entry]\nType=Application\nName=Refuses\nExec=true\n"
                  "StartupWMClass=OrvaneRefuses\n");
        m_serverHost = {ORVANE_TEST_WINDOW, "OrvaneTerminal", "close"};
    }

    std::unique_ptr<ChildProcess> application(const std::string& wmClass, const std::string& mode)
    {
        auto app = std::make_unique<ChildProcess>(
            std::vector<std::string>{ORVANE_TEST_WINDOW, wmClass, mode}, env());
        EXPECT_TRUE(app->waitForLine(windowId, timeoutMs)) << wmClass << " showed no window";
        return app;
    }
};

// A polite quit never loses work: an application that keeps its window (an
// editor asking whether to save) is asked and left running, never signalled.
// Quitting all spares the terminal that runs the server, whose closing would
// end the server too.
TEST_F(Quit, AsksApplicationsToCloseSignalsNoneAndSparesTheTerminalRunningUs)
{
    ASSERT_TRUE(displayProvided());
    pairThePhone();
    auto accepting = application("OrvaneAccepts", "close");
    auto refusing = application("OrvaneRefuses", "refuse");

    EXPECT_EQ(phone({"quit", "org.orvane.Refuses"}).output, "Quitting Refuses\n");
    EXPECT_TRUE(refusing->waitForLine(refused, timeoutMs)) << "not asked to close";
    EXPECT_EQ(phone({"quit-all"}).output, "Quitting 2 apps\n");
    EXPECT_EQ(accepting->wait(timeoutMs), 0) << "an application that accepts closes";
    EXPECT_TRUE(refusing->waitForLine(refused, timeoutMs)) << "not asked to close";

    // Ten seconds after both quits, past any grace period a signal could
    // follow, the refusing application and the server still run.
    const std::optional<int> ended = refusing->wait(10'000);
    EXPECT_FALSE(ended) << "the refusing application ended with status " << ended.value_or(0);
    EXPECT_FALSE(m_server->wait(0)) << "the server ended: " << m_server->errors();
    EXPECT_EQ(phone({"clipboard"}).status, 0) << "the server answers";
}

} // namespace
} // namespace orvane::phone
