// The server's limits on unauthenticated peers, received files, stored
// settings and published state.
#include "server_fixture.h"

#include "server/received_files.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QUrlQuery>

#include <sys/stat.h>

namespace orvane::test {
namespace {

using Guard = ServerFixture;

TEST_F(Guard, FramesStaySmallUntilAuthentication)
{
    auto big = newPhone();
    Bytes header = {0, 1, 0, 1, 0}; // 65,537: just over the limit
    big->sendRaw(header);
    EXPECT_TRUE(pumpUntil([&] { return big->closed(); }));

    auto ok = newPhone();
    Bytes fits = {0, 1, 0, 0, 0}; // exactly 64 KiB is allowed
    ok->sendRaw(fits);
    pumpFor(50);
    EXPECT_FALSE(ok->closed());

    auto paired = newPhone();
    pair(*paired);
    Bytes large(200'000, 'x');
    paired->sendSealedBody(FrameKind::binary, large); // ignored, but accepted
    pumpFor(50);
    EXPECT_FALSE(paired->closed());
}

TEST_F(Guard, MakesRoomByClosingTheOldestWaitingConnection)
{
    auto pairing = newPhone("Pairing");
    pairing->sendHello(false);
    std::vector<std::unique_ptr<TestPhone>> waiting;
    for (std::size_t i = 1; i < ConnectionGuard::maximumUnauthenticated; ++i)
        waiting.push_back(newPhone());
    pumpFor(20);
    for (const auto& phone : waiting)
        EXPECT_FALSE(phone->closed());

    auto late = newPhone("Late");
    EXPECT_TRUE(pumpUntil([&] { return waiting[0]->closed(); }));
    EXPECT_FALSE(pairing->closed()); // the phone that is pairing keeps its place
    EXPECT_FALSE(late->closed());
    EXPECT_TRUE(server->pairingRequest());
}

TEST_F(Guard, ClosesConnectionsThatNeverSayHello)
{
    ServerLimits limits;
    limits.helloTimeoutMs = 100;
    makeServer(limits);
    auto silent = newPhone();
    auto talker = newPhone();
    talker->sendHello(false);
    EXPECT_TRUE(pumpUntil([&] { return silent->closed(); }, 2000));
    EXPECT_FALSE(talker->closed()); // it said hello in time
}

TEST(GuardPolicy, EvictsRefusedThenSilentThenHandshakingAndNeverThePairing)
{
    ConnectionGuard guard;
    std::vector<Uuid> ids(ConnectionGuard::maximumUnauthenticated);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ids[i].bytes[0] = static_cast<std::uint8_t>(i + 1);
        guard.admitted(ids[i]);
    }
    for (std::size_t i = 0; i < 3; ++i)
        guard.greeted(ids[i]); // the oldest are in a handshake
    guard.refused(ids[40]);
    EXPECT_EQ(guard.makeRoom(ids[3]), ids[40]); // refused goes first
    guard.admitted(ids[40]);
    EXPECT_EQ(guard.makeRoom(ids[3]), ids[4]); // then the oldest silent one, not the pairing
    // A whole batch is admitted before anything is closed for it; the next
    // batch trims the list back.
    auto victims = guard.beginBatch(std::nullopt);
    EXPECT_TRUE(victims.empty());
    Uuid extra;
    extra.bytes[0] = 200;
    guard.admitted(extra);
    guard.admitted(ids[4]);
    EXPECT_EQ(guard.makeRoom(std::nullopt), std::nullopt);
    guard.endBatch();
    EXPECT_EQ(guard.beginBatch(std::nullopt).size(), 1u);
    guard.endBatch();
    EXPECT_EQ(guard.unauthenticatedCount(), ConnectionGuard::maximumUnauthenticated);
}

using ReceivedFiles = ServerFixture;

TEST_F(ReceivedFiles, SavedUnderFreeNamesAndAnswered)
{
    auto phone = newPhone("Ada");
    pair(*phone);
    phone->takeReceived();
    auto send = [&](const std::string& name, const std::string& contents) {
        FileBody file{makeUuid(systemRandom()), name, Bytes(contents.begin(), contents.end())};
        phone->sendSealedBody(FrameKind::file, encodeFileBody(file));
        auto result = find<msg::Result>(phone->takeReceived());
        EXPECT_NE(result, std::nullopt);
        if (result) {
            EXPECT_EQ(result->id, file.transferID);
        }
        return result ? *result : msg::Result{};
    };
    for (int i = 0; i < 3; ++i) {
        auto result = send("report.pdf", "pdf " + std::to_string(i));
        EXPECT_TRUE(result.success);
        EXPECT_EQ(result.message, "Saved to Downloads › Orvane");
    }
    send("a/b:c.txt", "x");
    send("..", "dots");
    const char evil[] = "evil\0name\xE2\x80\xAEgpj.exe"; // NUL and a right-to-left override
    send(std::string(evil, sizeof evil - 1), "rlo");
    QDir folder(dir.path() + "/Downloads/Orvane");
    QStringList names = folder.entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(names, (QStringList{"File", "a-b-c.txt", "evilnamegpj.exe", "report 2.pdf",
                                  "report 3.pdf", "report.pdf"}));
    QFile second(folder.filePath("report 2.pdf"));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_EQ(second.readAll(), QByteArray("pdf 1"));
    EXPECT_EQ(server->activity()[0].text, QStringLiteral("Received evilnamegpj.exe"));

    // A phone that has not authenticated is not answered at all.
    auto stranger = newPhone();
    stranger->sendHello(false);
    stranger->takeReceived();
    stranger->useCode(server->pairingRequest()->code.toStdString());
    FileBody file{makeUuid(systemRandom()), "x.txt", Bytes{1}};
    stranger->sendSealedBody(FrameKind::file, encodeFileBody(file));
    EXPECT_EQ(find<msg::Result>(stranger->takeReceived()), std::nullopt);
    EXPECT_FALSE(folder.exists("x.txt"));
}

TEST_F(ReceivedFiles, FailureLeavesNothingBehind)
{
    auto phone = newPhone();
    pair(*phone);
    phone->takeReceived();
    // The Orvane folder cannot be made: a plain file holds its name.
    QDir().mkpath(dir.path() + "/Downloads");
    QFile blocker(dir.path() + "/Downloads/Orvane");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    FileBody file{makeUuid(systemRandom()), "a.txt", Bytes(10, 1)};
    phone->sendSealedBody(FrameKind::file, encodeFileBody(file));
    auto result = find<msg::Result>(phone->takeReceived());
    ASSERT_NE(result, std::nullopt);
    EXPECT_FALSE(result->success);
    EXPECT_EQ(result->message, "Couldn't save file");
    EXPECT_NE(server->activity()[0].text.left(8), QStringLiteral("Received"));
}

TEST(ReceivedFileNames, NeverEscapeOrOverwrite)
{
    QTemporaryDir dir;
    QString folder = dir.path() + "/Orvane";
    QDir().mkpath(folder);
    // An existing link is neither followed nor replaced.
    QString outside = dir.path() + "/outside.txt";
    ASSERT_EQ(::symlink(outside.toUtf8().constData(), (folder + "/a.txt").toUtf8().constData()), 0);
    Bytes data{'h', 'i'};
    EXPECT_EQ(writeNewFile(folder, "a.txt", data), std::optional<QString>("a 2.txt"));
    EXPECT_FALSE(QFile::exists(outside));

    QString longName = QString(300, QChar(u'\u00E9')) + ".jpeg";
    QString cut = cleanReceivedFileName(longName, "File");
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
        UserDefaults defaults(path);
        EXPECT_TRUE(defaults.loadTrustedDevices().empty()); // nothing stored yet
        EXPECT_FALSE(defaults.keepMacAwake());
        EXPECT_TRUE(defaults.remoteAccess());
    }
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue("trustedDevices",
                          QByteArray(R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"n","tokenHash":"h","pairedAt":"yesterday"}])"));
        settings.setValue("remoteAccess", 7);
        settings.setValue("somethingElse", "kept");
    }
    UserDefaults defaults(path);
    EXPECT_TRUE(defaults.loadTrustedDevices().empty());
    EXPECT_TRUE(defaults.remoteAccess()); // not a bool: the default
    EXPECT_TRUE(QSettings(path, QSettings::IniFormat).value("trustedDevices").toByteArray().contains("yesterday"));

    TrustedDevice device{*Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), "Phone",
                         std::string(64, 'a'), 786'000'000.25};
    ASSERT_TRUE(defaults.saveTrustedDevices({device}));
    EXPECT_EQ(defaults.loadTrustedDevices(), std::vector<TrustedDevice>{device});
    EXPECT_EQ(QSettings(path, QSettings::IniFormat).value("somethingElse").toString(), "kept");
}

