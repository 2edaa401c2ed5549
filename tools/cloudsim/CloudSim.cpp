#include "CloudSim.h"

#include "DropboxService.h"
#include "GoogleService.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSaveFile>

namespace cloudsim {

namespace {

constexpr int logCapacity = 1000;

QJsonObject headersJson(const HeaderList& headers) {
    QJsonObject o;
    for (const auto& [name, value] : headers)
        o.insert(QString::fromLatin1(name), QString::fromUtf8(value));
    return o;
}

QString newAccountId(Service service) {
    if (service == Service::dropbox)
        return QStringLiteral("dbid:AA") +
               randomToken(30).left(40).replace(QLatin1Char('-'), QLatin1Char('x'));
    return QString::number(QRandomGenerator::global()->bounded(1'000'000'000, 2'000'000'000)) +
           QString::number(QRandomGenerator::global()->bounded(1'000'000, 9'999'999));
}

} // namespace

CloudSim::CloudSim(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)),
      m_server([this](const HttpRequest& r) { return handle(r); }),
      m_blobs(std::make_unique<BlobStore>(
          m_options.stateDir.isEmpty() ? QString() : m_options.stateDir + QStringLiteral("/blobs"))) {
    auto now = [this] { return nowMs(); };
    m_dropboxAuth = std::make_unique<OAuth>(
        OAuth::Config{Service::dropbox,
                      {m_options.dropboxAppKey, {}},
                      m_options.codeLifetimeMs,
                      m_options.accessTokenLifetimeMs},
        [this] { return approvingAccount(Service::dropbox); }, now);
    m_googleAuth = std::make_unique<OAuth>(
        OAuth::Config{Service::google,
                      {m_options.googleClientId, m_options.googleClientSecret},
                      m_options.codeLifetimeMs,
                      std::min<qint64>(m_options.accessTokenLifetimeMs, 3599 * 1000)},
        [this] { return approvingAccount(Service::google); }, now);
    m_dropbox = std::make_unique<DropboxService>(*this);
    m_google = std::make_unique<GoogleService>(*this);
    m_server.setHeadHook([this](const HttpRequest& head) { return onHead(head); });
    m_server.setDropHook([this](const HttpRequest& head, qint64 bodyBytes) { onDropped(head, bodyBytes); });
    m_persistTimer.setSingleShot(true);
    m_persistTimer.setInterval(1000);
    connect(&m_persistTimer, &QTimer::timeout, this, &CloudSim::writeState);
    load();
}

CloudSim::CloudSim(QObject* parent) : CloudSim(Options{}, parent) {}

CloudSim::~CloudSim() {
    // Connections still open go with the server, after the rest of this: an upload cut off
    // then must not report back.
    m_server.setDropHook({});
    if (m_persistTimer.isActive())
        writeState();
}

bool CloudSim::start() {
    return m_server.listen(m_options.port);
}

QString CloudSim::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

// --- accounts ---

Account& CloudSim::addAccount(Service service, const QString& email, const QString& name,
                              const QString& accountType) {
    Account a;
    a.id = newAccountId(service);
    a.service = service;
    a.email = email;
    a.name = name.isEmpty() ? email.section(QLatin1Char('@'), 0, 0) : name;
    a.accountType = accountType;
    m_accounts.append(a);
    persist();
    return m_accounts.last();
}

Account* CloudSim::account(const QString& id) {
    for (Account& a : m_accounts)
        if (a.id == id)
            return &a;
    return nullptr;
}

void CloudSim::setNextApproval(Service service, const QString& accountId) {
    m_nextApproval[service] = accountId;
    persist();
}

Account* CloudSim::approvingAccount(Service service) {
    if (Account* chosen = account(m_nextApproval.value(service)); chosen && chosen->service == service)
        return chosen;
    for (Account& a : m_accounts)
        if (a.service == service)
            return &a;
    // A newcomer needs no set-up: the first approval creates the service's default account.
    return service == Service::dropbox
               ? &addAccount(service, QStringLiteral("dropbox.user@example.com"),
                             QStringLiteral("Dropbox User"))
               : &addAccount(service, QStringLiteral("drive.user@example.com"), QStringLiteral("Drive User"));
}

