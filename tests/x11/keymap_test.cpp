#include "platform/linux/x11/keymap.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <set>

namespace orvane {
namespace {

constexpr xcb_keysym_t kReplacement = 0x0100FFFD;

TEST(KeysymsForText, LineEndingsAreOneReturnEach)
{
    const std::vector<xcb_keysym_t> expected = {XK_a,      XK_Return, XK_b,      XK_Return, XK_c,
                                                XK_Return, XK_d,      XK_Return, XK_Return, XK_Tab};
    EXPECT_EQ(keysymsForText("a\nb\r\nc\rd\n\r\t"), expected);
}

TEST(KeysymsForText, LatinOneIsTheCodePointAndTheRestUnicodeKeysyms)
{
    // é (U+00E9), € (U+20AC), 😀 (U+1F600)
    const std::vector<xcb_keysym_t> expected = {XK_A, XK_space, 0xE9, 0x010020AC, 0x0101F600};
    EXPECT_EQ(keysymsForText("A \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), expected);
}

TEST(KeysymsForText, ControlCharactersWithoutAKeyAreDropped)
{
    EXPECT_EQ(keysymsForText(std::string_view("\x01x\x7F\0y\x1B", 6)),
              (std::vector<xcb_keysym_t>{XK_x, XK_y}));
    EXPECT_TRUE(keysymsForText("\xC2\x85").empty()); // U+0085, a C1 control
}

TEST(KeysymsForText, MalformedUtf8BecomesReplacementsAndResynchronises)
{
    const std::pair<std::string_view, std::size_t> cases[] = {
        {"\xFF", 1},             // never a UTF-8 byte
        {"\x80", 1},             // continuation without a lead
        {"\xE2\x82", 2},         // truncated at the end
        {"\xC0\xAF", 2},         // overlong "/"
        {"\xED\xA0\x80", 3},     // a UTF-16 surrogate
        {"\xF4\x90\x80\x80", 4}, // beyond U+10FFFF
    };
    for (const auto& [bad, replacements] : cases) {
        std::vector<xcb_keysym_t> expected(replacements, kReplacement);
        expected.insert(expected.begin(), XK_a);
        expected.push_back(XK_z);
        EXPECT_EQ(keysymsForText("a" + std::string(bad) + "z"), expected)
            << testing::PrintToString(bad);
    }
}

TEST(KeysymForKey, EveryKeyHasItsOwnUsKeysym)
{
    std::set<xcb_keysym_t> seen;
    for (unsigned i = 0; i <= unsigned(KeyShortcut::Key::grave); ++i) {
        const xcb_keysym_t keysym = keysymForKey(KeyShortcut::Key(i));
        EXPECT_NE(keysym, xcb_keysym_t(XCB_NO_SYMBOL)) << i;
        EXPECT_TRUE(seen.insert(keysym).second) << "key " << i << " repeats a keysym";
    }
    EXPECT_EQ(keysymForKey(KeyShortcut::Key::digit0), xcb_keysym_t(XK_0));
    EXPECT_EQ(keysymForKey(KeyShortcut::Key::return_), xcb_keysym_t(XK_Return));
    EXPECT_EQ(keysymForKey(KeyShortcut::Key::delete_), xcb_keysym_t(XK_BackSpace));
    EXPECT_EQ(keysymForKey(KeyShortcut::Key::grave), xcb_keysym_t(XK_grave));
    EXPECT_EQ(keysymForKey(KeyShortcut::Key(200)), xcb_keysym_t(XCB_NO_SYMBOL));
}

// Keycodes 10..15, two keysyms each.
Keymap sampleKeymap(std::span<const xcb_keycode_t> ignored = {})
{
    static const xcb_keysym_t rows[] = {
        XK_1,          XK_exclam,     // 10
        XCB_NO_SYMBOL, XCB_NO_SYMBOL, // 11: empty
        XK_exclam,     XK_1,          // 12: the same keysyms, levels swapped
        XCB_NO_SYMBOL, XK_Alt_L,      // 13: only a Shift level
        XK_q,          XK_Q,          // 14
        XCB_NO_SYMBOL, XCB_NO_SYMBOL, // 15: empty
    };
    return Keymap(10, 2, rows, ignored);
}

TEST(Keymap, FindsThePlainLevelFirstThenTheLowestKeycode)
{
    const Keymap keymap = sampleKeymap();
    EXPECT_EQ(keymap.find(XK_1), (Keymap::Key{10, false}));
    EXPECT_EQ(keymap.find(XK_exclam), (Keymap::Key{12, false}));
    EXPECT_EQ(keymap.find(XK_Q), (Keymap::Key{14, true}));
    EXPECT_EQ(keymap.find(XK_Alt_L), (Keymap::Key{13, true}));
    EXPECT_FALSE(keymap.find(XK_w));
    EXPECT_FALSE(keymap.find(XCB_NO_SYMBOL));
}

TEST(Keymap, IgnoredKeycodesAreNotKeysOfTheLayout)
{
    const xcb_keycode_t ignored[] = {10, 14};
    const Keymap keymap = sampleKeymap(ignored);
    EXPECT_EQ(keymap.find(XK_1), (Keymap::Key{12, true}));
    EXPECT_FALSE(keymap.find(XK_q));
}

TEST(Keymap, EmptyKeycodesHighestFirstAndRowsBounded)
{
    const Keymap keymap = sampleKeymap();
    EXPECT_EQ(keymap.emptyKeycodes(), (std::vector<xcb_keycode_t>{15, 11}));
    EXPECT_EQ(keymap.row(13).size(), 2u);
    EXPECT_TRUE(keymap.row(9).empty());
    EXPECT_TRUE(keymap.row(16).empty());
    EXPECT_FALSE(Keymap().isLoaded());
    EXPECT_TRUE(Keymap().emptyKeycodes().empty());
}

} // namespace
} // namespace orvane
