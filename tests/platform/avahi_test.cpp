// The Avahi advertiser and the phone's discovery against a real avahi-daemon
// on loopback, started by scripts/services.sh. The daemon is stopped and
// restarted here, which is why these tests hold the avahi_daemon lock.

#include "phone/discover.h"
#include "platform/linux/avahi/avahi_advertiser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {
namespace {

const char* const kType = "_orvane._tcp";

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Distinct per process, so a leftover from another run cannot answer for us.
QString uniqueName(const char* what)
{
    return QStringLiteral("Orvane %1 %2").arg(what).arg(::getpid());
}

std::optional<phone::DiscoveredService> findService(const QString& name)
{
    std::string error;
    for (const auto& service : phone::discoverServices(kType, 3000, &error)) {
        if (service.name == name.toStdString())
            return service;
    }
    return std::nullopt;
}

// Discovery runs until the browser has reported what it knows; a fresh
// registration may need a round or two to reach the daemon's own cache.
std::optional<phone::DiscoveredService> discover(const QString& name, quint16 port = 0)
{
    std::optional<phone::DiscoveredService> found;
    waitFor(
        [&] {
            found = findService(name);
            return found && (port == 0 || found->port == port);
        },
        10000);
    return found;
}

bool vanishes(const QString& name)
{
    return waitFor([&] { return !findService(name); }, 10000);
}

// Records what an advertiser reports, in order.
struct Recorder {
    std::unique_ptr<ServiceAdvertiser> advertiser = makeAvahiAdvertiser();
    std::vector<QString> reports;

    Recorder()
    {
        advertiser->onRegistered = [this](const QString& name) { reports.push_back(name); };
    }
    QString current() const { return reports.empty() ? QString() : reports.back(); }
    bool waitRegistered(const QString& name, int timeoutMs = 10000)
    {
        return waitFor([&] { return current() == name; }, timeoutMs);
    }
    bool waitAnyRegistered(int timeoutMs = 10000)
    {
        return waitFor([&] { return !current().isEmpty(); }, timeoutMs);
    }
};

bool avahiCtl(const char* action)
{
    const char* ctl = std::getenv("ORVANE_TEST_AVAHI_CTL");
    return ctl &&
           std::system((std::string("'") + ctl + "' " + action + " >/dev/null").c_str()) == 0;
}

// Brings the daemon back however a test ends, so the next test finds it.
struct DaemonStopped {
    bool stopped = avahiCtl("stop");
    ~DaemonStopped() { avahiCtl("start"); }
};

class AvahiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* ok = std::getenv("ORVANE_TEST_AVAHI_OK");
        if (!ok || std::string(ok) != "1") {
            const char* why = std::getenv("ORVANE_TEST_AVAHI_ERROR");
            GTEST_FAIL() << "the test avahi-daemon is not available: "
                         << (why ? why
                                 : "not started; run through ./test.sh, which starts it "
                                   "(scripts/services.sh)");
        }
        // An earlier test may have left it stopped by failing half-way.
        ASSERT_TRUE(avahiCtl("start")) << "the test avahi-daemon does not start";
    }
};

TEST_F(AvahiTest, PublishMovePortAndWithdraw)
{
    Recorder recorder;
    const QString name = uniqueName("Publish");

    recorder.advertiser->publish(name, kType, 45123);
    ASSERT_TRUE(recorder.waitRegistered(name));
    auto found = discover(name, 45123);
    ASSERT_TRUE(found) << "the published service is not found";
    EXPECT_EQ(found->port, 45123);
    EXPECT_EQ(found->address, "127.0.0.1");
    EXPECT_EQ(found->host, "orvane-test.local");

    // A listener restart on another port moves the advertisement; the old
    // port must not linger under the same name.
    recorder.advertiser->publish(name, kType, 45124);
    found = discover(name, 45124);
    ASSERT_TRUE(found) << "the service did not move to the new port";
    EXPECT_EQ(recorder.current(), name);

    recorder.advertiser->withdraw();
    EXPECT_TRUE(recorder.waitRegistered(QString()));
    EXPECT_TRUE(vanishes(name)) << "the service is still advertised after withdraw()";

    // And it can come back after a withdrawal.
    recorder.advertiser->publish(name, kType, 45125);
    EXPECT_TRUE(recorder.waitRegistered(name));
    EXPECT_TRUE(discover(name, 45125));
}

TEST_F(AvahiTest, SameNameTwiceGetsAnAlternativeName)
{
    const QString name = uniqueName("Twin");
    Recorder first;
    first.advertiser->publish(name, kType, 45130);
    ASSERT_TRUE(first.waitRegistered(name));

    Recorder second;
    second.advertiser->publish(name, kType, 45131);
    ASSERT_TRUE(second.waitAnyRegistered());
    const QString alternative = second.current();
    EXPECT_NE(alternative, name);
    EXPECT_TRUE(alternative.startsWith(name)) << alternative.toStdString();

    auto original = discover(name, 45130);
    auto renamed = discover(alternative, 45131);
    EXPECT_TRUE(original);
    EXPECT_TRUE(renamed) << "the alternative name is reported but not advertised";
    EXPECT_EQ(first.current(), name) << "the first holder must keep its name";
}

