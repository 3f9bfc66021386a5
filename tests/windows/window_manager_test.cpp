// The window catalogue against openbox on a private X server, with the test
// windows owned by processes of their own.
#include "managed_display.h"

#include "commands/labels.h"
#include "commands/window_catalog.h"
#include "platform/linux/x11/x11_application_catalog.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_window_system.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <unistd.h>

namespace orvane {
namespace {

using test::eventually;
using test::ManagedDisplay;
using test::TestApplication;

class WindowManagerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_data = new QTemporaryDir;
        // One installed application, which the "OrvaneEditor" windows belong to.
        QDir().mkpath(s_data->filePath("home/applications"));
        QFile entry(s_data->filePath("home/applications/org.example.Editor.desktop"));
        if (entry.open(QIODevice::WriteOnly))
            entry.write("[Desktop Entry]\nType=Application\nName=Editor\nExec=true\n"
                        "StartupWMClass=OrvaneEditor\n");
        entry.close();
        qputenv("XDG_DATA_HOME", QFile::encodeName(s_data->filePath("home")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(s_data->filePath("none")));
        s_display = new ManagedDisplay;
        s_started = new ::testing::AssertionResult(s_display->start());
    }
    static void TearDownTestSuite()
    {
        delete s_started;
        delete s_display;
        delete s_data;
    }

    void SetUp() override
    {
        ASSERT_TRUE(*s_started);
        m_system = makeX11WindowSystem(m_x11);
        m_apps = std::make_unique<X11ApplicationCatalog>(m_x11);
        m_catalog = std::make_unique<WindowCatalog>(*m_system, *m_apps, [] { return true; });
    }

    ManagedDisplay& display() { return *s_display; }
    std::uint32_t active()
    {
        const auto value = display().property(display().root(), "_NET_ACTIVE_WINDOW");
        return value.empty() ? 0 : value.front();
    }
    std::uint32_t top()
    {
        const auto stacking = display().stacking();
        return stacking.empty() ? 0 : stacking.back();
    }
    // Focused and in front, as the window manager sees it.
    bool settlesInFront(std::uint32_t window)
    {
        return eventually([&] { return active() == window && top() == window; });
    }
    bool frameBecomes(std::uint32_t window, const Rect& frame)
    {
        return eventually([&] { return m_system->frame(window) == frame; });
    }
    std::vector<std::uint32_t> listedIDs()
    {
        std::vector<std::uint32_t> ids;
        for (const MacWindow& w : m_catalog->listWindows())
            ids.push_back(w.id);
        return ids;
    }

    static QTemporaryDir* s_data;
    static ManagedDisplay* s_display;
    static ::testing::AssertionResult* s_started;

