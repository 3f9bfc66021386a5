// Input on a real headless sway, as the test window receives it: typed
// text of any script, keys with modifiers, and the pointer.
#include "mutter/child_lines.h"
#include "platform/linux/wlroots/wayland_connection.h"
#include "platform/linux/wlroots/wlroots_input_device.h"
#include "platform/linux/wlroots/wlroots_pasteboard.h"
#include "platform/linux/wlroots/wlroots_screen_capture.h"
#include "platform/linux/wlroots/wlroots_window_system.h"
#include "support/pump.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using Key = KeyShortcut::Key;
using Modifier = KeyShortcut::Modifier;

class WlrootsSwayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_SWAY_OK"), "1")
            << "no headless sway: " << qgetenv("ORVANE_TEST_SWAY_ERROR").toStdString();
        const QString runtime = qEnvironmentVariable("ORVANE_TEST_SWAY_RUNTIME_DIR");
        const QString display = qEnvironmentVariable("ORVANE_TEST_SWAY_WAYLAND_DISPLAY");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.insert("GDK_BACKEND", "wayland");
        env.insert("WAYLAND_DISPLAY", display);
        env.insert("XDG_RUNTIME_DIR", runtime);
        connection = WaylandConnection::connect(runtime + '/' + display);
        ASSERT_TRUE(connection) << "no connection to sway";
        input = makeWlrootsInputDevice(connection);
        std::optional<bool> ready;
        input->whenReady([&](bool answer) { ready = answer; });
        ASSERT_TRUE(test::pumpUntil([&] { return ready.has_value(); }, 5000));
        ASSERT_TRUE(*ready);
        // Started once our keyboard and pointer are there, as a user's
        // programs are long before a phone connects.
        probe.emplace(QStringList{ORVANE_WAYLAND_PROBE}, env);
        ASSERT_TRUE(probe->waitFor("\"ready\"", 20000)) << probe->transcript();
    }

    // The next line of the window that `match` accepts.
    std::optional<QJsonObject> next(const std::function<bool(const QJsonObject&)>& match)
    {
        while (const std::optional<QString> line = probe->waitFor("{")) {
            const QJsonObject event = QJsonDocument::fromJson(line->toUtf8()).object();
            if (match(event))
                return event;
        }
        return std::nullopt;
    }

    bool textBecomes(const QString& text)
    {
        return next([&](const QJsonObject& e) { return e["text"] == text; }).has_value();
    }

    void click(Point at, MouseButton button = MouseButton::left)
    {
        input->moveCursor(at);
        input->setButton(button, true);
        input->setButton(button, false);
    }

    std::optional<test::ChildLines> probe;
    std::shared_ptr<WaylandConnection> connection;
    std::unique_ptr<InputDevice> input;
};

TEST_F(WlrootsSwayTest, SwayOffersEveryProtocolOfRemoteControl)
{
    const WlrootsProtocols offered = wlrootsProtocols(*connection);
    EXPECT_TRUE(offered.input());
    EXPECT_TRUE(offered.dataControl);
    EXPECT_TRUE(offered.screencopy);
    EXPECT_TRUE(offered.foreignToplevel);
}

TEST_F(WlrootsSwayTest, TypedTextArrivesExactlyInAnyScript)
{
    // More different characters than one keymap holds: the keymap changes
    // midway and the keys typed before must keep what they typed.
    QString many;
    for (char32_t c = U'一'; c < U'一' + 150; ++c)
        many += QString::fromUcs4(&c, 1);
    const std::vector<std::pair<std::string, QString>> cases = {
        {"Hello, World! ~#{}", "Hello, World! ~#{}"},
        {"é € Ж 日本 😀", "é € Ж 日本 😀"},
        {"one\ntwo\r\nthree", "one\ntwo\nthree"},
        {many.toStdString(), many},
    };
    for (const auto& [typed, expected] : cases) {
        SCOPED_TRACE(typed);
        input->typeText(typed);
        EXPECT_TRUE(textBecomes(expected)) << probe->transcript();
        // Select everything and delete it: a shortcut and a key.
        input->pressKey(Key::a, modifierBit(Modifier::control));
        input->pressKey(Key::delete_, 0);
        ASSERT_TRUE(textBecomes("")) << probe->transcript();
    }
}

