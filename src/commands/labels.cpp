#include "labels.h"
#include "protocol/overloaded.h"

#include "command_result.h"

#include <cmath>
#include <limits>

namespace orvane {

namespace {

QString fromUtf8(const std::string& text)
{
    return QString::fromStdString(text);
}

// Typed text may be megabytes long; the label shows its beginning, as
// names are shown, since laying out a megabyte in the tray takes seconds.
QString beginning(const std::string& text)
{
    std::string shown = ShortText::cut(text);
    return shown.size() < text.size() ? fromUtf8(shown) + QStringLiteral("…") : fromUtf8(shown);
}

} // namespace

std::int64_t truncatedSeconds(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double limit = 9.2e18; // inside the int64 range
    return static_cast<std::int64_t>(std::trunc(std::clamp(value, -limit, limit)));
}

QString keyLabel(KeyShortcut::Key key)
{
    using K = KeyShortcut::Key;
    switch (key) {
    case K::space:
        return tr("Space");
    case K::return_:
        return QStringLiteral("↩");
    case K::tab:
        return QStringLiteral("⇥");
    case K::delete_:
        return QStringLiteral("⌫");
    case K::escape:
        return QStringLiteral("⎋");
    case K::left:
        return QStringLiteral("←");
    case K::right:
        return QStringLiteral("→");
    case K::up:
        return QStringLiteral("↑");
    case K::down:
        return QStringLiteral("↓");
    default:
        break;
    }
    auto text = enumText(key);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())).toUpper();
}

QString shortcutLabel(const KeyShortcut& shortcut)
{
    using M = KeyShortcut::Modifier;
    auto has = [&](M modifier) {
        return std::find(shortcut.modifiers.begin(), shortcut.modifiers.end(), modifier) !=
               shortcut.modifiers.end();
    };
    QString label;
    if (has(M::control))
        label += QStringLiteral("⌃");
    if (has(M::option))
        label += QStringLiteral("⌥");
    if (has(M::shift))
        label += QStringLiteral("⇧");
    if (has(M::command))
        label += QStringLiteral("⌘");
    return label + keyLabel(shortcut.key);
}

QString mediaActionLabel(const MediaAction& action)
{
    return std::visit(Overloaded{
                          [](const media::SetVolume& a) { return tr("Volume %1%").arg(a.volume); },
                          [](const media::Seek&) { return tr("Seek"); },
                          [](const media::Skip& a) {
                              // "-0.5" is still a step back, though its integer part is 0.
                              if (a.seconds >= 0 || std::isnan(a.seconds))
                                  return tr("Forward %1 s").arg(truncatedSeconds(a.seconds));
                              return tr("Back %1 s").arg(-truncatedSeconds(a.seconds));
                          },
                          [](const media::Play&) { return tr("Play"); },
                          [](const media::Pause&) { return tr("Pause"); },
                          [](const media::PlayPause&) { return tr("Play/Pause"); },
                          [](const media::Next&) { return tr("Next track"); },
                          [](const media::Previous&) { return tr("Previous track"); },
                          [](const media::VolumeUp&) { return tr("Volume up"); },
                          [](const media::VolumeDown&) { return tr("Volume down"); },
                          [](const media::ToggleShuffle&) { return tr("Shuffle"); },
                      },
                      action);
}

QString systemActionLabel(const SystemAction& action)
{
    return std::visit(Overloaded{
                          [](const sys::SetVolume& a) { return tr("Volume %1%").arg(a.volume); },
                          [](const sys::VolumeUp&) { return tr("Volume up"); },
                          [](const sys::VolumeDown&) { return tr("Volume down"); },
                          [](const sys::ToggleMute&) { return tr("Muted"); },
                          [](const sys::BrightnessUp&) { return tr("Brightness up"); },
                          [](const sys::BrightnessDown&) { return tr("Brightness down"); },
                          [](const sys::ToggleDarkMode&) { return tr("Appearance changed"); },
                          [](const sys::DisplaySleep&) { return tr("Display turned off"); },
                          [](const sys::Sleep&) { return tr("Mac is going to sleep"); },
                          [](const sys::Lock&) { return tr("Screen locked"); },
                          [](const sys::SetKeepAwake& a) {
                              return a.enabled ? tr("The Mac stays awake")
                                               : tr("The Mac can sleep again");
                          },
                      },
                      action);
}

QString windowActionLabel(WindowAction action)
{
    switch (action) {
    case WindowAction::fullScreen:
        return tr("Full screen");
    case WindowAction::minimize:
        return tr("Minimize");
    case WindowAction::hideApp:
        return tr("Hide app");
    case WindowAction::close:
        return tr("Close window");
    case WindowAction::nextWindow:
        return tr("Next window");
    case WindowAction::leftHalf:
        return tr("Window to the left half");
    case WindowAction::rightHalf:
        return tr("Window to the right half");
    case WindowAction::maximize:
        return tr("Fill the screen");
    case WindowAction::center:
        return tr("Center window");
    }
    return {};
}

QString folderLabel(MacFolder folder)
{
    switch (folder) {
    case MacFolder::downloads:
        return tr("Downloads");
    case MacFolder::desktop:
        return tr("Desktop");
    case MacFolder::documents:
        return tr("Documents");
    case MacFolder::applications:
        return tr("Applications");
    case MacFolder::home:
        return tr("Home folder");
    case MacFolder::orvane:
        return tr("Orvane downloads");
    }
    return {};
}

QString commandLabel(const OrvaneCommand& command)
{
    using namespace command;
    return std::visit(
        Overloaded{
            [](const LaunchApp&) { return tr("Open app"); },
            [](const OpenApp& c) { return tr("Open %1").arg(fromUtf8(c.value.text)); },
            [](const PressShortcut& c) { return shortcutLabel(c.value); },
            [](const PressKey& c) {
                QString label = shortcutLabel(c.shortcut);
                if (c.times > 1)
                    label += QStringLiteral(" ×%1").arg(c.times);
                return label;
            },
            [](const RunShortcut& c) { return tr("Shortcut: %1").arg(fromUtf8(c.value.text)); },
            [](const TypeText& c) { return tr("Type: %1").arg(beginning(c.value)); },
            [](const Media& c) { return mediaActionLabel(c.value); },
            [](const PlayMusic& c) { return tr("Play %1").arg(fromUtf8(c.query.text)); },
            [](const QuitApp&) { return tr("Quit app"); },
            [](const QuitAppNamed& c) { return tr("Quit %1").arg(fromUtf8(c.value.text)); },
            [](const ForceQuit&) { return tr("Force quit"); },
            [](const QuitAllApps&) { return tr("Quit all apps"); },
            [](const System& c) { return systemActionLabel(c.value); },
            [](const SetClipboard&) { return tr("Copy to clipboard"); },
            [](const OpenURL&) { return tr("Open link"); },
            [](const Window& c) { return windowActionLabel(c.value); },
            [](const FocusWindow&) { return tr("Bring window to front"); },
            [](const OpenFolder& c) { return folderLabel(c.value); },
        },
        command);
}

} // namespace orvane
