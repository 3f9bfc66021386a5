#include "dispatcher.h"

#include "protocol/overloaded.h"

namespace orvane {

void CommandDispatcher::execute(const OrvaneCommand& command, const Uuid& owner, Completion done)
{
    using namespace command;
    CommandFamilies& f = m_families;
    std::visit(
        Overloaded{
            [&](const LaunchApp& c) { done(f.apps.launch(c.value)); },
            [&](const OpenApp& c) { done(f.apps.open(c.value.text)); },
            [&](const QuitApp& c) { done(f.apps.quit(c.value)); },
            [&](const QuitAppNamed& c) { done(f.apps.quitNamed(c.value.text)); },
            [&](const ForceQuit& c) { done(f.apps.forceQuit(c.value)); },
            [&](const QuitAllApps&) { done(f.apps.quitAll()); },
            [&](const PressShortcut& c) { f.keyboard.press(c.value, 1, std::move(done)); },
            [&](const PressKey& c) { f.keyboard.press(c.shortcut, c.times, std::move(done)); },
            [&](const TypeText& c) { f.keyboard.type(owner, c.value, std::move(done)); },
            [&](const RunShortcut& c) { done(f.desktop.runShortcut(c.value.text)); },
            [&](const SetClipboard& c) { f.desktop.setClipboard(c.value, std::move(done)); },
            [&](const OpenURL& c) { f.desktop.openURL(c.value, owner, done); },
            [&](const OpenFolder& c) { f.desktop.openFolder(c.value, owner, done); },
            [&](const Media& c) { done(f.media.perform(c.value)); },
            [&](const PlayMusic& c) { f.media.playMusic(c.query.text, c.player, done); },
            [&](const System& c) { done(f.system.perform(c.value)); },
            [&](const Window& c) { done(f.windows.perform(c.value)); },
            [&](const FocusWindow& c) { done(f.windows.focus(c.value)); },
        },
        command);
}

} // namespace orvane
