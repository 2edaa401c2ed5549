#include "ControlProtocol.h"

#include <QFile>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace norvela::ControlProtocol {

QString socketPath(const QString& runtimeDirectory) {
    return runtimeDirectory + QStringLiteral("/control.sock");
}

QByteArray encode(const QJsonObject& message) {
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> decode(const QByteArray& line) {
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

QJsonObject failure(const QJsonValue& id, const QString& error) {
    QJsonObject reply{
        {QStringLiteral("v"), version}, {QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
    if (!id.isUndefined())
        reply.insert(QStringLiteral("id"), id);
    return reply;
}

bool peerIsSameUser(qintptr socketDescriptor) {
    struct ucred credentials {};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof credentials)
        return false;
    return credentials.uid == ::geteuid();
}

bool answers(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (native.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, native.constData(), native.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A local connect completes or fails at once; EAGAIN means a listener whose backlog is full.
    const bool live =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN;
    ::close(fd);
    return live;
}

} // namespace norvela::ControlProtocol
