#include "GoogleService.h"

#include "CloudSim.h"
#include "DriveFieldMask.h"
#include "DriveHttp.h"
#include "DriveStore.h"
#include "DriveUploads.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QUrl>

namespace cloudsim {

namespace {

const QString fileDefaults = QStringLiteral("kind,id,name,mimeType");
constexpr int defaultPageSize = 100;
constexpr int maxPageSize = 1000;

HttpResponse noContent() {
    HttpResponse r;
    r.status = 204;
    return r;
}

DriveError notDownloadable() {
    return {403, QStringLiteral("fileNotDownloadable"),
            QStringLiteral(
                "Only files with binary content can be downloaded. Use Export with Docs Editors files."),
            QStringLiteral("alt")};
}

} // namespace

struct GoogleService::State {
    explicit State(CloudSim& sim) : uploads(sim, drives) {}
    DriveStore drives;
    DriveUploads uploads;
};

GoogleService::GoogleService(CloudSim& sim) : m_sim(sim), m_state(std::make_unique<State>(sim)) {}
GoogleService::~GoogleService() = default;

HttpResponse GoogleService::handle(const HttpRequest& request, Host host, const QString& path) {
    OAuth& auth = m_sim.oauth(Service::google);
    if (host == Host::accounts && path == QLatin1String("/o/oauth2/v2/auth"))
        return auth.authorize(request);
    if (host == Host::oauth2 && path == QLatin1String("/token"))
        return auth.token(request);
    if (host == Host::oauth2 && path == QLatin1String("/revoke")) {
        const QString token = request.query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
        if (auth.revokeRefreshToken(token) || auth.revokeAccessToken(token))
            return HttpResponse::json(200, "{}");
        return HttpResponse::json(
            400, "{\"error\":\"invalid_token\",\"error_description\":\"Token expired or revoked\"}");
    }
    if (host != Host::www)
        return DriveError::notFound().response();
    if (std::unique_ptr<BodySink> sink = receive(request, host, path))
        return BodySink::respond(std::move(sink), request.body);

    static const QLatin1String apiPath("/drive/v3/");
    if (path.startsWith(apiPath)) {
        HttpResponse unauthorized;
        const auto account = auth.accountFor(request, &unauthorized);
        if (!account)
            return unauthorized;
        return api(request, *account, path.mid(apiPath.size()).split(QLatin1Char('/')));
    }
    return DriveError::notFound().response();
}

std::unique_ptr<BodySink> GoogleService::receive(const HttpRequest& head, Host host, const QString& path) {
    static const QLatin1String uploadPath("/upload/drive/v3/files");
    if (host != Host::www || !path.startsWith(uploadPath))
        return nullptr;
    const QString rest = path.mid(uploadPath.size()); // "" or "/<fileId>"
    if (!rest.isEmpty() &&
        (!rest.startsWith(QLatin1Char('/')) || rest.count(QLatin1Char('/')) != 1 || rest.size() < 2))
        return BodySink::answer(DriveError::notFound().response());
    if (!driveParam(head, QStringLiteral("upload_id")).isNull())
        return m_state->uploads.resume(head);
    HttpResponse unauthorized;
    const auto account = m_sim.oauth(Service::google).accountFor(head, &unauthorized);
    if (!account)
        return BodySink::answer(std::move(unauthorized));
    const QString fileId = rest.mid(1);
    if (fileId.isEmpty() ? head.method != "POST" : head.method != "PATCH")
        return BodySink::answer(DriveError::notFound().response());
    // Session URIs point back at the host and path this request used.
    QByteArray hostHeader = head.header("host");
    if (hostHeader.isEmpty())
        hostHeader = QUrl(m_sim.baseUrl()).authority().toLatin1();
    const QString base = QStringLiteral("http://") + QString::fromLatin1(hostHeader) + head.path;
    return m_state->uploads.start(head, *account, fileId, base);
}

HttpResponse GoogleService::api(const HttpRequest& request, const QString& account,
                                const QStringList& parts) {
    const QByteArray& method = request.method;
    const QString fields = driveParam(request, QStringLiteral("fields"));
    if (parts.size() == 1 && parts[0] == QLatin1String("about") && method == "GET")
        return about(account, fields);
    if (parts.isEmpty() || parts[0] != QLatin1String("files") || parts.contains(QString()))
        return DriveError::notFound().response();
    if (parts.size() == 1 && method == "GET")
        return listFiles(request, account);
    if (parts.size() == 1 && method == "POST")
        return createFile(request, account);
    if (parts.size() == 1)
        return DriveError::notFound().response();

    DriveStore& drives = m_state->drives;
    const QString& fileId = parts[1];
    DriveFile* file = drives.find(account, fileId);
    if (!file)
        return DriveError::fileNotFound(fileId).response();

    if (parts.size() == 2) {
        if (method == "GET")
            return getFile(request, account, *file);
        if (method == "PATCH") {
            QJsonObject metadata;
            if (DriveError e = readMetadata(request, &metadata))
                return e.response();
            if (DriveError e = drives.update(account, *file, metadata, m_sim.nowMs()))
                return e.response();
            return selectedFields(drives.fileResource(account, *file), fields, fileDefaults);
        }
        if (method == "DELETE") {
            if (file->id == drives.rootId(account))
                return DriveError{
                    403,
                    QStringLiteral("insufficientFilePermissions"),
                    QStringLiteral("The user does not have sufficient permissions for this file."),
                    {}}
                    .response();
            drives.remove(account, file->id);
            return noContent();
        }
        return DriveError::notFound().response();
    }
    if (parts[2] == QLatin1String("revisions") && method == "GET" && parts.size() <= 4) {
        if (!file->hasContent())
            return DriveError{403,
                              QStringLiteral("revisionsNotSupported"),
                              QStringLiteral("The file does not support revisions."),
                              {}}
                .response();
        if (parts.size() == 3) {
            QJsonArray list;
            for (const DriveRevision& r : file->revisions)
                list.append(DriveStore::revisionResource(*file, r));
            return selectedFields(
                QJsonObject{{QStringLiteral("kind"), QStringLiteral("drive#revisionList")},
                            {QStringLiteral("revisions"), list}},
                fields, QStringLiteral("kind,nextPageToken,revisions(kind,id,mimeType,modifiedTime)"));
        }
        for (const DriveRevision& r : file->revisions) {
            if (r.id != parts[3])
                continue;
            const QString alt = driveParam(request, QStringLiteral("alt"));
            if (alt == QLatin1String("media"))
                return content(*file, r);
            if (!alt.isNull() && alt != QLatin1String("json"))
                return DriveError::invalidValue(QStringLiteral("alt")).response();
            return selectedFields(DriveStore::revisionResource(*file, r), fields,
                                  QStringLiteral("kind,id,mimeType,modifiedTime"));
        }
        return DriveError::revisionNotFound(parts[3]).response();
    }
    if (parts[2] == QLatin1String("permissions") && parts.size() == 3) {
        if (method == "POST")
            return share(request, *file);
        if (method == "GET") {
            QJsonArray list;
            for (const DrivePermission& p : file->permissions)
                list.append(DriveStore::permissionResource(p));
            return selectedFields(
                QJsonObject{{QStringLiteral("kind"), QStringLiteral("drive#permissionList")},
                            {QStringLiteral("permissions"), list}},
                fields,
                QStringLiteral("kind,nextPageToken,permissions(kind,id,type,role,allowFileDiscovery)"));
        }
    }
    return DriveError::notFound().response();
}

HttpResponse GoogleService::about(const QString& account, const QString& fields) {
    if (fields.isEmpty()) // about has no default fields on the service
        return DriveError{400, QStringLiteral("required"),
                          QStringLiteral("The 'fields' parameter is required for this method."),
                          QStringLiteral("fields")}
            .response();
    const Account* user = m_sim.account(account);
    const QJsonObject resource{
        {QStringLiteral("kind"), QStringLiteral("drive#about")},
        {QStringLiteral("user"), QJsonObject{{QStringLiteral("kind"), QStringLiteral("drive#user")},
                                             {QStringLiteral("displayName"), user ? user->name : QString()},
                                             {QStringLiteral("emailAddress"), user ? user->email : QString()},
                                             {QStringLiteral("permissionId"), account},
                                             {QStringLiteral("me"), true}}},
        {QStringLiteral("storageQuota"),
         QJsonObject{{QStringLiteral("limit"), QString::number(user ? user->allocation : 0)},
                     {QStringLiteral("usage"), QString::number(m_state->drives.usage(account))},
                     {QStringLiteral("usageInDrive"), QString::number(m_state->drives.usage(account))}}},
        {QStringLiteral("maxUploadSize"), QStringLiteral("5497558138880")}};
    return selectedFields(resource, fields, {});
}

HttpResponse GoogleService::listFiles(const HttpRequest& request, const QString& account) {
    const auto query = DriveQuery::parse(driveParam(request, QStringLiteral("q")));
    if (!query)
        return DriveError::invalidValue(QStringLiteral("q")).response();
    int pageSize = defaultPageSize;
    if (const QString text = driveParam(request, QStringLiteral("pageSize")); !text.isNull()) {
        bool ok = false;
        pageSize = text.toInt(&ok);
        if (!ok || pageSize < 1 || pageSize > maxPageSize)
            return DriveError::invalidValue(QStringLiteral("pageSize")).response();
    }
    // Page tokens are opaque to clients; here they carry the offset of the next page.
    qint64 offset = 0;
    if (const QString token = driveParam(request, QStringLiteral("pageToken")); !token.isEmpty()) {
        bool ok = false;
        offset = QByteArray::fromBase64(token.toLatin1(), QByteArray::Base64UrlEncoding).toLongLong(&ok);
        if (!ok || offset < 0)
            return DriveError::invalidValue(QStringLiteral("pageToken")).response();
    }
    DriveStore& drives = m_state->drives;
    drives.rootId(account);
    const QList<const DriveFile*> found = drives.search(account, *query);
    QJsonArray files;
    for (qint64 i = offset; i < found.size() && i < offset + pageSize; ++i)
        files.append(drives.fileResource(account, *found[i]));
    QJsonObject list{{QStringLiteral("kind"), QStringLiteral("drive#fileList")},
                     {QStringLiteral("incompleteSearch"), false},
                     {QStringLiteral("files"), files}};
    if (offset + pageSize < found.size())
        list.insert(QStringLiteral("nextPageToken"),
                    QString::fromLatin1(
                        QByteArray::number(offset + pageSize).toBase64(QByteArray::Base64UrlEncoding)));
    return selectedFields(list, driveParam(request, QStringLiteral("fields")),
                          QStringLiteral("kind,nextPageToken,incompleteSearch,files(kind,id,name,mimeType)"));
}

HttpResponse GoogleService::createFile(const HttpRequest& request, const QString& account) {
    QJsonObject metadata;
    if (DriveError e = readMetadata(request, &metadata))
        return e.response();
    DriveStore& drives = m_state->drives;
    DriveFile file;
    const qint64 now = m_sim.nowMs();
    if (DriveError e =
            drives.prepare(account, metadata, QStringLiteral("application/octet-stream"), now, &file))
        return e.response();
    DriveFile& added = drives.add(account, std::move(file));
    if (added.hasContent()) // a file made from metadata alone is empty
        drives.addRevision(account, added, m_sim.blobs().builder(BlobStore::Sums::withMd5)->finish(), now);
    return selectedFields(drives.fileResource(account, added), driveParam(request, QStringLiteral("fields")),
                          fileDefaults);
}

HttpResponse GoogleService::getFile(const HttpRequest& request, const QString& account,
                                    const DriveFile& file) {
    const QString alt = driveParam(request, QStringLiteral("alt"));
    if (alt == QLatin1String("media")) {
        if (!file.hasContent() || !file.head())
            return notDownloadable().response();
        return content(file, *file.head());
    }
    if (!alt.isNull() && alt != QLatin1String("json"))
        return DriveError::invalidValue(QStringLiteral("alt")).response();
    return selectedFields(m_state->drives.fileResource(account, file),
                          driveParam(request, QStringLiteral("fields")), fileDefaults);
}

HttpResponse GoogleService::content(const DriveFile& file, const DriveRevision& revision) {
    if (!file.hasContent())
        return notDownloadable().response();
    HttpResponse r;
    r.status = 200;
    r.setHeader("Content-Type", file.mimeType.toUtf8());
    r.bodyDevice = m_sim.blobs().open(revision.blob);
    r.bodyDeviceSize = revision.blob.size;
    if (!r.bodyDevice || !r.bodyDevice->isOpen())
        return DriveError{
            500, QStringLiteral("internalError"), QStringLiteral("The stored content is missing."), {}}
            .response();
    return r;
}

HttpResponse GoogleService::share(const HttpRequest& request, DriveFile& file) {
    QJsonObject body;
    if (DriveError e = readMetadata(request, &body))
        return e.response();
    const QString role = body.value(QStringLiteral("role")).toString();
    const QString type = body.value(QStringLiteral("type")).toString();
    auto required = [](const char* field) {
        return DriveError{400, QStringLiteral("required"),
                          QStringLiteral("The permission %1 field is required.").arg(QLatin1String(field)),
                          QStringLiteral("permission.%1").arg(QLatin1String(field))}
            .response();
    };
    if (type.isEmpty())
        return required("type");
    if (role.isEmpty())
        return required("role");
    static const QStringList roles{QStringLiteral("owner"),         QStringLiteral("organizer"),
                                   QStringLiteral("fileOrganizer"), QStringLiteral("writer"),
                                   QStringLiteral("commenter"),     QStringLiteral("reader")};
    static const QStringList types{QStringLiteral("user"), QStringLiteral("group"), QStringLiteral("domain"),
                                   QStringLiteral("anyone")};
    if (!roles.contains(role))
        return DriveError::invalidValue(QStringLiteral("permission.role")).response();
    if (!types.contains(type))
        return DriveError::invalidValue(QStringLiteral("permission.type")).response();
    if (role == QLatin1String("owner"))
        return DriveError{
            403, QStringLiteral("forbidden"),
            QStringLiteral("The transferOwnership parameter must be enabled when the permission role is "
                           "'owner'."),
            QStringLiteral("transferOwnership")}
            .response();

    DrivePermission permission;
    permission.role = role;
    permission.type = type;
    permission.emailAddress = body.value(QStringLiteral("emailAddress")).toString();
    permission.domain = body.value(QStringLiteral("domain")).toString();
    permission.allowFileDiscovery = body.value(QStringLiteral("allowFileDiscovery")).toBool();
    if ((type == QLatin1String("user") || type == QLatin1String("group")) &&
        permission.emailAddress.isEmpty())
        return required("emailAddress");
    if (type == QLatin1String("domain") && permission.domain.isEmpty())
        return required("domain");
    // One permission per grantee: granting again changes the role of the existing one.
    const QString grantee = type == QLatin1String("anyone")   ? QString()
                            : type == QLatin1String("domain") ? permission.domain
                                                              : permission.emailAddress.toLower();
    for (const DrivePermission& existing : std::as_const(file.permissions)) {
        const QString other =
            existing.type == QLatin1String("domain") ? existing.domain : existing.emailAddress.toLower();
        if (existing.type == type && (type == QLatin1String("anyone") || other == grantee))
            permission.id = existing.id;
    }
    if (permission.id.isEmpty())
        permission.id =
            type == QLatin1String("anyone")
                ? (permission.allowFileDiscovery ? QStringLiteral("anyone")
                                                 : QStringLiteral("anyoneWithLink"))
                : QString::number(QRandomGenerator::global()->bounded(1'000'000'000, 2'000'000'000)) +
                      QString::number(QRandomGenerator::global()->bounded(100'000'000, 999'999'999));
    file.permissions.removeIf([&](const DrivePermission& p) { return p.id == permission.id; });
    file.permissions.append(permission);
    return selectedFields(DriveStore::permissionResource(permission),
                          driveParam(request, QStringLiteral("fields")),
                          QStringLiteral("kind,id,type,role,allowFileDiscovery"));
}

QJsonObject GoogleService::listing(const QString& accountId) const {
    return m_state->drives.listing(accountId);
}

bool GoogleService::removeFile(const QString& accountId, const QString& fileId) {
    DriveStore& drives = m_state->drives;
    const DriveFile* file = drives.find(accountId, fileId);
    if (!file || file->id == drives.rootId(accountId))
        return false;
    drives.remove(accountId, file->id);
    return true;
}

void GoogleService::writeJson(JsonStream& json) const {
    m_state->drives.writeJson(json);
}

void GoogleService::fromJson(const QJsonObject& state) {
    m_state->drives.fromJson(state);
}

void GoogleService::reset() {
    m_state->uploads.reset();
    m_state->drives.clear();
}

} // namespace cloudsim
