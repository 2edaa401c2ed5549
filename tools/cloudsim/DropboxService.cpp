#include "DropboxService.h"

#include "BlobSink.h"
#include "CloudSim.h"
#include "DropboxStore.h"
#include "DropboxUploadSessions.h"

#include <QDateTime>
#include <QJsonArray>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <optional>

namespace cloudsim {

namespace {

using Host = DropboxService::Host;

// How an endpoint takes its argument: a JSON body (API host), or the "Dropbox-API-Arg" header
// with the file bytes as the body (uploads) or as the reply (downloads).
enum class Style { rpc, upload, download };

QString isoTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
}

QString typeName(const QJsonValue& v) {
    switch (v.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("boolean");
    case QJsonValue::Double:
        return QStringLiteral("number");
    case QJsonValue::String:
        return QStringLiteral("string");
    case QJsonValue::Array:
        return QStringLiteral("list");
    default:
        return QStringLiteral("object");
    }
}

// Reads one JSON argument object, remembering the first thing wrong with it; the handler
// answers 400 with that text instead of acting.
class Args {
public:
    Args(QJsonObject object, QString* problem, QString prefix = {})
        : m_o(std::move(object)), m_problem(problem), m_prefix(std::move(prefix)) {}

    bool has(const char* key) const { return m_o.contains(QLatin1String(key)); }

    QString string(const char* key) {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined())
            fail(QStringLiteral("missing required field '%1'").arg(QLatin1String(key)));
        else if (!v.isString())
            fail(QStringLiteral("%1: expected string, got %2").arg(QLatin1String(key), typeName(v)));
        return v.toString();
    }
    QString optionalString(const char* key) { return has(key) ? string(key) : QString(); }

    bool boolean(const char* key, bool fallback) {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return fallback;
        if (!v.isBool())
            fail(QStringLiteral("%1: expected boolean, got %2").arg(QLatin1String(key), typeName(v)));
        return v.toBool();
    }

    qint64 integer(const char* key, qint64 fallback, qint64 min, qint64 max) {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull()) {
            if (fallback < min)
                fail(QStringLiteral("missing required field '%1'").arg(QLatin1String(key)));
            return fallback;
        }
        const qint64 n = v.toInteger(min - 1);
        if (!v.isDouble() || n < min || n > max) {
            fail(QStringLiteral("%1: %2 is not a valid value").arg(QLatin1String(key), valueText(v)));
            return fallback;
        }
        return n;
    }

    Args object(const char* key) {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined())
            fail(QStringLiteral("missing required field '%1'").arg(QLatin1String(key)));
        else if (!v.isObject())
            fail(QStringLiteral("%1: expected object, got %2").arg(QLatin1String(key), typeName(v)));
        return Args(v.toObject(), m_problem, m_prefix + QLatin1String(key) + QLatin1Char('.'));
    }

    // A union member: either the bare tag as a string or an object with ".tag".
    QString tag(const char* key, const QString& fallback, const QStringList& allowed) {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return fallback;
        const QString tag =
            v.isObject() ? v.toObject().value(QLatin1String(".tag")).toString() : v.toString();
        if (!allowed.contains(tag))
            fail(QStringLiteral("%1: unknown tag '%2'").arg(QLatin1String(key), tag));
        return tag;
    }
    QJsonValue raw(const char* key) const { return m_o.value(QLatin1String(key)); }

    void fail(const QString& text) {
        if (m_problem->isEmpty())
            *m_problem = m_prefix + text;
    }

private:
    static QString valueText(const QJsonValue& v) {
        return v.isDouble() ? QString::number(v.toDouble(), 'g', 17) : typeName(v);
    }

    QJsonObject m_o;
    QString* m_problem;
    QString m_prefix;
};

// A tagged union as the service writes errors: {".tag": a, "a": {".tag": b, …}}.
QJsonObject unionOf(const QStringList& tags, QJsonObject innermost = {}) {
    innermost.insert(QStringLiteral(".tag"), tags.last());
    QJsonObject o = innermost;
    for (qsizetype i = tags.size() - 2; i >= 0; --i)
        o = QJsonObject{{QStringLiteral(".tag"), tags[i]}, {tags[i], o}};
    return o;
}

HttpResponse apiError(const QString& summary, const QJsonObject& error) {
    // The service pads the summary with dots so that nobody matches it exactly.
    return HttpResponse::json(409,
                              QJsonDocument(QJsonObject{{QStringLiteral("error_summary"), summary + "/.."},
                                                        {QStringLiteral("error"), error}}));
}