namespace {

// Drive has no paths: walk the tree, skipping trashed items.
void summariseDriveNode(const QJsonObject& node, const QString& prefix, QStringList& lines) {
    if (node.value(QStringLiteral("trashed")).toBool())
        return;
    const QString path = prefix + node.value(QStringLiteral("name")).toString();
    if (node.contains(QStringLiteral("children"))) {
        for (const QJsonValue child : node.value(QStringLiteral("children")).toArray())
            summariseDriveNode(child.toObject(), path + QLatin1Char('/'), lines);
        return;
    }
    lines.append(QStringLiteral("  %1  %2 bytes  md5 %3  %4 version(s)")
                     .arg(path, node.value(QStringLiteral("size")).toString(),
                          node.value(QStringLiteral("md5Checksum")).toString())
                     .arg(node.value(QStringLiteral("revisions")).toArray().size()));
}

} // namespace

QString CloudSim::summaryText() const {
    QStringList lines;
    for (const Account& a : m_accounts) {
        const QJsonObject held = listing(a.id);
        QStringList files;
        if (a.service == Service::dropbox) {
            for (const QJsonValue v : held.value(QStringLiteral("files")).toArray()) {
                const QJsonObject f = v.toObject();
                files.append(QStringLiteral("  %1  %2 bytes  content hash %3  %4 version(s)")
                                 .arg(f.value(QStringLiteral("pathDisplay")).toString())
                                 .arg(qint64(f.value(QStringLiteral("size")).toDouble()))
                                 .arg(f.value(QStringLiteral("contentHash")).toString().left(16) +
                                      QString::fromUtf8("…"))
                                 .arg(f.value(QStringLiteral("revisions")).toArray().size()));
            }
        } else {
            const QJsonObject root = held.value(QStringLiteral("root")).toObject();
            for (const QJsonValue child : root.value(QStringLiteral("children")).toArray())
                summariseDriveNode(child.toObject(), QStringLiteral("My Drive/"), files);
        }
        lines.append(QStringLiteral("%1 account %2 <%3>: %4 file(s)")
                         .arg(a.service == Service::dropbox ? QStringLiteral("Dropbox")
                                                            : QStringLiteral("Google Drive"),
                              a.id, a.email)
                         .arg(files.size()));
        lines += files;
    }
    if (m_accounts.isEmpty())
        lines.append(QStringLiteral("no accounts"));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QJsonObject CloudSim::listing(const QString& accountId) const {
    for (const Account& a : m_accounts)
        if (a.id == accountId)
            return a.service == Service::dropbox ? m_dropbox->listing(accountId)
                                                 : m_google->listing(accountId);
    return {};
}

// --- inspection and faults ---

QList<CloudSim::LoggedRequest> CloudSim::lastRequests(int n) const {
    QList<LoggedRequest> out;
    for (auto it = m_log.size() > size_t(n) ? m_log.end() - n : m_log.begin(); it != m_log.end(); ++it)
        out.append(*it);
    return out;
}

bool CloudSim::setLatestVersion(const QString& version, const QString& title) {
    if (!m_updates.setLatestVersion(version, title))
        return false;
    persist();
    return true;
}

int CloudSim::addFault(const QJsonObject& rule) {
    m_faults.append(FaultRule::fromJson(rule, m_nextFaultId));
    return m_nextFaultId++;
}

bool CloudSim::setQuota(const QString& accountId, qint64 bytes) {
    Account* a = account(accountId);
    if (!a || bytes < 0)
        return false;
    a->allocation = bytes;
    persist();
    return true;
}

bool CloudSim::removeFile(const QString& accountId, const QString& ref) {
    const Account* a = account(accountId);
    if (!a)
        return false;
    const bool removed = a->service == Service::dropbox ? m_dropbox->removeFile(accountId, ref)
                                                        : m_google->removeFile(accountId, ref);
    if (removed)
        persist();
    return removed;
}

void CloudSim::expireAccessTokens() {
    m_dropboxAuth->expireAccessTokens();
    m_googleAuth->expireAccessTokens();
    persist();
}

void CloudSim::reset() {
    m_accounts.clear();
    m_nextApproval.clear();
    m_faults.clear();
    m_log.clear();
    m_counts.clear();
    m_received.clear();
    m_dropboxAuth->reset();
    m_googleAuth->reset();
    m_dropbox->reset();
    m_google->reset();
    m_updates.reset();
    m_blobs->clear();
    persist();
}

// --- serving ---

// A service request whose body streams to the service as it arrives. Its fault is taken from
// the head, so that a refusal comes before the service has taken a byte. Only what commits a
// file changes the state to be saved (upload sessions live in memory), and that saves itself.
class CloudSim::Reception : public BodySink {
public:
    Reception(CloudSim& sim, HttpRequest head, std::optional<FaultRule> fault,
              std::unique_ptr<BodySink> service)
        : m_sim(sim), m_head(std::move(head)), m_fault(std::move(fault)), m_service(std::move(service)) {}

    void write(QByteArrayView bytes) override {
        m_received += bytes.size();
        if (m_service)
            m_service->write(bytes);
    }
    HttpResponse finish() override {
        HttpResponse response = m_sim.serve(m_head, m_fault, [this] { return m_service->finish(); });
        m_sim.record(m_head, m_received, response.status);
        return response;
    }
    void abandon() override {
        if (m_service)
            m_service->abandon();
    }

private:
    CloudSim& m_sim;
    HttpRequest m_head;
    std::optional<FaultRule> m_fault;
    std::unique_ptr<BodySink> m_service; // null when the fault refuses the request
    qint64 m_received = 0;
};

std::unique_ptr<BodySink> CloudSim::receive(const HttpRequest& head) {
    static const QLatin1String dropboxContent("/dropbox/content/"), googleWww("/google/www/");
    if (head.path.startsWith(dropboxContent))
        return m_dropbox->receive(head, DropboxService::Host::content,
                                  head.path.mid(dropboxContent.size() - 1));
    if (head.path.startsWith(googleWww))
        return m_google->receive(head, GoogleService::Host::www, head.path.mid(googleWww.size() - 1));
    return nullptr;
}

HttpServer::BodyPlan CloudSim::onHead(const HttpRequest& head) {
    HttpServer::BodyPlan plan;
    if (head.path.startsWith(QLatin1String("/_admin")))
        return plan;
    for (FaultRule& rule : m_faults) {
        if (rule.dropUploadAfterBytes >= 0 && rule.matches(head.path, head.method) && rule.take()) {
            plan.dropAfter = rule.dropUploadAfterBytes;
            break;
        }
    }
    std::unique_ptr<BodySink> service = receive(head);
    if (!service)
        return plan; // gathered, and its fault taken once it is whole
    std::optional<FaultRule> hit = plan.dropAfter < 0 ? takeFault(head) : std::nullopt;
    if (hit && hit->status > 0)
        service.reset(); // refused before the service sees it: nothing changes
    plan.sink = std::make_unique<Reception>(*this, head, std::move(hit), std::move(service));
    return plan;
}

void CloudSim::onDropped(const HttpRequest& head, qint64 bodyBytes) {
    if (head.path.startsWith(QLatin1String("/_admin")))
        return;
    m_received[QString::fromLatin1(head.method) + QLatin1Char(' ') + head.path] += bodyBytes;
}

HttpResponse CloudSim::handle(const HttpRequest& request) {
    HttpResponse response = route(request);
    record(request, request.body.size(), response.status);
    return response;
}

void CloudSim::record(const HttpRequest& request, qint64 bodySize, int status) {
    m_log.push_back(
        {QDateTime::currentDateTimeUtc(), request.method, request.target, request.headers, bodySize, status});
    if (m_log.size() > size_t(logCapacity))
        m_log.pop_front();
    if (!request.path.startsWith(QLatin1String("/_admin"))) {
        const QString key = QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path;
        ++m_counts[key];
        m_received[key] += bodySize;
    }
}

HttpResponse CloudSim::faultReply(const FaultRule& rule, const QString& path) const {
    const QByteArray reason = HttpResponse::reasonPhrase(rule.status);
    HttpResponse r;
    if (!rule.reason.isEmpty() && path.startsWith(QLatin1String("/dropbox"))) {
        // "a/b" -> {".tag": "a", "a": {".tag": "b"}}, as the service nests its error unions.
        const QStringList tags = rule.reason.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        QJsonObject error;
        for (qsizetype i = tags.size() - 1; i >= 0; --i)
            error = i == tags.size() - 1 ? QJsonObject{{QStringLiteral(".tag"), tags[i]}}
                                         : QJsonObject{{QStringLiteral(".tag"), tags[i]}, {tags[i], error}};
        r = HttpResponse::json(
            rule.status, QJsonDocument(QJsonObject{{QStringLiteral("error_summary"), rule.reason + "/.."},
                                                   {QStringLiteral("error"), error}}));
    } else if (!rule.reason.isEmpty()) {
        const QString message = rule.message.isEmpty() ? QString::fromLatin1(reason) : rule.message;
        const QJsonObject detail{{QStringLiteral("domain"), QStringLiteral("global")},
                                 {QStringLiteral("reason"), rule.reason},
                                 {QStringLiteral("message"), message}};
        r = HttpResponse::json(
            rule.status,
            QJsonDocument(QJsonObject{
                {QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), rule.status},
                                                      {QStringLiteral("message"), message},
                                                      {QStringLiteral("errors"), QJsonArray{detail}}}}}));
    } else if (path.startsWith(QLatin1String("/dropbox"))) {
        const QByteArray tag = rule.status == 429   ? "too_many_requests"
                               : rule.status == 401 ? "invalid_access_token"
                               : rule.status == 409 ? "conflict"
                                                    : "internal_error";
        r = rule.status >= 500
                ? HttpResponse::text(rule.status, "Error: " + reason)
                : HttpResponse::json(rule.status, "{\"error_summary\":\"" + tag +
                                                      "/\",\"error\":{\".tag\":\"" + tag + "\"}}");
    } else {
        r = HttpResponse::json(rule.status, "{\"error\":{\"code\":" + QByteArray::number(rule.status) +
                                                ",\"message\":\"" + reason + "\",\"errors\":[]}}");
    }
    if (rule.retryAfter >= 0)
        r.setHeader("Retry-After", QByteArray::number(rule.retryAfter));
    return r;
}

