#pragma once

#include "platform/desktop_checks.h"

#include <QTimer>

#include <map>

namespace orvane {

// Every service ready and no tray unless a test says otherwise; counts the
// checks.
class FakeDesktopChecks final : public DesktopChecks {
public:
    std::map<Service, DesktopCheck> answers;
    bool trayHost = false;
    int checks = 0;
    int askedAgain = 0;

    void askAgain(Service) override { ++askedAgain; }

    void findTrayHost(QObject* context, std::function<void(bool)> answer) override
    {
        QTimer::singleShot(0, context, [this, answer] { answer(trayHost); });
    }

    DesktopCheck check(Service service) override
    {
        ++checks;
        auto found = answers.find(service);
        return found != answers.end() ? found->second : DesktopCheck{true, QStringLiteral("fake")};
    }
};

} // namespace orvane
