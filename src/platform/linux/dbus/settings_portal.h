#pragma once

#include <QDBusVariant>
#include <QObject>

#include <functional>
#include <optional>

namespace orvane {

// The freedesktop settings portal on the session bus, which desktops serve
// from their own configuration: whether the user prefers dark colours.

// The colour scheme as the portal gives it: 0 no preference, 1 prefer
// dark, 2 prefer light. Nothing when no portal runs or it does not know the
// setting; waits at most `timeoutMs`.
std::optional<uint> portalColorScheme(int timeoutMs);
// Whether the user prefers dark colours; nothing as above.
std::optional<bool> portalPrefersDark(int timeoutMs);

// Hears the portal announce each new colour scheme (its SettingChanged).
class PortalColorSchemeWatcher : public QObject {
    Q_OBJECT
public:
    explicit PortalColorSchemeWatcher(std::function<void(uint scheme)> onScheme,
                                      QObject* parent = nullptr);

public Q_SLOTS:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    std::function<void(uint)> m_onScheme;
};

} // namespace orvane
