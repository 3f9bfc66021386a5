// Both ends of the handshake against each other, through real frames and
// sealed records, on a fake clock: every way a phone gets in or is turned
// away.
#include "protocol/codec.h"
#include "protocol/computer_handshake.h"
#include "protocol/dispatch.h"
#include "protocol/phone_handshake.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace orvane {
namespace {

// The two ends joined by frames. The test plays the computer's driver:
// trust store, pairing policy, and the user who reads the code off the
// screen.
class Link {
public:
    explicit Link(std::string name = "Ada's phone") : m_name(std::move(name)) {}

    std::map<Uuid, std::string> trusted; // device id -> token hash
    bool pairingAllowed = true;
    std::int64_t now = 1'000;
    Uuid deviceID{{1, 2, 3}};
    std::optional<std::string> phoneToken;

    ComputerHandshake computer{systemRandom(), now, {}};
    PhoneHandshake phone;
    bool computerAuthenticated = false, phoneAuthenticated = false;
    std::optional<std::string> computerClosed, rejected;
    std::optional<std::int64_t> wrongCodeLeft;
    bool codeWanted = false, shown = false;
    // Every frame the computer sent, as the wire carries it.
    std::vector<Bytes> computerFrames;

    void connect(std::optional<crypto::Key32> phonePrivate = std::nullopt)
    {
        auto key = crypto::X25519Key::fromPrivate(phonePrivate.value_or(makeKey(systemRandom())));
        runPhone(phone.start(m_name, deviceID, phoneToken.has_value(), std::move(*key)));
        if (phone.state() == PhoneHandshake::State::awaitingToken)
            runPhone(phone.reconnect(*phoneToken));
    }
    void typeCode(const std::string& code) { runPhone(phone.useCode(code)); }
    void scanQr() { runPhone(phone.useQr({"Desk", computer.code(), computer.qrKey()})); }
    void wrongCode() { typeCode(computer.code() == "000000" ? "000001" : "000000"); }
    void tick(std::int64_t ms)
    {
        now += ms;
        runComputer(computer.onTick(now));
    }
    // Delivers a frame to the computer as if the phone had sent it.
    void toComputer(Bytes frame)
    {
        FrameEvent event = dispatchFrame(std::move(frame), m_computerSession.get());
        if (auto* plain = std::get_if<frame_event::PlainMessage>(&event)) {
            if (auto* hello = std::get_if<msg::Hello>(&plain->message)) {
                auto stored = trusted.find(hello->deviceID);
                std::optional<std::string> hash;
                if (hello->hasToken && stored != trusted.end())
                    hash = stored->second;
                runComputer(computer.onHello(*hello, hash,
                                             crypto::X25519Key::fromPrivate(makeKey(systemRandom())),
                                             now));
            } else if (auto* method = std::get_if<msg::PairingMethod>(&plain->message)) {
                runComputer(computer.onPairingMethod(method->value));
            }
        } else if (auto* sealed = std::get_if<frame_event::Message>(&event)) {
            if (std::holds_alternative<msg::Authenticate>(sealed->message)) {
                auto stored = trusted.find(computer.deviceID());
                runComputer(computer.onAuthenticate(
                    stored == trusted.end() ? std::nullopt : std::optional(stored->second)));
            }
        } else if (std::holds_alternative<frame_event::DecryptFailure>(event)) {
            runComputer(computer.onDecryptFailure());
        }
    }
    Bytes lastPhoneFrame;
    // Sees, and may change, each frame on its way to the computer.
    std::function<void(Bytes&)> beforeComputerReads;

private:
    Bytes frameOf(const OrvaneMessage& message, SecureSession* session)
    {
        auto json = encodeMessage(message);
        return session ? *session->sealFrame(FrameKind::message, asBytes(*json))
                       : encodeFrame(FrameKind::message, asBytes(*json));
    }