TEST_F(WlrootsSwayTest, KeysArriveWithExactlyTheirModifiers)
{
    struct Case {
        Key key;
        ModifierMask modifiers;
        const char* name;
        QJsonArray state;
        const char* heldFirst = nullptr;
    };
    const std::vector<Case> cases = {
        {Key::z, 0, "z", {}},
        {Key::t, modifierBit(Modifier::control), "t", {"control"}},
        {Key::digit1, modifierBit(Modifier::shift), "exclam", {"shift"}},
        {Key::left, modifierBit(Modifier::option), "Left", {"alt"}},
        // GTK 4.8 never shows Super among the modifiers: the key itself
        // must have come first.
        {Key::s, modifierBit(Modifier::command), "s", {}, "Super_L"},
        {Key::escape,
         modifierBit(Modifier::control) | modifierBit(Modifier::shift),
         "Escape",
         {"shift", "control"}},
        // Once the modifiers are released nothing is left held.
        {Key::x, 0, "x", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        input->pressKey(c.key, c.modifiers);
        if (c.heldFirst) {
            ASSERT_TRUE(next([&](const QJsonObject& e) { return e["key"] == c.heldFirst; }));
        }
        const auto event = next([&](const QJsonObject& e) { return e["key"] == c.name; });
        ASSERT_TRUE(event) << probe->transcript();
        EXPECT_EQ((*event)["state"].toArray(), c.state);
    }
}

TEST_F(WlrootsSwayTest, ClicksDragsAndScrollsLandWhereAsked)
{
    auto pressed = [&] { return next([](const QJsonObject& e) { return e.contains("button"); }); };
    // Beyond the output the pointer stops at its edge.
    for (const Point at : {Point{412, 287}, Point{1599, 999}, Point{5000, -40}}) {
        click(at);
        const auto event = pressed();
        ASSERT_TRUE(event) << probe->transcript();
        EXPECT_EQ((*event)["button"].toInt(), 1);
        EXPECT_DOUBLE_EQ((*event)["x"].toDouble(), std::clamp(at.x, 0.0, 1599.0));
        EXPECT_DOUBLE_EQ((*event)["y"].toDouble(), std::clamp(at.y, 0.0, 999.0));
        input->moveCursor({800, 500}); // apart, so the next press is no double click
    }
    // A double click is two whole clicks in a row at one point. (Placed
    // again before each press, GTK 4.8 on sway counts each as a first one;
    // the server places the cursor once, and the end-to-end test checks
    // that GTK counts its double click.)
    click({300, 300});
    click({300, 300});
    for (int i = 0; i < 2; ++i) {
        const auto press = pressed();
        ASSERT_TRUE(press) << probe->transcript();
        EXPECT_EQ((*press)["x"].toDouble(), 300);
        ASSERT_TRUE(next([](const QJsonObject& e) { return e.contains("release"); }));
    }

    input->moveCursor({100, 100});
    input->setButton(MouseButton::left, true);
    input->moveCursor({600, 420});
    input->setButton(MouseButton::left, false);
    const auto release = next([](const QJsonObject& e) { return e.contains("release"); });
    ASSERT_TRUE(release) << probe->transcript();
    EXPECT_EQ((*release)["x"].toDouble(), 600);
    EXPECT_EQ((*release)["y"].toDouble(), 420);

    input->scroll(0, -45); // three wheel steps down
    const auto scrolled = next([](const QJsonObject& e) { return e.contains("scroll"); });
    ASSERT_TRUE(scrolled) << probe->transcript();
    EXPECT_GT((*scrolled)["scroll"].toArray()[1].toDouble(), 0);

    // Last: the window answers it with a menu that takes the pointer.
    click({700, 600}, MouseButton::right);
    const auto menu = pressed();
    ASSERT_TRUE(menu) << probe->transcript();
    EXPECT_EQ((*menu)["button"].toInt(), 3);
    EXPECT_EQ((*menu)["x"].toDouble(), 700);
}

TEST_F(WlrootsSwayTest, TheClipboardCarriesTextBothWays)
{
    auto pasteboard = makeWlrootsPasteboard(connection);
    ASSERT_TRUE(pasteboard->setText("Grüße € 日本"));
    // The window learns of the new clipboard in its own time: ask again
    // until it has.
    QString read;
    for (int i = 0; i < 20 && read != "Grüße € 日本"; ++i) {
        probe->tell("clipboard");
        const auto answer = next([](const QJsonObject& e) { return e.contains("clipboard"); });
        ASSERT_TRUE(answer) << probe->transcript();
        read = (*answer)["clipboard"].toString();
    }
    EXPECT_EQ(read, "Grüße € 日本");

    // More than a pipe holds at once, in both directions.
    QString large;
    for (int i = 0; large.size() < 300000; ++i)
        large += QStringLiteral("line %1 — ünïcödé\n").arg(i);
    ASSERT_TRUE(pasteboard->setText(large));
    for (int i = 0; i < 20 && read != large; ++i) {
        probe->tell("clipboard");
        const auto answer = next([](const QJsonObject& e) { return e.contains("clipboard"); });
        ASSERT_TRUE(answer);
        read = (*answer)["clipboard"].toString();
    }
    EXPECT_TRUE(read == large) << read.size() << " of " << large.size() << " characters";

    // A window may take the clipboard only after some input has reached it.
    click({500, 500});
    ASSERT_TRUE(next([](const QJsonObject& e) { return e.contains("release"); }));
    probe->tell("copy from the window ✓");
    ASSERT_TRUE(next([](const QJsonObject& e) { return e.contains("copied"); }));
    EXPECT_TRUE(test::pumpUntil([&] { return pasteboard->text() == "from the window ✓"; }, 5000))
        << pasteboard->text().value_or("(none)").toStdString();
}

TEST_F(WlrootsSwayTest, PicturesOfTheScreenShowWhatItShowsAndFollowItsChanges)
{
    auto capture = makeWlrootsScreenCapture(connection);
    ASSERT_TRUE(test::pumpUntil([&] { return capture->available(); }));
    const std::vector<CaptureDisplay> displays = capture->displays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0].pixelWidth, 1600);
    EXPECT_EQ(displays[0].pixelHeight, 1000);
    std::optional<CapturedImage> latest;
    QString why;
    ASSERT_TRUE(capture->start(
        displays[0].id, 15,
        [&](CaptureEvent event) {
            if (event.status == CaptureEvent::Status::newContent)
                latest = std::move(event.image);
        },
        &why))
        << why.toStdString();
    // Blue, green, red, spare: the window's colour far from the cursor.
    auto shows = [&](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        if (!latest || latest->width != 1600 || latest->height != 1000)
            return false;
        const std::uint8_t* pixel = latest->pixels + 900 * latest->stride + 1500 * 4;
        return pixel[0] == b && pixel[1] == g && pixel[2] == r;
    };
    for (const auto& [name, r, g, b] :
         {std::tuple{"c03020", 0xc0, 0x30, 0x20}, std::tuple{"2040e0", 0x20, 0x40, 0xe0}}) {
        probe->tell(QStringLiteral("colour ") + name);
        // Clang 14 captures no structured bindings.
        EXPECT_TRUE(test::pumpUntil([&, r = r, g = g, b = b] { return shows(r, g, b); }, 5000))
            << name;
    }

    // Pictures still held downstream are never copied into again: with all
    // of them held nothing new comes, and once let go pictures flow again.
    std::vector<CapturedImage> held;
    for (int i = 0; i < 6; ++i) {
        latest.reset();
        capture->refresh();
        if (!test::pumpUntil([&] { return latest.has_value(); }, 1000))
            break;
        held.push_back(*latest);
    }
    ASSERT_GE(held.size(), 2u);
    EXPECT_LT(held.size(), 6u) << "more pictures than buffers while all are held";
    for (std::size_t i = 0; i < held.size(); ++i)
        for (std::size_t j = i + 1; j < held.size(); ++j)
            EXPECT_NE(held[i].pixels, held[j].pixels) << i << " and " << j << " share memory";
    held.clear();
    latest.reset();
    probe->tell("colour 101010");
    EXPECT_TRUE(test::pumpUntil([&] { return shows(0x10, 0x10, 0x10); }, 5000));
    capture->stop();
}

