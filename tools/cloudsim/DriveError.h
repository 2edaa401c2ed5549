#pragma once

#include "HttpMessage.h"

#include <QString>

namespace cloudsim {

// A Drive API failure, answered as the service does:
//   {"error":{"code":…,"message":…,"errors":[{"domain","reason","message",…}]}}
struct DriveError {
    int status = 0; // 0: no error
    QString reason;
    QString message;
    QString location; // the offending parameter, when there is one

    explicit operator bool() const { return status != 0; }
    HttpResponse response() const;

    static DriveError fileNotFound(const QString& fileId);
    static DriveError revisionNotFound(const QString& revisionId);
    static DriveError invalidValue(const QString& parameter);
    static DriveError parseError();
    static DriveError badRequest(const QString& message);
    static DriveError notFound(); // no such endpoint
};

} // namespace cloudsim
