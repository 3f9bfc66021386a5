#pragma once

#include <QString>

class QWidget;

// What "Allow" does on Linux. The desktop has no privacy panes to open: each
// permission is really a service Orvane needs, so a short dialog says what
// that service is and how to get it.
namespace orvane {

enum class Permission { accessibility, screenRecording, automation };

// Shows the help for one permission near `parent`; a second call raises the
// dialog already open.
void showPermissionHelp(Permission permission, QWidget* parent);

// The Linux meaning of asking for the input permission: the help above.
void requestAccessibility(QWidget* parent);
// The Linux meaning of opening a privacy pane by its anchor
// ("Privacy_ScreenCapture", "Privacy_Automation", "Privacy_Accessibility");
// an anchor we do not know does nothing.
void openPrivacySettings(const QString& anchor, QWidget* parent);

} // namespace orvane
