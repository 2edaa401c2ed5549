#pragma once

#include <QByteArray>
#include <QJsonObject>

namespace norvela::DropboxApiArg {

// The "Dropbox-API-Arg" header of a content call: compact JSON in printable ASCII only, as the
// service refuses any other byte in a header. Control characters go as JSON escapes, and
// DEL and everything beyond ASCII as \uXXXX (a surrogate pair above U+FFFF).
QByteArray encode(const QJsonObject& arg);

} // namespace norvela::DropboxApiArg
