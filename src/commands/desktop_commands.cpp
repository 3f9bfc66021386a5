#include "desktop_commands.h"

#include "labels.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUrl>

#include <algorithm>

namespace orvane {

namespace {

// The most the kernel passes as one argument to a program, so the most
// xdg-open could be given.
constexpr std::size_t maximumLinkBytes = 128 * 1024;
// Qt checks a host the way IDNA wants, at a cost that grows with the square
// of its length for some texts (runs of combining marks). A host holds at
// most 253 characters, so a longer user, host and port make no link.
constexpr std::size_t maximumAuthorityBytes = 1024;

// Whether `link` is too long to be opened, or to be parsed on the event
// loop. A link's authority is what follows its first "//", up to the next
// "/", "?" or "#", wherever the scheme ends.
bool oversizedLink(std::string_view link)
{
    if (link.size() > maximumLinkBytes)
        return true;
    const std::size_t slashes = link.find("//");
    if (slashes == std::string_view::npos)
        return false;
    const std::size_t start = slashes + 2;
    const std::size_t end = std::min(link.find_first_of("/?#", start), link.size());
    return end - start > maximumAuthorityBytes;
}

} // namespace

void DesktopCommands::setClipboard(const std::string& text, Completion done)
{
    m_pasteboard.setTextLater(QString::fromStdString(text), [done = std::move(done)](bool took) {
        done(took ? CommandResult::ok(tr("Copied to the Mac's clipboard"))
                  : CommandResult::failure(tr("Couldn't copy to the Mac's clipboard")));
    });
}

std::optional<std::string> DesktopCommands::clipboardText()
{
    auto text = m_pasteboard.text();
    if (!text)
        return std::nullopt;
    return text->toStdString();
}

Workspace::Opened DesktopCommands::answerLater(const Uuid& owner, Completion done,
                                               std::function<CommandResult(bool)> result)
{
    std::shared_ptr<int>& token = m_waiting[owner];
    if (!token)
        token = std::make_shared<int>(0);
    return [alive = std::weak_ptr<int>(token), done = std::move(done),
            result = std::move(result)](bool opened) {
        if (!alive.expired())
            done(result(opened));
    };
}

void DesktopCommands::openURL(const std::string& link, const Uuid& owner, Completion done)
{
    if (oversizedLink(link))
        return done(CommandResult::failure(tr("Not a valid link")));
    QUrl url(QString::fromStdString(link));
    QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return done(CommandResult::failure(tr("Not a valid link")));
    QString host = url.host(QUrl::FullyEncoded);
    if (host.isEmpty())
        host = tr("Link");
    m_workspace.openUrl(url, answerLater(owner, std::move(done), [host](bool opened) {
                            return opened
                                       ? CommandResult::ok(tr("Opening %1 on the Mac").arg(host))
                                       : CommandResult::failure(tr("Couldn't open %1").arg(host));
                        }));
}

QString DesktopCommands::folderPath(MacFolder folder)
{
    QString home = m_workspace.homeDirectory();
    auto standard = [&](StandardFolder kind, const char* fallback) {
        auto path = m_workspace.standardFolder(kind);
        return path && !path->isEmpty() ? *path : home + QLatin1Char('/') + QLatin1String(fallback);
    };
    switch (folder) {
    case MacFolder::downloads:
        return standard(StandardFolder::downloads, "Downloads");
    case MacFolder::desktop:
        return standard(StandardFolder::desktop, "Desktop");
    case MacFolder::documents:
        return standard(StandardFolder::documents, "Documents");
    // Where the desktop keeps the entries of installed applications.
    case MacFolder::applications:
        return QStringLiteral("/usr/share/applications");
    case MacFolder::home:
        return home;
    case MacFolder::orvane:
        return standard(StandardFolder::downloads, "Downloads") + QStringLiteral("/Orvane");
    }
    return home;
}

void DesktopCommands::openFolder(MacFolder folder, const Uuid& owner, Completion done)
{
    QString path = folderPath(folder);
    if (folder == MacFolder::orvane)
        QDir().mkpath(path); // a failure shows as the open failing
    const QString label = folderLabel(folder);
    m_workspace.openFolder(path, answerLater(owner, std::move(done), [label](bool opened) {
                               return opened ? CommandResult::ok(tr("Opening %1").arg(label))
                                             : CommandResult::failure(
                                                   tr("Couldn't open %1").arg(label));
                           }));
}

std::optional<QStringList> findShortcut(const QString& fileText, const QString& name)
{
    const QString wanted = name.trimmed();
    if (wanted.isEmpty())
        return std::nullopt;
    const auto lines = fileText.split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('[')))
            continue;
        qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0 || line.left(equals).trimmed() != wanted)
            continue;
        QStringList argv = QProcess::splitCommand(line.mid(equals + 1).trimmed());
        if (argv.isEmpty())
            return std::nullopt;
        return argv;
    }
    return std::nullopt;
}

CommandResult DesktopCommands::runShortcut(const std::string& name)
{
    QString requested = QString::fromStdString(name);
    QFile file(m_workspace.configDirectory() + QStringLiteral("/shortcuts.ini"));
    // Read on every run, so an edited file counts at once. The file is the
    // user's own; a megabyte is far more than any list of shortcuts needs.
    constexpr qint64 maximumFileBytes = 1 << 20;
    std::optional<QStringList> argv;
    if (file.open(QIODevice::ReadOnly))
        argv = findShortcut(QString::fromUtf8(file.read(maximumFileBytes)), requested);
    if (!argv || !m_workspace.startProcess(*argv))
        return CommandResult::failure(tr("Couldn't run shortcut"));
    return CommandResult::ok(tr("Running %1").arg(requested));
}

std::vector<DisplayInfo> DesktopCommands::listDisplays()
{
    auto displays = m_displays.activeDisplays();
    std::erase_if(displays, [](const DisplayDescription& d) { return d.isMirror; });
    std::stable_sort(displays.begin(), displays.end(),
                     [](const auto& a, const auto& b) { return a.bounds.x < b.bounds.x; });
    std::vector<DisplayInfo> list;
    list.reserve(displays.size());
    for (const auto& d : displays) {
        QString name = d.name;
        if (name.isEmpty())
            name = d.isBuiltIn ? tr("Built-in display") : tr("External display");
        list.push_back(DisplayInfo{d.id, name.toStdString(), d.isBuiltIn, d.isMain,
                                   static_cast<std::int64_t>(d.bounds.width),
                                   static_cast<std::int64_t>(d.bounds.height)});
    }
    return list;
}

} // namespace orvane
