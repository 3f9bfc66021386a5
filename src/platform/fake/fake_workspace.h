#pragma once

#include "platform/workspace.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <map>
#include <optional>
#include <vector>

namespace orvane {

// Records the links, folders and programs it is asked to open.
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
    bool answersLater = false; // openers wait in `waiting` for the test to answer
    std::vector<Opened> waiting;

    void openUrl(const QUrl& url, Opened done) override
    {
        openedUrls.push_back(url.toString(QUrl::FullyEncoded));
        answer(std::move(done));
    }
    bool openEncodedUrl(const QByteArray& encoded) override
    {
        openedUrls.push_back(QString::fromLatin1(encoded));
        return opens;
    }
    void openFolder(const QString& path, Opened done) override
    {
        openedFolders.push_back(path);
        answer(std::move(done));
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

private:
    void answer(Opened done)
    {
        if (answersLater)
            waiting.push_back(std::move(done));
        else
            done(opens);
    }
};

} // namespace orvane
