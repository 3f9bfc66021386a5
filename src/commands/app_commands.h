#pragma once

#include "command_result.h"
#include "platform/application_catalog.h"

#include <string>

namespace orvane {

// Launching and quitting applications.
class AppCommands {
public:
    explicit AppCommands(ApplicationCatalog& apps) : m_apps(apps) {}

    CommandResult launch(const std::string& bundleID);
    CommandResult open(const std::string& name);
    CommandResult quit(const std::string& bundleID);
    CommandResult quitNamed(const std::string& name);
    CommandResult forceQuit(std::int32_t pid);
    CommandResult quitAll();

private:
    CommandResult start(const InstalledApp& app);

    ApplicationCatalog& m_apps;
};

} // namespace orvane
