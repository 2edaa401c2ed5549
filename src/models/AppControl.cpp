#include "AppControl.h"

#include "AccountModel.h"
#include "AppModel.h"
#include "SettingsKeys.h"
#include "cloud/CloudProvider.h"
#include "cloud/ProviderKind.h"
#include "common/NorvelaError.h"
#include "common/SettingsStore.h"

#include <QJsonArray>
#include <QPointer>

namespace norvela {

namespace {

QJsonValue orNull(const std::optional<QString>& text) {
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

QString isoDate(const QDateTime& date) {
    return date.toUTC().toString(Qt::ISODate);
}

} // namespace

AppControl::AppControl(AppModel& model, QObject* parent) : QObject(parent), m_model(model) {}

QCoro::Task<QJsonObject> AppControl::handle(QJsonObject request) {
    const QString command = request.value(QStringLiteral("cmd")).toString();
    const QString path = request.value(QStringLiteral("path")).toString();
    const QJsonValue key = request.value(QStringLiteral("key"));
    const std::optional<QString> account = key.isString() ? std::optional(key.toString()) : std::nullopt;

    if (command == QLatin1String("status"))
        co_return status();
    if (command == QLatin1String("pause") || command == QLatin1String("resume")) {
        const bool found =
            command == QLatin1String("pause") ? m_model.pause(account) : m_model.resume(account);
        if (!found)
            throw NorvelaError(QStringLiteral("no linked account '") + *account + QLatin1Char('\''));
        co_return QJsonObject{};
    }
    if (command == QLatin1String("share"))
        co_return co_await share(path);
    if (command == QLatin1String("versions"))
        co_return co_await versions(path);
    if (command == QLatin1String("restore"))
        co_return co_await restore(path, request.value(QStringLiteral("version")).toString());
    if (command == QLatin1String("show")) {
        Q_EMIT showRequested();
        co_return QJsonObject{};
    }
    throw NorvelaError(QStringLiteral("unknown request '") + command + QLatin1Char('\''));
}

// --- status ---

QJsonObject AppControl::accountJson(const AccountModel& account, bool live) {
    const CloudProvider& provider = *account.provider();
    const std::optional<QString> email =
        account.account() ? account.account()->email : provider.accountEmail();
    QJsonObject json{
        {QStringLiteral("key"), account.id()},
        {QStringLiteral("kind"), provider.id()},
        {QStringLiteral("service"), provider.displayName()},
        {QStringLiteral("email"), orNull(email)},
        {QStringLiteral("folder"), account.rootPath()},
        {QStringLiteral("indexedFiles"), account.indexedFileCount()},
        {QStringLiteral("state"), QJsonValue::Null},
        {QStringLiteral("reason"), QJsonValue::Null},
        {QStringLiteral("filesDone"), 0},
        {QStringLiteral("filesTotal"), 0},
        {QStringLiteral("currentFile"), QJsonValue::Null},
        {QStringLiteral("lastSynced"), QJsonValue::Null},
        {QStringLiteral("parked"), QJsonArray()},
        {QStringLiteral("parkedCount"), 0},
    };
    if (!live)
        return json;
    const SyncStatus& status = account.status();
    json[QStringLiteral("state")] = status.stateKey();
    json[QStringLiteral("reason")] = orNull(status.reasonKey());
    json[QStringLiteral("filesDone")] = status.filesDone;
    json[QStringLiteral("filesTotal")] = status.filesTotal;
    if (status.state == SyncState::syncing && !status.currentFile.isEmpty())
        json[QStringLiteral("currentFile")] = status.currentFile;
    json[QStringLiteral("lastSynced")] = account.lastSyncedDescription();
    QJsonArray parked;
    for (const SyncStatus::ParkedFile& file : status.parked)
        parked.append(QJsonObject{{QStringLiteral("path"), file.relativePath},
                                  {QStringLiteral("reason"), file.reason}});
    json[QStringLiteral("parked")] = parked;
    json[QStringLiteral("parkedCount")] = status.parkedCount;
    return json;
}

QJsonObject AppControl::status() const {
    QJsonArray accounts;
    for (const AccountModel* account : m_model.accounts())
        accounts.append(accountJson(*account, account->engine() != nullptr));
    return {{QStringLiteral("running"), true}, {QStringLiteral("accounts"), accounts}};
}

QJsonObject AppControl::offlineStatus(SettingsStore& settings) {
    const QString appFolder =
        settings.stringValue(SettingsKeys::folderPath).value_or(QStringLiteral("~/Norvela"));
    QJsonArray accounts;
    for (ProviderKind kind : ProviderKinds::all) {
        for (const auto& provider : ProviderKinds::linkedProviders(kind, ServiceEndpoints::configured())) {
            // Without an application the model only reads its settings and index.
            const AccountModel account(provider, nullptr, AppModel::defaultFolder(*provider, appFolder),
                                       settings);
            accounts.append(accountJson(account, false));
        }
    }
    return {{QStringLiteral("running"), false}, {QStringLiteral("accounts"), accounts}};
}

// --- files ---

namespace {

RecentFile fileAt(const AppModel& model, const QString& path) {
    const std::optional<RecentFile> file = model.syncedFile(path);
    if (!file)
        throw NorvelaError(path + QStringLiteral(" is not inside the folder of a linked account"));
    return *file;
}

} // namespace

QCoro::Task<QJsonObject> AppControl::share(QString path) {
    QPointer<AppControl> self(this);
    const std::optional<QUrl> link = co_await m_model.createSharedLink(fileAt(m_model, path));
    if (!link)
        throw NorvelaError(self ? m_model.actionStatus().value_or(QString())
                                : QStringLiteral("Norvela stopped"));
    co_return QJsonObject{{QStringLiteral("link"), link->toString(QUrl::FullyEncoded)}};
}

QCoro::Task<QJsonObject> AppControl::versions(QString path) {
    const RecentFile file = fileAt(m_model, path);
    if (!file.relativePath)
        throw NorvelaError(file.name + QStringLiteral(" has no versions yet: it has not been uploaded"));
    const QList<FileRevision> revisions = co_await m_model.revisions(file);
    QJsonArray list;
    for (const FileRevision& revision : revisions)
        list.append(QJsonObject{{QStringLiteral("id"), revision.id},
                                {QStringLiteral("modified"), isoDate(revision.modified)},
                                {QStringLiteral("size"), revision.size},
                                {QStringLiteral("current"), list.isEmpty()}});
    co_return QJsonObject{{QStringLiteral("versions"), list}};
}

QCoro::Task<QJsonObject> AppControl::restore(QString path, QString versionId) {
    QPointer<AppControl> self(this);
    const RecentFile file = fileAt(m_model, path);
    if (!file.relativePath)
        throw NorvelaError(file.name + QStringLiteral(" has no versions yet: it has not been uploaded"));
    const QList<FileRevision> revisions = co_await m_model.revisions(file);
    const auto it = std::find_if(revisions.cbegin(), revisions.cend(),
                                 [&versionId](const FileRevision& r) { return r.id == versionId; });
    if (it == revisions.cend())
        throw NorvelaError(QStringLiteral("no version '") + versionId + QStringLiteral("' of ") + file.name);
    if (!self)
        throw NorvelaError(QStringLiteral("Norvela stopped"));
    const bool restored = co_await m_model.restore(*it, file);
    const QString text =
        self ? m_model.actionStatus().value_or(QString()) : QStringLiteral("Norvela stopped");
    if (!restored)
        throw NorvelaError(text);
    co_return QJsonObject{{QStringLiteral("status"), text}};
}

} // namespace norvela
