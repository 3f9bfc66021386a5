// Window thumbnails against openbox on a private X server, with and without
// the Composite extension, and the covered-part painting they fall back on.
#include "managed_display.h"

#include "commands/window_catalog.h"
#include "platform/linux/x11/x11_application_catalog.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_window_system.h"
#include "platform/linux/x11/x11_windows_image.h"

#include <turbojpeg.h>

#include <cstdlib>
#include <cstring>

namespace orvane {
namespace {

using test::eventually;
using test::ManagedDisplay;
using test::TestApplication;

constexpr std::uint32_t red = 0xff0000, green = 0x00ff00, blue = 0x0000ff, black = 0;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    // The colour within JPEG's error.
    bool is(int x, int y, std::uint32_t colour) const
    {
        const unsigned char* p = &rgb[std::size_t(y * width + x) * 3];
        return std::abs(p[0] - int(colour >> 16)) < 70 &&
               std::abs(p[1] - int(colour >> 8 & 0xff)) < 70 &&
               std::abs(p[2] - int(colour & 0xff)) < 70;
    }
    bool anywhere(std::uint32_t colour) const
    {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (is(x, y, colour))
                    return true;
            }
        }
        return false;
    }
};

std::optional<Picture> decode(const std::optional<QByteArray>& jpeg)
{
    if (!jpeg)
        return std::nullopt;
    tjhandle decoder = tjInitDecompress();
    Picture picture;
    int subsampling = 0, colourspace = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg->constData());
    bool ok = tjDecompressHeader3(decoder, data, jpeg->size(), &picture.width, &picture.height,
                                  &subsampling, &colourspace) == 0;
    if (ok) {
        picture.rgb.resize(std::size_t(picture.width) * picture.height * 3);
        ok = tjDecompress2(decoder, data, jpeg->size(), picture.rgb.data(), picture.width, 0,
                           picture.height, TJPF_RGB, 0) == 0;
    }
    tjDestroy(decoder);
    return ok ? std::optional(picture) : std::nullopt;
}

class Thumbnails : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startDisplay({}); }
    static void startDisplay(const QStringList& serverArguments)
    {
        s_display = new ManagedDisplay;
        s_started = new ::testing::AssertionResult(s_display->start(serverArguments));
    }
    static void TearDownTestSuite()
    {
        delete s_started;
        delete s_display;
    }

    void SetUp() override
    {
        ASSERT_TRUE(*s_started);
        m_system = makeX11WindowSystem(m_x11);
        m_apps = std::make_unique<X11ApplicationCatalog>(m_x11);
        m_catalog = std::make_unique<WindowCatalog>(*m_system, *m_apps, [] { return true; });
    }

    bool frameBecomes(std::uint32_t window, const Rect& frame)
    {
        return eventually([&] { return m_system->frame(window) == frame; });
    }
    std::optional<Picture> thumbnail(std::uint32_t window)
    {
        m_catalog->listWindows();
        return decode(m_catalog->captureThumbnail(window));
    }

    // What the screen shows at one point, as 0xRRGGBB on Xvfb's depth 24.
    static std::uint32_t screenAt(int x, int y)
    {
        xcb_connection_t* c = s_display->connection();
        auto* image =
            xcb_get_image_reply(c,
                                xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, s_display->root(),
                                              std::int16_t(x), std::int16_t(y), 1, 1, ~0u),
                                nullptr);
        std::uint32_t pixel = 0;
        if (image && xcb_get_image_data_length(image) >= 4)
            std::memcpy(&pixel, xcb_get_image_data(image), 4);
        std::free(image);
        return pixel & 0xffffff;
    }

    // A green window, painted, under a blue one that covers its lower right
    // quarter.
    void overlap(TestApplication& lower, TestApplication& upper, const std::string& options = {})
    {
        ASSERT_TRUE(lower.start(
            *s_display, {"OrvaneLow:800x600:bare," + options + "colour=00ff00,at=100,100"}));
        ASSERT_TRUE(eventually([] { return screenAt(700, 500) == green; }));
        ASSERT_TRUE(upper.start(*s_display, {"OrvaneHigh:400x300:bare,colour=0000ff,at=500,400"}));
        ASSERT_TRUE(frameBecomes(lower.windows[0], {100, 100, 800, 600}));
        ASSERT_TRUE(frameBecomes(upper.windows[0], {500, 400, 400, 300}));
        ASSERT_TRUE(eventually([&] { return s_display->stacking().back() == upper.windows[0]; }));
    }

    static ManagedDisplay* s_display;
    static ::testing::AssertionResult* s_started;

    std::shared_ptr<X11Connection> m_x11 = std::make_shared<X11Connection>();
    std::unique_ptr<WindowSystem> m_system;
    std::unique_ptr<ApplicationCatalog> m_apps;
    std::unique_ptr<WindowCatalog> m_catalog;
};

