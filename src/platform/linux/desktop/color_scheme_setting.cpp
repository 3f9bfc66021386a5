#include "color_scheme_setting.h"

#include "platform/linux/dbus/settings_portal.h"

#include <QProcess>
#include <QStandardPaths>

namespace orvane {

namespace {

const QString schema = QStringLiteral("org.gnome.desktop.interface");
const QString key = QStringLiteral("color-scheme");

// A string as gsettings prints a GVariant: 'prefer-dark'.
std::optional<QString> unquoted(const QString& printed)
{
    const QString text = printed.trimmed();
    if (text.size() < 2 || !text.startsWith(QLatin1Char('\'')) || !text.endsWith(QLatin1Char('\'')))
        return std::nullopt;
    return text.mid(1, text.size() - 2);
}

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
    auto value = gnomeValue();
    return value ? std::optional(*value == QStringLiteral("prefer-dark")) : std::nullopt;
}

std::optional<QString> ColorSchemeSetting::gnomeValue()
{
    auto out = runGSettings({QStringLiteral("get"), schema, key});
    return out ? unquoted(*out) : std::nullopt;
}

std::unique_ptr<QProcess>
ColorSchemeSetting::watchGnomeValue(std::function<void(const QString&)> onValue)
{
    const QString program = gsettingsProgram();
    if (program.isEmpty())
        return nullptr;
    auto process = std::make_unique<QProcess>();
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QProcess* reader = process.get();
    // One line a change: "color-scheme: 'prefer-dark'".
    QObject::connect(reader, &QProcess::readyReadStandardOutput, reader, [reader, onValue] {
        while (reader->canReadLine()) {
            const QString line = QString::fromUtf8(reader->readLine());
            if (auto value = unquoted(line.section(QLatin1Char(':'), 1)))
                onValue(*value);
        }
    });
    process->start(program, {QStringLiteral("monitor"), schema, key});
    return process;
}

QString ColorSchemeSetting::gsettingsProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("gsettings"));
}

std::optional<QString> ColorSchemeSetting::runGSettings(const QStringList& arguments)
{
    const QString program = gsettingsProgram();
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
