// The Avahi advertiser and the phone's discovery against a real avahi-daemon
// on loopback, started by scripts/services.sh; some tests stop and restart it.
#include "phone/discover.h"
#include "platform/linux/avahi/avahi_advertiser.h"
#include "support/pump.h"

#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

namespace orvane {
namespace {

using test::pumpUntil;

const char* const kType = "_orvane._tcp";

// Distinct per process, so a leftover from another run cannot answer for us.
QString uniqueName(const char* what)
{
    return QStringLiteral("Orvane %1 %2").arg(what).arg(::getpid());
}

std::optional<phone::DiscoveredService> findService(const QString& name)
{
    std::string error;
    for (const auto& service : phone::discoverServices(kType, 3000, &error))
        if (service.name == name.toStdString())
            return service;
    return std::nullopt;
}

// A fresh registration may need a round or two to reach the daemon's cache.
bool discovered(const QString& name, quint16 port)
{
    return pumpUntil(
        [&] { return findService(name).value_or(phone::DiscoveredService{}).port == port; },
        10'000);
}

bool vanishes(const QString& name)
{
    return pumpUntil([&] { return !findService(name); }, 10'000);
}

// An advertiser and the name it last reported (empty: none registered).
struct Recorder {
    std::unique_ptr<ServiceAdvertiser> advertiser = makeAvahiAdvertiser();
    QString current;

    Recorder()
    {
        advertiser->onRegistered = [this](const QString& name) { current = name; };
    }
    // Waits until the last report is `name` or, without one, any name at all.
    bool registers(const std::optional<QString>& name = std::nullopt)
    {
        return pumpUntil([&] { return name ? current == *name : !current.isEmpty(); }, 10'000);
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
        if (qgetenv("ORVANE_TEST_AVAHI_OK") != "1")
            GTEST_FAIL() << "the test avahi-daemon is not available: "
                         << qEnvironmentVariable(
                                "ORVANE_TEST_AVAHI_ERROR",
                                "not started; run through ./test.sh, which starts it")
                                .toStdString();
        // An earlier test may have left it stopped by failing half-way.
        ASSERT_TRUE(avahiCtl("start")) << "the test avahi-daemon does not start";
    }
};

TEST_F(AvahiTest, PublishMovePortWithdrawAndPublishAgain)
{
    Recorder recorder;
    const QString name = uniqueName("Publish");
    recorder.advertiser->publish(name, kType, 45123);
    ASSERT_TRUE(recorder.registers(name));
    ASSERT_TRUE(discovered(name, 45123)) << "the published service is not found";
    const auto found = findService(name);
    EXPECT_EQ(found->address, "127.0.0.1");
    EXPECT_EQ(found->host, "orvane-test.local");

    // A listener restart on another port moves the advertisement.
    recorder.advertiser->publish(name, kType, 45124);
    EXPECT_TRUE(discovered(name, 45124)) << "the service did not move to the new port";
    EXPECT_EQ(recorder.current, name);

    recorder.advertiser->withdraw();
    EXPECT_TRUE(recorder.registers(QString()));
    EXPECT_TRUE(vanishes(name)) << "the service is still advertised after withdraw()";
    recorder.advertiser->publish(name, kType, 45125);
    EXPECT_TRUE(recorder.registers(name));
    EXPECT_TRUE(discovered(name, 45125));
}

TEST_F(AvahiTest, SameNameTwiceGetsAnAlternativeName)
{
    const QString name = uniqueName("Twin");
    Recorder first, second;
    first.advertiser->publish(name, kType, 45130);
    ASSERT_TRUE(first.registers(name));
    second.advertiser->publish(name, kType, 45131);
    ASSERT_TRUE(second.registers());
    const QString alternative = second.current;
    EXPECT_NE(alternative, name);
    EXPECT_TRUE(alternative.startsWith(name)) << alternative.toStdString();
    EXPECT_TRUE(discovered(name, 45130));
    EXPECT_TRUE(discovered(alternative, 45131)) << "the alternative name is not advertised";
    EXPECT_EQ(first.current, name) << "the first holder must keep its name";
}

TEST_F(AvahiTest, OverlongNameIsCutAtACharacterBoundary)
{
    // 60 ASCII bytes, then two-byte characters straddling the 63-byte limit
    // of a DNS label; avahi refuses longer service names outright.
    const QString name = uniqueName("Long").leftJustified(60, QLatin1Char('x')) +
                         QStringLiteral("\u00e9\u00e9\u00e9");
    Recorder recorder;
    recorder.advertiser->publish(name, kType, 45140);
    ASSERT_TRUE(recorder.registers()) << "an overlong name was not advertised at all";
    EXPECT_EQ(recorder.current.toUtf8(), name.toUtf8().left(62)) << "cut inside a character";
    EXPECT_TRUE(discovered(recorder.current, 45140));
}

// The daemon is waited for when it is not there yet, and registered with
// again after each restart: twice, since the client that replaces the lost
// one must recover the same way.
TEST_F(AvahiTest, WaitsForTheDaemonAndRegistersAgainAfterItRestarts)
{
    const QString name = uniqueName("Restart");
    std::optional<Recorder> recorder;
    for (int restart = 0; restart < 3; ++restart) {
        {
            DaemonStopped stop;
            ASSERT_TRUE(stop.stopped);
            if (restart == 0) {
                recorder.emplace();
                recorder->advertiser->publish(name, kType, 45150);
                // Discovery's own wait gives the advertiser time to try.
                std::string error;
                EXPECT_TRUE(phone::discoverServices(kType, 2000, &error).empty());
                EXPECT_NE(error.find("avahi-daemon is not running"), std::string::npos) << error;
                test::settle();
            }
            EXPECT_TRUE(recorder->registers(QString()))
                << "registered without a daemon, or losing it went unreported";
        }
        ASSERT_TRUE(recorder->registers(name)) << "not registered again after restart " << restart;
        EXPECT_TRUE(discovered(name, 45150));
    }
}

TEST_F(AvahiTest, DestroyingTheAdvertiserWithdrawsAndReportsNothingMore)
{
    const QString name = uniqueName("Gone");
    bool reportedAfterDestruction = false;
    {
        auto advertiser = makeAvahiAdvertiser();
        advertiser->publish(name, kType, 45170);
        ASSERT_TRUE(discovered(name, 45170));
        advertiser->onRegistered = [&](const QString&) { reportedAfterDestruction = true; };
        advertiser->withdraw();
    }
    // The withdrawal's report was queued; it must not reach a dead object.
    test::settle();
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
            std::vector<QString> reports;
            auto advertiser = makeAvahiAdvertiser();
            advertiser->onRegistered = [&](const QString& name) { reports.push_back(name); };
            advertiser->publish(QStringLiteral("Orvane No Bus"), kType, 45180);
            std::string error;
            const bool empty = phone::discoverServices(kType, 1000, &error).empty();
            const bool explained = error.find("D-Bus") != std::string::npos;
            test::settle();
            advertiser->withdraw();
            advertiser.reset();
            const bool quiet = reports.empty() || reports.back().isEmpty();
            std::exit(empty && explained && quiet ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace orvane
