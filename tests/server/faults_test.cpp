// Each write of a pairing and of a command exchange fails in turn. Whichever
// it is, only that connection ends: the server keeps its trusted phones,
// in memory and on disk alike, leaves no pairing hanging, and pairs or
// welcomes the next phone.
#include "support/server_rig.h"

#include <QDir>
#include <QFile>

namespace orvane::test {
namespace {

const OrvaneCommand someCommand = command::OpenURL{{"https://example.org"}};

void expectWholeAfterFault(ServerRig& rig, std::size_t trusted, int failAt)
{
    EXPECT_TRUE(pumpUntil([&] { return rig.server->connectionCount() == 0; })) << failAt;
    EXPECT_FALSE(rig.server->status().pairingRequest()) << failAt;
    EXPECT_EQ(rig.server->status().trustedDevices().size(), trusted) << failAt;
    EXPECT_EQ(Settings(rig.settingsPath()).trustedDevices(), rig.server->status().trustedDevices())
        << failAt;
}

// A pairing and then a command on one connection whose `failAt`-th write
// fails (0: none); returns how many writes it asked for.
int pairAndCommand(ServerRig& rig, int failAt)
{
    auto phone = rig.newPhone("Faulty");
    phone->transport().failSendNumber = failAt;
    phone->hello(false);
    settle();
    if (phone->handshake().keyExchange() && rig.server->status().pairingRequest())
        phone->typeCode(rig.server->status().pairingRequest()->code.toStdString());
    settle();
    if (!phone->closed() && phone->handshake().token())
        phone->send(msg::Run{makeUuid(systemRandom()), someCommand});
    settle();
    return phone->transport().sendCount;
}

TEST(SocketWriteFaults, AFailedWriteInAPairingEndsOnlyThatPairing)
{
    ServerRig clean;
    const int writes = pairAndCommand(clean, 0);
    ASSERT_GE(writes, 4) << "key exchange, paired, welcome and a result at least";
    for (int failAt = 1; failAt <= writes; ++failAt) {
        ServerRig rig;
        pairAndCommand(rig, failAt);
        const std::size_t trusted = rig.server->status().trustedDevices().size();
        EXPECT_LE(trusted, 1u);
        expectWholeAfterFault(rig, trusted, failAt);
        rig.pairedPhone("Next"); // which fails the test itself if it is not paired
        EXPECT_EQ(rig.server->status().trustedDevices().size(), trusted + 1) << failAt;
    }
}

TEST(SocketWriteFaults, AFailedWriteInACommandExchangeKeepsThePhoneTrusted)
{
    auto exchange = [](ServerRig& rig, const TestPhone& paired, int failAt) {
        auto phone = rig.newPhone("Ada's phone");
        phone->setDeviceID(paired.deviceID());
        phone->transport().failSendNumber = failAt;
        phone->hello(true);
        settle();
        if (phone->handshake().keyExchange())
            phone->reconnect(*paired.handshake().token());
        settle();
        bool answered = false;
        if (find<msg::Welcome>(phone->takeReceived())) {
            phone->send(msg::Run{makeUuid(systemRandom()), someCommand});
            settle();
            answered = find<msg::Result>(phone->takeReceived()).has_value();
        }
        rig.server->closeConnection(phone->connectionID());
        return std::pair(phone->transport().sendCount, answered);
    };
    ServerRig clean;
    auto paired = clean.pairedPhone();
    const int writes = exchange(clean, *paired, 0).first;
    ASSERT_GE(writes, 2);
    for (int failAt = 1; failAt <= writes; ++failAt) {
        ServerRig rig;
        auto ada = rig.pairedPhone();
        rig.server->closeConnection(ada->connectionID());
        EXPECT_FALSE(exchange(rig, *ada, failAt).second) << failAt;
        expectWholeAfterFault(rig, 1, failAt);
        EXPECT_TRUE(exchange(rig, *ada, 0).second) << "after a fault at write " << failAt;
    }
}

// The settings folder replaced by a plain file, so no write can succeed
// whoever runs the test, root included; the stored file is kept aside.
TEST(SettingsFaults, ChangesThatCannotBeSavedAreReportedAndHoldForTheRun)
{
    ServerRig rig;
    auto ada = rig.pairedPhone("Ada's phone");
    const QString folder = QFileInfo(rig.settingsPath()).absolutePath();
    ASSERT_TRUE(QDir().rename(folder, folder + QStringLiteral(".kept")));
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    auto bob = rig.pairedPhone("Bob's phone");
    EXPECT_TRUE(bob->handshake().token()) << "pairing goes on for this run";
    rig.server->forgetDevice(ada->deviceID());
    std::vector<QString> failedFor;
    for (const auto& entry : rig.server->status().activity())
        if (!entry.success &&
            entry.text == QStringLiteral("Couldn't save paired devices to the settings file"))
            failedFor.push_back(entry.device);
    EXPECT_EQ(failedFor,
              (std::vector<QString>{QStringLiteral("Ada's phone"), QStringLiteral("Bob's phone")}));
    ASSERT_EQ(rig.server->status().trustedDevices().size(), 1u);
    EXPECT_EQ(rig.server->status().trustedDevices()[0].name, "Bob's phone");

    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QDir().rename(folder + QStringLiteral(".kept"), folder));
    const auto stored = Settings(rig.settingsPath()).trustedDevices();
    ASSERT_EQ(stored.size(), 1u) << "what was on disk stays as it was";
    EXPECT_EQ(stored[0].name, "Ada's phone");
}

} // namespace
} // namespace orvane::test
