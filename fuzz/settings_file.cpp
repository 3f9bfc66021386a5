// The settings file is the user's to edit, so it may hold anything. Loading
// it never fails hard, every value reads, and a save of one switch keeps
// what the others said: no trusted phone is lost to a rewrite.
#include "settings/settings.h"

#include <QDir>
#include <QFile>

#include <cstdlib>
#include <unistd.h>

using namespace orvane;

namespace {

QString scratchPath()
{
    // In memory where there is such a folder: every save syncs to disk.
    static const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static const QString folder = base + QStringLiteral("/orvane-fuzz-settings-%1").arg(::getpid());
    static const bool made = [] {
        QDir().mkpath(folder);
        std::atexit([] { QDir(folder).removeRecursively(); });
        return true;
    }();
    (void)made;
    return folder + QStringLiteral("/Orvane.conf");
}

struct Values {
    std::vector<TrustedDevice> devices;
    bool keepAwake;
    bool remoteAccess;
    QString relayUrl;
    ServerLimits limits;
};

Values readAll(const QString& path)
{
    Settings settings(path);
    Values values{settings.trustedDevices(), settings.keepAwake(), settings.remoteAccess(),
                  settings.relayUrl(), ServerLimits{}};
    settings.applyLimits(values.limits);
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = scratchPath();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const Values before = readAll(path);
    // A limit of no connections at all would lock every phone out.
    if (before.limits.authenticatedConnections == 0 || before.limits.connectionsPerDevice == 0)
        std::abort();
    // What loaded must save again: the list is written back as it was read.
    if (!before.devices.empty() && !encodeTrustedDevices(before.devices))
        std::abort();
    {
        Settings settings(path);
        settings.setKeepAwake(!before.keepAwake);
    }
    const Values after = readAll(path);
    if (after.keepAwake == before.keepAwake || after.devices != before.devices ||
        after.remoteAccess != before.remoteAccess)
        std::abort();
    return 0;
}
