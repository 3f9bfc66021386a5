#include "dispatcher.h"
#include "protocol/overloaded.h"

#include "labels.h"

#include <algorithm>

namespace orvane {

namespace {

constexpr std::int64_t maximumPresses = 60;

CommandResult accessibilityRequired()
{
    return CommandResult::failure(tr("Accessibility permission required on the Mac"));
}

ModifierMask maskOf(const std::vector<KeyShortcut::Modifier>& modifiers)
{
    ModifierMask mask = 0;
    for (auto modifier : modifiers)
        mask |= modifierBit(modifier);
    return mask;
}

} // namespace

CommandDispatcher::CommandDispatcher(CommandEnvironment environment)
    : m_env(std::move(environment)),
      m_apps(*m_env.platform->applications),
      m_desktop(*m_env.platform->workspace, *m_env.platform->pasteboard, *m_env.platform->displays),
      m_pointer(*m_env.platform->input, *m_env.platform->displays, m_env.monotonicMs),
      m_typist(*m_env.platform->input),
      m_activity(*m_env.platform->power, m_env.monotonicMs)
{
    if (!m_env.media)
        m_env.media = std::make_unique<NoMediaCommands>();
    if (!m_env.system)
        m_env.system = std::make_unique<NoSystemCommands>();
    if (!m_env.windows)
        m_env.windows = std::make_unique<NoWindowCommands>();
}

bool CommandDispatcher::accessibilityGranted()
{
    return m_env.platform->input->isAvailable();
}

void CommandDispatcher::postPointerEvent(const PointerEvent& event, std::uint32_t displayID)
{
    if (accessibilityGranted())
        m_pointer.post(event, displayID);
}

void CommandDispatcher::execute(const OrvaneCommand& command, const Uuid& owner, Completion done)
{
    if (const auto* typing = std::get_if<command::TypeText>(&command)) {
        if (!accessibilityGranted()) {
            done(accessibilityRequired());
            return;
        }
        m_typist.type(owner, typing->value,
                      [done = std::move(done)] { done(CommandResult::ok(tr("Typed"))); });
        return;
    }
    done(run(command));
}

void CommandDispatcher::cancel(const Uuid& owner)
{
    m_typist.cancel(owner);
}

CommandResult CommandDispatcher::pressKeys(const KeyShortcut& shortcut, std::int64_t times)
{
    if (!accessibilityGranted())
        return accessibilityRequired();
    auto& input = *m_env.platform->input;
    ModifierMask mask = maskOf(shortcut.modifiers);
    std::int64_t presses = std::clamp<std::int64_t>(times, 1, maximumPresses);
    for (std::int64_t i = 0; i < presses; ++i)
        input.pressKey(shortcut.key, mask);
    input.flush();
    return CommandResult::ok(shortcutLabel(shortcut));
}

CommandResult CommandDispatcher::run(const OrvaneCommand& command)
{
    using namespace command;
    return std::visit(
        Overloaded{
            [&](const LaunchApp& c) { return m_apps.launch(c.value); },
            [&](const OpenApp& c) { return m_apps.open(c.value); },
            [&](const QuitApp& c) { return m_apps.quit(c.value); },
            [&](const QuitAppNamed& c) { return m_apps.quitNamed(c.value); },
            [&](const ForceQuit& c) { return m_apps.forceQuit(c.value); },
            [&](const QuitAllApps&) { return m_apps.quitAll(); },
            [&](const PressShortcut& c) { return pressKeys(c.value, 1); },
            [&](const PressKey& c) { return pressKeys(c.shortcut, c.times); },
            [&](const TypeText&) { return CommandResult{}; }, // typed by execute(), never here
            [&](const RunShortcut& c) { return m_desktop.runShortcut(c.value); },
            [&](const SetClipboard& c) { return m_desktop.setClipboard(c.value); },
            [&](const OpenURL& c) { return m_desktop.openURL(c.value); },
            [&](const OpenFolder& c) { return m_desktop.openFolder(c.value); },
            [&](const Media& c) { return m_env.media->perform(c.value); },
            [&](const PlayMusic& c) { return m_env.media->playMusic(c.query, c.player); },
            [&](const System& c) { return m_env.system->perform(c.value); },
            [&](const Window& c) { return m_env.windows->perform(c.value); },
            [&](const FocusWindow& c) { return m_env.windows->focus(c.value); },
        },
        command);
}

} // namespace orvane
