#include "ControlClient.h"

#include "ControlProtocol.h"
#include "RuntimeDirectory.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalSocket>

#include <QCoro/QCoroSignal>

#include <atomic>

namespace norvela {

namespace {

using Result = ControlClient::Result;

// Wakes the waiting request on any change of the socket. A fresh one per wait, so a wake-up
// that arrives late dies with it.
class Wake : public QObject {
    Q_OBJECT
public:
    explicit Wake(QLocalSocket* socket) {
        connect(socket, &QLocalSocket::connected, this, &Wake::woken);
        connect(socket, &QLocalSocket::readyRead, this, &Wake::woken);
        connect(socket, &QLocalSocket::disconnected, this, &Wake::woken);
        connect(socket, &QLocalSocket::errorOccurred, this, &Wake::woken);
    }
Q_SIGNALS:
    void woken();
};

// Waits until the socket reports something; false when the deadline passes first.
QCoro::Task<bool> nextEvent(QLocalSocket* socket, QDeadlineTimer deadline) {
    if (deadline.hasExpired())
        co_return false;
    Wake wake(socket);
    const auto woken =
        co_await qCoro(&wake, &Wake::woken, std::chrono::milliseconds(deadline.remainingTime()));
    co_return woken.has_value();
}

Result failed(QString error) {
    return {Result::Kind::failed, {}, std::move(error)};
}

std::atomic<int> g_nextId{1};

} // namespace

QCoro::Task<Result> ControlClient::request(QJsonObject request, std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline =
        timeout.count() < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeout);
    QString error;
    const auto directory = RuntimeDirectory::ensure(&error);
    if (!directory)
        co_return failed(error);
    const QString path = ControlProtocol::socketPath(*directory);
    if (!QFileInfo::exists(path))
        co_return Result{Result::Kind::notRunning};

    QLocalSocket socket;
    socket.connectToServer(path);
    while (socket.state() == QLocalSocket::ConnectingState)
        if (!co_await nextEvent(&socket, deadline))
            co_return failed(QStringLiteral("Norvela did not accept the connection in time"));
    if (socket.state() != QLocalSocket::ConnectedState) {
        if (socket.error() == QLocalSocket::ServerNotFoundError ||
            socket.error() == QLocalSocket::ConnectionRefusedError)
            co_return Result{Result::Kind::notRunning};
        co_return failed(QStringLiteral("Couldn't connect to Norvela: %1").arg(socket.errorString()));
    }
    if (!ControlProtocol::peerIsSameUser(socket.socketDescriptor()))
        co_return failed(QStringLiteral("%1 is served by another user's process").arg(path));

    const int id = g_nextId++;
    request.insert(QStringLiteral("v"), ControlProtocol::version);
    request.insert(QStringLiteral("id"), id);
    socket.write(ControlProtocol::encode(request));
    while (!socket.canReadLine()) {
        if (socket.state() != QLocalSocket::ConnectedState)
            co_return failed(QStringLiteral("Norvela closed the connection without answering"));
        if (!co_await nextEvent(&socket, deadline))
            co_return failed(QStringLiteral("Norvela did not answer in time"));
    }
    const auto reply = ControlProtocol::decode(socket.readLine());
    if (!reply || reply->value(QStringLiteral("v")).toInt() != ControlProtocol::version ||
        reply->value(QStringLiteral("id")).toInt() != id)
        co_return failed(QStringLiteral("Norvela sent a reply this version cannot read"));
    Result result{Result::Kind::replied, *reply};
    if (!result.ok())
        result.error = reply->value(QStringLiteral("error")).toString();
    co_return result;
}

} // namespace norvela

#include "ControlClient.moc"
