#include "app_matching.h"

#include <algorithm>

namespace orvane {

namespace {

constexpr int minimumKeyLength = 2;

// Best match so far: a higher score wins; on a tie a later candidate wins only
// with a strictly longer key.
struct Best {
    int score = 0;
    qsizetype keyLength = 0;
    std::optional<std::size_t> index;

    void offer(int candidateScore, qsizetype candidateKeyLength, std::size_t candidate)
    {
        if (candidateScore <= 0)
            return;
        if (candidateScore > score || (candidateScore == score && candidateKeyLength > keyLength)) {
            score = candidateScore;
            keyLength = candidateKeyLength;
            index = candidate;
        }
    }
};

int installedScore(const QString& key, const QString& target)
{
    if (key == target)
        return 3;
    if (key.startsWith(target) && key.size() > 2)
        return 2;
    if (target.startsWith(key) && target.size() > 2)
        return 1;
    return 0;
}

// Appends what counts in the key of decomposed text: combining marks
// dropped, case folded, only letters and digits kept. The dotless and dotted
// Turkish i fold to a plain i, so "I" and "i" always meet.
void appendKeyCharacters(QString& key, QStringView decomposed)
{
    for (qsizetype i = 0; i < decomposed.size(); ++i) {
        QChar c = decomposed[i];
        if (c.isHighSurrogate() && i + 1 < decomposed.size() &&
            decomposed[i + 1].isLowSurrogate()) {
            if (QChar::isLetterOrNumber(QChar::surrogateToUcs4(c, decomposed[i + 1])))
                key += decomposed.mid(i, 2);
            ++i;
            continue;
        }
        if (c.isSurrogate() || c.category() == QChar::Mark_NonSpacing)
            continue;
        if (c == QChar(0x0131))
            c = QLatin1Char('i');
        c = c.toCaseFolded();
        if (c.isLetterOrNumber())
            key += c;
    }
}

int runningScore(const QString& name, const QString& key, const QString& target)
{
    if (key == target)
        return 4;
    if (key.startsWith(target) && key.size() > 2)
        return 3;
    const auto words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& word : words) {
        QString wordKey = normalizedAppName(word);
        if (wordKey.size() >= 3 && wordKey.startsWith(target))
            return 2;
    }
    if (target.startsWith(key) && target.size() > 2)
        return 1;
    return 0;
}

} // namespace

QString normalizedAppName(const QString& name)
{
    QString text = name;
    text.remove(QStringLiteral(".app"));
    // Decomposed one code point at a time: decomposing a whole text costs
    // the square of its length when characters expand (U+FDFA becomes 18),
    // one at a time it is linear. Only the order of combining marks could
    // differ, and no combining mark is kept in the key.
    QString key;
    key.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        if (!pair && text[i].isSurrogate())
            continue; // half a pair is no character
        const QStringView one = QStringView(text).mid(i, pair ? 2 : 1);
        if (pair)
            ++i;
        if (one[0].unicode() < 0x80)
            appendKeyCharacters(key, one);
        else
            appendKeyCharacters(key, one.toString().normalized(QString::NormalizationForm_KD));
    }
    return key;
}

std::optional<std::size_t> findInstalledApp(const QString& name,
                                            const std::vector<InstalledApp>& apps)
{
    const QString target = normalizedAppName(name);
    if (target.size() < minimumKeyLength)
        return std::nullopt;
    Best best;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        for (const QString& candidate : {apps[i].fileName, apps[i].name}) {
            QString key = normalizedAppName(candidate);
            if (key.size() < minimumKeyLength)
                continue;
            best.offer(installedScore(key, target), key.size(), i);
        }
    }
    return best.index;
}

std::optional<std::size_t> findRunningApp(const QString& name, const std::vector<RunningApp>& apps)
{
    const QString target = normalizedAppName(name);
    if (target.size() < minimumKeyLength)
        return std::nullopt;
    Best best;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        for (const QString& candidate : {apps[i].name, apps[i].fileName}) {
            if (candidate.isEmpty())
                continue;
            QString key = normalizedAppName(candidate);
            if (key.size() < minimumKeyLength)
                continue;
            best.offer(runningScore(candidate, key, target), key.size(), i);
        }
    }
    return best.index;
}

int compareNames(QStringView a, QStringView b)
{
    // Runs of digits compare by value, everything else case-insensitively,
    // the way file managers list "App 9" before "App 10".
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        bool digitA = a[i].isDigit(), digitB = b[j].isDigit();
        qsizetype endA = i, endB = j;
        while (endA < a.size() && a[endA].isDigit() == digitA)
            ++endA;
        while (endB < b.size() && b[endB].isDigit() == digitB)
            ++endB;
        QStringView runA = a.mid(i, endA - i), runB = b.mid(j, endB - j);
        int order = 0;
        if (digitA && digitB) {
            while (runA.size() > 1 && runA.front() == QLatin1Char('0'))
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.front() == QLatin1Char('0'))
                runB = runB.mid(1);
            order = runA.size() != runB.size() ? (runA.size() < runB.size() ? -1 : 1)
                                               : runA.compare(runB);
        } else {
            order = runA.compare(runB, Qt::CaseInsensitive);
        }
        if (order != 0)
            return order < 0 ? -1 : 1;
        i = endA;
        j = endB;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j ? -1 : 1;
    return 0;
}

void sortByName(std::vector<InstalledApp>& apps)
{
    std::stable_sort(apps.begin(), apps.end(), [](const InstalledApp& a, const InstalledApp& b) {
        return compareNames(a.name, b.name) < 0;
    });
}

} // namespace orvane
