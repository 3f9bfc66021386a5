// Text and keys to keysyms, and the keyboard map, without a server.
#include "platform/linux/x11/keymap.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <set>

namespace orvane {
namespace {

using Keysyms = std::vector<xcb_keysym_t>;
constexpr xcb_keysym_t bad = 0x0100FFFD; // U+FFFD, the replacement character

TEST(KeysymsForText, EveryCodePointTypesAndBrokenBytesShowAsReplacements)
{
    const std::pair<std::string_view, Keysyms> cases[] = {
        {"a\nb\r\nc\rd\n\r\t",
         {XK_a, XK_Return, XK_b, XK_Return, XK_c, XK_Return, XK_d, XK_Return, XK_Return, XK_Tab}},
        // Latin-1 is the code point, the rest Unicode keysyms: é € 😀
        {"A \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", {XK_A, XK_space, 0xE9, 0x010020AC, 0x0101F600}},
        // Control characters without a key, C1 (U+0085) too.
        {std::string_view("\x01x\x7F\0y\x1B\xC2\x85", 8), {XK_x, XK_y}},
        {"a\xFFz", {XK_a, bad, XK_z}},                            // never a UTF-8 byte
        {"a\x80z", {XK_a, bad, XK_z}},                            // continuation without a lead
        {"a\xE2\x82z", {XK_a, bad, bad, XK_z}},                   // truncated
        {"a\xC0\xAFz", {XK_a, bad, bad, XK_z}},                   // overlong "/"
        {"a\xED\xA0\x80z", {XK_a, bad, bad, bad, XK_z}},          // a UTF-16 surrogate
        {"a\xF4\x90\x80\x80z", {XK_a, bad, bad, bad, bad, XK_z}}, // beyond U+10FFFF
    };
    for (const auto& [utf8, keysyms] : cases)
        EXPECT_EQ(keysymsForText(utf8), keysyms) << testing::PrintToString(utf8);
}

TEST(KeysymForKey, EveryKeyHasAKeysymOfItsOwn)
{
    std::set<xcb_keysym_t> seen{XCB_NO_SYMBOL};
    for (unsigned i = 0; i <= unsigned(KeyShortcut::Key::grave); ++i)
        EXPECT_TRUE(seen.insert(keysymForKey(KeyShortcut::Key(i))).second) << "key " << i;
    EXPECT_EQ(keysymForKey(KeyShortcut::Key(200)), xcb_keysym_t(XCB_NO_SYMBOL));
}

TEST(Keymap, FindsThePlainLevelFirstThenTheLowestKeycode)
{
    // Keycodes 10 to 15, two levels each: 11 and 15 are empty, 12 has the
    // keysyms of 10 with the levels swapped, 13 has only a Shift level.
    const xcb_keysym_t rows[] = {XK_1,          XK_exclam, 0,    0,    XK_exclam, XK_1,
                                 XCB_NO_SYMBOL, XK_Alt_L,  XK_q, XK_Q, 0,         0};
    using Found = std::optional<Keymap::Key>;
    const Keymap keymap(10, 2, rows);
    EXPECT_EQ(keymap.find(XK_1), (Found{{10, false}}));
    EXPECT_EQ(keymap.find(XK_exclam), (Found{{12, false}}));
    EXPECT_EQ(keymap.find(XK_Q), (Found{{14, true}}));
    EXPECT_EQ(keymap.find(XK_Alt_L), (Found{{13, true}}));
    EXPECT_FALSE(keymap.find(XK_w) || keymap.find(XCB_NO_SYMBOL));
    EXPECT_EQ(keymap.emptyKeycodes(), (std::vector<xcb_keycode_t>{15, 11}));
    EXPECT_EQ(keymap.row(13).size(), 2u);
    EXPECT_TRUE(keymap.row(9).empty() && keymap.row(16).empty());
    EXPECT_TRUE(!Keymap().isLoaded() && Keymap().emptyKeycodes().empty());

    // Keycodes lent to other keysyms are not keys of the layout.
    const xcb_keycode_t lent[] = {10, 14};
    const Keymap lending(10, 2, rows, lent);
    EXPECT_EQ(lending.find(XK_1), (Found{{12, true}}));
    EXPECT_EQ(lending.find(XK_q), Found());
}

} // namespace
} // namespace orvane