TEST_F(AvahiTest, OverlongNameIsCutAtACharacterBoundary)
{
    // 60 ASCII bytes, then two-byte characters straddling the 63-byte limit
    // of a DNS label; avahi refuses longer service names outright.
    const QString name = uniqueName("Long").leftJustified(60, QLatin1Char('x')) +
                         QStringLiteral("\u00e9\u00e9\u00e9");
    Recorder recorder;
    recorder.advertiser->publish(name, kType, 45140);
    ASSERT_TRUE(recorder.waitAnyRegistered()) << "an overlong name was not advertised at all";
    const QByteArray registered = recorder.current().toUtf8();
    EXPECT_LE(registered.size(), 63);
    EXPECT_TRUE(name.startsWith(recorder.current()));
    EXPECT_EQ(registered, name.toUtf8().left(62)) << "cut inside a character or too short";
    EXPECT_TRUE(discover(recorder.current(), 45140));
}

TEST_F(AvahiTest, RegistersAgainAfterTheDaemonRestarts)
{
    Recorder recorder;
    const QString name = uniqueName("Restart");
    recorder.advertiser->publish(name, kType, 45150);
    ASSERT_TRUE(recorder.waitRegistered(name));

    {
        DaemonStopped stop;
        ASSERT_TRUE(stop.stopped);
        EXPECT_TRUE(recorder.waitRegistered(QString())) << "losing the daemon was not reported";
    }
    ASSERT_TRUE(recorder.waitRegistered(name)) << "not registered again after the restart";
    EXPECT_TRUE(discover(name, 45150));

    // A second restart: the replacement client must recover just the same.
    {
        DaemonStopped stop;
        ASSERT_TRUE(stop.stopped);
        EXPECT_TRUE(recorder.waitRegistered(QString()));
    }
    EXPECT_TRUE(recorder.waitRegistered(name));
    EXPECT_TRUE(discover(name, 45150));
}

TEST_F(AvahiTest, WaitsForADaemonThatIsNotThereYet)
{
    const QString name = uniqueName("Late");
    std::optional<Recorder> recorder;
    {
        DaemonStopped stop;
        ASSERT_TRUE(stop.stopped);

        std::string error;
        EXPECT_TRUE(phone::discoverServices(kType, 2000, &error).empty());
        EXPECT_NE(error.find("avahi-daemon is not running"), std::string::npos) << error;

        recorder.emplace();
        recorder->advertiser->publish(name, kType, 45160);
        waitFor([] { return false; }, 1000);
        EXPECT_TRUE(recorder->current().isEmpty()) << "reported a registration without a daemon";
    }
    EXPECT_TRUE(recorder->waitRegistered(name)) << "did not register once the daemon appeared";
    EXPECT_TRUE(discover(name, 45160));
}

TEST_F(AvahiTest, DestroyingTheAdvertiserWithdrawsAndReportsNothingMore)
{
    const QString name = uniqueName("Gone");
    bool reportedAfterDestruction = false;
    {
        auto advertiser = makeAvahiAdvertiser();
        advertiser->publish(name, kType, 45170);
        ASSERT_TRUE(waitFor([&] { return findService(name).has_value(); }, 10000));
        advertiser->onRegistered = [&](const QString&) { reportedAfterDestruction = true; };
        advertiser->withdraw();
    }
    // The withdrawal's report was queued; it must not reach a dead object.
    waitFor([] { return false; }, 300);
    EXPECT_FALSE(reportedAfterDestruction);
    EXPECT_TRUE(vanishes(name));

    // Destroyed while still registering: nothing may be left behind.
    for (int i = 0; i < 10; ++i) {
        auto advertiser = makeAvahiAdvertiser();
        advertiser->publish(name, kType, 45171);
        QThread::msleep(static_cast<unsigned long>(i * 5));
    }
    EXPECT_TRUE(vanishes(name));
}

// Needs no daemon: the child process points at a system bus that does not
// exist, which libdbus reads once per process.
TEST(AvahiWithoutBus, NeitherSideCrashesOrHangs)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/orvane-test-bus", 1);
            std::string error;
            const bool empty = phone::discoverServices(kType, 1000, &error).empty();
            const bool explained = error.find("D-Bus") != std::string::npos;

            std::vector<QString> reports;
            auto advertiser = makeAvahiAdvertiser();
            advertiser->onRegistered = [&](const QString& name) { reports.push_back(name); };
            advertiser->publish(QStringLiteral("Orvane No Bus"), kType, 45180);
            waitFor([] { return false; }, 500);
            advertiser->withdraw();
            advertiser.reset();
            const bool quiet = reports.empty() || reports.back().isEmpty();
            std::exit(empty && explained && quiet ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace orvane

int main(int argc, char** argv)
{
    // The advertiser reports on the Qt main thread, so the tests need its loop.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
