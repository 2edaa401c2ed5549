#include "CallbackRequest.h"

#include <QUrlQuery>

namespace norvela {

namespace {

bool isMethodChar(char c) {
    return c >= 'A' && c <= 'Z';
}

// Printable ASCII without space: a browser percent-encodes everything else in a target.
bool isTargetChar(char c) {
    return c > ' ' && c < 0x7f;
}

} // namespace

qsizetype CallbackRequest::headLength(const QByteArray& bytes) {
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    return end < 0 ? -1 : end + 4;
}

std::optional<CallbackRequest> CallbackRequest::parse(const QByteArray& head) {
    const qsizetype lineEnd = head.indexOf("\r\n");
    const QByteArray line = lineEnd < 0 ? head : head.left(lineEnd);
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || parts[0].isEmpty() || !parts[2].startsWith("HTTP/1.") || parts[2].size() != 8)
        return std::nullopt;
    if (!std::all_of(parts[0].cbegin(), parts[0].cend(), isMethodChar))
        return std::nullopt;
    const QByteArray& target = parts[1];
    if (!target.startsWith('/') || target.startsWith("//") ||
        !std::all_of(target.cbegin(), target.cend(), isTargetChar))
        return std::nullopt;
    CallbackRequest request;
    request.method = parts[0];
    request.url = QUrl(QStringLiteral("http://localhost") + QString::fromLatin1(target), QUrl::StrictMode);
    if (!request.url.isValid())
        return std::nullopt;
    return request;
}

std::optional<QString> CallbackRequest::item(const QString& name) const {
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
        if (key == name)
            return value;
    return std::nullopt;
}

} // namespace norvela
