#pragma once

#include "protocol/command.h"

#include <QString>

// The short texts that name a command: the result of key commands, the
// server's last command and the activity log.
namespace orvane {

QString keyLabel(KeyShortcut::Key key);
// Modifier glyphs in the fixed order control, option, shift, command, each
// once, then the key's label.
QString shortcutLabel(const KeyShortcut& shortcut);
QString mediaActionLabel(const MediaAction& action);
QString systemActionLabel(const SystemAction& action);
QString windowActionLabel(WindowAction action);
QString folderLabel(MacFolder folder);
QString commandLabel(const OrvaneCommand& command);

// The integer part of a finite value, saturated to the 64-bit range; 0 for
// NaN. Phones may send any double.
std::int64_t truncatedSeconds(double value);

} // namespace orvane
