#include "qr_text.h"

#include <qrcodegen/qrcodegen.hpp>

namespace orvane {

namespace {
constexpr int quietZone = 4;
} // namespace

std::string qrCodeAsText(const std::string& text)
{
    if (text.empty())
        return {};
    try {
        auto qr = qrcodegen::QrCode::encodeText(text.c_str(), qrcodegen::QrCode::Ecc::MEDIUM);
        int size = qr.getSize();
        // Outside the symbol counts as light: the quiet zone.
        auto dark = [&](int x, int y) {
            return x >= 0 && y >= 0 && x < size && y < size && qr.getModule(x, y);
        };
        std::string out;
        for (int y = -quietZone; y < size + quietZone; y += 2) {
            out += qrRowStart;
            for (int x = -quietZone; x < size + quietZone; ++x) {
                bool top = dark(x, y);
                bool bottom = dark(x, y + 1);
                out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
            }
            out += qrRowEnd;
            out += '\n';
        }
        return out;
    } catch (const std::exception&) {
        return {}; // too long for any QR version
    }
}

} // namespace orvane
