#include "AccountModel.h"

#include "AccountSyncEngine.h"
#include "AppModel.h"
#include "Assign.h"
#include "Paths.h"
#include "SettingsKeys.h"
#include "cloud/CloudProvider.h"
#include "common/SettingsStore.h"
#include "platform/FolderBookmark.h"
#include "sync/SyncIndex.h"

#include <QFileInfo>

namespace norvela {

AccountModel::AccountModel(std::shared_ptr<CloudProvider> provider, AppModel* app,
                           const QString& defaultFolder, SettingsStore& settings, QObject* parent)
    : QObject(parent), m_id(provider->accountKey()), m_provider(std::move(provider)), m_app(app),
      m_settings(settings) {
    m_folderPath = m_settings.stringValue(SettingsKeys::accountFolderPath(m_id)).value_or(defaultFolder);
    m_approvedLargeFolder = m_settings.stringValue(SettingsKeys::approvedLargeFolder(m_id));

    for (auto signal : {&AccountModel::syncStateChanged, &AccountModel::progressChanged,
                        &AccountModel::filesTotalChanged, &AccountModel::filesDoneChanged,
                        &AccountModel::currentFileChanged, &AccountModel::transferRateChanged,
                        &AccountModel::lastSyncedDescriptionChanged, &AccountModel::recentFilesChanged,
                        &AccountModel::accountChanged, &AccountModel::lastDebugErrorChanged})
        connect(this, signal, this, &AccountModel::statusChanged);
    connect(this, &AccountModel::accountChanged, this, &AccountModel::displayNameChanged);
}

AccountModel::~AccountModel() {
    m_engine.reset(); // while this model is still whole for the engine's last writes
    endFolderAccess();
}

void AccountModel::setFolderPath(const QString& value) {
    if (storeFolderPath(value) && m_engine)
        restart();
}

bool AccountModel::storeFolderPath(const QString& value) {
    if (!assignChanged(this, m_folderPath, value, &AccountModel::folderPathChanged))
        return false;
    Q_EMIT approvedLargeFolderChanged(); // approval is bound to the exact path
    m_settings.setString(SettingsKeys::accountFolderPath(m_id), value);
    if (m_id == QLatin1String("dropbox")) {
        if (!m_app)
            m_settings.setString(SettingsKeys::folderPath, value);
        else if (m_app->folderPath() != value)
            m_app->setFolderPath(value);
    }
    return true;
}

void AccountModel::setSyncState(SyncState v) {
    assignChanged(this, m_syncState, v, &AccountModel::syncStateChanged);
}
void AccountModel::setPausedForLargeFolder(bool v) {
    assignChanged(this, m_pausedForLargeFolder, v, &AccountModel::pausedForLargeFolderChanged);
}
void AccountModel::setProgress(double v) {
    assignChanged(this, m_progress, v, &AccountModel::progressChanged);
}
void AccountModel::setFilesTotal(int v) {
    assignChanged(this, m_filesTotal, v, &AccountModel::filesTotalChanged);
}
void AccountModel::setFilesDone(int v) {
    assignChanged(this, m_filesDone, v, &AccountModel::filesDoneChanged);
}
void AccountModel::setCurrentFile(const QString& v) {
    assignChanged(this, m_currentFile, v, &AccountModel::currentFileChanged);
}
void AccountModel::setTransferRate(const QString& v) {
    assignChanged(this, m_transferRate, v, &AccountModel::transferRateChanged);
}
void AccountModel::setLastSyncedDescription(const QString& v) {
    assignChanged(this, m_lastSyncedDescription, v, &AccountModel::lastSyncedDescriptionChanged);
}
void AccountModel::setRecentFiles(const QList<RecentFile>& v) {
    assignChanged(this, m_recentFiles, v, &AccountModel::recentFilesChanged);
}
void AccountModel::setAccount(const std::optional<AccountInfo>& v) {
    assignChanged(this, m_account, v, &AccountModel::accountChanged);
}
void AccountModel::setLastDebugError(const std::optional<QString>& v) {
    assignChanged(this, m_lastDebugError, v, &AccountModel::lastDebugErrorChanged);
}

void AccountModel::start() {
    beginFolderAccess();
    if (m_app && m_app->engineFactory().makeAccountEngine) {
        m_engine = m_app->engineFactory().makeAccountEngine(*this, m_app->clock());
        m_engine->start();
    }
    fetchAccountInfo();
}

void AccountModel::stop() {
    m_engine.reset();
    endFolderAccess();
}

void AccountModel::restart() {
    stop();
    start();
}

QCoro::Task<> AccountModel::fetchAccountInfo() {
    QPointer<AccountModel> self(this);
    const std::shared_ptr<CloudProvider> provider = m_provider; // outlives this model if need be
    std::optional<AccountInfo> info;
    try {
        info = co_await provider->fetchAccountInfo();
    } catch (...) {
        // Left absent: the footer then reads "Reconnecting to …".
    }
    if (!self)
        co_return;
    setAccount(info);
    if (info)
        provider->adoptIdentity(*info);
}

void AccountModel::endFolderAccess() {
    if (m_accessedFolderURL)
        FolderBookmark::stopAccess(*m_accessedFolderURL);
    m_accessedFolderURL.reset();
}

void AccountModel::beginFolderAccess() {
    endFolderAccess();
    const QString ownKey = SettingsKeys::folderBookmark(m_id);
    auto data = m_settings.dataValue(ownKey);
    if (!data)
        data = m_settings.dataValue(SettingsKeys::appFolderBookmark);
    if (!data)
        return;
    const auto resolved = FolderBookmark::resolve(*data);
    if (!resolved)
        return;
    // A bookmark of any other folder is never used.
    const QString wanted = Paths::standardized(Paths::expandTilde(m_folderPath));
    const QString wantedCanonical = QFileInfo(wanted).canonicalFilePath();
    if (resolved->path != wanted && resolved->path != wantedCanonical)
        return;
    if (FolderBookmark::startAccess(resolved->path))
        m_accessedFolderURL = resolved->path;
    if (resolved->stale)
        saveBookmark(resolved->path, ownKey);
}

void AccountModel::saveBookmark(const QString& folderPath, const QString& key) {
    if (const auto data = FolderBookmark::create(folderPath))
        m_settings.setData(key, *data);
}

void AccountModel::setFolder(const QString& folderPath) {
    saveBookmark(folderPath, SettingsKeys::folderBookmark(m_id));
    const QString path = Paths::abbreviateHome(Paths::standardized(folderPath));
    storeFolderPath(path);
    if (m_app)     // without an application (the command-line tool) nothing runs to restart
        restart(); // once, whether or not the path changed
}

void AccountModel::approveLargeFolder() {
    assignChanged(this, m_approvedLargeFolder, std::optional<QString>(m_folderPath),
                  &AccountModel::approvedLargeFolderChanged);
    m_settings.setString(SettingsKeys::approvedLargeFolder(m_id), m_folderPath);
    restart();
}

bool AccountModel::isLargeFolderApproved() const {
    return m_approvedLargeFolder && *m_approvedLargeFolder == m_folderPath;
}

QString AccountModel::displayName() const {
    const QString name = m_provider->displayName();
    const std::optional<QString> email =
        m_account ? std::optional<QString>(m_account->email) : m_provider->accountEmail();
    if (!email || email->isEmpty() || !m_app)
        return name;
    for (const AccountModel* other : m_app->accounts()) {
        if (other != this && other->provider()->id() == m_provider->id() && other->id() != m_id)
            return name + QStringLiteral(" (") + *email + QLatin1Char(')');
    }
    return name;
}

QList<RecentFile> AccountModel::syncedFiles() const {
    const QString root = Paths::expandTilde(m_folderPath);
    QList<RecentFile> files;
    const SyncIndex index(m_id);
    for (auto it = index.entries().cbegin(); it != index.entries().cend(); ++it) {
        RecentFile file;
        file.name = it.key().section(QLatin1Char('/'), -1);
        file.syncedAt = it->syncedAt;
        file.url = QUrl::fromLocalFile(root + QLatin1Char('/') + it.key());
        file.providerID = m_id;
        file.relativePath = it.key();
        file.ref = it->rev;
        file.sizeBytes = it->size;
        files.append(file);
    }
    std::stable_sort(files.begin(), files.end(),
                     [](const RecentFile& l, const RecentFile& r) { return l.syncedAt > r.syncedAt; });
    return files;
}

} // namespace norvela
