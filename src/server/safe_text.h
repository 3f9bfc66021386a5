#pragma once

#include <QString>

#include <string>

namespace orvane {

// Characters that hide or rearrange text: C0 and C1 controls, and the
// bidirectional embeddings, overrides, isolates and marks. A name holding
// them can show as something it is not.
bool isUnsafeCharacter(char32_t c);

// Also the invisible format characters (zero-width spaces and joiners, the
// soft hyphen ...) and the line and paragraph separators: a phone's name is
// shown on one line, in the terminal, the window and the activity log.
bool isDeceptiveCharacter(char32_t c);

// A phone's name as it may be stored and shown: deceptive characters
// removed, then cut to `maximumCharacters` characters.
QString cleanDeviceName(const std::string& name, qsizetype maximumCharacters);

// Text a phone has a say in, as the activity log, the terminal, the window
// and notifications show it: deceptive characters removed, and cut to 200
// characters with an ellipsis, so a huge name costs neither memory nor a
// screenful. Reads no further into `text` than it keeps.
constexpr qsizetype maximumShownCharacters = 200;
QString shownText(const QString& text);

// Text from a phone or another program made fit for one terminal line:
// controls become U+FFFD, so nothing can move the cursor or recolour it.
QString printableLine(const QString& text);

} // namespace orvane
