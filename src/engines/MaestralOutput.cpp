#include "MaestralOutput.h"

#include <QHash>
#include <QUrl>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace norvela {

namespace {

QString trimSpacesAndTabs(const QString& text) {
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype begin = 0, end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// First letter of every white-space separated word upper case, the rest lower case.
QString capitalized(const QString& text) {
    QString result;
    result.reserve(text.size());
    bool wordStart = true;
    for (qsizetype i = 0; i < text.size();) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const QString character = text.mid(i, pair ? 2 : 1);
        i += character.size();
        if (character.front().isSpace()) {
            result += character;
            wordStart = true;
        } else {
            result += wordStart ? character.toUpper() : character.toLower();
            wordStart = false;
        }
    }
    return result;
}

QString lastPathComponent(const QString& path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    if (trimmed == QLatin1String("/"))
        return trimmed;
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

MaestralOutput::Status MaestralOutput::parseStatus(const QString& output) {
    QHash<QString, QString> values;
    for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        const QString value = colon > 0 ? trimSpacesAndTabs(line.mid(colon + 1)) : QString();
        if (value.isEmpty()) // no key, or nothing but blanks after it
            continue;
        values.insert(trimSpacesAndTabs(line.left(colon)).toLower(), value);
    }

    Status result;
    const QString status = values.value(QStringLiteral("status")).toLower();
    if (status.contains(QLatin1String("paused")))
        result.state = SyncState::paused;
    else if (status.contains(QLatin1String("syncing")) || status.contains(QLatin1String("indexing")))
        result.state = SyncState::syncing;

    const auto usage = values.constFind(QStringLiteral("usage"));
    const auto account = values.constFind(QStringLiteral("account"));
    if (usage == values.cend() || account == values.cend())
        return result;
    const QStringList localPart = account->split(QLatin1Char('@'), Qt::SkipEmptyParts);
    const QStringList amounts = usage->split(QStringLiteral(" of "));
    AccountInfo info;
    info.displayName = capitalized(localPart.isEmpty() ? *account : localPart.first());
    info.email = *account;
    info.planName = QStringLiteral("Dropbox");
    info.usedBytes = parseBytes(amounts.value(0));
    info.quotaBytes = parseBytes(amounts.value(1));
    result.account = info;
    return result;
}

QList<RecentFile> MaestralOutput::parseHistory(const QString& output, const QString& root,
                                               const QDateTime& now) {
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QList<RecentFile> records;
    // The newest three lines only; a line without a path does not make room for an older one.
    for (qsizetype i = lines.size() - 1; i >= 0 && i >= lines.size() - 3; --i) {
        const QStringList pieces = lines[i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const auto path = std::find_if(pieces.cbegin(), pieces.cend(), [](const QString& piece) {
            return piece.startsWith(QLatin1Char('/'));
        });
        if (path == pieces.cend())
            continue;
        RecentFile record;
        record.name = lastPathComponent(*path);
        record.syncedAt = now;
        record.url = QUrl::fromLocalFile(root + *path);
        records.append(record);
    }
    return records;
}

qint64 MaestralOutput::parseBytes(const QString& text) {
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size && text[i].isSpace())
        ++i;
    const qsizetype begin = i;
    if (i < size && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    qsizetype digits = 0;
    for (; i < size && isAsciiDigit(text[i]); ++i)
        ++digits;
    if (i < size && text[i] == QLatin1Char('.'))
        for (++i; i < size && isAsciiDigit(text[i]); ++i)
            ++digits;
    if (digits == 0)
        return 0;
    if (i < size && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        if (j < size && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
            ++j;
        if (j < size && isAsciiDigit(text[j])) {
            while (j < size && isAsciiDigit(text[j]))
                ++j;
            i = j;
        }
    }

    // from_chars takes no "+" and, unlike strtod, ignores the process locale.
    QByteArray number = text.mid(begin, i - begin).toLatin1();
    if (number.startsWith('+'))
        number.remove(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(number.cbegin(), number.cend(), value);
    if (error != std::errc() || end != number.cend())
        return 0;

    const QString lower = text.toLower();
    double multiplier = 1;
    if (lower.contains(QLatin1String("tb")))
        multiplier = 1e12;
    else if (lower.contains(QLatin1String("gb")))
        multiplier = 1e9;
    else if (lower.contains(QLatin1String("mb")))
        multiplier = 1e6;
    else if (lower.contains(QLatin1String("kb")))
        multiplier = 1e3;

    const double bytes = std::trunc(value * multiplier);
    // Beyond any real storage size; clamped so the conversion stays defined.
    constexpr double limit = 9.2e18;
    if (bytes >= limit)
        return std::numeric_limits<qint64>::max();
    if (bytes <= -limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(bytes);
}

} // namespace norvela