    void runComputer(const HandshakeActions& actions)
    {
        for (const HandshakeAction& action : actions) {
            if (auto* send = std::get_if<handshake::SendPlain>(&action))
                toPhone(frameOf(send->message, nullptr));
            else if (auto* sealed = std::get_if<handshake::SendSealed>(&action))
                toPhone(frameOf(sealed->message, m_computerSession.get()));
            else if (auto* keys = std::get_if<handshake::InstallKeys>(&action))
                m_computerSession = std::make_shared<SecureSession>(keys->keys);
            else if (auto* refuse = std::get_if<handshake::Refuse>(&action))
                toPhone(frameOf(msg::PairingRejected{{"refused " + std::to_string(int(refuse->why))}},
                                nullptr));
            else if (std::holds_alternative<handshake::PairingWanted>(action))
                runComputer(pairingAllowed ? computer.beginPairing(now)
                                           : computer.refuse(PairingRefusal::anotherDevice, now));
            else if (std::holds_alternative<handshake::ShowPairing>(action))
                shown = true;
            else if (std::holds_alternative<handshake::WrongCode>(action))
                runComputer(computer.countWrongCode(now));
            else if (auto* paired = std::get_if<handshake::Paired>(&action))
                trusted[computer.deviceID()] = hexDigest(paired->token);
            else if (std::holds_alternative<handshake::Authenticated>(action)) {
                computerAuthenticated = true;
                toPhone(frameOf(msg::Welcome{"Desk", true}, m_computerSession.get()));
            } else if (auto* close = std::get_if<handshake::Close>(&action))
                computerClosed = close->why;
        }
    }

    void toPhone(Bytes frame)
    {
        computerFrames.push_back(frame);
        FrameEvent event = dispatchFrame(ByteView(frame).subspan(4), m_phoneSession.get());
        if (auto* plain = std::get_if<frame_event::PlainMessage>(&event))
            runPhone(phone.onPlain(plain->message));
        else if (auto* sealed = std::get_if<frame_event::Message>(&event))
            runPhone(phone.onSealed(sealed->message));
    }

    void runPhone(const HandshakeActions& actions)
    {
        for (const HandshakeAction& action : actions) {
            Bytes frame;
            if (auto* send = std::get_if<handshake::SendPlain>(&action))
                frame = frameOf(send->message, nullptr);
            else if (auto* sealed = std::get_if<handshake::SendSealed>(&action))
                frame = frameOf(sealed->message, m_phoneSession.get());
            else if (auto* keys = std::get_if<handshake::InstallKeys>(&action))
                m_phoneSession = std::make_shared<SecureSession>(keys->keys);
            else if (std::holds_alternative<handshake::CodeWanted>(action))
                codeWanted = true;
            else if (auto* wrong = std::get_if<handshake::WrongCode>(&action))
                wrongCodeLeft = wrong->attemptsLeft;
            else if (auto* paired = std::get_if<handshake::Paired>(&action))
                phoneToken = paired->token;
            else if (std::holds_alternative<handshake::Authenticated>(action))
                phoneAuthenticated = true;
            else if (auto* refused = std::get_if<handshake::Rejected>(&action))
                rejected = refused->reason;
            if (!frame.empty()) {
                lastPhoneFrame = frame;
                Bytes body(frame.begin() + 4, frame.end());
                if (beforeComputerReads)
                    beforeComputerReads(body);
                toComputer(std::move(body));
            }
        }
    }

