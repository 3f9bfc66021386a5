// The window catalogue against openbox on a private X server, with and
// without the Composite extension, the test windows owned by applications
// of their own processes.
#include "commands/labels.h"
#include "commands/window_catalog.h"
#include "platform/linux/x11/x11_application_catalog.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_window_pixels.h"
#include "platform/linux/x11/x11_window_system.h"
#include "support/files.h"
#include "support/managed_display.h"

#include <QImage>

#include <unistd.h>

namespace orvane {
namespace {

using test::eventually;
using test::TestApplication;

constexpr QRgb red = 0xff0000, green = 0x00ff00, blue = 0x0000ff, black = 0;

// The colour within JPEG's error.
bool near(const QImage& picture, int x, int y, QRgb colour)
{
    const QRgb p = picture.pixel(x, y);
    return std::abs(qRed(p) - qRed(colour)) < 70 && std::abs(qGreen(p) - qGreen(colour)) < 70 &&
           std::abs(qBlue(p) - qBlue(colour)) < 70;
}

bool anywhere(const QImage& picture, QRgb colour)
{
    for (int i = 0; i < picture.width() * picture.height(); ++i)
        if (near(picture, i % picture.width(), i / picture.width(), colour))
            return true;
    return false;
}

class Openbox : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startDisplay({}); }
    static void startDisplay(const QStringList& serverArguments)
    {
        // One installed application, which the "OrvaneEditor" windows belong to.
        test::writeFile(s_data.filePath("home/applications/org.example.Editor.desktop"),
                        "[Desktop Entry]\nType=Application\nName=Editor\nExec=true\n"
                        "StartupWMClass=OrvaneEditor\n");
        qputenv("XDG_DATA_HOME", QFile::encodeName(s_data.filePath("home")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(s_data.filePath("none")));
        s_display = std::make_unique<test::ManagedDisplay>();
        s_started = s_display->start(serverArguments);
    }
    static void TearDownTestSuite() { s_display.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_started);
        m_system = makeX11WindowSystem(m_x11);
        m_apps = std::make_unique<X11ApplicationCatalog>(m_x11);
        m_catalog = std::make_unique<WindowCatalog>(*m_system, *m_apps, [] { return true; });
    }

