#include "platform/linux/desktop/xdg_workspace.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

// A folder at the front of PATH with stand-in programs that record the
// arguments they were started with, NUL-separated, to "<name>.args" beside
// them. The record appears all at once, so a reader never sees half of it.
class FakePrograms : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_bin.isValid());
        m_savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(m_bin.path()) + ':' + m_savedPath);
        addRecorder(QStringLiteral("xdg-open"));
    }
    void TearDown() override { qputenv("PATH", m_savedPath); }

    void addRecorder(const QString& name)
    {
        QString script = m_bin.filePath(name);
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n"
                   "out=\"$0.args\"\n"
                   ": > \"$out.tmp\"\n"
                   "for a in \"$@\"; do printf '%s\\0' \"$a\" >> \"$out.tmp\"; done\n"
                   "mv \"$out.tmp\" \"$out\"\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The arguments the stand-in was started with; nothing if it never ran.
    std::optional<QStringList> argumentsOf(const QString& name)
    {
        auto record = test::waitForFile(m_bin.filePath(name) + QStringLiteral(".args"));
        if (!record)
            return std::nullopt;
        QStringList arguments;
        for (const QByteArray& part : record->split('\0'))
            arguments << QString::fromUtf8(part);
        arguments.removeLast(); // after the last terminator
        return arguments;
    }

    QTemporaryDir m_bin;
    QTemporaryDir m_work;
    QByteArray m_savedPath;
    std::unique_ptr<Workspace> m_workspace = makeXdgWorkspace();
};

TEST_F(FakePrograms, OpenUrlHandsTheWholeUrlOverAsOneArgument)
{
    QUrl url(QStringLiteral("https://example.com/a b/it's \"here\";touch pwned?q=1;2&x=$(id)#top"));
    ASSERT_TRUE(url.isValid());
    ASSERT_TRUE(m_workspace->openUrl(url));

    auto arguments = argumentsOf(QStringLiteral("xdg-open"));
    ASSERT_TRUE(arguments.has_value()) << "xdg-open never ran";
    ASSERT_EQ(arguments->size(), 1) << arguments->join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(QUrl(arguments->front()), url);
    EXPECT_EQ(arguments->front(), url.toString(QUrl::FullyEncoded));
    EXPECT_FALSE(QFile::exists(QStringLiteral("pwned")));
}

TEST_F(FakePrograms, EncodedUrlReachesTheHandlerAsWritten)
{
    ASSERT_TRUE(m_workspace->openEncodedUrl("spotify:search:a%2Db%2E%5F%7E%20c"));
    EXPECT_EQ(argumentsOf(QStringLiteral("xdg-open")),
              QStringList{QStringLiteral("spotify:search:a%2Db%2E%5F%7E%20c")});
    for (const QByteArray& bad : {QByteArray(), QByteArray("--help"), QByteArray("a b:c"),
                                  QByteArray("http://x/\xc3\xa9"), QByteArray("http://x/a b")})
        EXPECT_FALSE(m_workspace->openEncodedUrl(bad)) << bad.constData();
}

