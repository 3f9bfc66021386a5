#pragma once

#include "cli_args.h"

#include "protocol/command.h"
#include "protocol/result.h"

namespace orvane::phone {

// "cmd+shift+c", "ctrl+left", "return": modifiers joined to one key by "+".
Result<KeyShortcut> parseKeyCombo(std::string_view combo);

// True for the command words that stand for a `run` (key, type, media, ...).
bool isFriendlyVerb(const std::string& verb);

// The OrvaneCommand an invocation such as `key cmd+c` or `volume 30` stands
// for. Errors are usage errors and name what was expected.
Result<OrvaneCommand> parseFriendlyCommand(const Invocation& invocation);

} // namespace orvane::phone
