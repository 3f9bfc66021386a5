#pragma once

#include <QObject>

#include <functional>

namespace orvane {

// Hears logind on the system bus say the machine woke up
// (PrepareForSleep(false)).
class SleepWatcher : public QObject {
    Q_OBJECT
public:
    explicit SleepWatcher(std::function<void()> onWake, QObject* parent = nullptr);

public Q_SLOTS:
    void prepareForSleep(bool sleeping);

private:
    std::function<void()> m_onWake;
};

} // namespace orvane