TEST_F(FakePrograms, OpenFolderHandsTheAbsolutePathOverAsOneArgument)
{
    QString folder = m_work.filePath(QStringLiteral("it's a \"folder\"; rm -rf ~"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(m_workspace->openFolder(folder + QStringLiteral("/")));

    auto arguments = argumentsOf(QStringLiteral("xdg-open"));
    ASSERT_TRUE(arguments.has_value()) << "xdg-open never ran";
    EXPECT_EQ(*arguments, QStringList{folder});
}

TEST_F(FakePrograms, RefusesWhatIsNoLinkOrNoFolder)
{
    QFile plain(m_work.filePath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    EXPECT_FALSE(m_workspace->openFolder(m_work.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(m_workspace->openFolder(plain.fileName())) << "a file is no folder";
    EXPECT_FALSE(m_workspace->openFolder(QString()));
    EXPECT_FALSE(m_workspace->openFolder(QStringLiteral("."))) << "relative to where we started";
    EXPECT_FALSE(m_workspace->openFolder(QStringLiteral("--help")));

    EXPECT_FALSE(m_workspace->openUrl(QUrl()));
    EXPECT_FALSE(m_workspace->openUrl(QUrl(QStringLiteral("--help"))))
        << "a relative URL could pass for an option";
    EXPECT_FALSE(m_workspace->openUrl(QUrl(QStringLiteral("http://exa mple.com"))));
}

TEST_F(FakePrograms, FailsWhenNoOpenerIsInstalled)
{
    QTemporaryDir empty;
    qputenv("PATH", QFile::encodeName(empty.path()));
    EXPECT_FALSE(m_workspace->openUrl(QUrl(QStringLiteral("https://example.com/"))));
    EXPECT_FALSE(m_workspace->openFolder(m_work.path()));
}

TEST_F(FakePrograms, StartsProcessesWithoutAShell)
{
    addRecorder(QStringLiteral("tool"));
    QString marker = m_work.filePath(QStringLiteral("pwned"));
    QStringList arguments{QStringLiteral("two words"), QStringLiteral("$(touch ") + marker + ')',
                          QStringLiteral(";"), QString(), QStringLiteral("ü")};
    ASSERT_TRUE(m_workspace->startProcess(QStringList{QStringLiteral("tool")} + arguments));

    auto received = argumentsOf(QStringLiteral("tool"));
    ASSERT_TRUE(received.has_value()) << "the program never ran";
    EXPECT_EQ(*received, arguments);
    EXPECT_FALSE(QFile::exists(marker));

    EXPECT_FALSE(m_workspace->startProcess({}));
    EXPECT_FALSE(m_workspace->startProcess({QString()}));
    EXPECT_FALSE(m_workspace->startProcess({QStringLiteral("orvane-no-such-program")}));
    EXPECT_FALSE(m_workspace->startProcess({m_work.filePath(QStringLiteral("no-such-program"))}));
}

// The folders come from the XDG user dirs of the user's own settings, read
// in a fresh process each time so no earlier lookup is cached.
class Folders : public ::testing::Test {
protected:
    std::map<QString, std::optional<QString>> foldersWith(const QProcessEnvironment& env)
    {
        std::map<QString, std::optional<QString>> folders;
        auto output = test::runChild(QStringLiteral("folders"), env);
        if (!output) {
            ADD_FAILURE() << "the child process failed";
            return folders;
        }
        for (const QString& line : output->split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals < 0)
                folders[line] = std::nullopt;
            else
                folders[line.left(equals)] = line.mid(equals + 1);
        }
        return folders;
    }

    QProcessEnvironment environment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        return env;
    }

    QTemporaryDir m_home;
};

TEST_F(Folders, FollowTheUserDirsFile)
{
    QString config = m_home.filePath(QStringLiteral("settings"));
    QString desk = m_home.filePath(QStringLiteral("elsewhere/Schreibtisch"));
    ASSERT_TRUE(QDir().mkpath(config));
    ASSERT_TRUE(QDir().mkpath(m_home.filePath(QStringLiteral("Eingang"))));
    ASSERT_TRUE(QDir().mkpath(desk));
    QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("# written by xdg-user-dirs-update\n"
               "XDG_DOWNLOAD_DIR=\"$HOME/Eingang\"\n"
               "XDG_DESKTOP_DIR=\"" +
               desk.toUtf8() +
               "\"\n"
               "XDG_DOCUMENTS_DIR=\"$HOME/\"\n");
    dirs.close();

    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    auto folders = foldersWith(env);
    EXPECT_EQ(folders[QStringLiteral("downloads")], m_home.filePath(QStringLiteral("Eingang")));
    EXPECT_EQ(folders[QStringLiteral("desktop")], desk);
    EXPECT_EQ(folders[QStringLiteral("documents")], std::nullopt)
        << "a folder set to the home folder itself is switched off";
    EXPECT_EQ(folders[QStringLiteral("home")], m_home.path());
    EXPECT_EQ(folders[QStringLiteral("config")], config + QStringLiteral("/Orvane"));
}

TEST_F(Folders, ConfigFolderDefaultsToDotConfig)
{
    auto folders = foldersWith(environment());
    EXPECT_EQ(folders[QStringLiteral("config")], m_home.filePath(QStringLiteral(".config/Orvane")));
    EXPECT_EQ(folders[QStringLiteral("home")], m_home.path());
}

} // namespace
} // namespace orvane
