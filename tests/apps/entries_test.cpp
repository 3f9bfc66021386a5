#include "test_support.h"

#include "platform/linux/desktop/app_favourites.h"
#include "platform/linux/desktop/desktop_entry.h"
#include "platform/linux/machine/app_process.h"
#include "platform/linux/x11/x11_application_catalog.h"

namespace orvane {
namespace {

using test::writeFile;

QStringList ids(const std::vector<InstalledApp>& apps)
{
    QStringList out;
    for (const InstalledApp& app : apps)
        out << app.bundleID;
    return out;
}

class EntriesTest : public test::XdgFixture {
protected:
    void writeTree()
    {
        writeFile(userEntry("first.desktop"), entry("User First", "/bin/true"));
        writeFile(systemEntry("first.desktop"), entry("System First", "/bin/true"));
        writeFile(userEntry("shadow.desktop"), entry("Shadow", "/bin/true", "Hidden=true\n"));
        writeFile(systemEntry("shadow.desktop"), entry("Shadow", "/bin/true"));
        writeFile(userEntry("nodisplay.desktop"), entry("Quiet", "/bin/true", "NoDisplay=true\n"));
        writeFile(userEntry("broken.desktop"), entry("Broken", "\"/bin/true"));
        writeFile(userEntry("badcode.desktop"), entry("Bad Code", "/bin/true %x"));
        writeFile(userEntry("link.desktop"), "[Desktop Entry]\nType=Link\nName=L\nURL=x\n");
        writeFile(userEntry("tryexec.desktop"),
                  entry("Missing", "/bin/true", "TryExec=/nonexistent/program\n"));
        writeFile(userEntry("sub/dir/nested.desktop"), entry("Nested", "/bin/true"));
        writeFile(userEntry("notes.txt"), entry("Not An Entry", "/bin/true"));
        writeFile(systemEntry("noexec.desktop"), "[Desktop Entry]\nType=Application\nName=N\n");
        writeFile(systemEntry("system-only.desktop"),
                  "# comment\n[Desktop Entry]\nType=Application\nName = System\\sOnly\n"
                  "Exec=/bin/true\n[Desktop Action new]\nName=Overridden\n");
    }

    X11ApplicationCatalog m_catalog{nullptr};
};

TEST_F(EntriesTest, FirstFolderWinsAndUnlaunchableEntriesAreLeftOut)
{
    writeTree();
    const std::vector<InstalledApp> apps = m_catalog.installedApps();
    EXPECT_EQ(ids(apps), QStringList({"first", "sub-dir-nested", "system-only"}));
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[0], (InstalledApp{"first", "User First", "first", userEntry("first.desktop")}));
    EXPECT_EQ(apps[1].fileName, "nested");
    EXPECT_EQ(apps[2].name, "System Only");
}

TEST_F(EntriesTest, FindAppAgreesWithTheListAndRejectsBadIdentifiers)
{
    writeTree();
    EXPECT_EQ(m_catalog.findApp("first"), m_catalog.installedApps().front());
    EXPECT_EQ(m_catalog.findApp("sub-dir-nested")->path, userEntry("sub/dir/nested.desktop"));
    const QString tooLong(300, u'a');
    for (const QString& id :
         {QString(), QString("shadow"), QString("nodisplay"), QString("link"),
          QString("../applications/first"), QString("sub/dir/nested"), QString(".."),
          QString(".first"), QString("fir\nst"), QString::fromUtf16(u"fir\0st", 6), tooLong}) {
        EXPECT_FALSE(m_catalog.findApp(id)) << id.toStdString();
    }
}

TEST_F(EntriesTest, NewEntriesAppearOnTheNextCall)
{
    writeFile(userEntry("first.desktop"), entry("First", "/bin/true"));
    EXPECT_EQ(m_catalog.installedApps().size(), 1u);
    writeFile(userEntry("second.desktop"), entry("Second", "/bin/true"));
    writeFile(systemEntry("deep/third.desktop"), entry("Third", "/bin/true"));
    EXPECT_EQ(ids(m_catalog.installedApps()), QStringList({"first", "second", "deep-third"}));
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
        m_env.set("LC_ALL", c.lcAll);
        m_env.set("LANG", c.lang);
        EXPECT_EQ(m_catalog.findApp("app")->name, c.name) << c.lcAll << " " << c.lang;
    }
}

