// Both ends of the handshake against each other, through real frames and
// sealed records, on a fake clock: every way a phone gets in or is turned
// away.
#include "protocol/codec.h"
#include "protocol/computer_handshake.h"
#include "protocol/dispatch.h"
#include "protocol/phone_handshake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

namespace orvane {
namespace {

using namespace handshake;

std::string refusal(PairingRefusal why)
{
    return "refused " + std::to_string(int(why));
}

// The two ends joined by frames, each keeping a log of what its handshake
// asked for. The test plays the computer's driver: trust store, pairing
// policy, and the user who reads the code off the screen.
struct Link {
    explicit Link(std::string name = "Ada's phone", std::map<Uuid, std::string> trusted = {},
                  std::optional<std::string> token = {})
        : name(std::move(name)), trusted(std::move(trusted)), token(std::move(token))
    {
    }
    std::string name;
    std::map<Uuid, std::string> trusted; // device id -> token hash
    std::optional<std::string> token;    // what the phone keeps
    bool pairingAllowed = true;
    std::int64_t now = 1'000;
    Uuid deviceID{{1, 2, 3}};
    ComputerHandshake computer{systemRandom(), now, {}};
    PhoneHandshake phone;
    std::shared_ptr<SecureSession> computerSession, phoneSession;
    HandshakeActions computerDid, phoneDid;
    Bytes lastPhoneFrame; // kind byte and payload
    // Sees, and may change, each frame on its way to the computer.
    std::function<void(Bytes&)> beforeComputerReads = [](Bytes&) {};

    // A phone that keeps "token", which the computer trusts.
    static Link withToken()
    {
        Link link("Ada's phone", {}, "token");
        link.trusted[link.deviceID] = hexDigest("token");
        return link;
    }
    template <class A> static const A* find(const HandshakeActions& log)
    {
        auto found =
            std::ranges::find_if(log, [](auto& a) { return std::holds_alternative<A>(a); });
        return found == log.end() ? nullptr : &std::get<A>(*found);
    }
    template <class A> static bool did(const HandshakeActions& log) { return find<A>(log); }
    bool in() const { return did<Authenticated>(computerDid) && did<Authenticated>(phoneDid); }
    bool closed() const { return did<Close>(computerDid); }
    std::string rejected() const
    {
        return did<Rejected>(phoneDid) ? find<Rejected>(phoneDid)->reason : "";
    }

    void connect()
    {
        auto key = crypto::X25519Key::fromPrivate(makeKey(systemRandom()));
        carryOut(true, phone.start(name, deviceID, token.has_value(), std::move(*key)));
        if (phone.state() == PhoneHandshake::State::awaitingToken)
            carryOut(true, phone.reconnect(*token));
    }
    void typeCode(const std::string& code) { carryOut(true, phone.useCode(code)); }
    void wrongCode() { typeCode(computer.code() == "000000" ? "000001" : "000000"); }
    void tick(std::int64_t ms) { carryOut(false, computer.onTick(now += ms)); }
    std::optional<std::string> storedHash(const Uuid& id)
    {
        return trusted.contains(id) ? std::optional(trusted.at(id)) : std::nullopt;
    }

