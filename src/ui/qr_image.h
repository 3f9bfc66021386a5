#pragma once

#include <QImage>
#include <QString>

namespace orvane {

// The QR code of `text` (UTF-8, error correction M), black modules on white,
// `pixelsPerModule` pixels to a module and no margin. A null image when the
// text is empty or too long for a QR code.
QImage qrCodeImage(const QString& text, int pixelsPerModule = 10);

} // namespace orvane
