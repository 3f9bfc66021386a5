// The window catalogue on a desktop held in memory: what is listed, what the
// requests and results are; and the geometry of the parts of a window that
// its picture must not show. No display: the X11 test covers the backend
// without one.
#include "commands/labels.h"
#include "commands/window_catalog.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_window_system.h"
#include "platform/linux/x11/x11_windows_image.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace orvane {
namespace {

using Requests = std::vector<std::string>;

constexpr std::int32_t editorPid = 100;
constexpr std::int32_t strangerPid = 200;

DesktopWindow window(std::uint32_t id, Rect frame = {0, 0, 800, 600}, std::int32_t pid = editorPid,
                     bool normal = true, bool onScreen = true)
{
    return {id, pid, QStringLiteral("Window %1").arg(id), "Stranger", normal, onScreen, frame};
}

class CatalogTest : public ::testing::Test {
protected:
    CatalogTest()
    {
        m_apps.running = {{editorPid, QStringLiteral("org.example.Editor"),
                           QStringLiteral("Editor"), QStringLiteral("org.example.Editor")},
                          {strangerPid, QString(), QStringLiteral("Stranger"), QString()}};
    }
    FakeWindowSystem m_windows;
    FakeApplications m_apps;
    bool m_trusted = true;
    WindowCatalog m_catalog{m_windows, m_apps, [this] { return m_trusted; }};
};

TEST_F(CatalogTest, ListsOnlyOtherProcessesMainWindowsOnScreenAndLargeEnough)
{
    auto nameless = window(6, {0, 0, 800, 600}, 0);
    nameless.applicationClass.clear();
    m_windows.desktop = {
        window(1, {0, 0, 160, 120}),
        window(2, {0, 0, 150, 600}),                   // a palette
        window(3, {0, 0, 400, 300}, editorPid, false), // a dialog
        window(4, {0, 0, 800, 600}, ::getpid()),
        window(5, {0, 0, 800, 600}, editorPid, true, false), // minimised
        nameless,
        window(7, {0, 0, 800, 119}),
        window(8, {0, 0, 640, 480}, strangerPid),
    };
    const std::vector<MacWindow> listed = m_catalog.listWindows();
    const std::vector<MacWindow> expected = {
        {1, "org.example.Editor", "Editor", "Window 1", true},
        {8, "Stranger", "Stranger", "Window 8", false}, // no desktop entry: its class
    };
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(m_catalog.knownWindows().size(), 2u);
}

TEST_F(CatalogTest, TwentyWindowsListSixteenInOrderWithOnlyTheFirstFrontmost)
{
    for (std::uint32_t id = 20; id > 0; --id)
        m_windows.desktop.push_back(window(id));
    const std::vector<MacWindow> listed = m_catalog.listWindows();
    ASSERT_EQ(listed.size(), 16u);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].id, 20 - i);
        EXPECT_EQ(listed[i].isFrontmost, i == 0) << i;
    }
    EXPECT_EQ(m_catalog.knownWindows().count(4), 0u);
    EXPECT_EQ(m_catalog.knownWindows().count(5), 1u);
}

TEST_F(CatalogTest, ThumbnailsAreAtMost400WideAndNeverEnlarged)
{
    const struct {
        Rect frame;
        std::string grab; // empty: no picture asked for
    } cases[] = {
        {{0, 0, 1600, 1000}, "grab 1 400x250 q60"}, {{0, 0, 300, 200}, "grab 1 300x200 q60"},
        {{0, 0, 400, 300}, "grab 1 400x300 q60"},   {{0, 0, 1000, 333}, "grab 1 400x133 q60"},
        {{0, 0, 1, 500}, "grab 1 1x500 q60"},       {{0, 0, 0.5, 500}, ""},
    };
    for (const auto& c : cases) {
        m_windows.desktop = {window(1)};
        m_catalog.listWindows();
        m_windows.desktop.front().frame = c.frame; // its frame now, not when listed
        m_windows.requests.clear();
        const auto jpeg = m_catalog.captureThumbnail(1);
        EXPECT_EQ(jpeg.has_value(), !c.grab.empty()) << c.frame.width;
        EXPECT_EQ(m_windows.requests, c.grab.empty() ? Requests{} : Requests{c.grab});
    }
    m_windows.requests.clear();
    m_windows.desktop.push_back(window(2, {0, 0, 100, 100}));
    EXPECT_FALSE(m_catalog.captureThumbnail(2)) << "on the desktop, but not listed";
    EXPECT_FALSE(m_catalog.captureThumbnail(0xdeadbeef));
    EXPECT_TRUE(m_windows.requests.empty());
}

