#include "HttpClient.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>

#include <memory>

namespace norvela::test {

QByteArray HttpReply::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

HttpReply httpRequest(const QByteArray& method, const QString& url, const QByteArray& body,
                      const QList<QPair<QByteArray, QByteArray>>& headers, int timeoutMs) {
    // Goes with the application object, closing its connections while Qt is still whole.
    static QNetworkAccessManager* manager = new QNetworkAccessManager(QCoreApplication::instance());
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    for (const auto& [name, value] : headers)
        request.setRawHeader(name, value);
    std::unique_ptr<QNetworkReply> reply(manager->sendCustomRequest(request, method, body));
    waitFor([&] { return reply->isFinished(); }, std::chrono::milliseconds(timeoutMs + 1000));
    HttpReply out;
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.body = reply->readAll();
    out.headers = reply->rawHeaderPairs();
    if (reply->error() != QNetworkReply::NoError)
        out.error = reply->errorString();
    return out;
}

QByteArray rawExchange(quint16 port, const QByteArray& bytes, int timeoutMs) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!waitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; },
                 std::chrono::milliseconds(timeoutMs)))
        return {};
    socket.write(bytes);
    QByteArray received;
    waitFor(
        [&] {
            received += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        std::chrono::milliseconds(timeoutMs));
    received += socket.readAll();
    return received;
}

} // namespace norvela::test
