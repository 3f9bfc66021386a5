#pragma once

#include "tcp_stream.h"

#include <map>
#include <string>

namespace orvane::phone {

// What the phone remembers between runs: who it is, and the token each
// computer gave it. Tokens are secrets, hence the private directory.
struct PhoneState {
    Uuid deviceID;
    std::string deviceName;
    std::map<std::string, std::string> tokens; // computer name (welcome's macName) -> token
    std::string lastComputer;                  // the computer paired most recently

    const std::string* tokenFor(const std::string& computer) const;
    // Keeps the token of a computer that was renamed under its new name.
    void renameComputer(const std::string& from, const std::string& to);
};

// $XDG_STATE_HOME/orvane-phone, else $HOME/.local/state/orvane-phone. Either
// variable may be null or empty; a relative XDG_STATE_HOME is ignored.
std::string stateDirectory(const char* xdgStateHome, const char* home);
std::string stateFilePath(const std::string& directory);

// "orvane-phone on <host name>".
std::string defaultDeviceName();

// Reads the state file, or makes a new identity and saves it at once so the
// device id stays the same from then on. A damaged file is reported, never
// replaced, because it may hold tokens the user still needs.
Result<PhoneState> loadState(const std::string& directory);

// Creates the directory (0700) if needed and replaces the file atomically
// with a 0600 file.
Status saveState(const std::string& directory, const PhoneState& state);

} // namespace orvane::phone