HttpResponse CloudSim::route(const HttpRequest& request) {
    if (request.path.startsWith(QLatin1String("/_admin")))
        return admin(request);
    const std::optional<FaultRule> hit = takeFault(request);
    return serve(request, hit, [&] { return serveByPrefix(request); });
}

std::optional<FaultRule> CloudSim::takeFault(const HttpRequest& request) {
    std::optional<FaultRule> hit;
    for (FaultRule& rule : m_faults) {
        if (rule.dropUploadAfterBytes < 0 && rule.matches(request.path, request.method) && rule.take()) {
            hit = rule;
            break;
        }
    }
    m_faults.removeIf([](const FaultRule& r) { return r.exhausted(); });
    return hit;
}

HttpResponse CloudSim::serve(const HttpRequest& request, const std::optional<FaultRule>& hit,
                             const std::function<HttpResponse()>& service) {
    HttpResponse response = hit && hit->status > 0 ? faultReply(*hit, request.path) : service();
    if (hit) {
        response.delayMs = hit->delayMs;
        response.bytesPerSecond = hit->bytesPerSecond;
        response.closeAfterBytes = hit->dropReplyAfterBytes;
    }
    return response;
}

HttpResponse CloudSim::serveByPrefix(const HttpRequest& request) {
    const QString& path = request.path;
    struct Prefix {
        const char* text;
        std::function<HttpResponse(const QString&)> serve;
    };
    const Prefix prefixes[] = {
        {"/dropbox/www",
         [&](const QString& rest) { return m_dropbox->handle(request, DropboxService::Host::www, rest); }},
        {"/dropbox/api",
         [&](const QString& rest) { return m_dropbox->handle(request, DropboxService::Host::api, rest); }},
        {"/dropbox/content",
         [&](const QString& rest) {
             return m_dropbox->handle(request, DropboxService::Host::content, rest);
         }},
        {"/google/accounts",
         [&](const QString& rest) { return m_google->handle(request, GoogleService::Host::accounts, rest); }},
        {"/google/oauth2",
         [&](const QString& rest) { return m_google->handle(request, GoogleService::Host::oauth2, rest); }},
        {"/google/www",
         [&](const QString& rest) { return m_google->handle(request, GoogleService::Host::www, rest); }},
        {"/updates", [&](const QString& rest) { return m_updates.handle(request, rest, baseUrl()); }},
    };
    for (const Prefix& prefix : prefixes) {
        const QLatin1String text(prefix.text);
        if (path.startsWith(text) &&
            (path.size() == text.size() || path.at(text.size()) == QLatin1Char('/'))) {
            HttpResponse response = prefix.serve(path.mid(text.size()));
            if (request.method != "GET")
                persist();
            return response;
        }
    }
    return HttpResponse::text(404, "Not Found");
}

