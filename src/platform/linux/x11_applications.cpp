// placeholder until the applications backend lands
#include "platform/applications.h"
namespace orvane {
std::unique_ptr<ApplicationCatalog> makeApplicationCatalog(std::shared_ptr<X11Connection>) { return nullptr; }
}
