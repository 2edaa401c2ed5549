#pragma once

#include "net/ServiceError.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace norvela {

struct HttpResult;

// A failed Drive reply as the service writes it:
//   {"error": {"code": 403, "message": "…", "errors": [{"reason": "storageQuotaExceeded", …}]}}
class DriveReplyError {
public:
    static DriveReplyError read(const HttpResult& reply);

    bool has(const QString& reason) const { return m_reasons.contains(reason); }
    int status() const { return m_status; }

    // The failure sorted by kind, described for a person. With `byReference` the request named
    // a file or a parent folder by id, so a 404 (or a 403 for a file the app may no longer
    // touch) means that id is stale.
    ServiceError classify(bool byReference) const;

private:
    int m_status = 0;
    QString m_raw;     // "HTTP 404: {…}"
    QString m_message; // the service's sentence, when it sent one
    QStringList m_reasons;
    std::optional<ServiceError> m_byStatus;
    std::optional<std::chrono::seconds> m_retryAfter;
};

} // namespace norvela
