#include "typing_keymap.h"

#include "platform/linux/evdev_keys.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <array>
#include <set>
#include <utility>

namespace orvane {

namespace {

// The first spare key; the US keys all lie below it.
constexpr unsigned firstSpareCode = 128;
// xkb numbers keys from 8 upwards and the format stops at 255.
constexpr unsigned xkbOffset = 8;
static_assert(firstSpareCode + TypingKeymap::spareKeys + xkbOffset <= 256);

// What each key of the US keyboard types without and with Shift, indexed
// by KeyShortcut::Key like evdev::keyCodes.
constexpr std::array<std::pair<xkb_keysym_t, xkb_keysym_t>, 53> usKeysyms = [] {
    std::array<std::pair<xkb_keysym_t, xkb_keysym_t>, 53> syms{};
    for (unsigned i = 0; i < 26; ++i)
        syms[i] = {XKB_KEY_a + i, XKB_KEY_A + i};
    constexpr std::array<xkb_keysym_t, 10> shiftedDigits = {
        XKB_KEY_parenright, XKB_KEY_exclam,    XKB_KEY_at,          XKB_KEY_numbersign,
        XKB_KEY_dollar,     XKB_KEY_percent,   XKB_KEY_asciicircum, XKB_KEY_ampersand,
        XKB_KEY_asterisk,   XKB_KEY_parenleft,
    };
    for (unsigned i = 0; i < 10; ++i)
        syms[26 + i] = {XKB_KEY_0 + i, shiftedDigits[i]};
    constexpr std::array<std::pair<xkb_keysym_t, xkb_keysym_t>, 17> rest = {{
        {XKB_KEY_space, XKB_KEY_space},
        {XKB_KEY_Return, XKB_KEY_Return},
        {XKB_KEY_Tab, XKB_KEY_ISO_Left_Tab},
        {XKB_KEY_BackSpace, XKB_KEY_BackSpace},
        {XKB_KEY_Escape, XKB_KEY_Escape},
        {XKB_KEY_Left, XKB_KEY_Left},
        {XKB_KEY_Right, XKB_KEY_Right},
        {XKB_KEY_Up, XKB_KEY_Up},
        {XKB_KEY_Down, XKB_KEY_Down},
        {XKB_KEY_comma, XKB_KEY_less},
        {XKB_KEY_period, XKB_KEY_greater},
        {XKB_KEY_slash, XKB_KEY_question},
        {XKB_KEY_minus, XKB_KEY_underscore},
        {XKB_KEY_equal, XKB_KEY_plus},
        {XKB_KEY_bracketleft, XKB_KEY_braceleft},
        {XKB_KEY_bracketright, XKB_KEY_braceright},
        {XKB_KEY_grave, XKB_KEY_asciitilde},
    }};
    for (unsigned i = 0; i < rest.size(); ++i)
        syms[36 + i] = rest[i];
    return syms;
}();
static_assert(usKeysyms.size() == evdev::keyCodes.size());

// With no virtual modifiers, xkb numbers the real ones in this order:
// Shift 0, Lock 1, Control 2, Mod1 3 ... Mod5 7.
struct ModifierKey {
    unsigned code;
    xkb_keysym_t keysym;
    const char* modifier;
    std::uint32_t mask;
};
constexpr std::array<ModifierKey, 4> modifierKeys = {{
    {KEY_LEFTCTRL, XKB_KEY_Control_L, "Control", 1u << 2},
    {KEY_LEFTALT, XKB_KEY_Alt_L, "Mod1", 1u << 3},
    {KEY_LEFTSHIFT, XKB_KEY_Shift_L, "Shift", 1u << 0},
    {KEY_LEFTMETA, XKB_KEY_Super_L, "Mod4", 1u << 6},
}};

// Keysyms as xkb writes them (Unicode ones as U+hex), so any xkbcommon
// reads them back.
std::string keysymName(xkb_keysym_t keysym)
{
    std::array<char, 64> name{};
    if (xkb_keysym_get_name(keysym, name.data(), name.size()) <= 0)
        return "NoSymbol";
    return name.data();
}

std::string keyName(unsigned code)
{
    return "<I" + std::to_string(code + xkbOffset) + ">";
}

// Types, modifiers and their actions, in full, so the keymap compiles the
// same on any desktop, whatever xkb data it has installed.
constexpr const char* typesAndCompat = R"(  xkb_types "orvane" {
    type "ONE_LEVEL" { modifiers = none; level_name[Level1] = "Any"; };
    type "TWO_LEVEL" { modifiers = Shift; map[Shift] = Level2;
      level_name[Level1] = "Base"; level_name[Level2] = "Shift"; };
    type "ALPHABETIC" { modifiers = Shift+Lock; map[Shift] = Level2; map[Lock] = Level2;
      level_name[Level1] = "Base"; level_name[Level2] = "Caps"; };
  };
  xkb_compatibility "orvane" {
    virtual_modifiers Alt,Super;
    interpret Alt_L { virtualModifier = Alt; action = SetMods(modifiers=modMapMods,clearLocks); };
    interpret Super_L { virtualModifier = Super; action = SetMods(modifiers=modMapMods,clearLocks); };
    interpret Any+AnyOf(all) { action = SetMods(modifiers=modMapMods,clearLocks); };
  };
)";

} // namespace