    std::shared_ptr<X11Connection> m_x11 = std::make_shared<X11Connection>();
    std::unique_ptr<WindowSystem> m_system;
    std::unique_ptr<ApplicationCatalog> m_apps;
    std::unique_ptr<WindowCatalog> m_catalog;
};

QTemporaryDir* WindowManagerTest::s_data = nullptr;
ManagedDisplay* WindowManagerTest::s_display = nullptr;
::testing::AssertionResult* WindowManagerTest::s_started = nullptr;

// Our own window, in front of all others.
class OwnWindow {
public:
    explicit OwnWindow(ManagedDisplay& display) : m_display(display)
    {
        xcb_connection_t* c = display.connection();
        m_window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, display.root(), 0, 0, 800, 600, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const std::uint32_t pid = std::uint32_t(::getpid());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, display.atom("_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &pid);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
                            8, 12, "orvane\0Orvane");
        xcb_map_window(c, m_window);
        xcb_flush(c);
    }
    ~OwnWindow()
    {
        xcb_destroy_window(m_display.connection(), m_window);
        xcb_flush(m_display.connection());
    }
    xcb_window_t id() const { return m_window; }

private:
    ManagedDisplay& m_display;
    xcb_window_t m_window = 0;
};

TEST_F(WindowManagerTest, ListsOtherProgramsMainWindowsFrontToBack)
{
    TestApplication first, editor;
    ASSERT_TRUE(
        first.start(display(), {"OrvaneA:800x600", "OrvanePalette:150x600",
                                "OrvaneTool:400x300:utility", "OrvaneLegacy:700x500:legacy"}));
    ASSERT_TRUE(editor.start(display(), {"OrvaneEditor:640x480"}));
    OwnWindow own(display());
    ASSERT_TRUE(settlesInFront(own.id()));

    const std::vector<MacWindow> expected = {
        {editor.windows[0], "org.example.Editor", "Editor", "OrvaneEditor Caf\u00e9", true},
        {first.windows[3], "OrvaneLegacy", "OrvaneLegacy", "OrvaneLegacy Caf\u00e9", false},
        {first.windows[0], "OrvaneA", "OrvaneA", "OrvaneA Caf\u00e9", false},
    };
    EXPECT_EQ(m_catalog->listWindows(), expected);

    m_system->minimize(editor.windows[0]);
    ASSERT_TRUE(eventually([&] { return listedIDs().size() == 2; })) << "minimised, not listed";
    EXPECT_EQ(listedIDs(), (std::vector{first.windows[3], first.windows[0]}));
}

TEST_F(WindowManagerTest, FocusBringsAListedWindowForwardWhileItsProcessRuns)
{
    TestApplication app;
    ASSERT_TRUE(app.start(display(), {"OrvaneA:800x600", "OrvaneB:800x600"}));
    ASSERT_TRUE(settlesInFront(app.windows[1]));
    EXPECT_EQ(m_catalog->focus(app.windows[0]),
              CommandResult::failure("That window is no longer open"))
        << "not listed yet";
    ASSERT_EQ(listedIDs(), (std::vector{app.windows[1], app.windows[0]}));

    EXPECT_EQ(m_catalog->focus(app.windows[0]), CommandResult::ok("Showing OrvaneA"));
    EXPECT_TRUE(settlesInFront(app.windows[0]));
    EXPECT_EQ(listedIDs(), (std::vector{app.windows[0], app.windows[1]}));
    EXPECT_TRUE(m_catalog->listWindows().front().isFrontmost);
    EXPECT_EQ(m_catalog->focus(0xdeadbeef),
              CommandResult::failure("That window is no longer open"));

    app.kill();
    EXPECT_EQ(m_catalog->focus(app.windows[1]),
              CommandResult::failure("That window is no longer open"));
}

TEST_F(WindowManagerTest, GeometryActionsUseTheWorkAreaBesideAPanel)
{
    TestApplication panel, app;
    ASSERT_TRUE(panel.start(display(), {"OrvaneDock:1920x40:dock,at=0,0"}));
    ASSERT_TRUE(app.start(display(), {"OrvaneA:800x600"}));
    const std::uint32_t window = app.windows[0];
    ASSERT_TRUE(eventually([&] { return active() == window; })); // the panel stays above it
    const Rect area{0, 40, 1920, 1040};
    ASSERT_TRUE(eventually([&] { return m_system->workArea({960, 500}) == area; }));

    const struct {
        WindowAction action;
        Rect frame;
    } cases[] = {
        {WindowAction::leftHalf, {0, 40, 960, 1040}},
        {WindowAction::rightHalf, {960, 40, 960, 1040}},
        {WindowAction::maximize, area},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(m_catalog->perform(c.action).success);
        EXPECT_TRUE(frameBecomes(window, c.frame)) << windowActionLabel(c.action).toStdString();
    }

    // Centring keeps the size, within the area.
    m_system->setFrame(window, {10, 50, 700, 500});
    ASSERT_TRUE(frameBecomes(window, {10, 50, 700, 500}));
    EXPECT_TRUE(m_catalog->perform(WindowAction::center).success);
    EXPECT_TRUE(frameBecomes(window, {610, 310, 700, 500}));
}

TEST_F(WindowManagerTest, StateActionsReachTheWindowManager)
{
    TestApplication app;
    ASSERT_TRUE(app.start(display(), {"OrvaneA:800x600", "OrvaneB:800x600"}));
    const std::uint32_t a = app.windows[0], b = app.windows[1];
    ASSERT_TRUE(settlesInFront(b));

    EXPECT_EQ(m_catalog->perform(WindowAction::fullScreen), CommandResult::ok("Full screen"));
    EXPECT_TRUE(eventually([&] { return display().hasState(b, "_NET_WM_STATE_FULLSCREEN"); }));
    EXPECT_TRUE(frameBecomes(b, {0, 0, 1920, 1080}));
    m_catalog->perform(WindowAction::fullScreen);
    EXPECT_TRUE(eventually([&] { return !display().hasState(b, "_NET_WM_STATE_FULLSCREEN"); }));

    EXPECT_EQ(m_catalog->perform(WindowAction::minimize), CommandResult::ok("Minimize"));
    EXPECT_TRUE(eventually([&] { return display().hasState(b, "_NET_WM_STATE_HIDDEN"); }));

    ASSERT_TRUE(m_system->activate(a));
    ASSERT_TRUE(settlesInFront(a));
    EXPECT_EQ(m_catalog->perform(WindowAction::close), CommandResult::ok("Close window"));
    EXPECT_TRUE(eventually([&] {
        const auto stacking = display().stacking();
        return std::find(stacking.begin(), stacking.end(), a) == stacking.end();
    }));
    EXPECT_EQ(m_catalog->perform(WindowAction::close), CommandResult::failure("No window to move"))
        << "nothing left in focus";
}

TEST_F(WindowManagerTest, NextWindowVisitsEveryWindowOfTheAppAndHideAppTakesTheProcess)
{
    TestApplication first, second;
    ASSERT_TRUE(second.start(display(), {"OrvaneC:800x600"}));
    ASSERT_TRUE(first.start(display(), {"OrvaneA:800x600", "OrvaneB:800x600", "OrvaneD:800x600"}));
    const std::uint32_t a = first.windows[0], b = first.windows[1], d = first.windows[2];
    const std::uint32_t c = second.windows[0];
    ASSERT_TRUE(settlesInFront(d));

    // The other program's window, below them all, is never visited.
    for (const std::uint32_t expected : {b, a, d, b}) {
        EXPECT_EQ(m_catalog->perform(WindowAction::nextWindow), CommandResult::ok("Next window"));
        ASSERT_TRUE(settlesInFront(expected)) << expected;
    }

    EXPECT_EQ(m_catalog->perform(WindowAction::hideApp), CommandResult::ok("Hide app"));
    EXPECT_TRUE(eventually([&] {
        return display().hasState(a, "_NET_WM_STATE_HIDDEN") &&
               display().hasState(b, "_NET_WM_STATE_HIDDEN") &&
               display().hasState(d, "_NET_WM_STATE_HIDDEN");
    }));
    EXPECT_FALSE(display().hasState(c, "_NET_WM_STATE_HIDDEN"));
}

} // namespace
} // namespace orvane
