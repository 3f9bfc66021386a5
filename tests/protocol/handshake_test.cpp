// Both ends of the handshake against each other, through real frames and
// sealed records, on a fake clock: every way a phone gets in or is turned
// away.
#include "support/handshake_loopback.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orvane {
namespace {

using namespace handshake;

std::string refusal(PairingRefusal why)
{
    return loopback::Loopback::refusalText(why);
}

template <class A, class Log> const A* find(const Log& log)
{
    auto found = std::ranges::find_if(log, [](auto& a) { return std::holds_alternative<A>(a); });
    return found == log.end() ? nullptr : &std::get<A>(*found);
}
template <class A, class Log> bool did(const Log& log)
{
    return find<A>(log);
}

// The two ends in memory, each step carried through until nothing is in
// flight. The loopback plays the computer's driver: trust store, pairing
// policy, and the user who reads the code off the screen.
struct Link : loopback::Loopback {
    explicit Link(std::string name = "Ada's phone", std::map<Uuid, std::string> trusted = {},
                  std::optional<std::string> token = {})
        : Loopback(systemRandom()), name(std::move(name))
    {
        this->trusted = std::move(trusted);
        phone.token = std::move(token);
        deviceID = Uuid{{1, 2, 3}};
    }
    // A phone that keeps "token", which the computer trusts.
    struct TrustedToken {};
    explicit Link(TrustedToken) : Link("Ada's phone", {}, "token")
    {
        trusted[deviceID] = hexDigest("token");
    }
    std::string name;

    bool in() const { return did<Authenticated>(computerDid) && did<Authenticated>(phone.did); }
    bool closed() const { return did<Close>(computerDid); }
    std::string rejected() const
    {
        return did<Rejected>(phone.did) ? find<Rejected>(phone.did)->reason : "";
    }

    void connect()
    {
        Loopback::connect(name);
        settle();
        if (phone.handshake.state() == PhoneHandshake::State::awaitingToken)
            byPhone(phone.handshake.reconnect(*phone.token));
    }
    void byPhone(const PhoneActions& actions)
    {
        phone.carryOut(actions);
        settle();
    }
    void tick(std::int64_t ms)
    {
        Loopback::tick(ms);
        settle();
    }
    void typeCode(const std::string& code) { byPhone(phone.handshake.useCode(code)); }
    void wrongCode() { typeCode(computer->code() == "000000" ? "000001" : "000000"); }
};

TEST(Handshake, PairsWithTheCodeOrTheQrCodeAndReconnectsWithTheToken)
{
    for (bool qr : {false, true}) {
        Link link;
        link.connect();
        ASSERT_TRUE(did<CodeWanted>(link.phone.did) && did<ShowPairing>(link.computerDid));
        const PairingUrl scanned{"Desk", link.computer->code(), link.computer->qrKey()};
        link.byPhone(qr ? link.phone.handshake.useQr(scanned)
                        : link.phone.handshake.useCode(scanned.code));
        EXPECT_TRUE(link.in()) << "qr " << qr;
        ASSERT_TRUE(link.phone.token);
        EXPECT_EQ(link.trusted.at(link.deviceID), hexDigest(*link.phone.token));

        // Later connections open with the token alone, under another name.
        Link again("Ada's new name", link.trusted, link.phone.token);
        again.connect();
        EXPECT_TRUE(again.in() && !did<CodeWanted>(again.phone.did));
        EXPECT_EQ(again.computer->deviceName(), "Ada's new name");
    }
    // A stale token falls back to pairing on the same connection.
    Link stale{Link::TrustedToken{}};
    stale.phone.token = "a token from long ago";
    stale.connect();
    stale.typeCode(stale.computer->code());
    EXPECT_TRUE(stale.in());
    EXPECT_NE(stale.phone.token, "a token from long ago");
}

// A replayed authenticate opens nothing and counts as a wrong code; the
// right code still pairs after two wrong ones, and a third ends it.
TEST(Handshake, WrongCodesCountDownAndTheThirdEndsIt)
{
    Link link, fails;
    link.connect();
    link.wrongCode();
    link.deliverToComputer({link.readByComputer.back(), std::nullopt});
    link.settle();
    EXPECT_EQ(link.computer->attemptsLeft(), 1);
    link.typeCode(link.computer->code());
    EXPECT_TRUE(link.in());

    fails.connect();
    for (int i = 0; i < 3; ++i)
        fails.wrongCode();
    std::vector<std::int64_t> left;
    for (const auto& action : fails.phone.did)
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
    Link tampered{Link::TrustedToken{}}, forgotten{Link::TrustedToken{}},
        slow{Link::TrustedToken{}};
    auto onSealed = [](Link& link, std::function<void(Bytes&)> change) {
        link.beforeComputerReads = [change](Bytes& frame) {
            if (frame[0] == std::uint8_t(FrameKind::sealed))
                change(frame);
        };
        link.connect();
        EXPECT_FALSE(link.in());
    };
    onSealed(tampered, [](Bytes& frame) { frame[frame.size() / 2] ^= 1; });
    EXPECT_TRUE(did<CodeWanted>(tampered.phone.did)) << "the computer asks for a code";
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
    lowOrder.phone.send(msg::Hello{"x", {}, Bytes(32, 0), false}, false);
    lowOrder.settle();
    EXPECT_TRUE(lowOrder.closed() && !did<ShowPairing>(lowOrder.computerDid));

    silent.tick(10'000);
    EXPECT_TRUE(silent.closed()) << "no hello in 10 s";
    unanswered.connect();
    unanswered.tick(5 * 60'000);
    EXPECT_EQ(unanswered.rejected(), refusal(PairingRefusal::timedOut));
    busy.pairingAllowed = false;
    busy.connect();
    EXPECT_EQ(busy.rejected(), refusal(PairingRefusal::anotherDevice));
    EXPECT_FALSE(did<ShowPairing>(busy.computerDid));
}

} // namespace
} // namespace orvane
