#pragma once

#include "HttpMessage.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace cloudsim {

// Norvela's release feed: an appcast with one release, and that release's notes page.
//   GET /updates/appcast.xml   GET /updates/norvela-<version>.html
class UpdateFeed {
public:
    // By default the feed offers the version being built, so Norvela finds itself up to date.
    static constexpr const char* defaultVersion = NORVELA_VERSION;

    UpdateFeed();

    // The release the feed advertises; an empty title means "Norvela <version>". False for
    // a version that cannot name a page ("1.2.3", "0.2.0-beta1" are fine).
    bool setLatestVersion(const QString& version, const QString& title = {});
    const QString& latestVersion() const { return m_version; }
    const QString& title() const { return m_title; }

    // `rest`: the path below /updates; `baseUrl`: where the emulator is reached.
    HttpResponse handle(const HttpRequest& request, const QString& rest, const QString& baseUrl) const;

    void reset();
    QJsonObject toJson() const;
    void fromJson(const QJsonObject& o);

private:
    QByteArray appcast(const QString& baseUrl) const;
    QString pageName() const;

    QString m_version;
    QString m_title;
    QDateTime m_published;
};

} // namespace cloudsim
