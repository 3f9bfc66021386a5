#pragma once

#include "command_result.h"
#include "platform/display_source.h"
#include "platform/pasteboard.h"
#include "platform/workspace.h"
#include "protocol/command.h"
#include "protocol/records.h"

#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Clipboard, links, folders, the user's own shortcuts and the display list.
class DesktopCommands {
public:
    DesktopCommands(Workspace& workspace, Pasteboard& pasteboard, DisplaySource& displays)
        : m_workspace(workspace), m_pasteboard(pasteboard), m_displays(displays)
    {
    }

    CommandResult setClipboard(const std::string& text);
    std::optional<std::string> clipboardText();
    CommandResult openURL(const std::string& link);
    CommandResult openFolder(MacFolder folder);
    CommandResult runShortcut(const std::string& name);

    QString folderPath(MacFolder folder);
    // Left to right, mirrors left out.
    std::vector<DisplayInfo> listDisplays();

private:
    Workspace& m_workspace;
    Pasteboard& m_pasteboard;
    DisplaySource& m_displays;
};

// The user's shortcuts file: one "name = command line" per line; blank
// lines, "#" and ";" comments and "[section]" headers are ignored. The
// command line is split into words at spaces, with double quotes keeping
// spaces inside a word; no shell runs it.
std::optional<QStringList> findShortcut(const QString& fileText, const QString& name);

} // namespace orvane
