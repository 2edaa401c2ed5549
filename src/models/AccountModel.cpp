#include "AccountModel.h"

#include "AccountSyncEngine.h"
#include "AppModel.h"
#include "Assign.h"
#include "Paths.h"
#include "SettingsKeys.h"
#include "StatusText.h"
#include "cloud/CloudProvider.h"
#include "cloud/CloudUploadResult.h"
#include "common/SettingsStore.h"
#include "platform/FolderBookmark.h"
#include "sync/SyncIndex.h"

#include <QFileInfo>

#include <algorithm>

namespace norvela {

AccountModel::AccountModel(std::shared_ptr<CloudProvider> provider, AppModel* app,
                           const QString& defaultFolder, SettingsStore& settings, QObject* parent)
    : QObject(parent), m_id(provider->accountKey()), m_provider(std::move(provider)), m_app(app),
      m_settings(settings) {
    m_folderPath = m_settings.stringValue(SettingsKeys::accountFolderPath(m_id)).value_or(defaultFolder);
    m_approvedLargeFolder = m_settings.stringValue(SettingsKeys::approvedLargeFolder(m_id));

    for (auto signal : {&AccountModel::recentFilesChanged, &AccountModel::accountChanged})
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

void AccountModel::setStatus(const SyncStatus& value) {
    if (m_status == value)
        return;
    const SyncStatus old = std::exchange(m_status, value);
    auto notifyIf = [this](bool changed, void (AccountModel::*signal)()) {
        if (changed)
            Q_EMIT(this->*signal)();
    };
    const QString provider = m_provider->displayName();
    const QString name = displayName();
    notifyIf(old.state != value.state, &AccountModel::syncStateChanged);
    notifyIf((old.note == SyncStatus::Note::largeFolder) != (value.note == SyncStatus::Note::largeFolder),
             &AccountModel::pausedForLargeFolderChanged);
    notifyIf(old.filesTotal != value.filesTotal, &AccountModel::filesTotalChanged);
    notifyIf(old.filesDone != value.filesDone, &AccountModel::filesDoneChanged);
    notifyIf(progressOf(old) != progressOf(value), &AccountModel::progressChanged);
    notifyIf(old.currentFile != value.currentFile, &AccountModel::currentFileChanged);
    notifyIf(StatusText::rate(old.bytesPerSecond) != StatusText::rate(value.bytesPerSecond),
             &AccountModel::transferRateChanged);
    notifyIf(StatusText::subLine(old, provider, name) != StatusText::subLine(value, provider, name),
             &AccountModel::lastSyncedDescriptionChanged);
    notifyIf(old.lastError != value.lastError, &AccountModel::lastDebugErrorChanged);
    Q_EMIT statusChanged();
}

double AccountModel::progressOf(const SyncStatus& status) {
    // The counts of a finished batch stay for the aggregate; the account's own bar empties.
    if (status.state == SyncState::idle || status.filesTotal < 1)
        return 0.0;
    return double(status.filesDone) / double(status.filesTotal);
}

QString AccountModel::transferRate() const {
    return StatusText::rate(m_status.bytesPerSecond);
}

QString AccountModel::lastSyncedDescription() const {
    return StatusText::subLine(m_status, m_provider->displayName(), displayName());
}

QVariantList AccountModel::recentFileList() const {
    QList<RecentFile> files = m_recentFiles;
    std::stable_sort(files.begin(), files.end(),
                     [](const RecentFile& l, const RecentFile& r) { return l.syncedAt > r.syncedAt; });
    QVariantList list;
    for (const RecentFile& file : files)
        list.append(QVariant::fromValue(file));
    return list;
}

void AccountModel::setRecentFiles(const QList<RecentFile>& v) {
    assignChanged(this, m_recentFiles, v, &AccountModel::recentFilesChanged);
}
void AccountModel::setAccount(const std::optional<AccountInfo>& v) {
    assignChanged(this, m_account, v, &AccountModel::accountChanged);
}

double AccountModel::usedFraction() const {
    if (!m_account || m_account->quotaBytes <= 0)
        return 0.0;
    return std::clamp(double(m_account->usedBytes) / double(m_account->quotaBytes), 0.0, 1.0);
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

void AccountModel::adoptStoredSettings(const QStringList& keys, const QString& defaultFolder) {
    const bool wasApproved = isLargeFolderApproved();
    bool moved = false;
    const QString folderKey = SettingsKeys::accountFolderPath(m_id);
    // Without a folder of its own the account follows its default, the app's folder for "dropbox".
    if (keys.contains(folderKey) || keys.contains(SettingsKeys::folderPath)) {
        moved = assignChanged(this, m_folderPath, m_settings.stringValue(folderKey).value_or(defaultFolder),
                              &AccountModel::folderPathChanged);
        if (moved)
            Q_EMIT approvedLargeFolderChanged(); // approval is bound to the exact path
    }
    const QString approvalKey = SettingsKeys::approvedLargeFolder(m_id);
    if (keys.contains(approvalKey))
        assignChanged(this, m_approvedLargeFolder, m_settings.stringValue(approvalKey),
                      &AccountModel::approvedLargeFolderChanged);
    // A new approval lets a held engine go on, as approveLargeFolder() does.
    if (m_engine && (moved || (!wasApproved && isLargeFolderApproved())))
        restart();
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

QList<RecentFile> AccountModel::syncedFiles(const QString& id, const QString& root) {
    QList<RecentFile> files;
    const SyncIndex index(id);
    for (auto it = index.entries().cbegin(); it != index.entries().cend(); ++it) {
        RecentFile file;
        file.name = it.key().section(QLatin1Char('/'), -1);
        file.syncedAt = it->syncedAt;
        file.url = QUrl::fromLocalFile(root + QLatin1Char('/') + it.key());
        file.providerID = id;
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

namespace norvela {

std::optional<SyncIndexEntry> AccountModel::indexEntry(const QString& relativePath) const {
    if (const SyncIndex* index = m_engine ? m_engine->loadedIndex() : nullptr)
        return index->entry(relativePath);
    return SyncIndex(m_id).entry(relativePath);
}

int AccountModel::indexedFileCount() const {
    if (const SyncIndex* index = m_engine ? m_engine->loadedIndex() : nullptr)
        return int(index->entries().size());
    return int(SyncIndex(m_id).entries().size());
}

void AccountModel::noteRestored(const QString& relativePath, const CloudUploadResult& result,
                                const QString& filePath) {
    if (m_engine) {
        m_engine->noteRestored(relativePath, result, filePath);
        return;
    }
    // Nothing runs (the command-line tool holds the instance lock): record it in the file.
    // Without a stamp: the file was written a moment ago, so the next pass hashes it.
    SyncIndex index(m_id);
    index.set(relativePath,
              {result.size, std::nullopt, result.contentHash, result.ref, QDateTime::currentDateTimeUtc()});
    index.fold();
}

QString AccountModel::rootPath() const {
    return Paths::standardized(Paths::expandTilde(m_folderPath));
}

std::optional<QString> AccountModel::relativePathOf(const QString& path) const {
    const QString file = Paths::standardized(path);
    for (QString root : {rootPath(), QFileInfo(rootPath()).canonicalFilePath()}) {
        if (root.isEmpty())
            continue;
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        if (file.startsWith(root) && file.size() > root.size())
            return file.mid(root.size());
    }
    return std::nullopt;
}

} // namespace norvela
