#pragma once

#include "DriveError.h"
#include "HttpMessage.h"

#include <QJsonObject>
#include <QString>

namespace cloudsim {

// A query parameter as the service reads it: '+' is a space, then percent-decoding. Null
// when the parameter is absent.
QString driveParam(const HttpRequest& request, const QString& name);

// The JSON object of a metadata body; an empty body is an empty object.
DriveError readMetadata(const HttpRequest& request, QJsonObject* out);

} // namespace cloudsim