HttpResponse apiError(const QStringList& tags, const QJsonObject& innermost = {}) {
    return apiError(tags.join(QLatin1Char('/')), unionOf(tags, innermost));
}

// JSON for a header: everything outside ASCII escaped, as header values must be plain text.
QByteArray asciiJson(const QJsonObject& o) {
    const QString text = QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x7f)
            out += char(c.unicode());
        else
            out += "\\u" + QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
    }
    return out;
}

// Names the service never stores, whatever the folder: its own and other systems' folder
// metadata. Refused as disallowed_name; a name longer than 255 characters as malformed_path.
bool disallowedName(const QString& name) {
    static const QStringList names{QStringLiteral("desktop.ini"), QStringLiteral("thumbs.db"),
                                   QStringLiteral(".ds_store"),   QStringLiteral("icon\r"),
                                   QStringLiteral(".dropbox"),    QStringLiteral(".dropbox.attr")};
    return names.contains(name.toLower());
}

bool wellFormedPath(const QString& path) {
    if (path.size() < 2 || path.endsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = path.mid(1).split(QLatin1Char('/'));
    for (const QString& part : parts)
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..") || part.size() > 255)
            return false;
    return true;
}

const QRegularExpression& revPattern() {
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{9,}$"));
    return pattern;
}

} // namespace

struct DropboxService::State {
    // One API call after the checks every endpoint shares: host, method, token, argument.
    struct Call {
        const HttpRequest& request;
        QString function; // "files/upload"
        QString accountId;
        QJsonObject arg;
        Style style = Style::rpc;
        QString problem;

        Args args() { return Args(arg, &problem); }
        HttpResponse badArgument() const {
            const QString where = style == Style::rpc ? QStringLiteral("request body")
                                                      : QStringLiteral("HTTP header \"Dropbox-API-Arg\"");
            return badRequest(function, where + QLatin1String(": ") + problem);
        }
    };
    using Handler = HttpResponse (State::*)(Call&);
    // Upload endpoints take their body as it arrives; the call is checked from the head.
    using Receiver = std::unique_ptr<BodySink> (State::*)(Call&);
    struct Endpoint {
        const char* function;
        Host host;
        Style style;
        Handler handler = nullptr;
        Receiver receiver = nullptr;
    };
    // What an upload asks for at its path.
    struct Commit {
        QString path;
        qint64 clientModifiedMs = -1;
    };

    explicit State(CloudSim& owner) : sim(owner) {}

    static HttpResponse badRequest(const QString& function, const QString& text) {
        return HttpResponse::text(
            400, QStringLiteral("Error in call to API function \"%1\": %2").arg(function, text).toUtf8());
    }

    static const Endpoint* endpointAt(const QString& path);
    std::unique_ptr<BodySink> receive(const HttpRequest& head, Host host, const QString& path);
    HttpResponse dispatch(const HttpRequest& request, Host host, const QString& path);
    // The checks every call passes before its endpoint: method, token and argument.
    std::optional<Call> admit(const HttpRequest& request, const Endpoint& endpoint,
                              HttpResponse* refused) const;
    bool readArgument(Call& call, HttpResponse* error) const;

    // Endpoints.
    HttpResponse currentAccount(Call& call);
    HttpResponse spaceUsage(Call& call);
    std::unique_ptr<BodySink> upload(Call& call);
    std::unique_ptr<BodySink> sessionStart(Call& call);
    std::unique_ptr<BodySink> sessionAppend(Call& call);
    std::unique_ptr<BodySink> sessionFinish(Call& call);
    HttpResponse listRevisions(Call& call);
    HttpResponse restore(Call& call);
    HttpResponse download(Call& call);
    HttpResponse createSharedLink(Call& call);
    HttpResponse listSharedLinks(Call& call);
    HttpResponse sharedLinkPage(const HttpRequest& request, const QString& rest);

    // Shared steps.
    Commit readCommit(Args args) const;
    HttpResponse write(const QString& accountId, const Commit& commit, const Blob& blob, bool inSession);
    // A session that another request is writing into.
    static HttpResponse busy();
    const DropboxFile* lookup(Call& call, Args& args);
    QJsonObject metadata(const DropboxFile& file, const DropboxRevision& rev) const;
    QJsonObject linkMetadata(const DropboxFile& file, const QString& token) const;

    CloudSim& sim;
    DropboxStore store;
    DropboxUploadSessions sessions;
};