TEST_F(WlrootsSwayTest, TheWindowListShowsTheWindowAndItsRequestsReachIt)
{
    auto windowSystem = makeWlrootsWindowSystem(connection);
    auto probeWindow = [&]() -> std::optional<DesktopWindow> {
        for (const DesktopWindow& window : windowSystem->windows())
            if (window.title == "orvane-probe")
                return window;
        return std::nullopt;
    };
    ASSERT_TRUE(test::pumpUntil([&] { return probeWindow().has_value(); }, 5000));
    const DesktopWindow window = *probeWindow();
    EXPECT_TRUE(window.normal);
    EXPECT_TRUE(window.onScreen);
    EXPECT_EQ(windowSystem->activeWindow(), window.id);
    ASSERT_TRUE(test::pumpUntil([&] { return windowSystem->workArea({10, 10}).has_value(); }));
    EXPECT_EQ(windowSystem->workArea({10, 10}), (Rect{0, 0, 1600, 1000}));

    EXPECT_TRUE(windowSystem->activate(window.id));
    EXPECT_FALSE(windowSystem->activate(window.id + 1000));
    windowSystem->close(window.id);
    EXPECT_TRUE(test::pumpUntil([&] { return !probeWindow(); }, 5000)) << probe->transcript();
}

} // namespace
} // namespace orvane
