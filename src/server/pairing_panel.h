#pragma once

namespace orvane {

// What shows the user a pending pairing: a window on the desktop, the
// terminal when headless. It reads the request from the server.
class PairingPanel {
public:
    virtual ~PairingPanel() = default;
    virtual void show() = 0;
    virtual void hide() = 0;
};

} // namespace orvane
