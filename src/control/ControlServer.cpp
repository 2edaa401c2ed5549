#include "ControlServer.h"

#include "ControlConnection.h"
#include "ControlProtocol.h"
#include "RuntimeDirectory.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/stat.h>

namespace norvela {

ControlServer::ControlServer(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_server(new QLocalServer(this)) {
    connect(m_server, &QLocalServer::newConnection, this, &ControlServer::accept);
}

ControlServer::~ControlServer() = default;

bool ControlServer::listen(QString* error) {
    const auto directory = RuntimeDirectory::ensure(error);
    if (!directory)
        return false;
    const QString path = ControlProtocol::socketPath(*directory);
    if (QFile::exists(path) || QFileInfo(path).isSymLink()) {
        if (ControlProtocol::answers(path)) {
            if (error)
                *error = QStringLiteral("Another Norvela is answering on %1").arg(path);
            return false;
        }
        QFile::remove(path); // left behind by an instance that crashed
    }
    if (!m_server->listen(path)) {
        if (error)
            *error = QStringLiteral("Couldn't listen on %1: %2").arg(path, m_server->errorString());
        return false;
    }
    // Already unreachable for others inside the 0700 folder; owner-only as well.
    ::chmod(QFile::encodeName(path).constData(), 0600);
    return true;
}

QString ControlServer::socketPath() const {
    return m_server->fullServerName();
}

void ControlServer::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        if (!ControlProtocol::peerIsSameUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new ControlConnection(socket, m_handler, this);
    }
}

} // namespace norvela
