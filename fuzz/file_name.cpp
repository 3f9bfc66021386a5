// A received file's name comes from the phone and becomes a file in the
// user's Downloads: whatever the name, the cleaned one (and every numbered
// variant tried when it is taken) names one plain entry in that folder.
#include "server/received_files.h"

#include <QList>
#include <QString>

#include <cstdlib>

using namespace orvane;

namespace {

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

void requireSafe(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        std::abort();
    if (name.toUtf8().size() > 255)
        std::abort();
    for (char32_t c : name.toUcs4())
        if (c == U'/' || isControl(c))
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString fallback = QStringLiteral("File");
    // As the router gets it (UTF-8 from the wire), and as any QString could
    // hold it, lone surrogates included.
    QString fromWire = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QString fromUtf16(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    for (const QString& name : {fromWire, fromUtf16}) {
        const QString clean = cleanReceivedFileName(name, fallback);
        requireSafe(clean);
        for (int number : {2, 10, 10'000})
            requireSafe(numberedFileName(clean, number));
    }
    return 0;
}
