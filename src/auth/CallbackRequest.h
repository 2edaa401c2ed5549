#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace norvela {

// The request a browser sends to the loopback callback server, read from its head alone.
// A plain value so the parsing can be tested and fuzzed without sockets.
struct CallbackRequest {
    QByteArray method;
    QUrl url; // http://localhost + the request target

    // Where the head (request line and headers) ends: the index just past its blank line,
    // or -1 while it is incomplete.
    static qsizetype headLength(const QByteArray& bytes);
    // Nothing when the request line is not "<METHOD> <origin-form target> HTTP/1.x" or the
    // target is not a valid URL path and query.
    static std::optional<CallbackRequest> parse(const QByteArray& head);

    // The decoded path of the target.
    QString path() const { return url.path(QUrl::FullyDecoded); }
    // The first value of query item `name`, decoded; a repeated name counts once.
    std::optional<QString> item(const QString& name) const;
};

} // namespace norvela
