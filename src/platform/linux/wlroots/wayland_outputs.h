#pragma once

#include "platform/geometry.h"

#include <cstdint>
#include <memory>
#include <vector>

struct wl_output;

namespace orvane {

class WaylandConnection;

// The compositor's outputs, where they lie and how big they are, as they
// announce it.
class WaylandOutputs {
public:
    struct Output {
        std::uint32_t id = 0; // the output's global name
        wl_output* output = nullptr;
        int x = 0;
        int y = 0;
        int pixelWidth = 0;
        int pixelHeight = 0;
        int scale = 1;
        bool turned = false; // a quarter turn swaps width and height
        bool placed = false;

        // Where it lies on the desktop, in desktop pixels.
        Rect rect() const;
    };

    explicit WaylandOutputs(WaylandConnection& connection);
    ~WaylandOutputs();
    WaylandOutputs(const WaylandOutputs&) = delete;
    WaylandOutputs& operator=(const WaylandOutputs&) = delete;

    // Those that have said where they are and how big, in the order the
    // compositor announced them.
    std::vector<const Output*> known() const;
    const Output* find(std::uint32_t id) const;
    // Forgets an output the compositor took away.
    void remove(std::uint32_t id);
    // The rectangle around every output; null while none is known.
    Rect extent() const;

private:
    std::vector<std::unique_ptr<Output>> m_outputs;
};

} // namespace orvane
