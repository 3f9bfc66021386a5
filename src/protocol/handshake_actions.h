#pragma once

#include "message.h"
#include "secure_session.h"

#include <variant>
#include <vector>

namespace orvane {

// Why a computer turns a pairing away. The driver words it for the phone.
enum class PairingRefusal { anotherDevice, declined, tooManyAttempts, paused, busy, timedOut };

// What a handshake asks its driver to do, in order. Each end has its own set
// of them, so that a driver which leaves one out does not compile.
namespace handshake {
struct SendPlain {
    OrvaneMessage message;
}; // a kind-0 frame, even with keys installed
struct SendSealed {
    OrvaneMessage message;
}; // through the session
struct InstallKeys {
    SessionKeys keys;
}; // replaces the session; counters start afresh
struct Refuse {
    PairingRefusal why;
};                       // computer: send pairingRejected with the driver's words
struct PairingWanted {}; // computer: start a pairing, or refuse one
struct Agree {};         // computer: the key exchange is sent; call agree() now
struct ShowPairing {};   // computer: the code and QR key are ready
struct HidePairing {};
struct CountWrongCode {}; // computer: weigh it against the whole computer's budget first
struct WrongCode {
    std::int64_t attemptsLeft = 0;
}; // phone: the computer did not take the code
struct Paired {
    std::string token;
};                       // computer: trust the phone; phone: keep it
struct Authenticated {}; // the session is open both ways
struct CodeWanted {};    // phone: ask the user for the code or QR code
struct Rejected {
    std::string reason;
}; // phone: the computer turned it away
struct Close {
    const char* why;
};
} // namespace handshake

using ComputerAction =
    std::variant<handshake::SendPlain, handshake::SendSealed, handshake::InstallKeys,
                 handshake::Refuse, handshake::PairingWanted, handshake::Agree,
                 handshake::ShowPairing, handshake::HidePairing, handshake::CountWrongCode,
                 handshake::Paired, handshake::Authenticated, handshake::Close>;
using ComputerActions = std::vector<ComputerAction>;

using PhoneAction =
    std::variant<handshake::SendPlain, handshake::SendSealed, handshake::InstallKeys,
                 handshake::CodeWanted, handshake::WrongCode, handshake::Rejected,
                 handshake::Paired, handshake::Authenticated, handshake::Close>;
using PhoneActions = std::vector<PhoneAction>;

} // namespace orvane
