#include "QtBaseline.h"

#include "common/NorvelaError.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <functional>

namespace norvela::bench {

namespace {

// Sends one request a file, each after the last one's reply, reading the file just before.
double sendEach(const QStringList& files, const std::function<QNetworkRequest(const QString&)>& requestFor) {
    QNetworkAccessManager manager;
    QEventLoop loop;
    QString failure;
    qsizetype next = 0;
    std::function<void()> sendNext = [&] {
        if (next == files.size() || !failure.isEmpty()) {
            loop.quit();
            return;
        }
        const QString file = files[next++];
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly)) {
            failure = file + QStringLiteral(": ") + in.errorString();
            loop.quit();
            return;
        }
        QNetworkReply* reply = manager.post(requestFor(file), in.readAll());
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply] {
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
                failure = QStringLiteral("%1: %2").arg(file, reply->errorString());
            reply->deleteLater();
            sendNext();
        });
    };
    QElapsedTimer clock;
    clock.start();
    sendNext();
    loop.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!failure.isEmpty())
        throw NorvelaError(failure);
    return seconds;
}

QNetworkRequest request(const QString& url, const QByteArray& token) {
    QNetworkRequest r{QUrl(url)};
    r.setRawHeader("Authorization", "Bearer " + token);
    r.setRawHeader("Content-Type", "application/octet-stream");
    return r;
}

} // namespace

double QtBaseline::dropboxFiles(const QStringList& files, const QString& dropboxFolder) {
    const QString url = m_baseUrl + QStringLiteral("/dropbox/content/2/files/upload");
    return sendEach(files, [&](const QString& file) {
        QNetworkRequest r = request(url, m_dropboxToken);
        const QJsonObject arg{
            {QStringLiteral("path"), dropboxFolder + QLatin1Char('/') + QFileInfo(file).fileName()},
            {QStringLiteral("mode"), QStringLiteral("overwrite")},
            {QStringLiteral("autorename"), false},
            {QStringLiteral("mute"), false}};
        r.setRawHeader("Dropbox-API-Arg", QJsonDocument(arg).toJson(QJsonDocument::Compact));
        return r;
    });
}

double QtBaseline::driveFiles(const QStringList& files) {
    const QString url =
        m_baseUrl +
        QStringLiteral("/google/www/upload/drive/v3/files?uploadType=media&fields=id,md5Checksum,size");
    return sendEach(files, [&](const QString&) { return request(url, m_driveToken); });
}

} // namespace norvela::bench
