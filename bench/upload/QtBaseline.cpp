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
#include <QTcpSocket>

#include <functional>

namespace norvela::bench {

namespace {

QByteArray readFile(const QString& file, QString& failure) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        failure = file + QStringLiteral(": ") + in.errorString();
        return {};
    }
    return in.readAll();
}

// Sends one request a file, each after the last one's reply, reading the file just before.
double viaNetworkManager(const QStringList& files,
                         const std::function<QNetworkRequest(const QString&)>& requestFor) {
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
        const QByteArray body = readFile(file, failure);
        if (!failure.isEmpty()) {
            loop.quit();
            return;
        }
        QNetworkReply* reply = manager.post(requestFor(file), body);
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

// The same, written by hand over one kept-alive socket with Nagle's algorithm off: a status
// line, headers and a body of Content-Length bytes back, nothing more.
double viaSocket(const QStringList& files, const std::function<QNetworkRequest(const QString&)>& requestFor) {
    QTcpSocket socket;
    QEventLoop loop;
    QString failure;
    qsizetype next = 0;
    QByteArray received;
    bool done = false;
    const auto sendNext = [&] {
        if (next == files.size() || !failure.isEmpty()) {
            done = true;
            loop.quit();
            return;
        }
        const QString file = files[next++];
        const QByteArray body = readFile(file, failure);
        if (!failure.isEmpty()) {
            done = true;
            loop.quit();
            return;
        }
        const QNetworkRequest r = requestFor(file);
        const QUrl url = r.url();
        if (socket.state() != QAbstractSocket::ConnectedState) {
            socket.connectToHost(url.host(), quint16(url.port(80)));
            if (!socket.waitForConnected(5000)) {
                failure = socket.errorString();
                done = true;
                loop.quit();
                return;
            }
            socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        }
        QByteArray head = "POST " + url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) +
                          " HTTP/1.1\r\nHost: " + url.authority().toUtf8() + "\r\n";
        for (const QByteArray& name : r.rawHeaderList())
            head += name + ": " + r.rawHeader(name) + "\r\n";
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
        socket.write(head + body);
    };
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
        received += socket.readAll();
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        qint64 length = 0;
        for (const QByteArray& line : received.left(headEnd).split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (received.size() < headEnd + 4 + length)
            return;
        if (!received.startsWith("HTTP/1.1 200"))
            failure = QString::fromUtf8(received.left(received.indexOf('\r')));
        received.remove(0, headEnd + 4 + length);
        sendNext();
    });
    QElapsedTimer clock;
    clock.start();
    sendNext();
    if (!done)
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

double QtBaseline::sendEach(const QStringList& files,
                            const std::function<QNetworkRequest(const QString&)>& requestFor) {
    return m_transport == Transport::socket ? viaSocket(files, requestFor)
                                            : viaNetworkManager(files, requestFor);
}

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
