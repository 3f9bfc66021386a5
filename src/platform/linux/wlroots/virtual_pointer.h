#pragma once

#include "platform/geometry.h"
#include "platform/input_device.h"

#include "wayland_outputs.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct wl_seat;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;

namespace orvane {

class WaylandConnection;

// A pointer of our own on the compositor's seat.
class VirtualPointer {
public:
    VirtualPointer(WaylandConnection& connection, zwlr_virtual_pointer_manager_v1* manager,
                   wl_seat* seat);
    ~VirtualPointer();
    VirtualPointer(const VirtualPointer&) = delete;
    VirtualPointer& operator=(const VirtualPointer&) = delete;

    // To `global`, kept inside the outputs; by the difference from the last
    // position when the outputs are not known.
    void moveTo(Point global);
    void button(MouseButton button, bool down);
    // Pixels as InputDevice::scroll takes them.
    void scroll(double dx, double dy);

private:
    void frame();

    WaylandConnection& m_connection;
    WaylandOutputs m_outputs;
    zwlr_virtual_pointer_v1* m_pointer = nullptr;
    std::optional<Point> m_last;
    // Fractions of a wheel step not yet sent as a step, per axis.
    double m_stepsX = 0;
    double m_stepsY = 0;
};

} // namespace orvane
