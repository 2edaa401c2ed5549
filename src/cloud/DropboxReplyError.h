#pragma once

#include "net/ServiceError.h"

#include <QSet>
#include <QString>

#include <optional>

namespace norvela {

struct HttpResult;

// A failed Dropbox reply as the service writes it: {"error_summary": "path/conflict/file/..",
// "error": {".tag": "path", …}}, or plain text for a 400 or a 5xx.
class DropboxReplyError {
public:
    static DropboxReplyError read(const HttpResult& reply);

    // Whether the error names `tag` at any depth (the summary's words count as well).
    bool has(const QString& tag) const { return m_tags.contains(tag); }
    // What an upload session holds, when the service says the offset was wrong.
    std::optional<qint64> correctOffset() const { return m_correctOffset; }

    // The failure sorted by kind, described for a person.
    ServiceError classify() const;

private:
    int m_status = 0;
    QString m_raw; // "HTTP 409: {…}"
    std::optional<ServiceError> m_byStatus;
    QString m_summary; // without the service's trailing "/.."
    QString m_userMessage;
    QSet<QString> m_tags;
    std::optional<qint64> m_correctOffset;
    std::optional<std::chrono::seconds> m_retryAfter;
};

} // namespace norvela
