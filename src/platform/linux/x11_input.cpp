// placeholder until the X11 input backend lands
#include "platform/input.h"
#include "platform/displays.h"
#include "platform/power.h"
namespace orvane {
std::unique_ptr<InputDevice> makeInputDevice(std::shared_ptr<X11Connection>) { return nullptr; }
std::unique_ptr<DisplaySource> makeDisplaySource(std::shared_ptr<X11Connection>) { return nullptr; }
std::unique_ptr<Power> makePower(std::shared_ptr<X11Connection>) { return nullptr; }
}
