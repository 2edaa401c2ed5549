#include "HttpMessage.h"

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
