// The keymap our virtual keyboard declares, compiled by xkbcommon as the
// compositor and every program compile it.
#include "platform/linux/wlroots/typing_keymap.h"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <gtest/gtest.h>

#include <memory>

namespace orvane {
namespace {

struct Compiled {
    explicit Compiled(const TypingKeymap& keymap)
        : context(xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES), xkb_context_unref),
          map(xkb_keymap_new_from_string(context.get(), keymap.text().c_str(),
                                         XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS),
              xkb_keymap_unref),
          state(map ? xkb_state_new(map.get()) : nullptr, xkb_state_unref)
    {
    }
    // What pressing `code` types with these keys (codes) held.
    xkb_keysym_t typed(unsigned code, std::vector<unsigned> held = {})
    {
        for (const unsigned h : held)
            xkb_state_update_key(state.get(), h + 8, XKB_KEY_DOWN);
        const xkb_keysym_t sym = xkb_state_key_get_one_sym(state.get(), code + 8);
        for (const unsigned h : held)
            xkb_state_update_key(state.get(), h + 8, XKB_KEY_UP);
        return sym;
    }

    std::unique_ptr<xkb_context, void (*)(xkb_context*)> context;
    std::unique_ptr<xkb_keymap, void (*)(xkb_keymap*)> map;
    std::unique_ptr<xkb_state, void (*)(xkb_state*)> state;
};

TEST(TypingKeymap, EveryKeysymTypesOnItsKeyAndShortcutsKeepTheUsKeys)
{
    TypingKeymap keymap;
    const std::vector<xkb_keysym_t> text = {XKB_KEY_a,          XKB_KEY_A,        XKB_KEY_Return,
                                            0x10000e9 /* é */,  XKB_KEY_EuroSign, 0x1000416 /* Ж */,
                                            0x10065e5 /* 日 */, 0x101f600 /* emoji */};
    ASSERT_TRUE(keymap.provide(text));
    Compiled compiled(keymap);
    ASSERT_TRUE(compiled.map) << keymap.text();
    for (const xkb_keysym_t keysym : text) {
        SCOPED_TRACE(keysym);
        ASSERT_NE(keymap.codeFor(keysym), 0u);
        EXPECT_EQ(compiled.typed(keymap.codeFor(keysym)), keysym);
    }
    EXPECT_EQ(keymap.codeFor(XKB_KEY_a), unsigned(KEY_A));
    EXPECT_EQ(keymap.codeFor(XKB_KEY_Return), unsigned(KEY_ENTER));
    EXPECT_EQ(compiled.typed(KEY_1, {KEY_LEFTSHIFT}), xkb_keysym_t(XKB_KEY_exclam));
    EXPECT_EQ(compiled.typed(KEY_SLASH, {KEY_LEFTSHIFT}), xkb_keysym_t(XKB_KEY_question));
    // The modifier keys set the modifiers programs read, and the bit we
    // tell the compositor is the one this keymap gives that modifier.
    struct Held {
        unsigned code;
        const char* modifier;
    };
    for (const Held held :
         {Held{KEY_LEFTCTRL, XKB_MOD_NAME_CTRL}, Held{KEY_LEFTALT, XKB_MOD_NAME_ALT},
          Held{KEY_LEFTSHIFT, XKB_MOD_NAME_SHIFT}, Held{KEY_LEFTMETA, XKB_MOD_NAME_LOGO}}) {
        xkb_state_update_key(compiled.state.get(), held.code + 8, XKB_KEY_DOWN);
        EXPECT_EQ(xkb_state_mod_name_is_active(compiled.state.get(), held.modifier,
                                               XKB_STATE_MODS_EFFECTIVE),
                  1)
            << held.modifier;
        xkb_state_update_key(compiled.state.get(), held.code + 8, XKB_KEY_UP);
        EXPECT_EQ(modifierMask(held.code),
                  1u << xkb_keymap_mod_get_index(compiled.map.get(), held.modifier));
    }
    EXPECT_EQ(modifierMask(KEY_A), 0u);
}

TEST(TypingKeymap, TextWithMoreCharactersThanKeysIsTypedInRunsThatEachFit)
{
    std::vector<xkb_keysym_t> text;
    for (xkb_keysym_t c = 0x4e00; c < 0x4e00 + 300; ++c)
        text.insert(text.end(), {0x1000000 + c, XKB_KEY_space, 0x1000000 + 0x4e00});
    TypingKeymap keymap;
    EXPECT_FALSE(keymap.provide(text));
    EXPECT_EQ(keymap.revision(), 0u) << "a refused request changed the keymap";
    const auto runs = keymapRuns(text);
    ASSERT_EQ(runs.size(), 3u);
    std::vector<xkb_keysym_t> joined;
    for (const auto& run : runs) {
        // Each run fits, after keys given to the run before it.
        ASSERT_TRUE(keymap.provide(run));
        Compiled compiled(keymap);
        ASSERT_TRUE(compiled.map);
        for (const xkb_keysym_t keysym : run)
            ASSERT_EQ(compiled.typed(keymap.codeFor(keysym)), keysym);
        joined.insert(joined.end(), run.begin(), run.end());
    }
    EXPECT_EQ(joined, text);
}

} // namespace
} // namespace orvane