TEST_F(CatalogTest, ActionsNeedAccessibilityAndAFocusedWindow)
{
    m_windows.desktop = {window(1), window(2)};
    for (int i = 0; i <= int(WindowAction::nextWindow); ++i) {
        const auto action = WindowAction(i);
        m_windows.active.reset();
        EXPECT_EQ(m_catalog.perform(action), CommandResult::failure("No window to move"));
        m_windows.active = 1;
        m_trusted = false;
        EXPECT_EQ(m_catalog.perform(action),
                  CommandResult::failure("Accessibility permission required on the Mac"));
        m_trusted = true;
    }
    EXPECT_TRUE(m_windows.requests.empty());
    // A focused window whose frame cannot be read, or no monitor at all.
    m_windows.active = 3;
    EXPECT_EQ(m_catalog.perform(WindowAction::center), CommandResult::failure("No window to move"));
    m_windows.active = 1;
    m_windows.hasArea = false;
    EXPECT_EQ(m_catalog.perform(WindowAction::leftHalf),
              CommandResult::failure("No window to move"));
}

TEST_F(CatalogTest, EveryActionOnTheFocusedWindow)
{
    // Front to back: 1, 3 and 6 belong to the editor, 2 to another program,
    // 4 is the editor's dialog and 5 its minimised window; 7 and 8 name no
    // process and go by their class. Dialogs and minimised windows are never
    // cycled through. 9 to 11, of programs of their own, are to be centred
    // in the work area; the halves and the whole area are in the openbox test.
    std::vector<DesktopWindow> desktop = {window(1),
                                          window(2, {0, 0, 800, 600}, strangerPid),
                                          window(3),
                                          window(4, {0, 0, 400, 300}, editorPid, false),
                                          window(5, {0, 0, 800, 600}, editorPid, true, false),
                                          window(6),
                                          window(7, {0, 0, 800, 600}, 0),
                                          window(8, {0, 0, 800, 600}, 0),
                                          window(9, {0, 500, 800, 600}, 301),
                                          window(10, {50, 60, 2000, 1000}, 302),
                                          window(11, {50, 60, 2000, 500}, 303)};
    m_windows.area = {0, 25, 1440, 875};
    desktop[6].applicationClass = desktop[7].applicationClass = "XTerm";
    const struct {
        WindowAction action;
        std::uint32_t active;
        Requests requests;
    } cases[] = {
        {WindowAction::fullScreen, 2, {"fullscreen 2"}},
        {WindowAction::minimize, 2, {"minimize 2"}},
        {WindowAction::close, 2, {"close 2"}},
        {WindowAction::hideApp, 3, {"minimize 3", "minimize 1", "minimize 6"}},
        {WindowAction::hideApp, 2, {"minimize 2"}},
        {WindowAction::nextWindow, 1, {"back 1", "activate 3"}},
        {WindowAction::nextWindow, 3, {"back 3", "activate 6"}},
        {WindowAction::nextWindow, 6, {"back 6", "activate 1"}}, // wraps around
        {WindowAction::nextWindow, 4, {"activate 1"}},           // from the editor's dialog
        {WindowAction::nextWindow, 2, {}},                       // its only window
        {WindowAction::nextWindow, 7, {"back 7", "activate 8"}}, // by class
        {WindowAction::nextWindow, 99, {}},                      // not a window we know
        {WindowAction::center, 9, {"frame 9 320,162.5 800x600"}},
        {WindowAction::center, 10, {"frame 10 0,25 1440x875"}}, // larger than the area
        {WindowAction::center, 11, {"frame 11 0,212.5 1440x500"}},
    };
    for (const auto& c : cases) {
        m_windows.desktop = desktop;
        m_windows.active = c.active;
        m_windows.requests.clear();
        EXPECT_EQ(m_catalog.perform(c.action), CommandResult::ok(windowActionLabel(c.action)));
        EXPECT_EQ(m_windows.requests, c.requests) << int(c.action) << " on " << c.active;
    }
}

