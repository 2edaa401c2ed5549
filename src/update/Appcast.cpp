#include "Appcast.h"

#include <QXmlStreamReader>

namespace norvela::Appcast {

namespace {

// Version candidates in order of preference: the marketing version first, then a plain
// <version>, then the sparkle build version.
struct Candidates {
    QString shortVersion;
    QString enclosureShortVersion;
    QString plainVersion;
    QString sparkleVersion;
    QString enclosureVersion;

    QString best() const {
        for (const QString* v :
             {&shortVersion, &enclosureShortVersion, &plainVersion, &sparkleVersion, &enclosureVersion})
            if (!v->isEmpty())
                return *v;
        return {};
    }
};

std::optional<Item> readItem(QXmlStreamReader& xml, const QUrl& feedUrl) {
    const QString sparkle = QString::fromLatin1(sparkleNamespace);
    Candidates versions;
    QString link, enclosureUrl, title, pubDate;
    while (xml.readNextStartElement()) {
        const QStringView ns = xml.namespaceUri();
        const QStringView name = xml.name();
        if (ns == sparkle && name == QLatin1String("shortVersionString")) {
            versions.shortVersion = xml.readElementText().trimmed();
        } else if (ns == sparkle && name == QLatin1String("version")) {
            versions.sparkleVersion = xml.readElementText().trimmed();
        } else if (ns.isEmpty() && name == QLatin1String("version")) {
            versions.plainVersion = xml.readElementText().trimmed();
        } else if (ns.isEmpty() && name == QLatin1String("link")) {
            link = xml.readElementText().trimmed();
        } else if (ns.isEmpty() && name == QLatin1String("title")) {
            title = xml.readElementText().simplified();
        } else if (ns.isEmpty() && name == QLatin1String("pubDate")) {
            pubDate = xml.readElementText().trimmed();
        } else if (ns.isEmpty() && name == QLatin1String("enclosure")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            enclosureUrl = attributes.value(QLatin1String("url")).trimmed().toString();
            versions.enclosureShortVersion =
                attributes.value(sparkle, QLatin1String("shortVersionString")).trimmed().toString();
            versions.enclosureVersion =
                attributes.value(sparkle, QLatin1String("version")).trimmed().toString();
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    Item item{versions.best(), feedUrl.resolved(QUrl(link.isEmpty() ? enclosureUrl : link)), title,
              QDateTime::fromString(pubDate, Qt::RFC2822Date)};
    if (item.version.isEmpty() || (link.isEmpty() && enclosureUrl.isEmpty()) || !item.page.isValid())
        return std::nullopt;
    return item;
}

// Leading digits as a number, and the text after them.
std::pair<qulonglong, QStringView> splitNumber(QStringView text) {
    qsizetype digits = 0;
    while (digits < text.size() && text.at(digits).isDigit())
        ++digits;
    return {text.left(digits).toULongLong(), text.mid(digits)};
}

// One dot-separated component: its number, then text and number runs in turn ("0b10", "3-rc2").
int compareComponents(QStringView a, QStringView b) {
    const auto [leftNumber, leftRest] = splitNumber(a);
    const auto [rightNumber, rightRest] = splitNumber(b);
    if (leftNumber != rightNumber)
        return leftNumber < rightNumber ? -1 : 1;
    if (leftRest.isEmpty() || rightRest.isEmpty())
        return leftRest.isEmpty() == rightRest.isEmpty() ? 0 : leftRest.isEmpty() ? 1 : -1;
    auto textRun = [](QStringView s) {
        qsizetype n = 0;
        while (n < s.size() && !s.at(n).isDigit())
            ++n;
        return n;
    };
    const qsizetype leftText = textRun(leftRest), rightText = textRun(rightRest);
    if (const int c = leftRest.left(leftText).compare(rightRest.left(rightText), Qt::CaseInsensitive); c != 0)
        return c < 0 ? -1 : 1;
    return compareComponents(leftRest.mid(leftText), rightRest.mid(rightText));
}

} // namespace

std::optional<QList<Item>> parse(const QByteArray& data, const QUrl& feedUrl, QString* error) {
    auto fail = [error](const QString& why) -> std::optional<QList<Item>> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QXmlStreamReader xml(data);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("rss"))
        return fail(xml.hasError() ? xml.errorString() : QStringLiteral("not an RSS document"));
    QList<Item> items;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("channel")) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("item")) {
                if (auto item = readItem(xml, feedUrl))
                    items.append(*item);
            } else {
                xml.skipCurrentElement();
            }
        }
    }
    // Read to the end, so damage after the last item is noticed too.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        return fail(QStringLiteral("%1 (line %2)").arg(xml.errorString()).arg(xml.lineNumber()));
    if (items.isEmpty())
        return fail(QStringLiteral("no release in the feed"));
    return items;
}

std::optional<Item> newest(const QList<Item>& items) {
    std::optional<Item> best;
    for (const Item& item : items)
        if (!best || compareVersions(item.version, best->version) > 0)
            best = item;
    return best;
}

int compareVersions(const QString& a, const QString& b) {
    const QList<QStringView> left = QStringView(a).trimmed().split(QLatin1Char('.'));
    const QList<QStringView> right = QStringView(b).trimmed().split(QLatin1Char('.'));
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i)
        if (const int c = compareComponents(i < left.size() ? left.at(i) : QStringView(),
                                            i < right.size() ? right.at(i) : QStringView());
            c != 0)
            return c;
    return 0;
}

} // namespace norvela::Appcast