const DropboxService::State::Endpoint* DropboxService::State::endpointAt(const QString& path) {
    static const Endpoint endpoints[] = {
        {"users/get_current_account", Host::api, Style::rpc, &State::currentAccount},
        {"users/get_space_usage", Host::api, Style::rpc, &State::spaceUsage},
        {"files/list_revisions", Host::api, Style::rpc, &State::listRevisions},
        {"files/restore", Host::api, Style::rpc, &State::restore},
        {"sharing/create_shared_link_with_settings", Host::api, Style::rpc, &State::createSharedLink},
        {"sharing/list_shared_links", Host::api, Style::rpc, &State::listSharedLinks},
        {"files/upload", Host::content, Style::upload, nullptr, &State::upload},
        {"files/upload_session/start", Host::content, Style::upload, nullptr, &State::sessionStart},
        {"files/upload_session/append_v2", Host::content, Style::upload, nullptr, &State::sessionAppend},
        {"files/upload_session/finish", Host::content, Style::upload, nullptr, &State::sessionFinish},
        {"files/download", Host::content, Style::download, &State::download},
    };
    if (!path.startsWith(QLatin1String("/2/")))
        return nullptr;
    const QStringView function = QStringView(path).mid(3);
    for (const Endpoint& e : endpoints)
        if (function == QLatin1String(e.function))
            return &e;
    return nullptr;
}

std::unique_ptr<BodySink> DropboxService::State::receive(const HttpRequest& head, Host host,
                                                         const QString& path) {
    const Endpoint* endpoint = endpointAt(path);
    if (!endpoint || !endpoint->receiver || endpoint->host != host)
        return nullptr; // answered once its body is in, as any other call
    HttpResponse refused;
    std::optional<Call> call = admit(head, *endpoint, &refused);
    if (!call)
        return BodySink::answer(std::move(refused));
    return (this->*endpoint->receiver)(*call);
}

HttpResponse DropboxService::State::dispatch(const HttpRequest& request, Host host, const QString& path) {
    if (std::unique_ptr<BodySink> sink = receive(request, host, path))
        return BodySink::respond(std::move(sink), request.body);
    const QString function = path.mid(3);
    const Endpoint* endpoint = endpointAt(path);
    if (!endpoint || host == Host::www)
        return HttpResponse::text(404, QStringLiteral("Unknown API function: \"%1\"").arg(function).toUtf8());
    if (endpoint->host != host)
        return badRequest(function, endpoint->host == Host::content
                                        ? QStringLiteral("This endpoint is only served by the content host.")
                                        : QStringLiteral("This endpoint is only served by the API host."));
    HttpResponse refused;
    std::optional<Call> call = admit(request, *endpoint, &refused);
    if (!call)
        return refused;
    return (this->*endpoint->handler)(*call);
}

std::optional<DropboxService::State::Call> DropboxService::State::admit(const HttpRequest& request,
                                                                        const Endpoint& endpoint,
                                                                        HttpResponse* refused) const {
    const QString function = QLatin1String(endpoint.function);
    if (request.method != "POST") {
        *refused = badRequest(
            function,
            QStringLiteral("Expecting a POST request, got %1.").arg(QString::fromLatin1(request.method)));
        return std::nullopt;
    }
    const std::optional<QString> accountId = sim.oauth(Service::dropbox).accountFor(request, refused);
    if (!accountId)
        return std::nullopt;
    Call call{request, function, *accountId, {}, endpoint.style, {}};
    if (!readArgument(call, refused))
        return std::nullopt;
    return call;
}

