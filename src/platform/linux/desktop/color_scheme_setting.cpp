#include "color_scheme_setting.h"

#include "platform/linux/dbus/settings_portal.h"

#include <QProcess>
#include <QStandardPaths>

namespace orvane {

namespace {

const QString schema = QStringLiteral("org.gnome.desktop.interface");
const QString key = QStringLiteral("color-scheme");

} // namespace

std::optional<bool> ColorSchemeSetting::isDark()
{
    // The GNOME setting first: it is what setDark() writes, and the portal
    // may still hold the previous value for a moment after a change.
    if (auto dark = readGSettings())
        return dark;
    return portalPrefersDark(toolTimeoutMs);
}

bool ColorSchemeSetting::setDark(bool dark)
{
    const QString value = dark ? QStringLiteral("prefer-dark") : QStringLiteral("default");
    if (!runGSettings({QStringLiteral("set"), schema, key, value}))
        return false;
    return readGSettings() == dark;
}

std::optional<bool> ColorSchemeSetting::readGSettings()
{
    auto out = runGSettings({QStringLiteral("get"), schema, key});
    if (!out)
        return std::nullopt;
    // Printed as a GVariant string: 'prefer-dark'.
    QString text = out->trimmed();
    if (text.size() < 2 || !text.startsWith(QLatin1Char('\'')) || !text.endsWith(QLatin1Char('\'')))
        return std::nullopt;
    return text.mid(1, text.size() - 2) == QStringLiteral("prefer-dark");
}

std::optional<QString> ColorSchemeSetting::runGSettings(const QStringList& arguments)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty())
        return std::nullopt;
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(toolTimeoutMs)) {
        process.kill();
        process.waitForFinished(toolTimeoutMs);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace orvane
