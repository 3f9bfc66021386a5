#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace orvane::test {

// Picks the Qt platform before the application exists: xcb on the display
// test.sh started when it says that display is usable, offscreen otherwise,
// so the tests that need no display still run.
void chooseQtPlatform();

// Why the X display cannot be used, or nothing when it can.
std::optional<std::string> displayProblem();

// Runs this test program again in a child mode (see main.cpp) with the given
// environment; its standard output, or nothing when it did not finish cleanly.
std::optional<QString> runChild(const QString& mode, const QProcessEnvironment& env);

// Waits until the file exists and returns its contents; nothing if it never
// appears. For handlers that were started detached.
std::optional<QByteArray> waitForFile(const QString& path);

} // namespace orvane::test

// A test that needs the X display fails, with the reason, when there is none.
#define ORVANE_REQUIRE_DISPLAY()                                                                   \
    do {                                                                                           \
        if (auto why = ::orvane::test::displayProblem())                                           \
            FAIL() << *why;                                                                        \
    } while (false)
