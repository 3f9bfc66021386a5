#include "desktop_words.h"

#include <QRegularExpression>

namespace orvane {

namespace {

QString modifierName(QChar glyph)
{
    switch (glyph.unicode()) {
    case u'⌃':
        return QStringLiteral("Ctrl");
    case u'⌥':
        return QStringLiteral("Alt");
    case u'⇧':
        return QStringLiteral("Shift");
    default:
        return QStringLiteral("Super");
    }
}

// The keys that have a glyph of their own after the modifiers.
QString keyName(const QString& key)
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("↩"), QStringLiteral("Enter")},
        {QStringLiteral("⇥"), QStringLiteral("Tab")},
        {QStringLiteral("⌫"), QStringLiteral("Backspace")},
        {QStringLiteral("⎋"), QStringLiteral("Esc")}};
    return names.value(key, key);
}

} // namespace

QString withDesktopKeyNames(const QString& text)
{
    // The modifiers, then the key: up to the next space, or a glyph key.
    static const QRegularExpression shortcut(QStringLiteral("([⌃⌥⇧⌘]+)([↩⇥⌫⎋]|[^\\s⌃⌥⇧⌘]*)"));
    QString result;
    qsizetype done = 0;
    for (const QRegularExpressionMatch& match : shortcut.globalMatch(text)) {
        result += text.mid(done, match.capturedStart() - done);
        QStringList parts;
        for (QChar glyph : match.capturedView(1))
            parts << modifierName(glyph);
        if (!match.captured(2).isEmpty())
            parts << keyName(match.captured(2));
        result += parts.join(QLatin1Char('+'));
        done = match.capturedEnd();
    }
    return result + text.mid(done);
}

} // namespace orvane
