#pragma once

#include <QJsonObject>
#include <QRandomGenerator>
#include <QString>

namespace cloudsim {

// One injected fault: which requests it hits and what it does to them.
struct FaultRule {
    int id = 0;
    QString endpoint;  // path prefix, e.g. "/dropbox/content/2/files/upload"; empty: every service request
    QByteArray method; // empty: any method
    int remaining = 1; // requests still to hit; 0 or less with `unlimited` set: no end
    bool unlimited = false;
    double probability = 1.0; // share of matching requests hit (seeded, so runs repeat)
    QRandomGenerator random;

    int status = 0;      // replaces the reply: 401, 409, 429, 500, 503, …
    int retryAfter = -1; // seconds, sent with the status as "Retry-After"
    // What the status reply says, in the service's shape: Dropbox error tags ("path/not_found"),
    // or a Drive reason ("userRateLimitExceeded") with its message.
    QString reason;
    QString message;
    int delayMs = 0;
    qint64 bytesPerSecond = 0;
    qint64 dropReplyAfterBytes = -1;
    qint64 dropUploadAfterBytes = -1; // close the connection after this many request-body bytes

    bool matches(const QString& path, const QByteArray& requestMethod) const;
    // Whether this request is hit; counts it against `remaining` when it is.
    bool take();
    bool exhausted() const { return !unlimited && remaining <= 0; }

    static FaultRule fromJson(const QJsonObject& o, int id);
    QJsonObject toJson() const;
};

} // namespace cloudsim
