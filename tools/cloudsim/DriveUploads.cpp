#include "DriveUploads.h"

#include "BlobSink.h"
#include "CloudSim.h"
#include "DriveFieldMask.h"
#include "DriveHttp.h"
#include "DriveStore.h"

#include <QJsonDocument>
#include <QList>
#include <QRegularExpression>

#include <optional>

namespace cloudsim {

namespace {

const QString fileDefaults = QStringLiteral("kind,id,name,mimeType");
const QString octetStream = QStringLiteral("application/octet-stream");

DriveError malformedMultipart() {
    return {400, QStringLiteral("badContent"), QStringLiteral("Malformed multipart body."), {}};
}

struct Part {
    QByteArray contentType;
    qsizetype begin = 0;
    qsizetype end = 0;
};

QByteArray boundaryOf(const QByteArray& contentType) {
    const QList<QByteArray> params = contentType.split(';');
    if (!params.first().trimmed().toLower().startsWith("multipart/"))
        return {};
    for (qsizetype i = 1; i < params.size(); ++i) {
        const QByteArray param = params[i].trimmed();
        if (!param.toLower().startsWith("boundary="))
            continue;
        QByteArray value = param.mid(9);
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value.size() <= 70 ? value : QByteArray();
    }
    return {};
}

// The parts of a multipart body as positions in it, or nullopt when it is not well formed.
std::optional<QList<Part>> splitMultipart(const QByteArray& body, const QByteArray& boundary) {
    const QByteArray delimiter = "--" + boundary;
    const QByteArray separator = "\r\n" + delimiter;
    qsizetype at = 0;
    if (!body.startsWith(delimiter)) { // skip a preamble
        at = body.indexOf(separator);
        if (at < 0)
            return std::nullopt;
        at += 2;
    }
    at += delimiter.size();
    QList<Part> parts;
    for (;;) {
        if (body.mid(at, 2) == "--")
            return parts;
        if (body.mid(at, 2) != "\r\n")
            return std::nullopt;
        at += 2;
        Part part;
        if (body.mid(at, 2) == "\r\n") {
            part.begin = at + 2; // no headers
        } else {
            const qsizetype headersEnd = body.indexOf("\r\n\r\n", at);
            if (headersEnd < 0)
                return std::nullopt;
            for (const QByteArray& line : body.mid(at, headersEnd - at).split('\n')) {
                const qsizetype colon = line.indexOf(':');
                if (colon <= 0)
                    return std::nullopt;
                if (line.left(colon).trimmed().toLower() == "content-type")
                    part.contentType = line.mid(colon + 1).trimmed();
            }
            part.begin = headersEnd + 4;
        }
        part.end = body.indexOf(separator, part.begin);
        if (part.end < 0)
            return std::nullopt;
        parts.append(part);
        at = part.end + separator.size();
    }
}

// One chunk of a resumable upload, streamed into the session's builder: the bytes the session
// holds already are skipped, and the rest go in whole units counted from the upload's start as
// they arrive. Cut off part-way, a chunk keeps those units; what falls short of a unit goes in
// once the chunk is whole. With `unit` 1 nothing is held back and a cut-off chunk keeps nothing.
class ChunkSink : public BodySink {
public:
    ChunkSink(std::shared_ptr<BlobStore::Builder> builder, qint64 skip, qint64 unit, qint64 cap,
              std::function<HttpResponse()> done)
        : m_builder(std::move(builder)), m_skip(skip), m_unit(unit), m_cap(cap), m_done(std::move(done)) {
        m_builder->openPiece();
    }
    ~ChunkSink() override { m_builder->closePiece(m_unit > 1); }