TEST_F(CatalogTest, FocusReachesOnlyListedWindowsOfRunningProcesses)
{
    m_windows.desktop = {window(1), window(2, {0, 0, 800, 600}, strangerPid),
                         window(3, {0, 0, 100, 100})};
    m_catalog.listWindows(); // before it nothing is known, as the openbox test shows
    EXPECT_EQ(m_catalog.focus(1), CommandResult::ok("Showing Editor"));
    EXPECT_EQ(m_catalog.focus(2), CommandResult::ok("Showing Stranger"));
    EXPECT_EQ(m_catalog.focus(3), CommandResult::failure("That window is no longer open"));
    m_apps.running.erase(m_apps.running.begin()); // the editor quit
    EXPECT_EQ(m_catalog.focus(1), CommandResult::failure("That window is no longer open"));
    m_windows.desktop.erase(m_windows.desktop.begin() + 1); // its window closed
    EXPECT_EQ(m_catalog.focus(2), CommandResult::failure("That window is no longer open"));
    EXPECT_EQ(m_windows.requests, (Requests{"activate 1", "activate 2"}));
    m_trusted = false; // focusing needs no permission
    m_windows.desktop = {window(1, {0, 0, 800, 600}, strangerPid)};
    m_catalog.listWindows();
    EXPECT_EQ(m_catalog.focus(1), CommandResult::ok("Showing Stranger"));
}

TEST(CoveredParts, AreTheOverlapsCutToTheFrame)
{
    const Rect frame{100, 100, 400, 300};
    const struct {
        std::vector<Rect> above;
        std::vector<Rect> covered;
    } cases[] = {
        {{}, {}},
        {{{200, 150, 50, 50}}, {{200, 150, 50, 50}}},                    // inside
        {{{450, 350, 100, 100}}, {{450, 350, 50, 50}}},                  // over a corner
        {{{0, 0, 1000, 1000}}, {frame}},                                 // over all of it
        {{{500, 100, 10, 300}, {0, 0, 100, 100}, {600, 600, 5, 5}}, {}}, // beside it
        {{{90, 200, 20, 10}, {300, 390, 10, 20}}, {{100, 200, 10, 10}, {300, 390, 10, 10}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(coveredParts(frame, c.above), c.covered) << c.above.size();
}

TEST(CoveredParts, PartsOutsideTheScreenAreBands)
{
    const Rect screen{0, 0, 1000, 800};
    const struct {
        Rect frame;
        std::vector<Rect> outside;
    } cases[] = {
        {{10, 10, 100, 100}, {}},
        {{-50, 10, 100, 100}, {{-50, 10, 50, 100}}},
        {{900, 700, 200, 200}, {{900, 800, 200, 100}, {1000, 700, 100, 100}}},
        {{-10, -10, 1020, 820},
         {{-10, -10, 1020, 10}, {-10, 800, 1020, 10}, {-10, 0, 10, 800}, {1000, 0, 10, 800}}},
        {{2000, 0, 10, 10}, {{2000, 0, 10, 10}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(partsOutside(c.frame, screen), c.outside) << c.frame.x << "," << c.frame.y;
}

TEST(CoveredParts, PaintBlackCoversEveryPixelTheyTouchAndNothingElse)
{
    // 4 x 3 pixels whose top left lies at (10, 20).
    const struct {
        std::vector<Rect> parts;
        std::vector<int> black; // pixel indices
    } cases[] = {
        {{}, {}},
        {{{11, 21, 2, 1}}, {5, 6}},
        {{{11.5, 20.5, 0.2, 1}}, {1, 5}},       // parts of pixels count
        {{{12, 21, 100, 100}}, {6, 7, 10, 11}}, // cut to the picture
        {{{0, 0, 5, 5}, {-100, 21, 1, 1}}, {}}, // wholly outside
        {{{10, 20, 1, 1}, {13, 22, 1, 1}}, {0, 11}},
    };
    for (const auto& c : cases) {
        ScreenPixels pixels{4, 3, std::vector<std::uint32_t>(12, 0xffffff)};
        paintBlack(pixels, 10, 20, c.parts);
        std::vector<int> painted;
        for (int i = 0; i < 12; ++i) {
            if (pixels.rgb[std::size_t(i)] == 0)
                painted.push_back(i);
        }
        EXPECT_EQ(painted, c.black) << c.parts.size();
    }
}

} // namespace
} // namespace orvane
