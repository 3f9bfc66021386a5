#include "theme_icons.h"

#include "desktop_entry_index.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

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

bool isSvgFile(const QString& file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    return suffix == u"svg" || suffix == u"svgz";
}

// The file behind an Icon value that the theme does not resolve: the path
// itself, or the hicolor and pixmaps fallbacks. Empty when there is none.
QString iconFile(const QString& icon)
{
    if (QDir::isAbsolutePath(icon))
        return QFileInfo(icon).isFile() ? icon : QString();
    return findFallbackIconFile(icon, dataFolders());
}

// Vector icons are drawn by the SVG renderer itself at the size asked for:
// sharp at any size, and independent of finding Qt's SVG plugins.
QImage drawSvg(const QString& file, int pixels)
{
    QSvgRenderer renderer(file);
    if (!renderer.isValid())
        return {};
    QSizeF size = renderer.viewBoxF().size();
    if (size.isEmpty())
        size = QSizeF(pixels, pixels);
    QImage image(pixels, pixels, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const QSizeF fitted = size.scaled(pixels, pixels, Qt::KeepAspectRatio);
    {
        QPainter painter(&image);
        renderer.render(
            &painter,
            QRectF(QPointF((pixels - fitted.width()) / 2, (pixels - fitted.height()) / 2), fitted));
    }
    return image;
}

QImage drawPixmap(const QIcon& icon, int pixels)
{
    const QPixmap pixmap = icon.isNull() ? QPixmap() : icon.pixmap(QSize(pixels, pixels));
    if (pixmap.isNull())
        return {};
    QImage image(pixels, pixels, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const QSize fitted = pixmap.size().scaled(pixels, pixels, Qt::KeepAspectRatio);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(
            QRect(QPoint((pixels - fitted.width()) / 2, (pixels - fitted.height()) / 2), fitted),
            pixmap);
    }
    return image;
}

QImage drawIcon(const QString& icon, int pixels)
{
    QIcon themed;
    if (!QDir::isAbsolutePath(icon)) {
        if (icon.isEmpty() || icon.contains(u'/') || icon.contains(u".."))
            return {};
        themed = QIcon::fromTheme(icon);
        if (!themed.isNull() && !themed.availableSizes().isEmpty())
            return drawPixmap(themed, pixels);
    }
    const QString file = iconFile(icon);
    if (file.isEmpty())
        return drawPixmap(themed, pixels);
    return isSvgFile(file) ? drawSvg(file, pixels) : drawPixmap(QIcon(file), pixels);
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
    const QImage image = drawIcon(icon, pixels);
    if (image.isNull())
        return std::nullopt;
    return encodePng(image);
}

std::optional<QByteArray> themeIconPng(const QStringList& names, int pixels)
{
    for (const QString& name : names) {
        if (auto png = renderIconPng(name, pixels))
            return png;
    }
    return std::nullopt;
}

} // namespace orvane
