#pragma once

#include "platform/platform.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <string>
#include <vector>

// Recording fakes of every command family, for unit tests.
namespace orvane {

class FakeInput final : public InputDevice {
public:
    // Everything posted, one readable line each: "key a 5", "type hi",
    // "move 10,20", "left down", "scroll 0,-3".
    std::vector<std::string> events;
    bool available = true;
    std::optional<Point> cursor = Point{};
    int flushes = 0;

    bool isAvailable() override { return available; }
    void pressKey(KeyShortcut::Key key, ModifierMask modifiers) override
    {
        events.push_back("key " + std::string(enumText(key)) + " " + std::to_string(modifiers));
    }
    void typeText(std::string_view utf8) override
    {
        events.push_back("type " + std::string(utf8));
        if (onType)
            onType();
    }
    std::function<void()> onType; // e.g. to make typing take time
    std::optional<Point> cursorPosition() override { return cursor; }
    void moveCursor(Point p) override
    {
        if (cursor)
            cursor = p;
        events.push_back("move " + number(p.x) + "," + number(p.y));
    }
    void setButton(MouseButton button, bool down) override
    {
        events.push_back(std::string(button == MouseButton::left ? "left" : "right") +
                         (down ? " down" : " up"));
    }
    void scroll(double dx, double dy) override
    {
        events.push_back("scroll " + number(dx) + "," + number(dy));
    }
    void flush() override { ++flushes; }

    static std::string number(double v)
    {
        return QString::number(v, 'g', 12).toStdString();
    }
};

class FakeDisplays final : public DisplaySource {
public:
    std::vector<DisplayDescription> displays;
    std::vector<DisplayDescription> activeDisplays() override { return displays; }
};

class FakeApplications final : public ApplicationCatalog {
public:
    std::vector<InstalledApp> installed;
    std::vector<QString> dock;
    std::vector<RunningApp> running;
    std::map<QString, QString> defaults; // MIME type to bundle identifier
    std::function<void(const InstalledApp&)> onLaunch;
    std::vector<QString> launched;
    std::vector<std::int32_t> terminated;
    std::vector<std::int32_t> killed;
    std::vector<std::int32_t> session;
    bool launchWorks = true;
    bool killWorks = true;
    std::size_t iconSize = 0; // icons are padded to this many bytes

    std::vector<InstalledApp> installedApps() override { return installed; }
    std::optional<InstalledApp> findApp(const QString& id) override
    {
        for (const auto& app : installed) {
            if (app.bundleID == id)
                return app;
        }
        return std::nullopt;
    }
    std::optional<InstalledApp> defaultAppFor(const QString& mimeType) override
    {
        const auto found = defaults.find(mimeType);
        return found == defaults.end() ? std::nullopt : findApp(found->second);
    }
    std::vector<QString> dockApps() override { return dock; }
    std::vector<RunningApp> runningApps() override { return running; }
    bool launch(const InstalledApp& app) override
    {
        launched.push_back(app.bundleID);
        if (launchWorks && onLaunch)
            onLaunch(app);
        return launchWorks;
    }
    void terminate(std::int32_t pid) override { terminated.push_back(pid); }
    bool forceTerminate(std::int32_t pid) override
    {
        killed.push_back(pid);
        return killWorks;
    }
    std::vector<std::int32_t> sessionProcesses() override { return session; }
    std::optional<QByteArray> iconPng(const QString& id, int pixels) override
    {
        if (!findApp(id))
            return std::nullopt;
        QByteArray png = QByteArray("png:") + id.toUtf8() + ":" + QByteArray::number(pixels);
        if (png.size() < qsizetype(iconSize))
            png.resize(qsizetype(iconSize), ' ');
        return png;
    }
    QString ownBundleID() override { return QStringLiteral("orvane"); }
};

class FakeWorkspace final : public Workspace {
public:
    std::vector<QString> openedUrls;
    std::vector<QString> openedFolders;
    std::vector<QStringList> started;
    std::map<StandardFolder, QString> folders;
    QString home = QStringLiteral("/home/user");
    QString config = QStringLiteral("/home/user/.config/Orvane");
    bool opens = true;
    bool starts = true;

    bool openUrl(const QUrl& url) override
    {
        openedUrls.push_back(url.toString(QUrl::FullyEncoded));
        return opens;
    }
    bool openEncodedUrl(const QByteArray& encoded) override
    {
        openedUrls.push_back(QString::fromLatin1(encoded));
        return opens;
    }
    bool openFolder(const QString& path) override
    {
        openedFolders.push_back(path);
        return opens;
    }
    std::optional<QString> standardFolder(StandardFolder folder) override
    {
        auto found = folders.find(folder);
        if (found == folders.end())
            return std::nullopt;
        return found->second;
    }
    QString homeDirectory() override { return home; }
    bool startProcess(const QStringList& argv) override
    {
        started.push_back(argv);
        return starts;
    }
    QString configDirectory() override { return config; }
};

class FakePasteboard final : public Pasteboard {
public:
    std::optional<QString> contents;
    std::optional<QString> text() override { return contents; }
    void setText(const QString& text) override { contents = text; }
};

class FakePower final : public Power {
public:
    int activityDeclarations = 0;
    void declareUserActivity() override { ++activityDeclarations; }
};

class FakeWorkspaceEvents final : public WorkspaceEvents {
public:
    std::optional<std::int32_t> pid;
    std::optional<std::int32_t> frontmostPid() override { return pid; }
};

// A Platform made of fakes, with typed handles to each.
struct FakePlatform {
    FakeInput* input;
    FakeDisplays* displays;
    FakeApplications* applications;
    FakeWorkspace* workspace;
    FakePasteboard* pasteboard;
    FakePower* power;
    FakeWorkspaceEvents* events;
    Platform platform;

    FakePlatform()
    {
        auto in = std::make_unique<FakeInput>();
        auto ds = std::make_unique<FakeDisplays>();
        auto apps = std::make_unique<FakeApplications>();
        auto ws = std::make_unique<FakeWorkspace>();
        auto pb = std::make_unique<FakePasteboard>();
        auto pw = std::make_unique<FakePower>();
        auto ev = std::make_unique<FakeWorkspaceEvents>();
        input = in.get();
        displays = ds.get();
        applications = apps.get();
        workspace = ws.get();
        pasteboard = pb.get();
        power = pw.get();
        events = ev.get();
        // The media, system and window families are faked at the command
        // level (their logic is what the tests look at), so they stay empty.
        platform.input = std::move(in);
        platform.displays = std::move(ds);
        platform.applications = std::move(apps);
        platform.workspace = std::move(ws);
        platform.pasteboard = std::move(pb);
        platform.power = std::move(pw);
        platform.events = std::move(ev);
    }
};

} // namespace orvane