// The desktop's default player for a MIME type, from the mimeapps.list files
// of the config and data folders, else from the entries' MimeType lists.
TEST_F(EntriesTest, DefaultAppForAType)
{
    QTemporaryDir config, systemConfig;
    m_env.set("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    m_env.set("XDG_CONFIG_DIRS", QFile::encodeName(systemConfig.path()));
    m_env.set("XDG_CURRENT_DESKTOP", "Test:GNOME");
    writeFile(userEntry("aplayer.desktop"),
              entry("A", "/bin/true", "MimeType=audio/ogg;audio/mpeg;\n"));
    writeFile(userEntry("bplayer.desktop"), entry("B", "/bin/true", "MimeType=audio/mpeg\n"));
    writeFile(systemEntry("cplayer.desktop"), entry("C", "/bin/true", "MimeType=audio/mpeg;\n"));
    writeFile(userEntry("video.desktop"), entry("V", "/bin/true", "MimeType=video/mp4;\n"));

    const QString userList = config.filePath("mimeapps.list");
    const QString desktopList = config.filePath("gnome-mimeapps.list");
    const QString systemList = systemConfig.filePath("mimeapps.list");
    const QString dataList = systemEntry("mimeapps.list");
    const QByteArray defaultC = "[Default Applications]\naudio/mpeg=cplayer.desktop\n";
    const struct {
        const char* what;
        std::map<QString, QByteArray> lists;
        const char* type;
        const char* expected; // nothing expected when empty
    } cases[] = {
        {"the first entry for the type", {}, "audio/mpeg", "aplayer"},
        {"the system's default", {{dataList, defaultC}}, "audio/mpeg", "cplayer"},
        {"the user's default, skipping one not installed",
         {{userList, "[Default Applications]\naudio/mpeg=gone.desktop;bplayer.desktop;\n"},
          {systemList, defaultC}},
         "audio/mpeg",
         "bplayer"},
        {"the desktop's own list first",
         {{desktopList, defaultC},
          {userList, "[Default Applications]\naudio/mpeg=bplayer.desktop\n"}},
         "audio/mpeg",
         "cplayer"},
        {"an added association before the entries",
         {{userList, "[Added Associations]\naudio/mpeg=cplayer.desktop;\n"}},
         "audio/mpeg",
         "cplayer"},
        {"a removed association is passed over",
         {{userList, "[Removed Associations]\naudio/mpeg=aplayer.desktop;\n"}},
         "audio/mpeg",
         "bplayer"},
        {"nothing handles the type", {}, "audio/x-none", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const QString& list : {userList, desktopList, systemList, dataList})
            QFile::remove(list);
        for (const auto& [path, content] : c.lists)
            writeFile(path, content);
        const auto app = m_catalog.defaultAppFor(QString::fromLatin1(c.type));
        EXPECT_EQ(app ? app->bundleID : QString(), QString::fromLatin1(c.expected));
    }
}

TEST(ProcessStat, StartTimeIsFieldTwentyTwo)
{
    const QByteArray tail = " 1 1 1 0 -1 4194304 100 0 0 0 5 6 0 0 20 0 1 0 987654 1000 200";
    EXPECT_EQ(parseStartTime("42 (plain) S" + tail), 987654u);
    EXPECT_EQ(parseStartTime("42 (odd ) (name) R" + tail), 987654u);
    EXPECT_FALSE(parseStartTime("42 (gone) Z" + tail));
    EXPECT_FALSE(parseStartTime("42 (short) S 1 2 3"));
    EXPECT_FALSE(parseStartTime(""));
}

TEST(ProcessStat, ParentIsTheFieldAfterTheState)
{
    const struct {
        QByteArray stat;
        std::optional<std::int32_t> parent;
    } cases[] = {
        {"42 (bash) S 41 42 42 34816", 41},
        {"42 (a) b (c) R 7 1 1", 7},  // parentheses and spaces in the name
        {"42 (gone) Z 41 42 42", 41}, // a zombie still names its parent
        {"1 (init) S 0 1 1", 0},
        {"42 (x) S -3 1", std::nullopt},
        {"42 (x) S", std::nullopt},
        {"42 x S 41", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseParentPid(c.stat), c.parent) << c.stat.constData();
}

TEST(Favourites, GsettingsArraysBecomeIds)
{
    const struct {
        QString output;
        std::vector<QString> ids;
    } cases[] = {
        {"['firefox-esr.desktop', 'org.gnome.Nautilus.desktop']\n",
         {"firefox-esr", "org.gnome.Nautilus"}},
        {"@as []\n", {}},
        {"[]", {}},
        {R"(["it's.desktop", 'a\'b', 'plain'])", {"it's", "a'b", "plain"}},
        {"['../etc/passwd.desktop', 'ok.desktop']", {"ok"}},
        {"['unterminated", {}},
        {"['a' 'b']", {}},
        {"['a'] trailing", {}},
        {"No such schema “org.gnome.shell”", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(favouriteIds(c.output), c.ids) << c.output.toStdString();
}

} // namespace
} // namespace orvane
