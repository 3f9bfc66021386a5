#pragma once

#include <QLocalServer>
#include <QString>

#include <functional>
#include <memory>

namespace orvane {

// One running copy per user: the first copy listens on a local socket in
// $XDG_RUNTIME_DIR; a later launch, from the menu, autostart or the unit,
// asks it to show its window and ends.
class SingleInstance {
public:
    // `settingsPath` keys the copy: each settings file (so each user, and
    // each throwaway HOME a test makes) has its own.
    explicit SingleInstance(const QString& settingsPath);
    ~SingleInstance();

    // Becomes the running copy, or asks the one running to show itself.
    // Returns false when another copy answered; `answer` then says what it
    // did ("shown", or "headless" when it has no window to show).
    bool claim(QString* answer);
    // What a later launch's request does here; returns the answer.
    std::function<QString()> onShowRequest;

    const QString& socketPath() const { return m_path; }

private:
    bool askRunningCopy(QString* answer);
    void answer();

    QString m_path;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace orvane