bool DropboxService::State::readArgument(Call& call, HttpResponse* error) const {
    const QByteArray contentType = call.request.header("content-type").toLower().replace(" ", "");
    QByteArray text;
    if (call.style == Style::rpc) {
        text = call.request.body.trimmed();
        if (text.isEmpty())
            return true; // endpoints without an argument may take no body at all
        if (contentType != "application/json" && contentType != "application/json;charset=utf-8" &&
            contentType != "text/plain;charset=dropbox-cors-hack") {
            *error = badRequest(call.function,
                                QStringLiteral("Bad HTTP \"Content-Type\" header: \"%1\".  Expecting one of "
                                               "\"application/json\", \"application/json; charset=utf-8\", "
                                               "\"text/plain; charset=dropbox-cors-hack\".")
                                    .arg(QString::fromUtf8(call.request.header("content-type"))));
            return false;
        }
        if (text == "null")
            return true;
    } else {
        if (call.style == Style::upload && call.request.hasHeader("content-type") &&
            contentType != "application/octet-stream" &&
            contentType != "text/plain;charset=dropbox-cors-hack") {
            *error = badRequest(call.function,
                                QStringLiteral("Bad HTTP \"Content-Type\" header: \"%1\".  Expecting one of "
                                               "\"application/octet-stream\", "
                                               "\"text/plain; charset=dropbox-cors-hack\".")
                                    .arg(QString::fromUtf8(call.request.header("content-type"))));
            return false;
        }
        if (call.request.hasHeader("dropbox-api-arg")) {
            text = call.request.header("dropbox-api-arg");
            // A header value is ASCII: anything else in the argument must come as \uXXXX.
            if (std::any_of(text.begin(), text.end(), [](char c) { return uchar(c) >= 0x7f; })) {
                call.problem = QStringLiteral("could not decode input as JSON");
                *error = call.badArgument();
                return false;
            }
        } else if (call.request.query.hasQueryItem(QStringLiteral("arg")))
            text = call.request.query.queryItemValue(QStringLiteral("arg"), QUrl::FullyDecoded).toUtf8();
        else {
            *error = badRequest(
                call.function,
                QStringLiteral("Must provide HTTP header \"Dropbox-API-Arg\" or URL parameter \"arg\"."));
            return false;
        }
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        call.problem = QStringLiteral("could not decode input as JSON");
        *error = call.badArgument();
        return false;
    }
    call.arg = doc.object();
    return true;
}

// --- account ---

HttpResponse DropboxService::State::currentAccount(Call& call) {
    const Account* account = sim.account(call.accountId);
    const QString display = account ? account->name : QString();
    const QStringList words = display.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString initials;
    for (const QString& word : words)
        initials += word.at(0).toUpper();
    const QString namespaceId = QString::number(qHash(call.accountId) % 9'000'000'000ULL + 1'000'000'000ULL);
    return HttpResponse::json(
        200,
        QJsonDocument(QJsonObject{
            {QStringLiteral("account_id"), call.accountId},
            {QStringLiteral("name"),
             QJsonObject{{QStringLiteral("given_name"), words.value(0)},
                         {QStringLiteral("surname"), words.mid(1).join(QLatin1Char(' '))},
                         {QStringLiteral("familiar_name"), words.value(0)},
                         {QStringLiteral("display_name"), display},
                         {QStringLiteral("abbreviated_name"), initials}}},
            {QStringLiteral("email"), account ? account->email : QString()},
            {QStringLiteral("email_verified"), true},
            {QStringLiteral("disabled"), false},
            {QStringLiteral("country"), QStringLiteral("US")},
            {QStringLiteral("locale"), QStringLiteral("en")},
            {QStringLiteral("is_paired"), false},
            {QStringLiteral("account_type"),
             QJsonObject{{QStringLiteral(".tag"), account ? account->accountType : QStringLiteral("basic")}}},
            {QStringLiteral("root_info"), QJsonObject{{QStringLiteral(".tag"), QStringLiteral("user")},
                                                      {QStringLiteral("root_namespace_id"), namespaceId},
                                                      {QStringLiteral("home_namespace_id"), namespaceId}}}}));
}

HttpResponse DropboxService::State::spaceUsage(Call& call) {
    const Account* account = sim.account(call.accountId);
    const qint64 used = store.usedBytes(call.accountId);
    const qint64 allocated = account ? account->allocation : 0;
    QJsonObject allocation{{QStringLiteral(".tag"), QStringLiteral("individual")},
                           {QStringLiteral("allocated"), allocated}};
    if (account && account->accountType == QLatin1String("business"))
        allocation = QJsonObject{{QStringLiteral(".tag"), QStringLiteral("team")},
                                 {QStringLiteral("used"), used},
                                 {QStringLiteral("allocated"), allocated},
                                 {QStringLiteral("user_within_team_space_allocated"), 0},
                                 {QStringLiteral("user_within_team_space_limit_type"),
                                  QJsonObject{{QStringLiteral(".tag"), QStringLiteral("off")}}},
                                 {QStringLiteral("user_within_team_space_used_cached"), used}};
    return HttpResponse::json(200, QJsonDocument(QJsonObject{{QStringLiteral("used"), used},
                                                             {QStringLiteral("allocation"), allocation}}));
}

// --- uploads ---