std::uint32_t modifierMask(unsigned code)
{
    for (const ModifierKey& key : modifierKeys)
        if (key.code == code)
            return key.mask;
    return 0;
}

unsigned TypingKeymap::codeFor(xkb_keysym_t keysym) const
{
    for (std::size_t i = 0; i < usKeysyms.size(); ++i)
        if (usKeysyms[i].first == keysym)
            return evdev::keyCodes[i];
    const auto spare = m_spare.find(keysym);
    return spare == m_spare.end() ? 0 : spare->second;
}

bool TypingKeymap::provide(const std::vector<xkb_keysym_t>& keysyms)
{
    std::set<xkb_keysym_t> wanted; // those with no key of the US keyboard
    std::set<xkb_keysym_t> missing;
    for (const xkb_keysym_t keysym : keysyms) {
        if (keysym == XKB_KEY_NoSymbol)
            continue;
        const unsigned code = codeFor(keysym);
        if (code == 0)
            missing.insert(keysym);
        if (code == 0 || code >= firstSpareCode)
            wanted.insert(keysym);
    }
    if (missing.empty())
        return true;
    if (wanted.size() > spareKeys)
        return false;
    // No room beside the keys given out before: start again with only the
    // ones asked for now.
    if (m_spare.size() + missing.size() > spareKeys) {
        m_spare.clear();
        missing = wanted;
    }
    std::set<unsigned> used;
    for (const auto& [keysym, code] : m_spare)
        used.insert(code);
    unsigned code = firstSpareCode;
    for (const xkb_keysym_t keysym : missing) {
        while (used.count(code))
            ++code;
        m_spare[keysym] = code++;
    }
    ++m_revision;
    return true;
}

std::string TypingKeymap::text() const
{
    std::string keycodes = "  xkb_keycodes \"orvane\" {\n    minimum = 8;\n    maximum = 255;\n";
    std::string symbols = "  xkb_symbols \"orvane\" {\n";
    auto addKey = [&](unsigned code, const std::string& levels) {
        keycodes += "    " + keyName(code) + " = " + std::to_string(code + xkbOffset) + ";\n";
        symbols += "    key " + keyName(code) + " { [ " + levels + " ] };\n";
    };
    for (std::size_t i = 0; i < usKeysyms.size(); ++i)
        addKey(evdev::keyCodes[i],
               keysymName(usKeysyms[i].first) + ", " + keysymName(usKeysyms[i].second));
    for (const ModifierKey& key : modifierKeys) {
        addKey(key.code, keysymName(key.keysym));
        symbols +=
            "    modifier_map " + std::string(key.modifier) + " { " + keyName(key.code) + " };\n";
    }
    for (const auto& [keysym, code] : m_spare)
        addKey(code, keysymName(keysym));
    return "xkb_keymap {\n" + keycodes + "  };\n" + typesAndCompat + symbols + "  };\n};\n";
}

std::vector<std::vector<xkb_keysym_t>> keymapRuns(const std::vector<xkb_keysym_t>& keysyms)
{
    std::vector<std::vector<xkb_keysym_t>> runs(1);
    std::set<xkb_keysym_t> distinct;
    TypingKeymap us; // holds only the US keys
    for (const xkb_keysym_t keysym : keysyms) {
        if (us.codeFor(keysym) == 0 && !distinct.count(keysym)) {
            if (distinct.size() == TypingKeymap::spareKeys) {
                runs.emplace_back();
                distinct.clear();
            }
            distinct.insert(keysym);
        }
        runs.back().push_back(keysym);
    }
    if (runs.back().empty())
        runs.pop_back();
    return runs;
}

} // namespace orvane