    void write(QByteArrayView bytes) override {
        const qint64 skipped = std::min<qint64>(m_skip, bytes.size());
        m_skip -= skipped;
        bytes = bytes.sliced(skipped);
        const qint64 start = m_builder->size() + m_tail.size(); // where `bytes` begin in the upload
        qint64 boundary = (start + bytes.size()) / m_unit * m_unit;
        if (m_cap >= 0 && boundary > m_cap)
            boundary = m_cap / m_unit * m_unit; // never past the size the client gave
        if (boundary <= start) {
            m_tail.append(bytes);
            return;
        }
        if (!m_tail.isEmpty()) {
            m_builder->append(m_tail);
            m_tail.resize(0);
        }
        m_builder->append(bytes.first(boundary - start));
        m_tail.append(bytes.sliced(boundary - start));
    }
    HttpResponse finish() override {
        m_builder->append(m_tail);
        m_builder->closePiece(true);
        return m_done();
    }
    void abandon() override { m_builder->closePiece(m_unit > 1); }

private:
    std::shared_ptr<BlobStore::Builder> m_builder;
    qint64 m_skip;
    qint64 m_unit;
    qint64 m_cap;
    std::function<HttpResponse()> m_done;
    QByteArray m_tail;
};

DriveError sessionNotFound() {
    return {404, QStringLiteral("notFound"), QStringLiteral("Upload session not found."), {}};
}

HttpResponse resumeIncomplete(qint64 received) {
    HttpResponse r;
    r.status = 308;
    if (received > 0)
        r.setHeader("Range", "bytes=0-" + QByteArray::number(received - 1));
    return r;
}

} // namespace

DriveUploads::DriveUploads(CloudSim& sim, DriveStore& store) : m_sim(sim), m_store(store) {}
DriveUploads::~DriveUploads() = default;

std::unique_ptr<BodySink> DriveUploads::start(const HttpRequest& head, const QString& account,
                                              const QString& fileId, const QString& sessionBase) {
    const QString type = driveParam(head, QStringLiteral("uploadType"));
    if (type == QLatin1String("media"))
        return media(head, account, fileId);
    if (type == QLatin1String("multipart"))
        return BodySink::gather(head, [this, account, fileId](const HttpRequest& request) {
            return multipart(request, account, fileId);
        });
    if (type == QLatin1String("resumable"))
        return BodySink::gather(head, [this, account, fileId, sessionBase](const HttpRequest& request) {
            return beginSession(request, account, fileId, sessionBase);
        });
    return BodySink::answer(DriveError::invalidValue(QStringLiteral("uploadType")).response());
}

DriveError DriveUploads::check(const QString& account, const QString& fileId, const QJsonObject& metadata,
                               const QString& mimeType) {
    if (fileId.isEmpty()) {
        DriveFile probe;
        if (DriveError e = m_store.prepare(account, metadata, mimeType, m_sim.nowMs(), &probe))
            return e;
        if (!probe.hasContent())
            return DriveError::badRequest(
                QStringLiteral("Folders and Google Docs files can't be uploaded as content."));
        return {};
    }
    const DriveFile* file = m_store.find(account, fileId);
    if (!file)
        return DriveError::fileNotFound(fileId);
    if (!file->hasContent())
        return DriveError::badRequest(QStringLiteral("This file has no binary content to replace."));
    DriveFile probe = *file;
    return metadata.isEmpty() ? DriveError{} : m_store.update(account, probe, metadata, m_sim.nowMs());
}

DriveError DriveUploads::fits(const QString& account, qint64 bytes) const {
    const Account* owner = m_sim.account(account);
    if (owner && m_store.usage(account) + bytes > owner->allocation)
        return {403,
                QStringLiteral("storageQuotaExceeded"),
                QStringLiteral("The user's Drive storage quota has been exceeded."),
                {}};
    return {};
}

DriveError DriveUploads::commit(const QString& account, const QString& fileId, const QJsonObject& metadata,
                                const QString& mimeType, const Blob& blob, QString* resultId) {
    if (DriveError e = fits(account, blob.size))
        return e;
    const qint64 now = m_sim.nowMs();
    if (fileId.isEmpty()) {
        DriveFile file;
        if (DriveError e = m_store.prepare(account, metadata, mimeType, now, &file))
            return e;
        DriveFile& added = m_store.add(account, std::move(file));
        m_store.addRevision(account, added, blob, now);
        *resultId = added.id;
        m_sim.persist();
        return {};
    }
    DriveFile* file = m_store.find(account, fileId);
    if (!file)
        return DriveError::fileNotFound(fileId);
    if (!metadata.isEmpty())
        if (DriveError e = m_store.update(account, *file, metadata, now))
            return e;
    m_store.addRevision(account, *file, blob, now);
    *resultId = file->id;
    m_sim.persist();
    return {};
}

HttpResponse DriveUploads::fileReply(const QString& account, const QString& fileId, const QString& fields) {
    const DriveFile* file = m_store.find(account, fileId);
    if (!file)
        return DriveError::fileNotFound(fileId).response();
    return selectedFields(m_store.fileResource(account, *file), fields, fileDefaults);
}

std::unique_ptr<BodySink> DriveUploads::media(const HttpRequest& head, const QString& account,
                                              const QString& fileId) {
    QString mimeType = QString::fromLatin1(head.header("content-type"));
    if (mimeType.isEmpty())
        mimeType = octetStream;
    if (DriveError e = check(account, fileId, {}, mimeType))
        return BodySink::answer(e.response());
    auto builder = m_sim.blobs().builder(BlobStore::Sums::withMd5);
    const QString fields = driveParam(head, QStringLiteral("fields"));
    return std::make_unique<BlobSink>(builder, [this, builder, account, fileId, mimeType, fields] {
        QString id;
        if (DriveError e = commit(account, fileId, {}, mimeType, builder->finish(), &id))
            return e.response();
        return fileReply(account, id, fields);
    });
}

HttpResponse DriveUploads::multipart(const HttpRequest& request, const QString& account,
                                     const QString& fileId) {
    const QByteArray boundary = boundaryOf(request.header("content-type"));
    const auto parts = boundary.isEmpty() ? std::nullopt : splitMultipart(request.body, boundary);
    if (!parts || parts->size() != 2)
        return malformedMultipart().response();
    const Part& meta = parts->at(0);
    const Part& content = parts->at(1);
    if (!meta.contentType.toLower().startsWith("application/json"))
        return malformedMultipart().response();
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(request.body.mid(meta.begin, meta.end - meta.begin), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return DriveError::parseError().response();
    const QJsonObject metadata = doc.object();
    QString mimeType = QString::fromLatin1(content.contentType);
    if (mimeType.isEmpty())
        mimeType = octetStream;
    if (DriveError e = check(account, fileId, metadata, mimeType))
        return e.response();
    auto builder = m_sim.blobs().builder(BlobStore::Sums::withMd5);
    builder->append(QByteArrayView(request.body).sliced(content.begin, content.end - content.begin));
    QString id;
    if (DriveError e = commit(account, fileId, metadata, mimeType, builder->finish(), &id))
        return e.response();
    return fileReply(account, id, driveParam(request, QStringLiteral("fields")));
}

HttpResponse DriveUploads::beginSession(const HttpRequest& request, const QString& account,
                                        const QString& fileId, const QString& sessionBase) {
    QJsonObject metadata;
    if (DriveError e = readMetadata(request, &metadata))
        return e.response();
    qint64 total = -1;
    if (request.hasHeader("x-upload-content-length")) {
        bool ok = false;
        total = request.header("x-upload-content-length").toLongLong(&ok);
        if (!ok || total < 0)
            return DriveError::badRequest(QStringLiteral("Invalid X-Upload-Content-Length header."))
                .response();
    }
    QString mimeType = QString::fromLatin1(request.header("x-upload-content-type"));
    if (mimeType.isEmpty())
        mimeType = octetStream;
    if (DriveError e = check(account, fileId, metadata, mimeType))
        return e.response();
    if (total >= 0) // a size announced up front is refused before any byte is sent
        if (DriveError e = fits(account, total))
            return e.response();

    while (m_sessions.size() >= size_t(maxOpenSessions)) {
        auto oldest = m_sessions.begin();
        for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
            if (it->second.startedMs < oldest->second.startedMs)
                oldest = it;
        m_sessions.erase(oldest);
    }
    QString uploadId;
    do
        uploadId = DriveStore::newId(72, "AD");
    while (m_sessions.count(uploadId));
    Session& s = m_sessions[uploadId];
    s.account = account;
    s.fileId = fileId;
    s.metadata = metadata;
    s.mimeType = mimeType;
    s.total = total;
    s.fields = driveParam(request, QStringLiteral("fields"));
    s.builder = m_sim.blobs().builder(BlobStore::Sums::withMd5);
    s.startedMs = m_sim.nowMs();

    // The session URI is the request's own URL with the upload's id added.
    const qsizetype question = request.target.indexOf('?');
    const QByteArray query = question < 0 ? QByteArray() : request.target.mid(question + 1) + '&';
    HttpResponse r;
    r.status = 200;
    r.setHeader("Location", sessionBase.toUtf8() + '?' + query + "upload_id=" + uploadId.toLatin1());
    r.setHeader("X-GUploader-UploadID", uploadId.toLatin1());
    return r;
}

std::unique_ptr<BodySink> DriveUploads::resume(const HttpRequest& head) {
    const QString uploadId = driveParam(head, QStringLiteral("upload_id"));
    const auto it = m_sessions.find(uploadId);
    if (it == m_sessions.end())
        return BodySink::answer(sessionNotFound().response());
    Session& s = it->second;
    if (head.method == "DELETE") // the client cancels the upload
        return BodySink::answer([this, uploadId] {
            m_sessions.erase(uploadId);
            return HttpResponse::text(499, "");
        });
    if (head.method != "PUT" && head.method != "POST")
        return BodySink::answer(DriveError::notFound().response());
    QString fields = driveParam(head, QStringLiteral("fields"));
    if (fields.isNull())
        fields = s.fields;
    if (!s.resultId.isEmpty()) // complete: every later request gets the file again
        return BodySink::answer(
            [this, account = s.account, id = s.resultId, fields] { return fileReply(account, id, fields); });

    // "bytes first-last/total", "bytes */total" (a status query) or none for the whole content;
    // total may be "*" while the client doesn't know it yet.
    static const QRegularExpression chunkRange(QStringLiteral("^bytes (\\d+)-(\\d+)/(\\d+|\\*)$"));
    static const QRegularExpression statusRange(QStringLiteral("^bytes \\*/(\\d+|\\*)$"));
    const QString header = QString::fromLatin1(head.header("content-range")).trimmed();
    const qint64 bodySize = head.contentLength;
    qint64 first = -1, last = -1, total = -1;
    bool ok = true;
    auto number = [&](const QString& text) {
        bool good = false;
        const qint64 value = text.toLongLong(&good);
        ok = ok && good;
        return value;
    };
    if (header.isEmpty()) {
        total = bodySize;
        if (bodySize > 0) {
            first = 0;
            last = bodySize - 1;
        }
    } else if (const auto m = chunkRange.match(header); m.hasMatch()) {
        first = number(m.captured(1));
        last = number(m.captured(2));
        if (m.captured(3) != QLatin1String("*"))
            total = number(m.captured(3));
    } else if (const auto q = statusRange.match(header); q.hasMatch()) {
        if (q.captured(1) != QLatin1String("*"))
            total = number(q.captured(1));
    } else {
        ok = false;
    }
    auto refuse = [](const QString& message) {
        return BodySink::answer(DriveError::badRequest(message).response());
    };
    if (!ok)
        return refuse(QStringLiteral("Failed to parse Content-Range header."));
    if (first < 0 ? bodySize != 0 : (last < first || bodySize != last - first + 1))
        return refuse(QStringLiteral("The request body doesn't match its Content-Range."));
    if (total >= 0 && last >= total)
        return refuse(QStringLiteral("Content-Range goes past the total size."));
    if (total >= 0 && s.total >= 0 && total != s.total)
        return refuse(QStringLiteral("The total size differs from the one given before."));
    if (s.builder->pieceOpen())
        return BodySink::answer(DriveError{
            503,
            QStringLiteral("backendError"),
            QStringLiteral("Another request is writing to this upload session."),
            {}}.response());

    // Bytes already held are skipped; after a gap nothing is taken, and the reply says where
    // to go on.
    const qint64 received = s.builder->size();
    const qint64 skip = first < 0 || first > received ? bodySize : std::min(received - first, bodySize);
    const qint64 unit = head.method == "PUT" ? keptUnit : 1;
    return std::make_unique<ChunkSink>(
        s.builder, skip, unit, total >= 0 ? total : s.total,
        [this, uploadId, total, fields] { return afterChunk(uploadId, total, fields); });
}

HttpResponse DriveUploads::afterChunk(const QString& uploadId, qint64 total, const QString& fields) {
    const auto it = m_sessions.find(uploadId);
    if (it == m_sessions.end() || !it->second.builder) // gone while the chunk came
        return sessionNotFound().response();
    Session& s = it->second;
    if (total >= 0)
        s.total = total;
    if (s.total >= 0 && s.builder->size() == s.total)
        return finishSession(uploadId, s, fields);
    return resumeIncomplete(s.builder->size());
}

HttpResponse DriveUploads::finishSession(const QString& uploadId, Session& session, const QString& fields) {
    const Blob blob = session.builder->finish();
    session.builder.reset();
    QString id;
    if (DriveError e =
            commit(session.account, session.fileId, session.metadata, session.mimeType, blob, &id)) {
        m_sessions.erase(uploadId);
        return e.response();
    }
    session.resultId = id;
    return fileReply(session.account, id, fields);
}

} // namespace cloudsim