DropboxService::State::Commit DropboxService::State::readCommit(Args args) const {
    Commit commit;
    commit.path = args.string("path");
    if (!commit.path.isNull() && !commit.path.startsWith(QLatin1Char('/')))
        args.fail(QStringLiteral("path: '%1' did not match pattern '(/(.|[\\r\\n])*)'").arg(commit.path));
    // Only what the client asks for is served: uploads that overwrite, under their own name.
    if (args.tag("mode", QStringLiteral("add"), {QStringLiteral("overwrite")}) != QLatin1String("overwrite"))
        args.fail(QStringLiteral("mode: only overwrite is served"));
    if (args.boolean("autorename", false))
        args.fail(QStringLiteral("autorename: only false is served"));
    args.boolean("mute", false);
    args.boolean("strict_conflict", false);
    const QString modified = args.optionalString("client_modified");
    if (!modified.isEmpty()) {
        const QDateTime at = QDateTime::fromString(modified, Qt::ISODate);
        if (!at.isValid() || !modified.endsWith(QLatin1Char('Z')))
            args.fail(QStringLiteral("client_modified: '%1' is not a timestamp of the form "
                                     "'%Y-%m-%dT%H:%M:%SZ'")
                          .arg(modified));
        commit.clientModifiedMs = at.toMSecsSinceEpoch() / 1000 * 1000;
    }
    return commit;
}