TEST(StoredSettings, PrivateFromCreationUnderAnyUmask)
{
    QTemporaryDir dir;
    QString path = dir.path() + "/config/fresh/Orvane.conf"; // neither folder exists yet
    mode_t old = ::umask(0);
    UserDefaults defaults(path);
    bool saved = defaults.saveTrustedDevices({});
    ::umask(old);
    ASSERT_TRUE(saved);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(dir.path() + "/config/fresh").constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

using Published = ServerFixture;

TEST_F(Published, NotifiesOnlyOnRealChangesAndKeepsFiftyEntries)
{
    EXPECT_TRUE(server->screenRecordingGranted()) << "read at start, not at the first poll";
    QSignalSpy devices(server.get(), &OrvaneServer::devicesChanged);
    QSignalSpy request(server.get(), &OrvaneServer::pairingRequestChanged);
    auto phone = newPhone();
    phone->sendHello(false);
    EXPECT_EQ(request.count(), 1);
    phone->sendPlain(msg::PairingMethod{{false}}); // same request: no notice
    EXPECT_EQ(request.count(), 1);
    phone->useCode(server->pairingRequest()->code.toStdString());
    phone->sendSealed(msg::Authenticate{});
    EXPECT_EQ(devices.count(), 1);
    EXPECT_EQ(request.count(), 2);
    // Views read the same state through Qt's property system.
    auto published = server->property("devices").value<OrvaneServer::DeviceList>();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].id, phone->connectionID());

    for (int i = 0; i < 60; ++i)
        server->addActivity(QString::number(i), "Mac", true);
    ASSERT_EQ(server->activity().size(), 50u);
    EXPECT_EQ(server->activity().front().text, "59");
    EXPECT_EQ(server->activity().back().text, "10");
}

TEST_F(Published, QrPayloadIsAPercentEncodedUrl)
{
    server.reset();
    ServerEnvironment env;
    env.macName = QString::fromUtf8("Zoë's Desk & Co");
    env.defaults = std::make_unique<UserDefaults>(settingsPath());
    server = std::make_unique<OrvaneServer>(std::move(env));
    auto phone = newPhone();
    phone->sendHello(false);
    QUrl url(server->pairingUrl());
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), "orvane");
    EXPECT_EQ(url.host(), "pair");
    QUrlQuery query(url);
    EXPECT_EQ(query.queryItemValue("v"), "1");
    EXPECT_EQ(query.queryItemValue("m", QUrl::FullyDecoded), QString::fromUtf8("Zoë's Desk & Co"));
    EXPECT_EQ(query.queryItemValue("c"), server->pairingRequest()->code);
    EXPECT_EQ(query.queryItemValue("k"), server->pairingRequest()->qrKey);
    EXPECT_TRUE(server->pairingUrl().startsWith("orvane://pair?v=1&m="));
}

} // namespace
} // namespace orvane::test
