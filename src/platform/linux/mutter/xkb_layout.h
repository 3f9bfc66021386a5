#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_set>

namespace orvane {

// A keyboard layout by its XKB names, e.g. "de" with variant "nodeadkeys".
struct XkbLayoutName {
    QString layout = QStringLiteral("us");
    QString variant;
    bool operator==(const XkbLayoutName&) const = default;
};

// The first XKB layout in GNOME's input sources as `gsettings get` prints
// them, e.g. "[('xkb', 'de+nodeadkeys'), ('ibus', 'anthy')]"; "us" when
// there is none or the text makes no sense.
XkbLayoutName firstXkbInputSource(const QString& gsettingsValue);

// Which keysyms one layout can type, on any of its levels: those can be
// sent as keys, everything else must be pasted.
class XkbLayoutKeysyms {
public:
    // An empty set (nothing is typeable) when the layout does not compile.
    explicit XkbLayoutKeysyms(const XkbLayoutName& name);
    bool contains(std::uint32_t keysym) const { return m_keysyms.count(keysym) > 0; }
    bool isEmpty() const { return m_keysyms.empty(); }

private:
    std::unordered_set<std::uint32_t> m_keysyms;
};

} // namespace orvane
