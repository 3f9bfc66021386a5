// The application catalogue over desktop entries in data folders of the
// test's own: what it finds, names, picks, launches and draws.
#include "test_support.h"

#include "platform/linux/x11/x11_application_catalog.h"

#include <QImage>

namespace orvane {
namespace {

using test::writeFile;

class EntriesTest : public test::XdgFixture {
protected:
    QTemporaryDir m_work;
    X11ApplicationCatalog m_catalog{nullptr};
};

// Each call scans again: an entry written after the first call appears.
TEST_F(EntriesTest, FirstFolderWinsUnlaunchableEntriesAreLeftOutAndNewOnesAppear)
{
    writeFile(userEntry("first.desktop"), entry("User First", "/bin/true"));
    writeFile(systemEntry("first.desktop"), entry("System First", "/bin/true"));
    writeFile(userEntry("shadow.desktop"), entry("Shadow", "/bin/true", "Hidden=true\n"));
    writeFile(systemEntry("shadow.desktop"), entry("Shadow", "/bin/true"));
    writeFile(userEntry("nodisplay.desktop"), entry("Quiet", "/bin/true", "NoDisplay=true\n"));
    writeFile(userEntry("broken.desktop"), entry("Broken", "\"/bin/true"));
    writeFile(userEntry("badcode.desktop"), entry("Bad Code", "/bin/true %x"));
    writeFile(userEntry("link.desktop"), "[Desktop Entry]\nType=Link\nName=L\nURL=x\n");
    writeFile(userEntry("tryexec.desktop"), entry("Gone", "/bin/true", "TryExec=/nonexistent/x\n"));
    writeFile(userEntry("sub/dir/nested.desktop"), entry("Nested", "/bin/true"));
    writeFile(userEntry("notes.txt"), entry("Not An Entry", "/bin/true"));
    writeFile(systemEntry("noexec.desktop"), "[Desktop Entry]\nType=Application\nName=N\n");
    writeFile(systemEntry("system-only.desktop"),
              "# comment\n[Desktop Entry]\nType=Application\nName = System\\sOnly\n"
              "Exec=/bin/true\n[Desktop Action new]\nName=Overridden\n");
    const std::vector<InstalledApp> expected = {
        {"first", "User First", "first", userEntry("first.desktop")},
        {"sub-dir-nested", "Nested", "nested", userEntry("sub/dir/nested.desktop")},
        {"system-only", "System Only", "system-only", systemEntry("system-only.desktop")},
    };
    EXPECT_EQ(m_catalog.installedApps(), expected);
    EXPECT_EQ(m_catalog.findApp("sub-dir-nested"), expected[1]);
    for (const QString& id : QStringList{
             QString(), "shadow", "nodisplay", "link", "../applications/first", "sub/dir/nested",
             "..", ".first", "fir\nst", QString::fromUtf16(u"fir\0st", 6), QString(300, u'a')})
        EXPECT_FALSE(m_catalog.findApp(id)) << id.toStdString();
    writeFile(systemEntry("deep/third.desktop"), entry("Third", "/bin/true"));
    EXPECT_EQ(m_catalog.installedApps().size(), 4u);
    EXPECT_EQ(m_catalog.findApp("deep-third")->name, "Third");
}

TEST_F(EntriesTest, NameFollowsTheMessageLocale)
{
    writeFile(userEntry("app.desktop"),
              entry("Plain", "/bin/true",
                    "Name[de_AT@euro]=AT euro\nName[de_AT]=AT\nName[de@euro]=de euro\n"
                    "Name[de]=de\nName[fr]=fr\n"));
    const struct {
        const char* lcAll;
        const char* lang;
        const char* name;
    } cases[] = {
        {"", "de_AT.UTF-8@euro", "AT euro"}, {"", "de_AT.UTF-8", "AT"},
        {"", "de_CH@euro", "de euro"},       {"", "de_CH.UTF-8", "de"},
        {"", "it_IT.UTF-8", "Plain"},        {"", "C", "Plain"},
        {"fr_FR.UTF-8", "de_AT", "fr"},
    };
    for (const auto& c : cases) {
        env.set("LC_ALL", c.lcAll);
        env.set("LANG", c.lang);
        EXPECT_EQ(m_catalog.findApp("app")->name, c.name) << c.lcAll << " " << c.lang;
    }
}

// The desktop's default player for a MIME type, from the mimeapps.list files
// of the config and data folders, else from the entries' MimeType lists.
TEST_F(EntriesTest, DefaultAppForAType)
{
    QTemporaryDir config, systemConfig;
    env.set("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    env.set("XDG_CONFIG_DIRS", QFile::encodeName(systemConfig.path()));
    env.set("XDG_CURRENT_DESKTOP", "Test:GNOME");
    writeFile(userEntry("aplayer.desktop"),
              entry("A", "/bin/true", "MimeType=audio/ogg;audio/mpeg;\n"));
    writeFile(userEntry("bplayer.desktop"), entry("B", "/bin/true", "MimeType=audio/mpeg\n"));
    writeFile(systemEntry("cplayer.desktop"), entry("C", "/bin/true", "MimeType=audio/mpeg;\n"));

    const QString userList = config.filePath("mimeapps.list");
    const QString desktopList = config.filePath("gnome-mimeapps.list");
    const QString systemList = systemConfig.filePath("mimeapps.list");
    const QString dataList = systemEntry("mimeapps.list");
    const QByteArray defaultC = "[Default Applications]\naudio/mpeg=cplayer.desktop\n";
    const struct {
        const char* what;
        std::map<QString, QByteArray> lists;
        const char* expected;
    } cases[] = {
        {"the first entry for the type", {}, "aplayer"},
        {"the system's default", {{dataList, defaultC}}, "cplayer"},
        {"the user's default, skipping one not installed",
         {{userList, "[Default Applications]\naudio/mpeg=gone.desktop;bplayer.desktop;\n"},
          {systemList, defaultC}},
         "bplayer"},
        {"the desktop's own list first",
         {{desktopList, defaultC},
          {userList, "[Default Applications]\naudio/mpeg=bplayer.desktop\n"}},
         "cplayer"},
        {"an added association before the entries",
         {{userList, "[Added Associations]\naudio/mpeg=cplayer.desktop;\n"}},
         "cplayer"},
        {"a removed association is passed over",
         {{userList, "[Removed Associations]\naudio/mpeg=aplayer.desktop;\n"}},
         "bplayer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const QString& list : {userList, desktopList, systemList, dataList})
            QFile::remove(list);
        for (const auto& [path, content] : c.lists)
            writeFile(path, content);
        const auto app = m_catalog.defaultAppFor("audio/mpeg");
        EXPECT_EQ(app ? app->bundleID : QString(), QString::fromLatin1(c.expected));
    }
    EXPECT_FALSE(m_catalog.defaultAppFor("audio/x-none")) << "nothing handles the type";
}

// Only what the scan found runs, whatever path the caller hands in, and its
// arguments reach it literally: no shell ever sees them.
TEST_F(EntriesTest, StartsOnlyScannedEntriesWithTheirArgumentsWithoutAShell)
{
    const QString recorder = m_work.filePath("record");
    test::writeRecorder(recorder);
    const QByteArray work = QFile::encodeName(m_work.path());
    writeFile(userEntry("recorder.desktop"),
              entry("Name With Space",
                    work + "/record a;b \"\\\\$(touch pwned)\" $(touch\\spwned) "
                           "\"two  spaces\" %c %U `id`",
                    "Path=" + work + "\n"));
    writeFile(userEntry("missing.desktop"), entry("Missing", "/nonexistent/program"));
    ASSERT_TRUE(m_catalog.launch(*m_catalog.findApp("recorder")));
    EXPECT_EQ(test::recordedArguments(recorder),
              QStringList({"a;b", "$(touch pwned)", "$(touch", "pwned)", "two  spaces",
                           "Name With Space", "`id`"}));
    EXPECT_FALSE(QFileInfo::exists(m_work.filePath("pwned")));

    EXPECT_FALSE(m_catalog.launch(*m_catalog.findApp("missing")));
    EXPECT_FALSE(m_catalog.launch({"unknown", "Unknown", "unknown", ""}));
    EXPECT_FALSE(m_catalog.launch({"../x", "X", "x", recorder}));
}

// A picture of one colour filling its whole view box.
QByteArray svg(int width, int height, const QByteArray& colour)
{
    const QByteArray w = QByteArray::number(width), h = QByteArray::number(height);
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
           "\" viewBox=\"0 0 " + w + " " + h + "\"><rect width=\"" + w + "\" height=\"" + h +
           "\" fill=\"" + colour + "\"/></svg>";
}

TEST_F(EntriesTest, IconsAreDrawnIntoATransparentSquare)
{
    const QString theme = home.filePath("icons/hicolor/");
    ASSERT_TRUE(QDir().mkpath(theme + "48x48/apps"));
    QImage red(48, 48, QImage::Format_ARGB32), blue(32, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    blue.fill(Qt::blue);
    ASSERT_TRUE(red.save(theme + "48x48/apps/orvane-test-icon.png"));
    ASSERT_TRUE(blue.save(m_work.filePath("wide.png")));
    // Most desktop applications ship nothing but a scalable icon, which
    // takes Qt's SVG image plugin.
    writeFile(theme + "scalable/apps/orvane-vector-icon.svg", svg(10, 10, "lime"));
    writeFile(m_work.filePath("wide.svg"), svg(40, 20, "blue"));
    writeFile(m_work.filePath("broken.svg"), "<svg xmlns=\"http://www.w3.org/2000/svg\"><r");
    const struct {
        const char* id;
        QString icon;
        QColor centre; // invalid: no icon expected
        QColor corner;
    } cases[] = {
        {"themed", "orvane-test-icon", Qt::red, Qt::red},
        {"wide", m_work.filePath("wide.png"), Qt::blue, Qt::transparent},
        {"vector", "orvane-vector-icon", Qt::green, Qt::green},
        {"widevector", m_work.filePath("wide.svg"), Qt::blue, Qt::transparent},
        {"broken", m_work.filePath("broken.svg"), {}, {}},
        {"missing", "orvane-no-such-icon", {}, {}},
        {"none", "", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const QByteArray icon = c.icon.isEmpty() ? "" : "Icon=" + QFile::encodeName(c.icon) + "\n";
        writeFile(userEntry(QString(c.id) + ".desktop"), entry(c.id, "/bin/true", icon));
        const auto png = m_catalog.iconPng(c.id, 128);
        ASSERT_EQ(png.has_value(), c.centre.isValid());
        if (!png)
            continue;
        const QImage image = QImage::fromData(*png, "PNG");
        ASSERT_EQ(image.size(), QSize(128, 128));
        EXPECT_TRUE(image.hasAlphaChannel());
        EXPECT_EQ(image.pixelColor(64, 64), c.centre);
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), c.corner.alpha());
    }
    const std::pair<const char*, int> refused[] = {
        {"themed", 0}, {"themed", 100000}, {"../themed", 128}};
    for (const auto& [id, pixels] : refused)
        EXPECT_FALSE(m_catalog.iconPng(id, pixels)) << id << " at " << pixels;
}

} // namespace
} // namespace orvane