HttpResponse CloudSim::admin(const HttpRequest& request) {
    const QString path = request.path.mid(int(qstrlen("/_admin")));
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    auto ok = [](const QJsonValue& v) {
        return HttpResponse::json(200,
                                  v.isArray() ? QJsonDocument(v.toArray()) : QJsonDocument(v.toObject()));
    };
    auto serviceOf = [](const QString& text) -> std::optional<Service> {
        if (text == QLatin1String("dropbox"))
            return Service::dropbox;
        if (text == QLatin1String("google"))
            return Service::google;
        return std::nullopt;
    };

    if (path == QLatin1String("/summary") && request.method == "GET")
        return HttpResponse::text(200, summaryText().toUtf8());
    if (path == QLatin1String("/health"))
        return ok(QJsonObject{{QStringLiteral("ok"), true}});
    if (path == QLatin1String("/accounts") && request.method == "GET") {
        QJsonArray list;
        for (const Account& a : m_accounts)
            list.append(a.toJson());
        return ok(list);
    }
    if (path == QLatin1String("/accounts") && request.method == "POST") {
        const auto service = serviceOf(body.value(QStringLiteral("service")).toString());
        const QString email = body.value(QStringLiteral("email")).toString();
        if (!service || email.isEmpty())
            return HttpResponse::text(400, "need \"service\" (dropbox or google) and \"email\"");
        Account& a = addAccount(*service, email, body.value(QStringLiteral("name")).toString(),
                                body.value(QStringLiteral("accountType")).toString(QStringLiteral("basic")));
        a.denyAccess = body.value(QStringLiteral("denyAccess")).toBool();
        if (body.contains(QStringLiteral("allocation")))
            a.allocation = qint64(body.value(QStringLiteral("allocation")).toDouble());
        if (body.value(QStringLiteral("approveNext")).toBool())
            setNextApproval(*service, a.id);
        persist();
        return ok(a.toJson());
    }
    if (path.startsWith(QLatin1String("/accounts/")) && path.endsWith(QLatin1String("/quota")) &&
        request.method == "POST") {
        const QString id = path.mid(10, path.size() - 10 - 6);
        const QJsonValue bytes = body.value(QStringLiteral("bytes"));
        if (!account(id))
            return HttpResponse::text(404, "no such account");
        if (!bytes.isDouble() || !setQuota(id, qint64(bytes.toDouble())))
            return HttpResponse::text(400, "need \"bytes\", a number of bytes");
        return ok(account(id)->toJson());
    }
    if (path.startsWith(QLatin1String("/accounts/")) && path.indexOf(QLatin1String("/files/")) > 10 &&
        request.method == "DELETE") {
        const qsizetype files = path.indexOf(QLatin1String("/files/"));
        const QString id = path.mid(10, files - 10);
        // What follows "/files/" is a Drive id, or a Dropbox path without its leading slash.
        QString ref = path.mid(files + 7);
        if (account(id) && account(id)->service == Service::dropbox)
            ref.prepend(QLatin1Char('/'));
        if (!removeFile(id, ref))
            return HttpResponse::text(404, "no such account or file");
        return ok(QJsonObject{{QStringLiteral("ok"), true}});
    }
    if (path.startsWith(QLatin1String("/accounts/")) && path.endsWith(QLatin1String("/files"))) {
        const QString id = path.mid(10, path.size() - 10 - 6);
        if (!account(id))
            return HttpResponse::text(404, "no such account");
        return ok(listing(id));
    }
    if (path == QLatin1String("/approve-next") && request.method == "POST") {
        const auto service = serviceOf(body.value(QStringLiteral("service")).toString());
        const QString id = body.value(QStringLiteral("account")).toString();
        if (!service || (!id.isEmpty() && !account(id)))
            return HttpResponse::text(400, "need \"service\" and an existing \"account\"");
        setNextApproval(*service, id);
        return ok(QJsonObject{{QStringLiteral("ok"), true}});
    }
    if (path == QLatin1String("/counts")) {
        QJsonObject counts;
        for (auto it = m_counts.cbegin(); it != m_counts.cend(); ++it)
            counts.insert(it.key(), it.value());
        return ok(counts);
    }
    if (path == QLatin1String("/received")) {
        QJsonObject received;
        for (auto it = m_received.cbegin(); it != m_received.cend(); ++it)
            received.insert(it.key(), double(it.value()));
        return ok(received);
    }
    if (path == QLatin1String("/requests")) {
        QJsonArray list;
        const int n = request.query.queryItemValue(QStringLiteral("last")).toInt();
        for (const LoggedRequest& r : lastRequests(n > 0 ? n : 50))
            list.append(QJsonObject{{QStringLiteral("at"), r.at.toString(Qt::ISODateWithMs)},
                                    {QStringLiteral("method"), QString::fromLatin1(r.method)},
                                    {QStringLiteral("path"), QString::fromUtf8(r.target)},
                                    {QStringLiteral("headers"), headersJson(r.headers)},
                                    {QStringLiteral("bodySize"), double(r.bodySize)},
                                    {QStringLiteral("status"), r.status}});
        return ok(list);
    }
    if (path == QLatin1String("/updates") && request.method == "POST") {
        if (!setLatestVersion(body.value(QStringLiteral("version")).toString(),
                              body.value(QStringLiteral("title")).toString()))
            return HttpResponse::text(400, "need a \"version\" of letters, digits, '.', '+' and '-'");
        return ok(m_updates.toJson());
    }
    if (path == QLatin1String("/faults") && request.method == "POST")
        return ok(QJsonObject{{QStringLiteral("id"), addFault(body)}});
    if (path == QLatin1String("/faults") && request.method == "GET") {
        QJsonArray list;
        for (const FaultRule& r : m_faults)
            list.append(r.toJson());
        return ok(list);
    }
    if (path == QLatin1String("/faults") && request.method == "DELETE") {
        clearFaults();
        return ok(QJsonObject{{QStringLiteral("ok"), true}});
    }
    if (path == QLatin1String("/expire-tokens") && request.method == "POST") {
        expireAccessTokens();
        return ok(QJsonObject{{QStringLiteral("ok"), true}});
    }
    if (path == QLatin1String("/reset") && request.method == "POST") {
        reset();
        return ok(QJsonObject{{QStringLiteral("ok"), true}});
    }
    return HttpResponse::text(404, "unknown admin call");
}

