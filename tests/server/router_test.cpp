// Commands and pointer input from paired phones: results, the activity log,
// the last command, and who may act at all.
#include "support/server_rig.h"

#include <QSignalSpy>

namespace orvane::test {
namespace {

using R = std::pair<bool, std::string>;

class Routing : public ServerFixture {
protected:
    R run(TestPhone& phone, OrvaneCommand command)
    {
        const Uuid id = makeUuid(systemRandom());
        phone.send(msg::Run{id, std::move(command)});
        const auto result = find<msg::Result>(phone.takeReceived()).value_or(msg::Result{});
        EXPECT_EQ(result.id, id) << "no answer, or another command's";
        return {result.success, result.message};
    }
};

TEST_F(Routing, AnswersCommandsAndLogsThemButNeverTypedText)
{
    auto phone = pairedPhone();
    QSignalSpy lastCommand(&server->status(), &ServerStatus::lastCommandChanged);
    std::size_t logged = server->status().activity().size();

    const command::PressShortcut copy{
        {KeyShortcut{KeyShortcut::Key::c, {KeyShortcut::Modifier::command}}}};
    EXPECT_EQ(run(*phone, copy), (R{true, "⌘C"}));
    EXPECT_EQ(server->status().lastCommand(), QStringLiteral("⌘C"));
    ASSERT_EQ(server->status().activity().size(), logged + 1);
    EXPECT_EQ(server->status().activity().front().text, QStringLiteral("⌘C"));
    EXPECT_EQ(server->status().activity().front().device, QStringLiteral("Ada's phone"));
    run(*phone, copy);
    EXPECT_EQ(lastCommand.count(), 1) << "the same label again notified a second time";

    EXPECT_EQ(run(*phone, command::TypeText{{"secret"}}), (R{true, "Typed"}));
    EXPECT_EQ(server->status().lastCommand(), QStringLiteral("Type: secret"));
    EXPECT_EQ(server->status().activity().size(), logged + 2) << "typed text reached the log";

    EXPECT_EQ(run(*phone, command::OpenURL{{"mailto:a@b.c"}}), (R{false, "Not a valid link"}));
    EXPECT_FALSE(server->status().activity().front().success);
}

TEST_F(Routing, MediaAndSystemCommandsDoNotWakeTheDisplay)
{
    auto phone = pairedPhone();
    int before = fakes.power->activityDeclarations;
    run(*phone, command::Media{{media::Play{}}});
    run(*phone, command::System{{sys::Lock{}}});
    run(*phone, command::PlayMusic{{"jazz"}, std::nullopt});
    EXPECT_EQ(fakes.power->activityDeclarations, before);
    run(*phone, command::QuitAllApps{});
    EXPECT_EQ(fakes.power->activityDeclarations, before + 1);
}

TEST_F(Routing, UnpairedPhonesCannotActAndPointerNeedsAccessibility)
{
    auto stranger = newPhone();
    stranger->hello(false);
    // Sealed with a guessed code: the session does not open it, and nothing
    // is typed.
    stranger->typeCode(wrongCode());
    stranger->send(msg::Run{makeUuid(systemRandom()), command::TypeText{{"rm -rf"}}});
    EXPECT_TRUE(fakes.input->events.empty());
    EXPECT_FALSE(find<msg::Result>(stranger->takeReceived()));
    server->closeConnection(stranger->connectionID());
    ASSERT_TRUE(pumpUntil([&] { return !server->status().hasPairingRequest(); }));

    auto phone = pairedPhone();
    fakes.displays->displays = {{1, QStringLiteral("DP-1"), false, true, false, {0, 0, 1000, 500}}};
    phone->send(msg::Pointer{{pointer::Click{0.5, 0.5, false, 1}}});
    EXPECT_EQ(fakes.input->events,
              (std::vector<std::string>{"move 500,250", "left down", "left up"}));
    EXPECT_TRUE(phone->takeReceived().empty()) << "pointer events are not answered";

    fakes.input->events.clear();
    fakes.input->available = false;
    phone->send(msg::Pointer{{pointer::MoveBy{{5, 5}}}});
    EXPECT_TRUE(fakes.input->events.empty());
}

TEST_F(Routing, LongTypingIsSlicedAndStopsWhenThePhoneLeaves)
{
    auto phone = pairedPhone();
    auto other = pairedPhone("Other");
    // Each slice takes a little while, as on a real display.
    fakes.input->onType = [] {
        QElapsedTimer t;
        t.start();
        while (t.nsecsElapsed() < 50'000) {
        }
    };
    std::string text(1'000'000, 'x');
    phone->send(msg::Run{makeUuid(systemRandom()), command::TypeText{{text}}});
    // The other phone is answered while the long text is still being typed.
    EXPECT_TRUE(run(*other, command::QuitAllApps{}).first);
    auto typed = [&] {
        std::size_t count = 0;
        for (const auto& e : fakes.input->events)
            count += e.rfind("type ", 0) == 0 ? e.size() - 5 : 0;
        return count;
    };
    EXPECT_LT(typed(), text.size());
    server->closeConnection(phone->connectionID());
    settle();
    // A typist that went on would type the rest within a few turns.
    const std::size_t atClose = typed();
    pumpUntil([&] { return typed() != atClose; }, 500);
    EXPECT_EQ(typed(), atClose) << "typing went on for a phone that left";
}

} // namespace
} // namespace orvane::test
