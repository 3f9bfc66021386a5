// Typing 1,000 characters into a window on the headless GNOME session: once
// letters of the keyboard layout (sent as keys), once letters it lacks
// (pasted through the session's clipboard), in the slices the typist hands
// over. Prints characters a second for each; the keys are the baseline.
#include "mutter/child_lines.h"
#include "platform/linux/mutter/mutter_backend.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace orvane;

namespace {

constexpr int characters = 1000;
constexpr int sliceCharacters = 128; // 256 bytes of two-byte letters

// Seconds until the window holds `text`; negative when it never does.
double typeInto(InputDevice& input, test::ChildLines& window, const QString& text)
{
    QElapsedTimer clock;
    clock.start();
    for (qsizetype at = 0; at < text.size(); at += sliceCharacters)
        input.typeText(text.mid(at, sliceCharacters).toStdString());
    while (auto line = window.waitFor(QStringLiteral("\"text\""), 60000)) {
        if (QJsonDocument::fromJson(line->toUtf8()).object()[QStringLiteral("text")].toString() ==
            text)
            return clock.nsecsElapsed() / 1e9;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("ORVANE_TEST_GNOME_BUS")) {
        std::fprintf(stderr,
                     "wayland typing: needs the headless GNOME session (scripts/services.sh)\n");
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"),
               qEnvironmentVariable("ORVANE_TEST_GNOME_WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"),
               qEnvironmentVariable("ORVANE_TEST_GNOME_RUNTIME_DIR"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"));
    env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
    const QDBusConnection bus = QDBusConnection::connectToBus(
        qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"), QStringLiteral("orvane-bench-gnome"));
    MutterBackend gnome = makeMutterBackend(bus);

    const std::pair<const char*, QString> runs[] = {
        {"keys", QString(characters, QLatin1Char('a'))},
        {"clipboard", QString(characters, QChar(0x0416))}, // Ж, not on a US layout
    };
    double baseline = 0;
    for (const auto& [path, text] : runs) {
        test::ChildLines window({QStringLiteral(ORVANE_WAYLAND_PROBE)}, env);
        if (!window.waitFor(QStringLiteral("ready"), 20000)) {
            std::fprintf(stderr, "wayland typing: the test window did not show\n");
            return 1;
        }
        const double seconds = typeInto(*gnome.input, window, text);
        if (seconds < 0) {
            std::printf("wayland typing %s: the text never arrived whole\n", path);
            return 1;
        }
        const double rate = characters / seconds;
        if (baseline == 0)
            baseline = rate;
        std::printf("wayland typing %d characters through %s: %.0f characters/s (keys %.0f/s)\n",
                    characters, path, rate, baseline);
    }
    return 0;
}
