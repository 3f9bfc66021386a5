#include "keymap.h"

#include <X11/keysym.h>

#include <algorithm>
#include <array>

namespace orvane {

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;
// Keysyms from this base up carry a Unicode code point in their low bits.
constexpr xcb_keysym_t unicodeKeysymBase = 0x01000000;

using Symbol = KeyShortcut::Key;

// Indexed by KeyShortcut::Key, in declaration order.
constexpr std::array<xcb_keysym_t, 53> keySymbols = {
    XK_a,      XK_b,      XK_c,           XK_d,
    XK_e,      XK_f,      XK_g,           XK_h,
    XK_i,      XK_j,      XK_k,           XK_l,
    XK_m,      XK_n,      XK_o,           XK_p,
    XK_q,      XK_r,      XK_s,           XK_t,
    XK_u,      XK_v,      XK_w,           XK_x,
    XK_y,      XK_z,      XK_0,           XK_1,
    XK_2,      XK_3,      XK_4,           XK_5,
    XK_6,      XK_7,      XK_8,           XK_9,
    XK_space,  XK_Return, XK_Tab,         XK_BackSpace,
    XK_Escape, XK_Left,   XK_Right,       XK_Up,
    XK_Down,   XK_comma,  XK_period,      XK_slash,
    XK_minus,  XK_equal,  XK_bracketleft, XK_bracketright,
    XK_grave,
};
static_assert(static_cast<std::size_t>(Symbol::grave) + 1 == keySymbols.size());

// Decodes one code point at `pos` and advances past it; a malformed sequence
// yields U+FFFD and advances one byte, so decoding resynchronises at once.
char32_t decodeOne(std::string_view text, std::size_t& pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    ++pos;
    if (lead < 0x80)
        return lead;
    int extra = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
        return replacementCharacter;
    }
    if (pos + static_cast<std::size_t>(extra) > text.size())
        return replacementCharacter;
    for (int i = 0; i < extra; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i)]);
        if ((next & 0xC0) != 0x80)
            return replacementCharacter;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return replacementCharacter;
    pos += static_cast<std::size_t>(extra);
    return value;
}

} // namespace

xcb_keysym_t keysymForKey(KeyShortcut::Key key)
{
    const auto index = static_cast<std::size_t>(key);
    return index < keySymbols.size() ? keySymbols[index] : xcb_keysym_t(XCB_NO_SYMBOL);
}

xcb_keysym_t keysymForCodePoint(char32_t codePoint)
{
    if (codePoint == U'\n' || codePoint == U'\r')
        return XK_Return;
    if (codePoint == U'\t')
        return XK_Tab;
    if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint < 0xA0))
        return 0;
    // Latin-1 keysyms are the code points themselves; everything else has the
    // Unicode keysym, which every toolkit turns back into the character.
    if (codePoint <= 0xFF)
        return codePoint;
    return unicodeKeysymBase | codePoint;
}

std::vector<xcb_keysym_t> keysymsForText(std::string_view utf8)
{
    std::vector<xcb_keysym_t> keysyms;
    keysyms.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t codePoint = decodeOne(utf8, pos);
        if (codePoint == U'\r' && pos < utf8.size() && utf8[pos] == '\n')
            ++pos;
        if (xcb_keysym_t keysym = keysymForCodePoint(codePoint))
            keysyms.push_back(keysym);
    }
    return keysyms;
}

Keymap::Keymap(xcb_keycode_t minKeycode, unsigned perKeycode, std::span<const xcb_keysym_t> keysyms,
               std::span<const xcb_keycode_t> ignored)
    : m_minKeycode(minKeycode), m_perKeycode(perKeycode), m_keysyms(keysyms.begin(), keysyms.end())
{
    if (m_perKeycode == 0)
        return;
    const std::size_t keycodes = m_keysyms.size() / m_perKeycode;
    // All plain levels first, so a keysym on a plain level wins over one that
    // needs Shift; emplace keeps the lowest keycode within a level.
    for (unsigned level = 0; level < std::min(2u, m_perKeycode); ++level) {
        for (std::size_t i = 0; i < keycodes; ++i) {
            const auto keycode = static_cast<xcb_keycode_t>(m_minKeycode + i);
            const xcb_keysym_t keysym = m_keysyms[i * m_perKeycode + level];
            if (keysym == XCB_NO_SYMBOL ||
                std::find(ignored.begin(), ignored.end(), keycode) != ignored.end())
                continue;
            m_index.emplace(keysym, Key{keycode, level == 1});
        }
    }
}

std::optional<Keymap::Key> Keymap::find(xcb_keysym_t keysym) const
{
    if (auto found = m_index.find(keysym); found != m_index.end())
        return found->second;
    return std::nullopt;
}

std::span<const xcb_keysym_t> Keymap::row(xcb_keycode_t keycode) const
{
    if (m_perKeycode == 0 || keycode < m_minKeycode)
        return {};
    const std::size_t start = std::size_t(keycode - m_minKeycode) * m_perKeycode;
    if (start + m_perKeycode > m_keysyms.size())
        return {};
    return std::span<const xcb_keysym_t>(m_keysyms).subspan(start, m_perKeycode);
}

std::vector<xcb_keycode_t> Keymap::emptyKeycodes() const
{
    std::vector<xcb_keycode_t> empty;
    if (m_perKeycode == 0)
        return empty;
    for (std::size_t i = m_keysyms.size() / m_perKeycode; i-- > 0;) {
        const auto keycode = static_cast<xcb_keycode_t>(m_minKeycode + i);
        const auto keysyms = row(keycode);
        if (std::all_of(keysyms.begin(), keysyms.end(),
                        [](xcb_keysym_t k) { return k == XCB_NO_SYMBOL; }))
            empty.push_back(keycode);
    }
    return empty;
}

} // namespace orvane
