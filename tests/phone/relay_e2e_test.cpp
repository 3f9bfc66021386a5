// Remote access end to end on loopback: orvane-relay, the real server told
// its address, and orvane-phone paired on the LAN then reaching the server
// through the relay's room. The relay's log and memory never show a known
// command's text.
#include "command_line_fixture.h"

#include "screen_painter.h"

#include "support/jpeg_size.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace orvane::phone {
namespace {

using testing::Painter;

// Whether the process's writable memory holds `text` anywhere. Regions of a
// gigabyte and more are reservations (AddressSanitizer's shadow, say), never
// filled by the relay; the rest is read a few megabytes at a time.
bool memoryHolds(int pid, const std::string& text)
{
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    const int mem = ::open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
    EXPECT_GE(mem, 0) << "cannot read the relay's memory";
    constexpr unsigned long chunk = 4ul << 20, largest = 1ul << 30;
    bool found = false;
    std::string buffer;
    for (std::string line; mem >= 0 && !found && std::getline(maps, line);) {
        unsigned long begin = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &begin, &end, perms) != 3 || perms[1] != 'w' ||
            end - begin >= largest)
            continue;
        // Chunks overlap by the text's length, so no match falls between two.
        for (unsigned long at = begin; !found && at < end; at += chunk) {
            buffer.assign(std::min(chunk + text.size(), end - at), '\0');
            const ssize_t got = ::pread(mem, buffer.data(), buffer.size(), off_t(at));
            found = got > 0 && buffer.substr(0, std::size_t(got)).find(text) != std::string::npos;
        }
    }
    if (mem >= 0)
        ::close(mem);
    return found;
}

class ThroughRelay : public CommandLine {
protected:
    void SetUp() override
    {
        startRelay("127.0.0.1:0");
        ASSERT_FALSE(HasFatalFailure());
        m_extraEnv["ORVANE_RELAY_URL"] = relayUrl();
        CommandLine::SetUp();
    }
    void TearDown() override
    {
        CommandLine::TearDown();
        m_relay.reset();
    }
    // Its log goes to standard error; the shell puts it where the test reads.
    void startRelay(const std::string& listen)
    {
        m_relay = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", ORVANE_RELAY_PATH,
                                     "--listen", listen},
            std::map<std::string, std::string>{});
        auto line = m_relay->waitForLine(std::regex("listening on ws://[^:]+:(\\d+)"), timeoutMs);
        ASSERT_TRUE(line) << "the relay did not start";
        m_relayPort = std::stoi((*line)[1]);
    }
    std::string relayUrl() const { return "ws://127.0.0.1:" + std::to_string(m_relayPort); }
    bool macIn(const char* what, int withinMs = timeoutMs)
    {
        return bool(
            m_relay->waitForLine(std::regex(std::string("room \\w{8} mac ") + what), withinMs));
    }
    // A phone that leaves its room takes the computer's link with it, and
    // the link opens again a second later; the next run waits for that.
    Run viaRelay(std::vector<std::string> args, bool linkReturns = true)
    {
        args.insert(args.begin(), {"--relay", relayUrl(), "--timeout", "3"});
        Run run = phone(args);
        EXPECT_TRUE(!linkReturns || macIn("join")) << "the link did not open again";
        return run;
    }

    std::unique_ptr<ChildProcess> m_relay;
    int m_relayPort = 0;
};

TEST_F(ThroughRelay, APairedPhoneWorksThroughTheRelayWhichSeesNoPlaintext)
{
    ASSERT_TRUE(displayProvided());
    pairThePhone();
    ASSERT_TRUE(macIn("join")) << "the computer opened no link";

    const std::string marker = "plain text the relay must never see 7f3a";
    Run copied = viaRelay({"set-clipboard", marker});
    EXPECT_EQ(copied.status, 0) << copied.errors;
    EXPECT_EQ(copied.output, "Copied to the Mac's clipboard\n");
    EXPECT_NE(viaRelay({"clipboard"}).output.find(marker), std::string::npos);
    // The next phone comes before the link has opened again.
    EXPECT_EQ(viaRelay({"info"}, false).status, 0);
    Run hasty = viaRelay({"info"});
    EXPECT_EQ(hasty.status, 0) << hasty.errors;

    // A picture of noise is larger than one relay message may be; the relay
    // refuses larger ones, so its arrival means it came in pieces.
    Painter painter;
    ASSERT_TRUE(painter.start());
    const fs::path dir = m_home / "frames";
    Run watched = viaRelay({"watch", "--frames", "1", "--save", dir.string()});
    ASSERT_EQ(watched.status, 0) << watched.errors;
    const std::string jpeg = readFile(dir / "frame-000001.jpg");
    EXPECT_GT(jpeg.size(), 262'144u);
    EXPECT_EQ(test::jpegSize({jpeg.begin(), jpeg.end()}).first, 1180) << "not the relay's size";

    EXPECT_EQ(m_relay->output().find(marker), std::string::npos);
    EXPECT_FALSE(memoryHolds(m_relay->pid(), marker));
}

TEST_F(ThroughRelay, TheLinkReturnsWithTheRelayAndClosesWhenSwitchedOffOrForgotten)
{
    pairThePhone();
    ASSERT_TRUE(macIn("join"));
    const std::string listen = "127.0.0.1:" + std::to_string(m_relayPort);
    m_relay->signal(SIGKILL);
    m_relay->wait(timeoutMs);
    startRelay(listen);
    ASSERT_TRUE(macIn("join", 20'000)) << "the link did not come back";
    Run info = viaRelay({"info"});
    EXPECT_EQ(info.status, 0) << info.errors;

    m_server->writeInput("remote off\n");
    EXPECT_TRUE(macIn("leave"));
    EXPECT_NE(viaRelay({"info"}, false).status, 0) << "reached with remote access off";

    m_server->writeInput("remote on\n");
    ASSERT_TRUE(macIn("join"));
    m_server->writeInput("forget E2E phone\n");
    EXPECT_TRUE(macIn("leave"));
    // A retry would come after a second.
    EXPECT_FALSE(macIn("join", 2500)) << "a forgotten phone's link opened again";
}

} // namespace
} // namespace orvane::phone