    std::string m_name;
    std::shared_ptr<SecureSession> m_computerSession;
    std::shared_ptr<SecureSession> m_phoneSession;
};

TEST(Handshake, PairsWithTheCodeOrTheQrCodeAndReconnectsWithTheToken)
{
    for (bool qr : {false, true}) {
        Link link;
        link.connect();
        ASSERT_TRUE(link.codeWanted);
        ASSERT_TRUE(link.shown);
        qr ? link.scanQr() : link.typeCode(link.computer.code());
        EXPECT_TRUE(link.computerAuthenticated && link.phoneAuthenticated) << "qr " << qr;
        ASSERT_TRUE(link.phoneToken);
        EXPECT_EQ(link.trusted.at(link.deviceID), hexDigest(*link.phoneToken));

        // Later connections open with the token alone, under another name.
        Link again("Ada's new name");
        again.trusted = link.trusted;
        again.phoneToken = link.phoneToken;
        again.connect();
        EXPECT_FALSE(again.codeWanted);
        EXPECT_TRUE(again.computerAuthenticated && again.phoneAuthenticated);
        EXPECT_EQ(again.computer.deviceName(), "Ada's new name");
    }
}

TEST(Handshake, WrongCodesCountDownAndTheThirdEndsIt)
{
    Link link;
    link.connect();
    link.wrongCode();
    EXPECT_EQ(link.wrongCodeLeft, 2);
    link.wrongCode();
    EXPECT_EQ(link.wrongCodeLeft, 1);
    const std::string code = link.computer.code();
    link.typeCode(code); // the right one still pairs after two wrong ones
    EXPECT_TRUE(link.phoneAuthenticated);

    Link fails;
    fails.connect();
    for (int i = 0; i < 3; ++i)
        fails.wrongCode();
    EXPECT_EQ(fails.rejected, "refused " + std::to_string(int(PairingRefusal::tooManyAttempts)));
    EXPECT_EQ(fails.computer.state(), ComputerHandshake::State::rejected);
    fails.tick(499);
    EXPECT_FALSE(fails.computerClosed);
    fails.tick(1); // the refusal had its moment to arrive
    EXPECT_TRUE(fails.computerClosed);
}

TEST(Handshake, AStaleTokenFallsBackToPairingOnTheSameConnection)
{
    Link link;
    link.trusted[link.deviceID] = hexDigest("the token the computer issued");
    link.phoneToken = "a token from long ago";
    link.connect();
    EXPECT_TRUE(link.codeWanted);
    EXPECT_EQ(link.computer.state(), ComputerHandshake::State::pairing);
    link.typeCode(link.computer.code());
    EXPECT_TRUE(link.phoneAuthenticated);
    EXPECT_NE(*link.phoneToken, "a token from long ago");
}

TEST(Handshake, RefusesWhatMustNotGetIn)
{
    // A low-order key agrees to the all-zero secret: the connection ends
    // before any pairing is shown.
    Link lowOrder;
    Bytes frame = encodeFrame(FrameKind::message,
                              asBytes(*encodeMessage(msg::Hello{"x", {}, Bytes(32, 0), false})));
    lowOrder.toComputer(Bytes(frame.begin() + 4, frame.end()));
    EXPECT_TRUE(lowOrder.computerClosed);
    EXPECT_FALSE(lowOrder.shown);

    // A replayed authenticate opens nothing and counts as a wrong code.
    Link link;
    link.connect();
    link.wrongCode();
    link.toComputer(Bytes(link.lastPhoneFrame.begin() + 4, link.lastPhoneFrame.end()));
    EXPECT_EQ(link.computer.attemptsLeft(), 1);
    link.typeCode(link.computer.code());
    EXPECT_TRUE(link.computerAuthenticated);

    // A tampered token reconnect is not let in: the computer asks for a code.
    Link tampered;
    tampered.trusted[tampered.deviceID] = hexDigest("token");
    tampered.phoneToken = "token";
    tampered.beforeComputerReads = [](Bytes& body) {
        if (body[0] == std::uint8_t(FrameKind::sealed))
            body[body.size() / 2] ^= 1;
    };
    tampered.connect();
    EXPECT_FALSE(tampered.computerAuthenticated);
    EXPECT_TRUE(tampered.codeWanted);

    // Forgotten between hello and authenticate: the old token opens nothing.
    Link forgotten;
    forgotten.trusted[forgotten.deviceID] = hexDigest("token");
    forgotten.phoneToken = "token";
    forgotten.beforeComputerReads = [&](Bytes& body) {
        if (body[0] == std::uint8_t(FrameKind::sealed))
            forgotten.trusted.clear();
    };
    forgotten.connect();
    EXPECT_FALSE(forgotten.computerAuthenticated);
    EXPECT_TRUE(forgotten.computerClosed);
}

TEST(Handshake, DeadlinesAndPoliciesOfTheComputer)
{
    Link silent;
    silent.tick(10'000);
    EXPECT_TRUE(silent.computerClosed) << "no hello in 10 s";

    Link slow; // a phone that never sends its authenticate
    slow.trusted[slow.deviceID] = hexDigest("token");
    slow.phoneToken = "token";
    slow.beforeComputerReads = [](Bytes& body) {
        if (body[0] == std::uint8_t(FrameKind::sealed))
            body.clear();
    };
    slow.connect();
    EXPECT_EQ(slow.computer.state(), ComputerHandshake::State::reconnecting);
    slow.tick(29'999);
    EXPECT_FALSE(slow.computerClosed);
    slow.tick(1);
    EXPECT_TRUE(slow.computerClosed) << "a reconnect authenticates within 30 s";

    Link unanswered;
    unanswered.connect();
    unanswered.tick(5 * 60'000);
    EXPECT_EQ(unanswered.rejected, "refused " + std::to_string(int(PairingRefusal::timedOut)));

    Link busy;
    busy.pairingAllowed = false;
    busy.connect();
    EXPECT_EQ(busy.rejected, "refused " + std::to_string(int(PairingRefusal::anotherDevice)));
    EXPECT_FALSE(busy.shown);
}

} // namespace
} // namespace orvane
