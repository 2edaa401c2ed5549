#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace norvela {

// One uploaded file as recent-activity lists and the synced-files window show it.
// Sharing and version history need providerID, relativePath and ref.
struct RecentFile {
    Q_GADGET
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QDateTime syncedAt MEMBER syncedAt)
    Q_PROPERTY(QString relativeTime READ relativeTime)

public:
    QUuid id = QUuid::createUuid();
    QString name;
    QDateTime syncedAt;
    std::optional<QUrl> url;
    std::optional<QString> providerID;
    std::optional<QString> relativePath;
    std::optional<QString> ref;
    std::optional<qint64> sizeBytes;

    QString relativeTime() const;
    QString relativeTime(const QDateTime& now) const;

    bool operator==(const RecentFile&) const = default;
};

} // namespace norvela

Q_DECLARE_METATYPE(norvela::RecentFile)