    void send(bool fromPhone, const OrvaneMessage& message, bool sealed)
    {
        const std::string json = *encodeMessage(message);
        auto* session = (fromPhone ? phoneSession : computerSession).get();
        Bytes frame = sealed ? *session->sealFrame(FrameKind::message, asBytes(json))
                             : encodeFrame(FrameKind::message, asBytes(json));
        frame.erase(frame.begin(), frame.begin() + 4);
        if (fromPhone) {
            lastPhoneFrame = frame;
            beforeComputerReads(frame);
            toComputer(frame);
        } else if (auto event = dispatchFrame(frame, phoneSession.get());
                   auto* plain = std::get_if<frame_event::PlainMessage>(&event)) {
            carryOut(true, phone.onPlain(plain->message));
        } else if (auto* opened = std::get_if<frame_event::Message>(&event)) {
            carryOut(true, phone.onSealed(opened->message));
        }
    }
    // Delivers a frame (kind byte and payload) as if the phone had sent it.
    void toComputer(Bytes frame)
    {
        FrameEvent event = dispatchFrame(std::move(frame), computerSession.get());
        auto* plain = std::get_if<frame_event::PlainMessage>(&event);
        auto* opened = std::get_if<frame_event::Message>(&event);
        if (auto* hello = plain ? std::get_if<msg::Hello>(&plain->message) : nullptr)
            carryOut(false,
                     computer.onHello(
                         *hello, hello->hasToken ? storedHash(hello->deviceID) : std::nullopt,
                         crypto::X25519Key::fromPrivate(makeKey(systemRandom())), now));
        else if (auto* method = plain ? std::get_if<msg::PairingMethod>(&plain->message) : nullptr)
            carryOut(false, computer.onPairingMethod(method->value));
        else if (opened && std::holds_alternative<msg::Authenticate>(opened->message))
            carryOut(false, computer.onAuthenticate(storedHash(computer.deviceID())));
        else if (std::holds_alternative<frame_event::DecryptFailure>(event))
            carryOut(false, computer.onDecryptFailure());
    }
    void carryOut(bool byPhone, const HandshakeActions& actions)
    {
        for (const HandshakeAction& action : actions) {
            (byPhone ? phoneDid : computerDid).push_back(action);
            if (auto* plain = std::get_if<SendPlain>(&action))
                send(byPhone, plain->message, false);
            else if (auto* sealed = std::get_if<SendSealed>(&action))
                send(byPhone, sealed->message, true);
            else if (auto* keys = std::get_if<InstallKeys>(&action))
                (byPhone ? phoneSession : computerSession) =
                    std::make_shared<SecureSession>(keys->keys);
            else if (byPhone)
                continue;
            else if (auto* refuse = std::get_if<Refuse>(&action))
                send(false, msg::PairingRejected{{refusal(refuse->why)}}, false);
            else if (std::holds_alternative<PairingWanted>(action))
                carryOut(false, pairingAllowed
                                    ? computer.beginPairing(now)
                                    : computer.refuse(PairingRefusal::anotherDevice, now));
            else if (std::holds_alternative<WrongCode>(action))
                carryOut(false, computer.countWrongCode(now));
            else if (std::holds_alternative<Agree>(action))
                carryOut(false, computer.agree());
            else if (auto* paired = std::get_if<Paired>(&action))
                trusted[computer.deviceID()] = hexDigest(paired->token);
            else if (std::holds_alternative<Authenticated>(action))
                send(false, msg::Welcome{"Desk", true}, true);
        }
    }
};

TEST(Handshake, PairsWithTheCodeOrTheQrCodeAndReconnectsWithTheToken)
{
    for (bool qr : {false, true}) {
        Link link;
        link.connect();
        ASSERT_TRUE(Link::did<CodeWanted>(link.phoneDid) &&
                    Link::did<ShowPairing>(link.computerDid));
        const PairingUrl scanned{"Desk", link.computer.code(), link.computer.qrKey()};
        link.carryOut(true, qr ? link.phone.useQr(scanned) : link.phone.useCode(scanned.code));
        EXPECT_TRUE(link.in()) << "qr " << qr;
        ASSERT_TRUE(link.phone.token());
        EXPECT_EQ(link.trusted.at(link.deviceID), hexDigest(*link.phone.token()));

        // Later connections open with the token alone, under another name.
        Link again("Ada's new name", link.trusted, link.phone.token());
        again.connect();
        EXPECT_TRUE(again.in() && !Link::did<CodeWanted>(again.phoneDid));
        EXPECT_EQ(again.computer.deviceName(), "Ada's new name");
    }
    // A stale token falls back to pairing on the same connection.
    Link stale = Link::withToken();
    stale.token = "a token from long ago";
    stale.connect();
    stale.typeCode(stale.computer.code());
    EXPECT_TRUE(stale.in());
    EXPECT_NE(stale.phone.token(), "a token from long ago");
}

// A replayed authenticate opens nothing and counts as a wrong code; the
// right code still pairs after two wrong ones, and a third ends it.
TEST(Handshake, WrongCodesCountDownAndTheThirdEndsIt)
{
    Link link, fails;
    link.connect();
    link.wrongCode();
    link.toComputer(link.lastPhoneFrame);
    EXPECT_EQ(link.computer.attemptsLeft(), 1);
    link.typeCode(link.computer.code());
    EXPECT_TRUE(link.in());

    fails.connect();
    for (int i = 0; i < 3; ++i)
        fails.wrongCode();
    std::vector<std::int64_t> left;
    for (const auto& action : fails.phoneDid)
        if (auto* wrong = std::get_if<WrongCode>(&action))
            left.push_back(wrong->attemptsLeft);
    EXPECT_EQ(left, (std::vector<std::int64_t>{2, 1}));
    EXPECT_EQ(fails.rejected(), refusal(PairingRefusal::tooManyAttempts));
    fails.tick(499);
    EXPECT_FALSE(fails.closed());
    fails.tick(1); // the refusal had its moment to arrive
    EXPECT_TRUE(fails.closed());
}

// A token reconnect whose sealed authenticate is tampered with, whose phone
// is forgotten meanwhile, or which never comes.
TEST(Handshake, TokenReconnectsThatDoNotGetIn)
{
    Link tampered = Link::withToken(), forgotten = Link::withToken(), slow = Link::withToken();
    auto onSealed = [](Link& link, std::function<void(Bytes&)> change) {
        link.beforeComputerReads = [change](Bytes& frame) {
            if (frame[0] == std::uint8_t(FrameKind::sealed))
                change(frame);
        };
        link.connect();
        EXPECT_FALSE(link.in());
    };
    onSealed(tampered, [](Bytes& frame) { frame[frame.size() / 2] ^= 1; });
    EXPECT_TRUE(Link::did<CodeWanted>(tampered.phoneDid)) << "the computer asks for a code";
    onSealed(forgotten, [&](Bytes&) { forgotten.trusted.clear(); });
    EXPECT_TRUE(forgotten.closed());
    onSealed(slow, [](Bytes& frame) { frame.clear(); });
    slow.tick(29'999);
    EXPECT_FALSE(slow.closed());
    slow.tick(1);
    EXPECT_TRUE(slow.closed()) << "a reconnect authenticates within 30 s";
}

TEST(Handshake, RefusalsAndDeadlinesOfTheComputer)
{
    // A low-order key agrees to the all-zero secret: the connection ends
    // before any pairing is shown.
    Link lowOrder, silent, unanswered, busy;
    lowOrder.send(true, msg::Hello{"x", {}, Bytes(32, 0), false}, false);
    EXPECT_TRUE(lowOrder.closed() && !Link::did<ShowPairing>(lowOrder.computerDid));

    silent.tick(10'000);
    EXPECT_TRUE(silent.closed()) << "no hello in 10 s";
    unanswered.connect();
    unanswered.tick(5 * 60'000);
    EXPECT_EQ(unanswered.rejected(), refusal(PairingRefusal::timedOut));
    busy.pairingAllowed = false;
    busy.connect();
    EXPECT_EQ(busy.rejected(), refusal(PairingRefusal::anotherDevice));
    EXPECT_FALSE(Link::did<ShowPairing>(busy.computerDid));
}

} // namespace
} // namespace orvane
