#pragma once

#include "command_result.h"
#include "platform/display_source.h"
#include "platform/pasteboard.h"
#include "platform/workspace.h"
#include "protocol/command.h"
#include "protocol/records.h"
#include "protocol/types.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Clipboard, links, folders, the user's own shortcuts and the display list.
class DesktopCommands {
public:
    using Completion = std::function<void(CommandResult)>;

    DesktopCommands(Workspace& workspace, Pasteboard& pasteboard, DisplaySource& displays)
        : m_workspace(workspace), m_pasteboard(pasteboard), m_displays(displays)
    {
    }

    void setClipboard(const std::string& text, Completion done);
    std::optional<std::string> clipboardText();
    // Links and folders are answered once the desktop's opener has said
    // whether it took them, for the phone on connection `owner`.
    void openURL(const std::string& link, const Uuid& owner, Completion done);
    void openFolder(MacFolder folder, const Uuid& owner, Completion done);
    // Drops the answers still to come for a connection that went away.
    void cancel(const Uuid& owner) { m_waiting.erase(owner); }
    CommandResult runShortcut(const std::string& name);

    QString folderPath(MacFolder folder);
    // Left to right, mirrors left out.
    std::vector<DisplayInfo> listDisplays();

private:
    Workspace::Opened answerLater(const Uuid& owner, Completion done,
                                  std::function<CommandResult(bool opened)> result);

    Workspace& m_workspace;
    Pasteboard& m_pasteboard;
    DisplaySource& m_displays;
    // One token for each connection with answers to come; cancel() drops it.
    std::map<Uuid, std::shared_ptr<int>> m_waiting;
};

// The user's shortcuts file: one "name = command line" per line; blank
// lines, "#" and ";" comments and "[section]" headers are ignored. The
// command line is split into words at spaces, with double quotes keeping
// spaces inside a word; no shell runs it.
std::optional<QStringList> findShortcut(const QString& fileText, const QString& name);

} // namespace orvane
