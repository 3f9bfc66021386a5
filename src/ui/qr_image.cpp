#include "qr_image.h"

#include <qrcodegen/qrcodegen.hpp>

#include <QPainter>

#include <stdexcept>

namespace orvane {

QImage qrCodeImage(const QString& text, int pixelsPerModule)
{
    if (text.isEmpty() || pixelsPerModule < 1)
        return {};
    QByteArray utf8 = text.toUtf8();
    try {
        auto code = qrcodegen::QrCode::encodeText(utf8.constData(), qrcodegen::QrCode::Ecc::MEDIUM);
        const int size = code.getSize();
        QImage image(size * pixelsPerModule, size * pixelsPerModule, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                if (code.getModule(x, y))
                    painter.fillRect(x * pixelsPerModule, y * pixelsPerModule, pixelsPerModule,
                                     pixelsPerModule, Qt::black);
        return image;
    } catch (const std::length_error&) {
        return {};
    }
}

} // namespace orvane
