#pragma once

#include <QString>

namespace orvane {

// A shortcut as the phone's result text writes it ("⌃⇧⌘↩") in the key
// names of a Linux desktop ("Ctrl+Shift+Super+Enter"), wherever it stands in
// `text`; everything else stays as it is. For what this computer shows: the
// phone keeps its glyphs.
QString withDesktopKeyNames(const QString& text);

} // namespace orvane
