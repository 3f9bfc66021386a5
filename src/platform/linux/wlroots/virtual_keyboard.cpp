#include "virtual_keyboard.h"

#include "wayland_connection.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <QLoggingCategory>

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace orvane {

namespace {
Q_LOGGING_CATEGORY(lcKeyboard, "orvane.wlroots.keyboard")

constexpr std::uint32_t released = 0; // wl_keyboard.key_state
constexpr std::uint32_t pressed = 1;
} // namespace

unsigned inputTime()
{
    using namespace std::chrono;
    // Strictly increasing: programs tell a double click from two clicks,
    // and a press from a repeat, by these times.
    static unsigned last = 0;
    const auto now =
        unsigned(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    last = int(now - last) > 0 ? now : last + 1;
    return last;
}

VirtualKeyboard::VirtualKeyboard(WaylandConnection& connection,
                                 zwp_virtual_keyboard_manager_v1* manager, wl_seat* seat)
    : m_connection(connection),
      m_keyboard(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat))
{
    // The compositor refuses keys from a keyboard without a keymap.
    upload();
}

VirtualKeyboard::~VirtualKeyboard()
{
    zwp_virtual_keyboard_v1_destroy(m_keyboard);
    m_connection.flush();
}

bool VirtualKeyboard::upload()
{
    if (m_uploaded == m_keymap.revision())
        return true;
    const std::string text = m_keymap.text();
    // The compositor maps the keymap from a file; one in memory will do.
    const int fd = memfd_create("orvane-keymap", MFD_CLOEXEC);
    if (fd < 0) {
        qCWarning(lcKeyboard) << "no memory file for the keymap:" << std::strerror(errno);
        return false;
    }
    // Written with its terminating zero, which the format asks for.
    const bool written = ::write(fd, text.c_str(), text.size() + 1) == ssize_t(text.size() + 1);
    if (written)
        zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       std::uint32_t(text.size() + 1));
    // libwayland sends a copy of the descriptor; ours can go now.
    ::close(fd);
    if (!written) {
        qCWarning(lcKeyboard) << "could not write the keymap";
        return false;
    }
    m_uploaded = m_keymap.revision();
    return true;
}

void VirtualKeyboard::key(unsigned code, bool down)
{
    zwp_virtual_keyboard_v1_key(m_keyboard, inputTime(), code, down ? pressed : released);
    // The compositor takes keys as they come and modifiers only as we say.
    if (const std::uint32_t mask = modifierMask(code)) {
        m_modifiers = down ? (m_modifiers | mask) : (m_modifiers & ~mask);
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, m_modifiers, 0, 0, 0);
    }
}

void VirtualKeyboard::press(const std::vector<std::pair<unsigned, bool>>& presses)
{
    if (!upload())
        return;
    for (const auto& [code, down] : presses)
        key(code, down);
    m_connection.flush();
}

void VirtualKeyboard::type(const std::vector<xkb_keysym_t>& keysyms)
{
    // Each run fits one keymap; the next keymap replaces it only after the
    // run's keys are all released, so no key changes meaning while down.
    for (const std::vector<xkb_keysym_t>& run : keymapRuns(keysyms)) {
        if (!m_keymap.provide(run) || !upload())
            return;
        for (const xkb_keysym_t keysym : run) {
            if (const unsigned code = m_keymap.codeFor(keysym)) {
                key(code, true);
                key(code, false);
            }
        }
    }
    m_connection.flush();
}

} // namespace orvane
