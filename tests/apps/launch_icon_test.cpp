#include "test_support.h"

#include "platform/linux/x11/x11_application_catalog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QImageReader>
#include <QThread>

namespace orvane {
namespace {

using namespace std::chrono_literals;

class LaunchTest : public test::XdgFixture {
protected:
    void SetUp() override
    {
        XdgFixture::SetUp();
        ASSERT_TRUE(m_work.isValid());
        const QString script = m_work.filePath("record.sh");
        test::writeFile(script,
                        "#!/bin/sh\nout=\"$1\"; shift\n"
                        "printf '%s\\n' \"$@\" > \"$out.part\" && mv \"$out.part\" \"$out\"\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QByteArray waitForFile(const QString& path)
    {
        const QDeadlineTimer deadline(20s);
        while (!QFileInfo::exists(path) && !deadline.hasExpired())
            QThread::msleep(20);
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_work;
    X11ApplicationCatalog m_catalog{nullptr};
};

TEST_F(LaunchTest, ArgumentsArriveLiterallyWithoutAShell)
{
    const QByteArray work = QFile::encodeName(m_work.path());
    test::writeFile(userEntry("recorder.desktop"),
                    entry("Name With Space",
                          work + "/record.sh " + work +
                              "/argv.txt a;b \"\\\\$(touch pwned)\" $(touch\\spwned) "
                              "\"two  spaces\" %c %U `id`",
                          "Path=" + work + "\n"));
    const auto app = m_catalog.findApp("recorder");
    ASSERT_TRUE(app);
    ASSERT_TRUE(m_catalog.launch(*app));
    EXPECT_EQ(waitForFile(m_work.filePath("argv.txt")),
              "a;b\n$(touch pwned)\n$(touch\npwned)\ntwo  spaces\nName With Space\n`id`\n");
    EXPECT_FALSE(QFileInfo::exists(m_work.filePath("pwned")));
}

TEST_F(LaunchTest, RefusesWhatItCannotStart)
{
    test::writeFile(userEntry("missing.desktop"), entry("Missing", "/nonexistent/program"));
    const InstalledApp missing = *m_catalog.findApp("missing");
    EXPECT_FALSE(m_catalog.launch(missing));
    EXPECT_FALSE(m_catalog.launch({"unknown", "Unknown", "unknown", ""}));
    // Only what the scan found runs, whatever path the caller hands in.
    EXPECT_FALSE(m_catalog.launch({"../x", "X", "x", m_work.filePath("record.sh")}));
}

QImage solid(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// A square or wide picture of one colour filling its whole view box.
QByteArray svg(int width, int height, const QByteArray& colour)
{
    const QByteArray w = QByteArray::number(width), h = QByteArray::number(height);
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
           "\" viewBox=\"0 0 " + w + " " + h + "\"><rect width=\"" + w + "\" height=\"" + h +
           "\" fill=\"" + colour + "\"/></svg>";
}

// Icons that themes and applications hand over as SVG are drawn through the
// image plugins too (QIcon::fromTheme, pixmaps); without the SVG plugin those
// would be empty.
TEST(IconFormats, SvgImagesCanBeRead)
{
    EXPECT_TRUE(QImageReader::supportedImageFormats().contains("svg"));
}

TEST_F(LaunchTest, IconsAreDrawnIntoATransparentSquare)
{
    const QString themed = m_home.filePath("icons/hicolor/48x48/apps/orvane-test-icon.png");
    QDir().mkpath(QFileInfo(themed).absolutePath());
    ASSERT_TRUE(solid({48, 48}, Qt::red).save(themed));
    const QString wide = m_work.filePath("wide.png");
    ASSERT_TRUE(solid({32, 16}, Qt::blue).save(wide));
    test::writeFile(userEntry("themed.desktop"),
                    entry("T", "/bin/true", "Icon=orvane-test-icon\n"));
    test::writeFile(userEntry("wide.desktop"),
                    entry("W", "/bin/true", "Icon=" + QFile::encodeName(wide) + "\n"));
    test::writeFile(userEntry("missing.desktop"),
                    entry("M", "/bin/true", "Icon=orvane-no-such-icon\n"));
    test::writeFile(userEntry("none.desktop"), entry("N", "/bin/true"));
    // Most desktop applications ship nothing but a scalable icon.
    test::writeFile(m_home.filePath("icons/hicolor/scalable/apps/orvane-vector-icon.svg"),
                    svg(10, 10, "lime"));
    test::writeFile(userEntry("vector.desktop"),
                    entry("V", "/bin/true", "Icon=orvane-vector-icon\n"));
    const QString wideSvg = m_work.filePath("wide.svg");
    test::writeFile(wideSvg, svg(40, 20, "blue"));
    test::writeFile(userEntry("widevector.desktop"),
                    entry("WV", "/bin/true", "Icon=" + QFile::encodeName(wideSvg) + "\n"));
    const QString brokenSvg = m_work.filePath("broken.svg");
    test::writeFile(brokenSvg, "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect");
    test::writeFile(userEntry("broken.desktop"),
                    entry("B", "/bin/true", "Icon=" + QFile::encodeName(brokenSvg) + "\n"));

    const struct {
        const char* id;
        int pixels;
        QColor centre; // invalid: no icon expected
        QColor corner;
    } cases[] = {
        {"themed", 128, Qt::red, Qt::red},
        {"themed", 256, Qt::red, Qt::red},
        {"wide", 128, Qt::blue, Qt::transparent},
        {"vector", 128, Qt::green, Qt::green},
        {"vector", 48, Qt::green, Qt::green},
        {"widevector", 128, Qt::blue, Qt::transparent},
        {"broken", 128, {}, {}},
        {"themed", 0, {}, {}},
        {"themed", 100000, {}, {}},
        {"missing", 128, {}, {}},
        {"none", 128, {}, {}},
        {"../themed", 128, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.id) + " " + std::to_string(c.pixels));
        const auto png = m_catalog.iconPng(c.id, c.pixels);
        ASSERT_EQ(png.has_value(), c.centre.isValid());
        if (!png)
            continue;
        const QImage image = QImage::fromData(*png, "PNG");
        ASSERT_EQ(image.size(), QSize(c.pixels, c.pixels));
        EXPECT_TRUE(image.hasAlphaChannel());
        EXPECT_EQ(image.pixelColor(c.pixels / 2, c.pixels / 2), c.centre);
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), c.corner.alpha());
    }
}

} // namespace
} // namespace orvane
