#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// The control protocol between the command-line tool and the running instance: one compact
// JSON object per '\n'-terminated UTF-8 line over the local socket.
//   request: {"v":1,"id":<int>,"cmd":"<name>", ...arguments}
//   reply:   {"v":1,"id":<same>,"ok":true, ...result}
//            {"v":1,"id":<same>,"ok":false,"error":"<text>"}
// Requests on one connection are answered in order.
namespace norvela::ControlProtocol {

inline constexpr int version = 1;

// A longer line closes the connection.
inline constexpr qsizetype maxLineBytes = 1024 * 1024;

QString socketPath(const QString& runtimeDirectory);

// The message as one line, "\n" included.
QByteArray encode(const QJsonObject& message);

// The line's JSON object, or nullopt when it is not one.
std::optional<QJsonObject> decode(const QByteArray& line);

// An ok:false reply; `id` is left out when undefined.
QJsonObject failure(const QJsonValue& id, const QString& error);

// Whether the process at the other end of a connected local socket runs as this user.
bool peerIsSameUser(qintptr socketDescriptor);

// Whether something accepts connections on the socket file at `path` now.
bool answers(const QString& path);

} // namespace norvela::ControlProtocol
