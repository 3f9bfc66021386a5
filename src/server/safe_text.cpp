#include "safe_text.h"

#include "protocol/utf8.h"

#include <QList>

namespace orvane {

bool isUnsafeCharacter(char32_t c)
{
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
        return true;                                  // NUL and other controls
    return (c >= 0x202A && c <= 0x202E) ||            // embeddings and overrides
           (c >= 0x2066 && c <= 0x2069) ||            // isolates
           c == 0x200E || c == 0x200F || c == 0x061C; // directional marks
}

bool isDeceptiveCharacter(char32_t c)
{
    if (isUnsafeCharacter(c) || c == 0x2028 || c == 0x2029)
        return true;
    return QChar::category(c) == QChar::Other_Format;
}

QString cleanDeviceName(const std::string& name, qsizetype maximumCharacters)
{
    // Invalid UTF-8 becomes U+FFFD first, so what is counted is what shows.
    QString text = QString::fromStdString(utf8::sanitize(name));
    QString cleaned;
    cleaned.reserve(text.size());
    qsizetype kept = 0;
    for (char32_t c : text.toUcs4()) {
        if (isDeceptiveCharacter(c))
            continue;
        if (kept++ == maximumCharacters)
            break;
        cleaned += QString::fromUcs4(&c, 1);
    }
    return cleaned;
}

QString shownText(const QString& text)
{
    QString shown;
    qsizetype kept = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
        const QStringView character = QStringView(text).mid(i, pair ? 2 : 1);
        i += pair ? 1 : 0;
        if (isDeceptiveCharacter(c))
            continue;
        if (kept++ == maximumShownCharacters) {
            shown += QChar(u'\u2026');
            break;
        }
        shown += character;
    }
    return shown;
}

QString printableLine(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (char32_t c : text.toUcs4()) {
        if (isUnsafeCharacter(c) || c == 0x2028 || c == 0x2029)
            out += QChar(u'\uFFFD');
        else
            out += QString::fromUcs4(&c, 1);
    }
    return out;
}

} // namespace orvane
