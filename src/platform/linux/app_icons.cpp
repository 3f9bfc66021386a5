#include "app_icons.h"

#include "app_index.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace orvane {

namespace {

constexpr int maxIconPixels = 1024;

// Sizes to look in, largest first, so the picture is scaled down, not up.
const QStringList& hicolorSizes()
{
    static const QStringList sizes = {
        QStringLiteral("512x512"),  QStringLiteral("256x256"), QStringLiteral("128x128"),
        QStringLiteral("96x96"),    QStringLiteral("64x64"),   QStringLiteral("48x48"),
        QStringLiteral("32x32"),    QStringLiteral("24x24"),   QStringLiteral("16x16"),
        QStringLiteral("scalable"),
    };
    return sizes;
}

QStringList candidateFileNames(const QString& iconName)
{
    QStringList names;
    const QString suffix = QFileInfo(iconName).suffix();
    if (suffix == u"png" || suffix == u"svg" || suffix == u"xpm")
        names << iconName; // some entries name the file, extension and all
    for (const char* extension : {".png", ".svg", ".xpm"})
        names << iconName + QLatin1String(extension);
    return names;
}

QString firstExisting(const QString& folder, const QStringList& names)
{
    for (const QString& name : names) {
        const QString path = folder + u'/' + name;
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

QIcon loadIcon(const QString& icon)
{
    if (QDir::isAbsolutePath(icon))
        return QFileInfo(icon).isFile() ? QIcon(icon) : QIcon();
    if (icon.isEmpty() || icon.contains(u'/') || icon.contains(u".."))
        return {};
    QIcon themed = QIcon::fromTheme(icon);
    if (!themed.isNull() && !themed.availableSizes().isEmpty())
        return themed;
    const QString file = findFallbackIconFile(icon, dataFolders());
    if (!file.isEmpty())
        return QIcon(file);
    return themed;
}

std::optional<QByteArray> encodePng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return std::nullopt;
    return png;
}

} // namespace

QString findFallbackIconFile(const QString& iconName, const QStringList& dataFolders)
{
    const QStringList names = candidateFileNames(iconName);
    for (const QString& data : dataFolders) {
        for (const QString& size : hicolorSizes()) {
            const QString found = firstExisting(
                data + QStringLiteral("/icons/hicolor/") + size + QStringLiteral("/apps"), names);
            if (!found.isEmpty())
                return found;
        }
    }
    for (const QString& data : dataFolders) {
        const QString found = firstExisting(data + QStringLiteral("/pixmaps"), names);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

std::optional<QByteArray> renderIconPng(const QString& icon, int pixels)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return std::nullopt; // pixmaps need the GUI application
    if (pixels <= 0 || pixels > maxIconPixels)
        return std::nullopt;
    const QIcon loaded = loadIcon(icon);
    const QPixmap pixmap = loaded.isNull() ? QPixmap() : loaded.pixmap(QSize(pixels, pixels));
    if (pixmap.isNull())
        return std::nullopt;
    QImage image(pixels, pixels, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize fitted = pixmap.size().scaled(pixels, pixels, Qt::KeepAspectRatio);
        const QRect target(QPoint((pixels - fitted.width()) / 2, (pixels - fitted.height()) / 2),
                           fitted);
        painter.drawPixmap(target, pixmap);
    }
    return encodePng(image);
}

} // namespace orvane
