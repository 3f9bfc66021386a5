#pragma once

#include <QObject>
#include <QPalette>

#include <functional>
#include <optional>

// Which of the two looks, light or dark, the windows and the tray panel
// wear: the desktop's preference when it states one, else whatever Qt's own
// palette is. The look can change while windows are open; everything drawn
// in the style's tones follows at once.
namespace orvane::style {

class Theme : public QObject {
    Q_OBJECT
public:
    static Theme& instance();

    bool isDark() const { return m_dark; }
    // true: dark, false: light, nothing: no preference, so Qt's palette
    // (the platform's, or Qt's default) decides and is left in place.
    void followPreference(std::optional<bool> dark);

Q_SIGNALS:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Theme();
    void settle(bool dark);

    std::optional<bool> m_preference;
    bool m_dark = true;
    bool m_ownPalette = false;
    bool m_applying = false;
};

inline bool isDark()
{
    return Theme::instance().isDark();
}
inline void followPreference(std::optional<bool> dark)
{
    Theme::instance().followPreference(dark);
}
// Runs `apply` after every change of look, for as long as `context` lives.
void onThemeChange(QObject* context, std::function<void()> apply);

// The application palette of one look: scroll bars, menus, message boxes
// and text fields in the windows' own colours.
QPalette palette(bool dark);

} // namespace orvane::style