    test::ManagedDisplay& display() { return *s_display; }
    std::uint32_t active()
    {
        const auto value = display().property(display().root(), "_NET_ACTIVE_WINDOW");
        return value.empty() ? 0 : value.front();
    }
    // Focused and in front, as the window manager sees it.
    bool settlesInFront(std::uint32_t window)
    {
        return eventually(
            [&] { return active() == window && display().stacking().back() == window; });
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
    QImage thumbnail(std::uint32_t window)
    {
        m_catalog->listWindows();
        const auto jpeg = m_catalog->captureThumbnail(window);
        return jpeg ? QImage::fromData(*jpeg, "JPEG") : QImage();
    }
    // What the screen shows at one point, as 0xRRGGBB; not a colour when unread.
    QRgb screenAt(int x, int y)
    {
        const auto pixels =
            m_x11->ensureConnected() ? screenContents(*m_x11, x, y, 1, 1) : std::nullopt;
        return pixels ? pixels->rgb[0] : ~QRgb(0);
    }
    // A green window, painted, under a blue one that covers its lower right
    // quarter; its thumbnail, 400 by 300, shows that quarter at (300, 225).
    QImage coveredThumbnail(const QString& options = {})
    {
        [&] {
            ASSERT_TRUE(display().show(
                m_lower, {"OrvaneLow:800x600:bare," + options + "colour=00ff00,at=100,100"}));
            ASSERT_TRUE(eventually([&] { return screenAt(700, 500) == green; }));
            ASSERT_TRUE(
                display().show(m_upper, {"OrvaneHigh:400x300:bare,colour=0000ff,at=500,400"}));
            ASSERT_TRUE(frameBecomes(m_lower.windows[0], {100, 100, 800, 600}));
            ASSERT_TRUE(frameBecomes(m_upper.windows[0], {500, 400, 400, 300}));
            ASSERT_TRUE(settlesInFront(m_upper.windows[0]));
        }();
        const QImage picture = HasFatalFailure() ? QImage() : thumbnail(m_lower.windows[0]);
        EXPECT_EQ(picture.size(), QSize(400, 300));
        EXPECT_FALSE(anywhere(picture, blue));
        EXPECT_TRUE(near(picture, 100, 75, green));
        return picture;
    }

    inline static QTemporaryDir s_data;
    inline static std::unique_ptr<test::ManagedDisplay> s_display;
    inline static ::testing::AssertionResult s_started = ::testing::AssertionFailure();

    std::shared_ptr<X11Connection> m_x11 = std::make_shared<X11Connection>();
    std::unique_ptr<WindowSystem> m_system;
    std::unique_ptr<ApplicationCatalog> m_apps;
    std::unique_ptr<WindowCatalog> m_catalog;
    TestApplication m_lower, m_upper;
};

// An X server without Composite keeps no pixels of a window's own.
class OpenboxWithoutComposite : public Openbox {
protected:
    static void SetUpTestSuite() { startDisplay({"-extension", "Composite"}); }
};

TEST_F(Openbox, ListsOtherProgramsMainWindowsFrontToBack)
{
    TestApplication first, editor;
    ASSERT_TRUE(
        display().show(first, {"OrvaneA:800x600", "OrvanePalette:150x600",
                               "OrvaneTool:400x300:utility", "OrvaneLegacy:700x500:legacy"}));
    ASSERT_TRUE(display().show(editor, {"OrvaneEditor:640x480"}));
    test::XTestClient own;
    ASSERT_TRUE(own.open());
    ASSERT_TRUE(settlesInFront(own.createWindow(::getpid(), "Orvane")));

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

TEST_F(Openbox, FocusAndStateActionsReachTheWindowManager)
{
    TestApplication app;
    ASSERT_TRUE(display().show(app, {"OrvaneA:800x600", "OrvaneB:800x600"}));
    const std::uint32_t a = app.windows[0], b = app.windows[1];
    ASSERT_TRUE(settlesInFront(b));
    const CommandResult gone = CommandResult::failure("That window is no longer open");
    EXPECT_EQ(m_catalog->focus(a), gone) << "not listed yet";
    ASSERT_EQ(listedIDs(), (std::vector{b, a}));
    EXPECT_EQ(m_catalog->focus(a), CommandResult::ok("Showing OrvaneA"));
    EXPECT_TRUE(settlesInFront(a));
    EXPECT_EQ(listedIDs(), (std::vector{a, b}));

    EXPECT_EQ(m_catalog->perform(WindowAction::fullScreen), CommandResult::ok("Full screen"));
    EXPECT_TRUE(eventually([&] { return display().hasState(a, "_NET_WM_STATE_FULLSCREEN"); }));
    EXPECT_TRUE(frameBecomes(a, {0, 0, 1920, 1080}));
    m_catalog->perform(WindowAction::fullScreen);
    EXPECT_TRUE(eventually([&] { return !display().hasState(a, "_NET_WM_STATE_FULLSCREEN"); }));
    EXPECT_EQ(m_catalog->perform(WindowAction::minimize), CommandResult::ok("Minimize"));
    EXPECT_TRUE(eventually([&] { return display().hasState(a, "_NET_WM_STATE_HIDDEN"); }));

    ASSERT_TRUE(m_system->activate(b));
    ASSERT_TRUE(settlesInFront(b));
    EXPECT_EQ(m_catalog->perform(WindowAction::close), CommandResult::ok("Close window"));
    EXPECT_TRUE(eventually([&] {
        const auto stacking = display().stacking();
        return std::find(stacking.begin(), stacking.end(), b) == stacking.end();
    }));
    EXPECT_EQ(m_catalog->perform(WindowAction::close), CommandResult::failure("No window to move"))
        << "nothing left in focus";
    app.kill();
    // The X server destroys a client's windows once it notices the hang-up.
    EXPECT_TRUE(eventually([&] { return m_catalog->focus(a) == gone; })) << "its process ended";
}

TEST_F(Openbox, GeometryActionsUseTheWorkAreaBesideAPanel)
{
    TestApplication panel, app;
    ASSERT_TRUE(display().show(panel, {"OrvaneDock:1920x40:dock,at=0,0"}));
    ASSERT_TRUE(display().show(app, {"OrvaneA:800x600"}));
    const std::uint32_t window = app.windows[0];
    ASSERT_TRUE(eventually([&] { return active() == window; })); // the panel stays above it
    const Rect area{0, 40, 1920, 1040};
    ASSERT_TRUE(eventually([&] { return m_system->workArea({960, 500}) == area; }));

    const struct {
        WindowAction action;
        Rect before;
        Rect after;
    } cases[] = {
        {WindowAction::leftHalf, {10, 50, 700, 500}, {0, 40, 960, 1040}},
        {WindowAction::rightHalf, {10, 50, 700, 500}, {960, 40, 960, 1040}},
        {WindowAction::maximize, {10, 50, 700, 500}, area},
        {WindowAction::center, {10, 50, 700, 500}, {610, 310, 700, 500}}, // keeps its size
    };
    for (const auto& c : cases) {
        m_system->setFrame(window, c.before);
        ASSERT_TRUE(frameBecomes(window, c.before));
        EXPECT_TRUE(m_catalog->perform(c.action).success);
        EXPECT_TRUE(frameBecomes(window, c.after)) << windowActionLabel(c.action).toStdString();
    }
}

TEST_F(Openbox, NextWindowVisitsEveryWindowOfTheAppAndHideAppTakesTheProcess)
{
    TestApplication first, second;
    ASSERT_TRUE(display().show(second, {"OrvaneC:800x600"}));
    ASSERT_TRUE(display().show(first, {"OrvaneA:800x600", "OrvaneB:800x600", "OrvaneD:800x600"}));
    const std::uint32_t a = first.windows[0], b = first.windows[1], d = first.windows[2];
    ASSERT_TRUE(settlesInFront(d));

    // The other program's window, below them all, is never visited.
    for (const std::uint32_t expected : {b, a, d, b}) {
        EXPECT_EQ(m_catalog->perform(WindowAction::nextWindow), CommandResult::ok("Next window"));
        ASSERT_TRUE(settlesInFront(expected)) << expected;
    }
    EXPECT_EQ(m_catalog->perform(WindowAction::hideApp), CommandResult::ok("Hide app"));
    EXPECT_TRUE(eventually([&] {
        return std::ranges::all_of(
            first.windows, [&](auto w) { return display().hasState(w, "_NET_WM_STATE_HIDDEN"); });
    }));
    EXPECT_FALSE(display().hasState(second.windows[0], "_NET_WM_STATE_HIDDEN"));
}

TEST_F(Openbox, ThumbnailsAreScaledPicturesOfTheWholeWindow)
{
    TestApplication app;
    ASSERT_TRUE(display().show(app, {"OrvaneBig:1600x1000:bare,at=100,40"}));
    const std::uint32_t big = app.windows[0];
    ASSERT_TRUE(frameBecomes(big, {100, 40, 1600, 1000}));
    QImage picture = thumbnail(big);
    EXPECT_EQ(picture.size(), QSize(400, 250));
    EXPECT_TRUE(near(picture, 200, 125, red));

    // Half off the screen, the window still shows whole: its own pixels.
    m_system->setFrame(big, {1520, 100, 800, 600});
    ASSERT_TRUE(frameBecomes(big, {1520, 100, 800, 600}));
    picture = thumbnail(big);
    EXPECT_EQ(picture.size(), QSize(400, 300));
    EXPECT_TRUE(near(picture, 100, 150, red) && near(picture, 350, 150, red));

    // Ids no window manager gave out.
    for (const std::uint32_t bogus : {0u, 0xdeadbeefu, std::uint32_t(display().root())}) {
        EXPECT_FALSE(m_system->grabJpeg(bogus, 40, 30, 60) || m_system->frame(bogus) ||
                     m_system->activate(bogus));
        m_system->setFrame(bogus, {0, 0, 100, 100});
        m_system->minimize(bogus);
        m_system->close(bogus);
    }
    app.kill();
    EXPECT_FALSE(m_catalog->captureThumbnail(big)) << "a window that is gone";
}

// What covers a window never shows in its picture: the covered part shows
// the window's own pixels once its application repainted them, and black
// until then.
TEST_F(Openbox, ThumbnailsShowNothingOfAWindowAbove)
{
    const QImage picture = coveredThumbnail();
    EXPECT_TRUE(near(picture, 300, 225, green) || near(picture, 300, 225, black));
    EXPECT_TRUE(eventually([&] {
        const QImage again = thumbnail(m_lower.windows[0]);
        return near(again, 300, 225, green) && !anywhere(again, blue);
    })) << "the covered part never showed the window's own pixels";
}

// An application that no longer paints never replaces what the server put
// in its window's pixels when they were set apart from the screen: the
// window above as it was then. That part stays black, every time.
TEST_F(Openbox, ThumbnailsShowNothingOfAWindowAboveAHungApplication)
{
    EXPECT_TRUE(near(coveredThumbnail("hung,"), 300, 225, black));
    ASSERT_EQ(screenAt(700, 500), blue);
    const QImage again = thumbnail(m_lower.windows[0]);
    EXPECT_FALSE(anywhere(again, blue));
    EXPECT_TRUE(near(again, 300, 225, black));
}

TEST_F(OpenboxWithoutComposite, ThumbnailsPaintTheCoveredPartBlack)
{
    EXPECT_TRUE(near(coveredThumbnail(), 300, 225, black));
}

} // namespace
} // namespace orvane
