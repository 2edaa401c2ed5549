#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// An appcast: the RSS 2.0 feed of releases that desktop updaters read. Each <item> is one
// release, its version in the "sparkle" namespace (element or <enclosure> attribute) or in
// a plain <version> element.
namespace norvela::Appcast {

inline constexpr const char* sparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

struct Item {
    QString version;
    QUrl page; // the item's <link>, else its enclosure's url; resolved against the feed's URL
    QString title;
    QDateTime published; // invalid when absent
};

// The feed's releases; nullopt for malformed XML or a feed without a usable item.
// `error` (optional) receives why.
std::optional<QList<Item>> parse(const QByteArray& xml, const QUrl& feedUrl, QString* error = nullptr);

// The newest item by version, or nullopt for an empty list.
std::optional<Item> newest(const QList<Item>& items);

// Numeric, component by component: "0.10.0" > "0.9.3", "1.0" == "1.0.0". A component's
// trailing text marks a pre-release ("1.0b2" < "1.0"). Negative, zero or positive.
int compareVersions(const QString& a, const QString& b);

} // namespace norvela::Appcast
