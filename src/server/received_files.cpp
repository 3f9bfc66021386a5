#include "received_files.h"

#include "safe_text.h"

#include "protocol/utf8.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace orvane {

namespace {

constexpr int maximumNameBytes = 255;
// The search for a free name gives up here rather than spin forever on a
// folder someone filled on purpose.
constexpr int lastNumberTried = 10'000;

// Splits "archive.tar.gz" into "archive.tar" and "gz"; a leading dot is not
// an extension.
std::pair<QString, QString> splitExtension(const QString& name)
{
    qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return {name, {}};
    return {name.left(dot), name.mid(dot + 1)};
}

QString cutToBytes(const QString& name, int maxBytes)
{
    QByteArray utf8 = name.toUtf8();
    if (utf8.size() <= maxBytes)
        return name;
    auto [base, extension] = splitExtension(name);
    QByteArray tail = extension.isEmpty() ? QByteArray() : "." + extension.toUtf8();
    if (tail.size() >= maxBytes / 2)
        tail.clear(); // an absurd extension is not worth keeping
    QByteArray baseUtf8 = base.toUtf8();
    std::string_view kept = utf8::prefixBytes(
        std::string_view(baseUtf8.constData(), baseUtf8.size()), maxBytes - tail.size());
    return QString::fromUtf8(kept.data(), qsizetype(kept.size())) + QString::fromUtf8(tail);
}

} // namespace

QString cleanReceivedFileName(const QString& name, const QString& fallback)
{
    QString cleaned;
    cleaned.reserve(name.size());
    for (char32_t c : name.toUcs4()) {
        if (c == U'/' || c == U':')
            cleaned += QLatin1Char('-');
        else if (!isUnsafeCharacter(c))
            cleaned += QString::fromUcs4(&c, 1);
    }
    // Checked after the cut too: cutting "..<a very long extension>" drops the
    // extension and leaves "." or "..".
    cleaned = cutToBytes(cleaned, maximumNameBytes);
    if (cleaned.isEmpty() || cleaned == QLatin1String(".") || cleaned == QLatin1String(".."))
        return fallback;
    return cleaned;
}

QString numberedFileName(const QString& name, int number)
{
    if (number <= 1)
        return name;
    auto [base, extension] = splitExtension(name);
    QString suffix = QLatin1Char(' ') + QString::number(number);
    QString numbered = base + suffix;
    if (!extension.isEmpty())
        numbered += QLatin1Char('.') + extension;
    if (numbered.toUtf8().size() <= maximumNameBytes)
        return numbered;
    // Make room for the number inside the byte limit.
    QString roomy = cutToBytes(name, maximumNameBytes - int(suffix.toUtf8().size()));
    auto [shortBase, shortExtension] = splitExtension(roomy);
    return shortBase + suffix +
           (shortExtension.isEmpty() ? QString() : QLatin1Char('.') + shortExtension);
}

std::optional<QString> writeNewFile(const QString& folder, const QString& cleanName,
                                    ByteView contents)
{
    if (!QDir().mkpath(folder))
        return std::nullopt;
    for (int number = 1; number <= lastNumberTried; ++number) {
        QString name = numberedFileName(cleanName, number);
        QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + name);
        int fd =
            ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST || errno == ELOOP)
                continue;
            return std::nullopt;
        }
        std::size_t written = 0;
        while (written < contents.size()) {
            ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            written += static_cast<std::size_t>(n);
        }
        bool ok = written == contents.size();
        ok = (::close(fd) == 0) && ok;
        if (!ok) {
            ::unlink(path.constData()); // no partial file is left behind
            return std::nullopt;
        }
        return name;
    }
    return std::nullopt;
}

bool leavesFreeSpace(const QString& folder, std::int64_t size, std::optional<std::int64_t> floor)
{
    QDir dir(folder);
    while (!dir.exists() && !dir.isRoot())
        dir.setPath(QFileInfo(dir.absolutePath()).absolutePath());
    struct statvfs disk {};
    if (::statvfs(QFile::encodeName(dir.absolutePath()).constData(), &disk) != 0)
        return false;
    const auto blockSize = static_cast<std::int64_t>(disk.f_frsize);
    const std::int64_t free = static_cast<std::int64_t>(disk.f_bavail) * blockSize;
    const std::int64_t total = static_cast<std::int64_t>(disk.f_blocks) * blockSize;
    const std::int64_t keep =
        floor.value_or(std::min<std::int64_t>(std::int64_t{1} << 30, total / 20));
    return free - size >= keep;
}

} // namespace orvane
