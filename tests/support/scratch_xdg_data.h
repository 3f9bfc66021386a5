#pragma once

#include "support/files.h"
#include "support/scoped_environment.h"

#include <QTemporaryDir>

namespace orvane::test {

// A user data folder and one system data folder, both empty and the only
// ones, for the desktop entries a test writes; the message locale is
// cleared. All is put back after.
class ScratchXdgData {
public:
    ScratchXdgData()
    {
        env.set("XDG_DATA_HOME", QFile::encodeName(home.path()));
        env.set("XDG_DATA_DIRS", QFile::encodeName(system.path()));
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
            env.unset(name);
    }
    QString userEntry(const QString& relative) const
    {
        return home.path() + QStringLiteral("/applications/") + relative;
    }
    QString systemEntry(const QString& relative) const
    {
        return system.path() + QStringLiteral("/applications/") + relative;
    }

    QTemporaryDir home;
    QTemporaryDir system;
    ScopedEnvironment env;
};

} // namespace orvane::test
