#include "HttpMessage.h"

#include <QUrl>

namespace cloudsim {

QByteArray HttpRequest::header(const QByteArray& lowerCaseName) const {
    for (const auto& [name, value] : headers)
        if (name == lowerCaseName)
            return value;
    return {};
}

bool HttpRequest::hasHeader(const QByteArray& lowerCaseName) const {
    for (const auto& header : headers)
        if (header.first == lowerCaseName)
            return true;
    return false;
}

RequestHead RequestHead::parse(const QByteArray& head, qint64 maxBodyBytes) {
    RequestHead result;
    const auto refuse = [&result](int status) {
        result.refusal = status;
        result.keepAlive = false;
        return result;
    };
    const QList<QByteArray> lines = head.split('\n');
    HttpRequest& request = result.request;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.") || requestLine[1].isEmpty())
        return refuse(400);
    request.method = requestLine[0];
    request.target = requestLine[1];
    result.keepAlive = requestLine[2] != "HTTP/1.0";
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return refuse(400);
        request.headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
    }
    const qsizetype question = request.target.indexOf('?');
    request.path = QUrl::fromPercentEncoding(question < 0 ? request.target : request.target.left(question));
    if (question >= 0)
        request.query = QUrlQuery(QString::fromUtf8(request.target.mid(question + 1)));
    if (request.header("connection").toLower() == "close")
        result.keepAlive = false;
    if (request.hasHeader("transfer-encoding"))
        return refuse(411);
    if (request.hasHeader("content-length")) {
        bool ok = false;
        result.bodyLength = request.header("content-length").toLongLong(&ok);
        if (!ok || result.bodyLength < 0)
            return refuse(400);
    }
    if (result.bodyLength > maxBodyBytes)
        return refuse(413);
    request.contentLength = result.bodyLength;
    return result;
}

void HttpResponse::setHeader(const QByteArray& name, const QByteArray& value) {
    for (auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0) {
            header.second = value;
            return;
        }
    }
    headers.append({name, value});
}

HttpResponse HttpResponse::json(int status, const QJsonDocument& doc) {
    return json(status, doc.toJson(QJsonDocument::Compact));
}

HttpResponse HttpResponse::json(int status, const QByteArray& compactJson) {
    return text(status, compactJson, "application/json");
}

HttpResponse HttpResponse::text(int status, const QByteArray& text, const QByteArray& contentType) {
    HttpResponse r;
    r.status = status;
    r.body = text;
    r.setHeader("Content-Type", contentType);
    return r;
}

HttpResponse HttpResponse::redirect(const QByteArray& location) {
    HttpResponse r = text(302, "Found");
    r.setHeader("Location", location);
    return r;
}

QByteArray HttpResponse::reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 302:
        return "Found";
    case 308:
        return "Resume Incomplete";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace cloudsim
