// Desktop entries and shortcuts.ini are files anyone's packages or the user
// wrote. Parsing them, the Exec line an entry carries, and the shortcut a
// phone names never fail hard; what the launcher would run is never empty.
#include "commands/desktop_commands.h"
#include "platform/linux/desktop/desktop_entry.h"
#include "platform/linux/desktop/exec_line.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

using namespace orvane;

namespace {

void requireRunnable(const std::optional<QStringList>& argv)
{
    if (argv && (argv->isEmpty() || argv->first().isEmpty()))
        std::abort();
}

void desktopEntry(FuzzedDataProvider& input)
{
    const QString locale = QString::fromStdString(input.ConsumeRandomLengthString(32));
    const QString id = QString::fromStdString(input.ConsumeRandomLengthString(64));
    const std::string content = input.ConsumeRemainingBytesAsString();
    const QStringList locales = localeCandidates(locale);
    // A phone names applications by id; a valid one never leaves the folder.
    if (isValidDesktopId(id) && (id.contains(u'/') || id.contains(u"..")))
        std::abort();
    auto entry = parseDesktopEntry(QByteArray::fromStdString(content), locales);
    if (!entry)
        return;
    auto argv = parseExecLine(entry->exec, {entry->icon, entry->name, id});
    requireRunnable(argv);
    if (argv)
        execProgramName(*argv);
}

void shortcuts(FuzzedDataProvider& input)
{
    const QString name = QString::fromStdString(input.ConsumeRandomLengthString(64));
    const std::string text = input.ConsumeRemainingBytesAsString();
    requireRunnable(findShortcut(QString::fromUtf8(text), name));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool())
        desktopEntry(input);
    else
        shortcuts(input);
    return 0;
}
