#include "xkb_layout.h"

#include <QRegularExpression>

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>

namespace orvane {

XkbLayoutName firstXkbInputSource(const QString& gsettingsValue)
{
    // Each source is a tuple of two quoted strings; the values are XKB
    // names, which never hold quotes of their own.
    static const QRegularExpression source(
        QStringLiteral(R"(\(\s*'([^']*)'\s*,\s*'([^']*)'\s*\))"));
    for (auto it = source.globalMatch(gsettingsValue.left(4096)); it.hasNext();) {
        const auto match = it.next();
        if (match.captured(1) != QLatin1String("xkb") || match.captured(2).isEmpty())
            continue;
        const QString id = match.captured(2);
        const qsizetype plus = id.indexOf('+');
        XkbLayoutName name;
        name.layout = plus < 0 ? id : id.left(plus);
        name.variant = plus < 0 ? QString() : id.mid(plus + 1);
        return name;
    }
    return {};
}

XkbLayoutKeysyms::XkbLayoutKeysyms(const XkbLayoutName& name)
{
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), &xkb_context_unref);
    if (!context)
        return;
    const QByteArray layout = name.layout.toUtf8();
    const QByteArray variant = name.variant.toUtf8();
    xkb_rule_names names{};
    names.layout = layout.constData();
    names.variant = variant.constData();
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    if (!keymap)
        return;
    // The desktop reaches a keysym's level with Shift and, on the third and
    // fourth levels, the key that chooses the third level: without such a
    // key (plain "us") those levels cannot be typed at all.
    xkb_keymap* map = keymap.get();
    const xkb_keycode_t first = xkb_keymap_min_keycode(map);
    const xkb_keycode_t last = xkb_keymap_max_keycode(map);
    bool thirdLevel = false;
    for (xkb_keycode_t key = first; key <= last && !thirdLevel; ++key) {
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(map, key, 0, 0, &syms);
        for (int i = 0; i < count; ++i)
            thirdLevel = thirdLevel || syms[i] == XKB_KEY_ISO_Level3_Shift;
    }
    const xkb_level_index_t reachable = thirdLevel ? 4 : 2;
    for (xkb_keycode_t key = first; key <= last; ++key) {
        const xkb_level_index_t levels =
            std::min(xkb_keymap_num_levels_for_key(map, key, 0), reachable);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(map, key, 0, level, &syms);
            for (int i = 0; i < count; ++i)
                m_keysyms.insert(syms[i]);
        }
    }
}

} // namespace orvane