ManagedDisplay* Thumbnails::s_display = nullptr;
::testing::AssertionResult* Thumbnails::s_started = nullptr;

// An X server without Composite keeps no pixels of a window's own.
class ThumbnailsWithoutComposite : public Thumbnails {
protected:
    static void SetUpTestSuite() { startDisplay({"-extension", "Composite"}); }
};

TEST_F(Thumbnails, AreScaledPicturesOfTheWholeWindow)
{
    TestApplication app;
    ASSERT_TRUE(app.start(*s_display, {"OrvaneBig:1600x1000:bare,at=100,40"}));
    const std::uint32_t big = app.windows[0];
    ASSERT_TRUE(frameBecomes(big, {100, 40, 1600, 1000}));

    auto picture = thumbnail(big);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 400);
    EXPECT_EQ(picture->height, 250);
    EXPECT_TRUE(picture->is(200, 125, red));

    // Half off the screen, the window still shows whole: its own pixels.
    m_system->setFrame(big, {1520, 100, 800, 600});
    ASSERT_TRUE(frameBecomes(big, {1520, 100, 800, 600}));
    picture = thumbnail(big);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 400);
    EXPECT_EQ(picture->height, 300);
    EXPECT_TRUE(picture->is(100, 150, red) && picture->is(350, 150, red));

    // Ids no window manager gave out.
    for (const std::uint32_t bogus : {0u, 0xdeadbeefu, std::uint32_t(s_display->root())}) {
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
TEST_F(Thumbnails, ShowNothingOfAWindowAbove)
{
    TestApplication lower, upper;
    overlap(lower, upper);
    auto picture = thumbnail(lower.windows[0]);
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->width, 400);
    EXPECT_FALSE(picture->anywhere(blue));
    EXPECT_TRUE(picture->is(100, 75, green));
    EXPECT_TRUE(picture->is(300, 225, green) || picture->is(300, 225, black));

    EXPECT_TRUE(eventually([&] {
        picture = thumbnail(lower.windows[0]);
        return picture && picture->is(300, 225, green) && !picture->anywhere(blue);
    })) << "the covered part never showed the window's own pixels";
}

// An application that no longer paints never replaces what the server put
// in its window's pixels when they were set apart from the screen: the
// window above as it was then. That part stays black.
TEST_F(Thumbnails, ShowNothingOfAWindowAboveAHungApplication)
{
    TestApplication lower, upper;
    overlap(lower, upper, "hung,");
    ASSERT_EQ(screenAt(700, 500), blue);
    for (const char* which : {"first", "second"}) {
        const auto picture = thumbnail(lower.windows[0]);
        ASSERT_TRUE(picture) << which;
        EXPECT_FALSE(picture->anywhere(blue)) << which;
        EXPECT_TRUE(picture->is(100, 75, green)) << which;
        EXPECT_TRUE(picture->is(300, 225, black)) << which;
    }
}

TEST_F(ThumbnailsWithoutComposite, PaintTheCoveredPartBlack)
{
    TestApplication lower, upper;
    overlap(lower, upper);
    const auto picture = thumbnail(lower.windows[0]);
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->width, 400);
    EXPECT_FALSE(picture->anywhere(blue));
    EXPECT_TRUE(picture->is(100, 75, green));
    EXPECT_TRUE(picture->is(300, 225, black));
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