// --- persistence ---

void CloudSim::persist() {
    // Every piece of an upload changes the state: it is written once for a burst of them.
    if (!m_options.stateDir.isEmpty() && !m_persistTimer.isActive())
        m_persistTimer.start();
}

void CloudSim::writeState() {
    m_persistTimer.stop();
    QDir().mkpath(m_options.stateDir);
    QSaveFile file(m_options.stateDir + QStringLiteral("/state.json"));
    if (!file.open(QIODevice::WriteOnly))
        return;
    QJsonArray accounts;
    for (const Account& a : m_accounts)
        accounts.append(a.toJson());
    JsonStream json(file);
    json.beginObject();
    json.key(QStringLiteral("accounts"));
    json.value(accounts);
    json.key(QStringLiteral("approveNext"));
    json.value(QJsonObject{{QStringLiteral("dropbox"), m_nextApproval.value(Service::dropbox)},
                           {QStringLiteral("google"), m_nextApproval.value(Service::google)}});
    json.key(QStringLiteral("dropboxAuth"));
    json.value(m_dropboxAuth->toJson());
    json.key(QStringLiteral("googleAuth"));
    json.value(m_googleAuth->toJson());
    json.key(QStringLiteral("dropbox"));
    m_dropbox->writeJson(json);
    json.key(QStringLiteral("google"));
    m_google->writeJson(json);
    json.key(QStringLiteral("updates"));
    json.value(m_updates.toJson());
    json.end();
    file.commit();
}

void CloudSim::load() {
    if (m_options.stateDir.isEmpty())
        return;
    QFile file(m_options.stateDir + QStringLiteral("/state.json"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject state = QJsonDocument::fromJson(file.readAll()).object();
    for (const QJsonValue& a : state.value(QStringLiteral("accounts")).toArray())
        m_accounts.append(Account::fromJson(a.toObject()));
    const QJsonObject next = state.value(QStringLiteral("approveNext")).toObject();
    m_nextApproval[Service::dropbox] = next.value(QStringLiteral("dropbox")).toString();
    m_nextApproval[Service::google] = next.value(QStringLiteral("google")).toString();
    m_dropboxAuth->fromJson(state.value(QStringLiteral("dropboxAuth")).toObject());
    m_googleAuth->fromJson(state.value(QStringLiteral("googleAuth")).toObject());
    m_dropbox->fromJson(state.value(QStringLiteral("dropbox")).toObject());
    m_google->fromJson(state.value(QStringLiteral("google")).toObject());
    m_updates.fromJson(state.value(QStringLiteral("updates")).toObject());
}

} // namespace cloudsim
