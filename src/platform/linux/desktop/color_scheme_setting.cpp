#include "color_scheme_setting.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QVariant>

namespace orvane {

namespace {

const QString schema = QStringLiteral("org.gnome.desktop.interface");
const QString key = QStringLiteral("color-scheme");

// The portal wraps the value in one variant for ReadOne and in two for the
// older Read; unwrap whatever nesting arrives.
QVariant unwrap(QVariant value)
{
    for (int depth = 0; depth < 4 && value.metaType() == QMetaType::fromType<QDBusVariant>();
         ++depth)
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

} // namespace

std::optional<bool> ColorSchemeSetting::isDark()
{
    // The GNOME setting first: it is what setDark() writes, and the portal
    // may still hold the previous value for a moment after a change.
    if (auto dark = readGSettings())
        return dark;
    return readPortal();
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

std::optional<bool> ColorSchemeSetting::readPortal()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    message.setArguments({QStringLiteral("org.freedesktop.appearance"), key});
    // Starting the portal on demand can take seconds; a desktop that uses it
    // has it running already.
    message.setAutoStartService(false);
    const QDBusMessage reply = bus.call(message, QDBus::Block, toolTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant value = unwrap(reply.arguments().first());
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    if (!ok)
        return std::nullopt;
    // 0 no preference, 1 prefer dark, 2 prefer light.
    return scheme == 1;
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
