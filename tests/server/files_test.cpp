// Files that phones send, and the settings file: names that cannot escape
// or overwrite, failures that leave nothing behind, data that survives.
#include "support/server_rig.h"

#include "server/received_files.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <sys/stat.h>

namespace orvane::test {
namespace {

using ReceivedFiles = ServerFixture;
using Answer = std::pair<bool, std::string>;

// Sends a file and returns the answer, which names the transfer, if one came.
std::optional<Answer> sendFile(TestPhone& phone, const std::string& name, const std::string& data)
{
    FileBody file{makeUuid(systemRandom()), name, Bytes(data.begin(), data.end())};
    phone.sendSealedBody(FrameKind::file, encodeFileBody(file));
    auto result = find<msg::Result>(phone.takeReceived());
    if (!result)
        return std::nullopt;
    EXPECT_EQ(result->id, file.transferID);
    return Answer{result->success, result->message};
}

TEST_F(ReceivedFiles, LandUnderFreeNamesAndAreAnswered)
{
    auto phone = pairedPhone("Ada");
    const char evil[] = "evil\0name\xE2\x80\xAEgpj.exe"; // NUL and a right-to-left override
    const std::pair<std::string, std::string> files[] = {
        {"report.pdf", "pdf 0"}, {"report.pdf", "pdf 1"},
        {"report.pdf", "pdf 2"}, {"a/b:c.txt", "x"},
        {"..", "dots"},          {std::string(evil, sizeof evil - 1), "rlo"}};
    for (const auto& [name, data] : files)
        EXPECT_EQ(sendFile(*phone, name, data), (Answer{true, "Saved to Downloads › Orvane"}));
    QDir folder(receivedFolder());
    EXPECT_EQ(folder.entryList(QDir::Files, QDir::Name),
              (QStringList{"File", "a-b-c.txt", "evilnamegpj.exe", "report 2.pdf", "report 3.pdf",
                           "report.pdf"}));
    QFile second(folder.filePath("report 2.pdf"));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_EQ(second.readAll(), QByteArray("pdf 1"));
    EXPECT_EQ(server->status().activity()[0].text, QStringLiteral("Received evilnamegpj.exe"));
}

TEST_F(ReceivedFiles, FailuresAreAnsweredAndLeaveNothingBehind)
{
    auto sendAndFail = [&](const char* why) {
        auto phone = pairedPhone();
        EXPECT_EQ(sendFile(*phone, "a.txt", std::string(1000, 7)),
                  (Answer{false, "Couldn't save file"}))
            << why;
        EXPECT_FALSE(QFile::exists(receivedFolder() + "/a.txt")) << why;
    };
    ServerLimits limits;
    limits.freeSpaceFloorBytes = std::int64_t{1} << 62; // more than any disk holds
    restart(limits);
    sendAndFail("the disk would fill up");

    restart();
    QDir().mkpath(dir.path() + "/Downloads");
    QFile blocker(receivedFolder()); // a plain file holds the folder's name
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    sendAndFail("the folder cannot be made");
    EXPECT_FALSE(server->status().activity()[0].text.startsWith(QStringLiteral("Received")));

    // A phone that has not authenticated is not answered at all.
    auto stranger = newPhone();
    stranger->hello(false);
    stranger->typeCode(wrongCode());
    EXPECT_EQ(sendFile(*stranger, "x.txt", "x"), std::nullopt);
}

TEST(ReceivedFileNames, NeverEscapeOrOverwrite)
{
    QTemporaryDir dir;
    QString folder = dir.path() + "/Orvane";
    QDir().mkpath(folder);
    // An existing link is neither followed nor replaced.
    QString outside = dir.path() + "/outside.txt";
    ASSERT_EQ(::symlink(outside.toUtf8().constData(), (folder + "/a.txt").toUtf8().constData()), 0);
    EXPECT_EQ(writeNewFile(folder, "a.txt", Bytes{'h', 'i'}), std::optional<QString>("a 2.txt"));
    EXPECT_FALSE(QFile::exists(outside));

    QString cut = cleanReceivedFileName(QString(300, QChar(u'\u00E9')) + ".jpeg", "File");
    EXPECT_LE(cut.toUtf8().size(), 255);
    EXPECT_TRUE(cut.endsWith(".jpeg"));
    EXPECT_EQ(cleanReceivedFileName(QString::fromUtf8("\x01\x1b[31mred"), "File"), "[31mred");
    EXPECT_EQ(cleanReceivedFileName("", "File"), "File");
    EXPECT_EQ(cleanReceivedFileName("/", "File"), "-");
    EXPECT_EQ(numberedFileName(".bashrc", 2), ".bashrc 2");
    EXPECT_EQ(numberedFileName("archive.tar.gz", 3), "archive.tar 3.gz");
    EXPECT_LE(numberedFileName(cut, 10'000).toUtf8().size(), 255);
}

TEST(StoredSettings, CorruptOrForeignDataIsKeptUntilTheNextSave)
{
    QTemporaryDir dir;
    QString path = dir.path() + "/Orvane/Orvane.conf";
    {
        QSettings file(path, QSettings::IniFormat);
        file.setValue(
            "trustedDevices",
            QByteArray(
                R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"n","tokenHash":"h","pairedAt":"yesterday"}])"));
        file.setValue("remoteAccess", 7);
        file.setValue("somethingElse", "kept");
        file.setValue("limits/authenticatedConnections", 5);
        file.setValue("limits/freeSpaceFloorBytes", "lots");
    }
    Settings settings(path);
    EXPECT_TRUE(settings.trustedDevices().empty());
    EXPECT_TRUE(settings.remoteAccess()) << "not a bool: the default";
    EXPECT_FALSE(settings.keepAwake());
    ServerLimits limits;
    settings.applyLimits(limits);
    EXPECT_EQ(limits.authenticatedConnections, 5u);
    EXPECT_FALSE(limits.freeSpaceFloorBytes);
    const QSettings before(path, QSettings::IniFormat);
    EXPECT_TRUE(before.value("trustedDevices").toByteArray().contains("yesterday"));

    TrustedDevice device{*Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), "Phone",
                         std::string(64, 'a'), 786'000'000.25};
    ASSERT_TRUE(settings.setTrustedDevices({device}));
    EXPECT_EQ(Settings(path).trustedDevices(), std::vector<TrustedDevice>{device});
    EXPECT_EQ(QSettings(path, QSettings::IniFormat).value("somethingElse").toString(), "kept");
}

TEST(StoredSettings, PrivateFromCreationUnderAnyUmask)
{
    QTemporaryDir dir;
    QString path = dir.path() + "/config/fresh/Orvane.conf"; // neither folder exists yet
    mode_t old = ::umask(0);
    Settings settings(path);
    bool saved = settings.setKeepAwake(true);
    ::umask(old);
    ASSERT_TRUE(saved);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(dir.path() + "/config/fresh").constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(Settings(path).keepAwake());
}

} // namespace
} // namespace orvane::test
