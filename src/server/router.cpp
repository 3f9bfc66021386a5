// What an authenticated phone may ask for: commands with their results and
// activity lines, and pointer input.
#include "orvane_server.h"

#include "commands/labels.h"

#include <QPointer>

namespace orvane {

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};

// Media, system and music commands do not count as someone at the desktop:
// they must not wake the display.
bool wakesDisplay(const OrvaneCommand& command)
{
    return !std::holds_alternative<command::Media>(command) &&
           !std::holds_alternative<command::System>(command) &&
           !std::holds_alternative<command::PlayMusic>(command);
}

} // namespace

void OrvaneServer::route(const Uuid& id, const OrvaneMessage& message)
{
    std::visit(Overloaded{
                   [&](const msg::Run& run) { runCommand(id, run); },
                   [&](const msg::Pointer& pointer) { handlePointer(id, pointer.value); },
                   [&](const msg::RequestClipboard&) {
                       if (m_env.commands)
                           sendMessage(msg::Clipboard{{m_env.commands->desktop().clipboardText()}},
                                       id);
                   },
                   [](const auto&) {},
               },
               message);
}

void OrvaneServer::runCommand(const Uuid& id, const msg::Run& run)
{
    CommandDispatcher* commands = m_env.commands;
    if (!commands)
        return;
    if (wakesDisplay(run.command))
        commands->declareUserActivity();
    const bool logged = !std::holds_alternative<command::TypeText>(run.command);
    QString label = commandLabel(run.command);
    QPointer<OrvaneServer> self(this);
    commands->execute(run.command, id,
                      [self, id, requestID = run.id, label, logged](CommandResult result) {
                          if (!self)
                              return;
                          self->setLastCommand(label);
                          // Typed text stays out of the log: it may be a password.
                          if (logged)
                              self->addActivity(result.message, self->deviceName(id),
                                                result.success);
                          self->sendMessage(
                              msg::Result{requestID, result.success, result.message.toStdString()},
                              id);
                      });
}

void OrvaneServer::handlePointer(const Uuid&, const PointerEvent& event)
{
    CommandDispatcher* commands = m_env.commands;
    if (!commands || !commands->accessibilityGranted())
        return;
    commands->declareUserActivity();
    commands->postPointerEvent(event, m_selectedDisplay);
}

QString OrvaneServer::deviceName(const Uuid& id) const
{
    for (const auto& device : m_devices) {
        if (device.id == id)
            return device.name;
    }
    return {};
}

} // namespace orvane