HttpResponse DropboxService::State::write(const QString& accountId, const Commit& commit, const Blob& blob,
                                          bool inSession) {
    // A one-request upload reports path problems as an UploadWriteFailed, a struct whose
    // fields sit beside the tag: {".tag": "path", "reason": {…}, "upload_session_id": …}. A
    // session finish reports the write error itself: {".tag": "path", "path": {…}}.
    auto pathError = [&](const QStringList& tags) {
        QJsonObject error{{QStringLiteral(".tag"), QStringLiteral("path")}};
        if (inSession) {
            error.insert(QStringLiteral("path"), unionOf(tags));
        } else {
            error.insert(QStringLiteral("reason"), unionOf(tags));
            error.insert(QStringLiteral("upload_session_id"), QString());
        }
        return apiError(QStringLiteral("path/") + tags.join(QLatin1Char('/')), error);
    };
    if (!wellFormedPath(commit.path))
        return pathError({QStringLiteral("malformed_path")});
    for (const QString& part : commit.path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        if (disallowedName(part))
            return pathError({QStringLiteral("disallowed_name")});

    const QString& target = commit.path;
    const DropboxConflict structural = store.conflictAt(accountId, target.toLower());
    if (structural == DropboxConflict::file)
        return pathError({QStringLiteral("conflict"), QStringLiteral("file")});
    if (structural == DropboxConflict::folder)
        return pathError({QStringLiteral("conflict"), QStringLiteral("folder")});

    // Only current contents count against the allotment, as in the space usage.
    const Account* owner = sim.account(accountId);
    const DropboxFile* replaced = store.file(accountId, target.toLower());
    if (owner && store.usedBytes(accountId) - (replaced ? replaced->current().blob.size : 0) + blob.size >
                     owner->allocation)
        return pathError({QStringLiteral("insufficient_space")});

    const qint64 now = sim.nowMs() / 1000 * 1000; // the service keeps whole seconds
    const DropboxFile& file = store.commit(accountId, target, blob,
                                           commit.clientModifiedMs >= 0 ? commit.clientModifiedMs : now, now);
    sim.persist();
    return HttpResponse::json(200, QJsonDocument(metadata(file, file.current())));
}

HttpResponse DropboxService::State::busy() {
    HttpResponse r = HttpResponse::json(
        429,
        QJsonDocument(QJsonObject{
            {QStringLiteral("error_summary"), QStringLiteral("too_many_write_operations/..")},
            {QStringLiteral("error"),
             QJsonObject{{QStringLiteral("reason"),
                          QJsonObject{{QStringLiteral(".tag"), QStringLiteral("too_many_write_operations")}}},
                         {QStringLiteral("retry_after"), 1}}}}));
    r.setHeader("Retry-After", "1");
    return r;
}

std::unique_ptr<BodySink> DropboxService::State::upload(Call& call) {
    const Commit commit = readCommit(call.args());
    if (!call.problem.isEmpty())
        return BodySink::answer(call.badArgument());
    auto builder = sim.blobs().builder(BlobStore::Sums::contentHash);
    return std::make_unique<BlobSink>(builder, [this, builder, commit, account = call.accountId] {
        return write(account, commit, builder->finish(), false);
    });
}

std::unique_ptr<BodySink> DropboxService::State::sessionStart(Call& call) {
    Args args = call.args();
    const bool close = args.boolean("close", false);
    args.tag("session_type", QStringLiteral("sequential"), {QStringLiteral("sequential")});
    if (!call.problem.isEmpty())
        return BodySink::answer(call.badArgument());
    auto builder = sim.blobs().builder(BlobStore::Sums::contentHash);
    return std::make_unique<BlobSink>(builder, [this, builder, close, account = call.accountId] {
        const QString id = sessions.start(account, builder, close, sim.nowMs());
        return HttpResponse::json(200, QJsonDocument(QJsonObject{{QStringLiteral("session_id"), id}}));
    });
}

std::unique_ptr<BodySink> DropboxService::State::sessionAppend(Call& call) {
    Args args = call.args();
    Args cursor = args.object("cursor");
    const QString id = cursor.string("session_id");
    const qint64 offset = cursor.integer("offset", -1, 0, std::numeric_limits<qint64>::max());
    const bool close = args.boolean("close", false);
    if (!call.problem.isEmpty())
        return BodySink::answer(call.badArgument());

    DropboxUploadSessions::Session* session = sessions.find(id, call.accountId, sim.nowMs());
    if (!session)
        return BodySink::answer(apiError({QStringLiteral("not_found")}));
    if (session->builder->pieceOpen())
        return BodySink::answer(busy());
    if (offset != session->offset())
        return BodySink::answer(apiError({QStringLiteral("incorrect_offset")},
                                         QJsonObject{{QStringLiteral("correct_offset"), session->offset()}}));
    if (session->closed)
        return BodySink::answer(apiError({QStringLiteral("closed")}));
    return std::make_unique<BlobSink>(session->builder, [this, id, close, account = call.accountId] {
        // The session may have gone while the piece came (expired, or pushed out by newer ones).
        DropboxUploadSessions::Session* s = sessions.find(id, account, sim.nowMs());
        if (!s)
            return apiError({QStringLiteral("not_found")});
        s->closed = close;
        return HttpResponse::json(200, "null");
    });
}

std::unique_ptr<BodySink> DropboxService::State::sessionFinish(Call& call) {
    Args args = call.args();
    Args cursor = args.object("cursor");
    const QString id = cursor.string("session_id");
    const qint64 offset = cursor.integer("offset", -1, 0, std::numeric_limits<qint64>::max());
    const Commit commit = readCommit(args.object("commit"));
    if (!call.problem.isEmpty())
        return BodySink::answer(call.badArgument());

    DropboxUploadSessions::Session* session = sessions.find(id, call.accountId, sim.nowMs());
    if (!session)
        return BodySink::answer(apiError({QStringLiteral("lookup_failed"), QStringLiteral("not_found")}));
    if (session->builder->pieceOpen())
        return BodySink::answer(busy());
    if (offset != session->offset())
        return BodySink::answer(
            apiError({QStringLiteral("lookup_failed"), QStringLiteral("incorrect_offset")},
                     QJsonObject{{QStringLiteral("correct_offset"), session->offset()}}));
    if (session->closed && call.request.contentLength > 0)
        return BodySink::answer(apiError({QStringLiteral("lookup_failed"), QStringLiteral("closed")}));
    return std::make_unique<BlobSink>(session->builder, [this, id, commit, account = call.accountId] {
        DropboxUploadSessions::Session* s = sessions.find(id, account, sim.nowMs());
        if (!s)
            return apiError({QStringLiteral("lookup_failed"), QStringLiteral("not_found")});
        const Blob blob = s->builder->finish();
        sessions.remove(id);
        return write(account, commit, blob, true);
    });
}

// --- files ---

const DropboxFile* DropboxService::State::lookup(Call& call, Args& args) {
    const QString path = args.string("path");
    if (path.startsWith(QLatin1String("id:")))
        return store.fileById(call.accountId, path);
    if (!path.isNull() && !path.startsWith(QLatin1Char('/')))
        args.fail(QStringLiteral("path: '%1' did not match pattern '(/(.|[\\r\\n])*)|(id:.*)'").arg(path));
    return store.file(call.accountId, path.toLower());
}

QJsonObject DropboxService::State::metadata(const DropboxFile& file, const DropboxRevision& rev) const {
    return {{QStringLiteral("name"), file.name()},
            {QStringLiteral("path_lower"), file.pathDisplay.toLower()},
            {QStringLiteral("path_display"), file.pathDisplay},
            {QStringLiteral("id"), file.id},
            {QStringLiteral("client_modified"), isoTime(rev.clientModifiedMs)},
            {QStringLiteral("server_modified"), isoTime(rev.serverModifiedMs)},
            {QStringLiteral("rev"), rev.rev},
            {QStringLiteral("size"), rev.blob.size},
            {QStringLiteral("is_downloadable"), true},
            {QStringLiteral("content_hash"), rev.blob.contentHash}};
}

HttpResponse DropboxService::State::listRevisions(Call& call) {
    Args args = call.args();
    const DropboxFile* file = lookup(call, args);
    args.tag("mode", QStringLiteral("path"), {QStringLiteral("path"), QStringLiteral("id")});
    const qint64 limit = args.integer("limit", 10, 1, 100);
    if (!call.problem.isEmpty())
        return call.badArgument();
    if (!file)
        return apiError({QStringLiteral("path"), QStringLiteral("not_found")});

    QJsonArray entries;
    for (auto rev = file->revisions.crbegin(); rev != file->revisions.crend() && entries.size() < limit;
         ++rev)
        entries.append(metadata(*file, *rev));
    return HttpResponse::json(200, QJsonDocument(QJsonObject{{QStringLiteral("is_deleted"), false},
                                                             {QStringLiteral("entries"), entries}}));
}

HttpResponse DropboxService::State::restore(Call& call) {
    Args args = call.args();
    const DropboxFile* file = lookup(call, args);
    const QString rev = args.string("rev");
    if (!rev.isNull() && !revPattern().match(rev).hasMatch())
        args.fail(QStringLiteral("rev: '%1' did not match pattern '[0-9a-f]+'").arg(rev));
    if (!call.problem.isEmpty())
        return call.badArgument();
    if (!file)
        return apiError({QStringLiteral("path_lookup"), QStringLiteral("not_found")});

    for (const DropboxRevision& old : file->revisions) {
        if (old.rev != rev)
            continue;
        const qint64 now = sim.nowMs() / 1000 * 1000;
        const DropboxRevision copy = old; // the store may move revisions while committing
        const DropboxFile& restored =
            store.commit(call.accountId, file->pathDisplay, copy.blob, copy.clientModifiedMs, now);
        return HttpResponse::json(200, QJsonDocument(metadata(restored, restored.current())));
    }
    return apiError({QStringLiteral("invalid_revision")});
}

HttpResponse DropboxService::State::download(Call& call) {
    Args args = call.args();
    const DropboxFile* file = lookup(call, args);
    const QString rev = args.optionalString("rev");
    if (!call.problem.isEmpty())
        return call.badArgument();
    if (!file)
        return apiError({QStringLiteral("path"), QStringLiteral("not_found")});

    const DropboxRevision* chosen = &file->current();
    if (!rev.isEmpty()) {
        chosen = nullptr;
        for (const DropboxRevision& r : file->revisions)
            if (r.rev == rev)
                chosen = &r;
        if (!chosen)
            return apiError({QStringLiteral("path"), QStringLiteral("not_found")});
    }
    HttpResponse response;
    response.setHeader("Content-Type", "application/octet-stream");
    response.setHeader("Dropbox-API-Result", asciiJson(metadata(*file, *chosen)));
    response.bodyDevice = sim.blobs().open(chosen->blob);
    response.bodyDeviceSize = chosen->blob.size;
    return response;
}

// --- shared links ---

QJsonObject DropboxService::State::linkMetadata(const DropboxFile& file, const QString& token) const {
    const QString url = sim.baseUrl() + QStringLiteral("/dropbox/www/scl/fi/") + token + QLatin1Char('/') +
                        QString::fromLatin1(QUrl::toPercentEncoding(file.name())) + QStringLiteral("?dl=0");
    const DropboxRevision& rev = file.current();
    return {{QStringLiteral(".tag"), QStringLiteral("file")},
            {QStringLiteral("url"), url},
            {QStringLiteral("id"), file.id},
            {QStringLiteral("name"), file.name()},
            {QStringLiteral("path_lower"), file.pathDisplay.toLower()},
            {QStringLiteral("link_permissions"),
             QJsonObject{{QStringLiteral("can_revoke"), true},
                         {QStringLiteral("resolved_visibility"),
                          QJsonObject{{QStringLiteral(".tag"), QStringLiteral("public")}}}}},
            {QStringLiteral("client_modified"), isoTime(rev.clientModifiedMs)},
            {QStringLiteral("server_modified"), isoTime(rev.serverModifiedMs)},
            {QStringLiteral("rev"), rev.rev},
            {QStringLiteral("size"), rev.blob.size}};
}

HttpResponse DropboxService::State::createSharedLink(Call& call) {
    Args args = call.args();
    const DropboxFile* file = lookup(call, args);
    if (args.has("settings") && !args.raw("settings").isNull())
        args.object("settings"); // accepted as given: every link is public and never expires
    if (!call.problem.isEmpty())
        return call.badArgument();
    if (!file)
        return apiError({QStringLiteral("path"), QStringLiteral("not_found")});

    const QString lower = file->pathDisplay.toLower();
    if (const QString existing = store.linkToken(call.accountId, lower); !existing.isEmpty())
        return apiError({QStringLiteral("shared_link_already_exists"), QStringLiteral("metadata")},
                        QJsonObject{{QStringLiteral("metadata"), linkMetadata(*file, existing)}});
    return HttpResponse::json(200,
                              QJsonDocument(linkMetadata(*file, store.createLink(call.accountId, lower))));
}

HttpResponse DropboxService::State::listSharedLinks(Call& call) {
    Args args = call.args();
    const bool byPath = args.has("path");
    const DropboxFile* file = byPath ? lookup(call, args) : nullptr;
    args.boolean("direct_only", false);
    const QString cursor = args.optionalString("cursor");
    if (!call.problem.isEmpty())
        return call.badArgument();
    if (!cursor.isEmpty()) // every listing fits in one page, so no cursor is ever handed out
        return apiError({QStringLiteral("reset")});
    if (byPath && !file)
        return apiError({QStringLiteral("path"), QStringLiteral("not_found")});

    QJsonArray links;
    const QStringList paths =
        byPath ? QStringList{file->pathDisplay.toLower()} : store.linkedPaths(call.accountId);
    for (const QString& path : paths) {
        const QString token = store.linkToken(call.accountId, path);
        if (const DropboxFile* linked = store.file(call.accountId, path); linked && !token.isEmpty())
            links.append(linkMetadata(*linked, token));
    }
    return HttpResponse::json(200, QJsonDocument(QJsonObject{{QStringLiteral("links"), links},
                                                             {QStringLiteral("has_more"), false}}));
}

// What a shared link opens: the file itself, so links work in demos without a web page.
HttpResponse DropboxService::State::sharedLinkPage(const HttpRequest& request, const QString& rest) {
    const DropboxFile* file =
        request.method == "GET" ? store.fileForLink(rest.section(QLatin1Char('/'), 0, 0)) : nullptr;
    if (!file)
        return HttpResponse::text(404, "This link doesn't exist.");
    const bool attachment = request.query.queryItemValue(QStringLiteral("dl")) == QLatin1String("1");
    HttpResponse response;
    response.setHeader("Content-Type", "application/octet-stream");
    response.setHeader("Content-Disposition", (attachment ? "attachment" : "inline") +
                                                  QByteArray("; filename*=UTF-8''") +
                                                  QUrl::toPercentEncoding(file->name()));
    response.bodyDevice = sim.blobs().open(file->current().blob);
    response.bodyDeviceSize = file->current().blob.size;
    return response;
}

// --- the service ---

DropboxService::DropboxService(CloudSim& sim) : m_sim(sim), m_state(std::make_unique<State>(sim)) {}
DropboxService::~DropboxService() = default;

HttpResponse DropboxService::handle(const HttpRequest& request, Host host, const QString& path) {
    OAuth& auth = m_sim.oauth(Service::dropbox);
    if (host == Host::www && path == QLatin1String("/oauth2/authorize"))
        return auth.authorize(request);
    if (host == Host::www && path.startsWith(QLatin1String("/scl/fi/")))
        return m_state->sharedLinkPage(request, path.mid(8));
    if (host == Host::api && path == QLatin1String("/oauth2/token"))
        return auth.token(request);
    if (host == Host::api && path == QLatin1String("/2/auth/token/revoke")) {
        HttpResponse unauthorized;
        if (!auth.accountFor(request, &unauthorized))
            return unauthorized;
        auth.revokeAccessToken(QString::fromLatin1(request.header("authorization").mid(7)).trimmed());
        return HttpResponse::json(200, "null");
    }
    return m_state->dispatch(request, host, path);
}

std::unique_ptr<BodySink> DropboxService::receive(const HttpRequest& head, Host host, const QString& path) {
    return m_state->receive(head, host, path);
}

QJsonObject DropboxService::listing(const QString& accountId) const {
    QJsonObject o = m_state->store.listing(accountId);
    o.insert(QStringLiteral("uploadSessions"), m_state->sessions.count(accountId));
    return o;
}

bool DropboxService::removeFile(const QString& accountId, const QString& path) {
    return m_state->store.remove(accountId, path.toLower());
}

void DropboxService::writeJson(JsonStream& json) const {
    m_state->store.writeJson(json);
}

void DropboxService::fromJson(const QJsonObject& state) {
    m_state->store.fromJson(state);
    m_state->sessions.reset();
}

void DropboxService::reset() {
    m_state->store.reset();
    m_state->sessions.reset();
}

} // namespace cloudsim
