// What paired phones hear without asking, and the information requests:
// the state after authentication, permission changes, now playing with its
// regular re-send, the system state, frontmost and running applications,
// icons and windows.
#include "support/server_rig.h"

namespace orvane::test {
namespace {

class Updates : public ServerFixture {
protected:
    static std::vector<std::string> cases(const std::vector<TestPhone::Received>& received)
    {
        std::vector<std::string> names;
        for (const auto& r : received)
            names.emplace_back(caseName(r.message));
        return names;
    }

    static NowPlaying track(std::string title)
    {
        return {MediaPlayer::spotify, std::move(title), "Artist", "", true, 0, 0, 50, {}};
    }
};

TEST_F(Updates, AuthenticationSendsTheFiveMessagesInOrder)
{
    fakes.applications->running = {{77, "org.gnome.Calculator", "Calculator", "x"}};
    fakes.events->pid = 77;
    media->playing = track("Song");
    system->state = {40, false, true, false};
    auto phone = newPhone();
    phone->hello(false);
    // A push already due as the phone authenticates comes after the five.
    QTimer::singleShot(0, [&] {
        fakes.applications->running.push_back({78, "org.gnome.Maps", "Maps", "y"});
        fakes.events->onApplicationsChanged();
    });
    phone->typeCode(server->status().pairingRequest()->code.toStdString());
    QCoreApplication::processEvents();
    auto received = phone->takeReceived();
    EXPECT_EQ(cases(received),
              (std::vector<std::string>{"keyExchange", "paired", "welcome", "macInfo", "nowPlaying",
                                        "systemState", "frontmostApp", "runningApps"}));
    auto info = find<msg::Info>(received);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value.imagePNG, (Bytes{1, 2, 3})) << "the picture only at authentication";
    EXPECT_EQ(info->value.name, "Desk");
    EXPECT_EQ(find<msg::FrontmostApp>(received)->value,
              (MacApp{"org.gnome.Calculator", "Calculator"}));
}

TEST_F(Updates, NowPlayingIsSentOnChangeAndOnEveryFourthPollAndSystemStateOnChange)
{
    server->updates().nowPlayingPoll();
    EXPECT_EQ(server->updates().nowPlayingTick(), 0) << "no phone, no work";
    EXPECT_EQ(media->reads, 0);

    auto phone = pairedPhone();
    media->playing = track("One");
    std::vector<int> sentAt;
    for (int poll = 1; poll <= 9; ++poll) {
        // Position and album changes alone are not news.
        media->playing->position = poll;
        media->playing->album = "Album " + std::to_string(poll);
        server->updates().nowPlayingPoll();
        if (find<msg::Track>(phone->takeReceived()))
            sentAt.push_back(poll);
    }
    EXPECT_EQ(sentAt, (std::vector<int>{1, 4, 8}));

    media->playing->volume = 70; // a change goes out at once
    server->updates().nowPlayingPoll();
    EXPECT_TRUE(find<msg::Track>(phone->takeReceived()));
    media->playing.reset();
    server->updates().nowPlayingPoll();
    EXPECT_EQ(find<msg::Track>(phone->takeReceived()), msg::Track{}) << "stopped";

    // The same polls carry the system state, when it changed, and the
    // players' refusal.
    system->state = {30, false, false, false};
    media->denied = true;
    server->updates().nowPlayingPoll();
    ASSERT_TRUE(find<msg::State>(phone->takeReceived()));
    EXPECT_TRUE(server->status().mediaPermissionDenied());
    server->updates().nowPlayingPoll();
    EXPECT_FALSE(find<msg::State>(phone->takeReceived())) << "unchanged";
    system->state.isMuted = true;
    server->updates().nowPlayingPoll();
    EXPECT_EQ(find<msg::State>(phone->takeReceived()), msg::State{system->state});
}

TEST_F(Updates, MediaAndSystemCommandsRefreshNowPlayingShortlyAfter)
{
    auto phone = pairedPhone();
    media->playing = track("Before");
    server->updates().nowPlayingPoll();
    phone->takeReceived();
    media->playing = track("After");
    int readsBefore = media->reads;
    phone->send(msg::Run{makeUuid(systemRandom()), command::Media{{media::Next{}}}});
    EXPECT_FALSE(find<msg::Track>(phone->takeReceived())) << "not before the players settle";
    ASSERT_TRUE(pumpUntil([&] { return media->reads > readsBefore; }, 2000));
    EXPECT_EQ(find<msg::Track>(phone->takeReceived()), msg::Track{track("After")});
}

TEST_F(Updates, APhoneJoiningGetsWhatTheLastPollReadWhileItIsRecent)
{
    auto first = pairedPhone("First");
    media->playing = track("Polled");
    server->updates().nowPlayingPoll();
    media->playing = track("Newer");
    int reads = media->reads;
    auto second = newPhone("Second");
    pair(*second);
    EXPECT_EQ(media->reads, reads) << "the players were asked again";

    clockMs += 2 * UpdatePublisher::nowPlayingPollMs + 1;
    auto third = newPhone("Third");
    third->hello(false);
    third->typeCode(server->status().pairingRequest()->code.toStdString());
    EXPECT_EQ(find<msg::Track>(third->takeReceived()), msg::Track{track("Newer")})
        << "an old poll is not reused";
}

TEST_F(Updates, PermissionChangesResendWelcomeToEveryPairedPhoneInOrder)
{
    auto first = pairedPhone("First");
    auto second = pairedPhone("Second");
    auto stranger = newPhone();
    stranger->hello(false);
    stranger->takeReceived();

    server->updates().permissionPoll();
    EXPECT_TRUE(first->takeReceived().empty()) << "nothing changed";
    accessibility = false;
    server->updates().permissionPoll();
    auto welcome = find<msg::Welcome>(first->takeReceived());
    ASSERT_TRUE(welcome);
    EXPECT_FALSE(welcome->accessibilityGranted);
    EXPECT_TRUE(find<msg::Welcome>(second->takeReceived()));
    EXPECT_TRUE(stranger->takeReceived().empty()) << "unpaired phones hear nothing";
    EXPECT_FALSE(server->status().screenRecordingGranted());

    server->updates().pushMacInfo();
    EXPECT_TRUE(find<msg::Info>(first->takeReceived()));
    EXPECT_TRUE(stranger->takeReceived().empty());
}

TEST_F(Updates, FrontmostAndRunningApplicationsArePushedWhenTheyChange)
{
    auto phone = pairedPhone();
    fakes.applications->running = {
        {5, "org.a", "A", "a"}, {6, "", "Untitled", ""}, {7, "orvane", "Orvane", "orvane"}};
    fakes.events->pid = 5;
    fakes.events->onFrontmostChanged();
    EXPECT_EQ(find<msg::FrontmostApp>(phone->takeReceived()),
              (msg::FrontmostApp{MacApp{"org.a", "A"}}));
    fakes.events->onFrontmostChanged();
    EXPECT_TRUE(phone->takeReceived().empty()) << "the same application again";
    for (int pid : {6, 7}) { // no identifier, and ourselves, count as none
        fakes.events->pid = pid;
        fakes.events->onFrontmostChanged();
    }
    auto none = phone->takeReceived();
    ASSERT_EQ(none.size(), 1u);
    EXPECT_FALSE(std::get<msg::FrontmostApp>(none[0].message).value);

    fakes.events->onApplicationsChanged();
    EXPECT_EQ(find<msg::RunningApps>(phone->takeReceived()),
              (msg::RunningApps{std::vector<std::string>{"org.a", "orvane"}}));
    fakes.events->onApplicationsChanged();
    EXPECT_TRUE(phone->takeReceived().empty()) << "another window of the same apps";
}

TEST_F(Updates, CatalogueIconsAndWindows)
{
    auto phone = pairedPhone();
    auto& apps = *fakes.applications;
    apps.installed = {{"b", "App 10", "b", ""}, {"a", "app 9", "a", ""}};
    apps.dock = {"a"};
    apps.running = {{3, "b", "App 10", "b"}, {4, "", "x", ""}};
    phone->send(msg::RequestApps{});
    EXPECT_EQ(
        find<msg::AppCatalog>(phone->takeReceived()),
        (msg::AppCatalog{AppCatalogPayload{{{"a", "app 9"}, {"b", "App 10"}}, {"a"}, {"b"}}}));

    // 600 asked: at most 500 answered, unknown ones skipped, handed out one
    // per event-loop turn.
    for (int i = 0; i < 600; ++i)
        apps.installed.push_back({QStringLiteral("id%1").arg(i), QStringLiteral("n"), "", ""});
    std::vector<std::string> wanted = {"nope"};
    for (int i = 0; i < 600; ++i)
        wanted.push_back("id" + std::to_string(i));
    phone->send(msg::RequestIcons{{wanted}});
    EXPECT_TRUE(phone->takeReceived().empty()) << "icons come later, not in one go";
    // What arrives from later turns of the loop, until `count` came and the
    // loop has settled.
    auto later = [&](std::size_t count) {
        std::vector<TestPhone::Received> all;
        auto take = [&] {
            for (auto& r : phone->takeReceived())
                all.push_back(std::move(r));
            return all.size() >= count;
        };
        pumpUntil(take);
        settle();
        take();
        return all;
    };
    EXPECT_EQ(cases(later(499)), std::vector<std::string>(499, "appIcon"));

    windows->windows = {{1, "b", "B", "One", true}, {2, "b", "B", "Two", false}};
    phone->send(msg::RequestWindows{});
    ASSERT_EQ(cases(phone->takeReceived()), (std::vector<std::string>{"windows"}));
    const auto thumbnails = later(1);
    ASSERT_EQ(cases(thumbnails), (std::vector<std::string>{"windowThumbnail"}));
    EXPECT_EQ(std::get<msg::WindowThumbnail>(thumbnails[0].message).id, 1u);
}

} // namespace
} // namespace orvane::test
