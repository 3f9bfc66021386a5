// placeholder until the desktop backend lands
#include "platform/workspace.h"
#include "platform/pasteboard.h"
namespace orvane {
std::unique_ptr<Workspace> makeWorkspace() { return nullptr; }
std::unique_ptr<Pasteboard> makePasteboard() { return nullptr; }
}
