#include "AppModel.h"

#include "AccountModel.h"
#include "AccountSyncEngine.h"
#include "Assign.h"
#include "Paths.h"
#include "SettingsKeys.h"
#include "StatusText.h"
#include "auth/AuthService.h"
#include "cloud/CloudProvider.h"
#include "cloud/ProviderKind.h"
#include "common/AppSupport.h"
#include "common/AtomicFile.h"
#include "common/Formatting.h"
#include "common/NorvelaError.h"
#include "common/PlatformWords.h"
#include "common/SettingsStore.h"
#include "net/BandwidthLimiter.h"
#include "platform/DesktopServices.h"
#include "platform/FolderBookmark.h"
#include "platform/LoginItem.h"
#include "platform/Support.h"
#include "platform/SystemLog.h"
#include "update/UpdaterService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace norvela {

using namespace std::chrono_literals;

AppModel::AppModel(SettingsStore& settings, EngineFactory engines, DesktopServices& desktop,
                   ServiceEndpoints endpoints, Clock& clock, BandwidthLimiter* limiter, QObject* parent)
    : QObject(parent), m_settings(settings), m_engines(std::move(engines)), m_desktop(desktop),
      m_endpoints(std::move(endpoints)), m_clock(clock),
      m_limiter(limiter ? *limiter : BandwidthLimiter::shared()) {
    // Settings: a missing value or one of the wrong type takes its default. Reading
    // "launchAtLogin" never touches the login item; only an assignment does.
    m_settings.watch();
    adoptStoredSettings({SettingsKeys::folderPath, SettingsKeys::launchAtLogin, SettingsKeys::notifyOnChanges,
                         SettingsKeys::schedule, SettingsKeys::uploadLimitMBps});
    connect(&m_settings, &SettingsStore::changedElsewhere, this, &AppModel::adoptStoredSettings);

    for (auto signal : {&AppModel::syncStateChanged, &AppModel::progressChanged, &AppModel::filesTotalChanged,
                        &AppModel::filesDoneChanged, &AppModel::currentFileChanged,
                        &AppModel::transferRateChanged, &AppModel::lastSyncedDescriptionChanged,
                        &AppModel::recentFilesChanged, &AppModel::accountChanged, &AppModel::accountsChanged})
        connect(this, signal, this, &AppModel::displayChanged);

    applyBandwidthLimit();
    activateSync();
}

AppModel::~AppModel() {
    // A link waiting for the browser would otherwise wait out its five minutes for nobody.
    if (const auto provider = m_linkingProvider.lock())
        provider->authService().cancelLink();
    // Engines and accounts go first, while the model they report to is still whole.
    m_engine.reset();
    qDeleteAll(m_accounts);
    m_accounts.clear();
}

// --- application-level status ---

void AppModel::setSyncState(SyncState v) {
    assignChanged(this, m_syncState, v, &AppModel::syncStateChanged);
}
void AppModel::setProgress(double v) {
    assignChanged(this, m_progress, v, &AppModel::progressChanged);
}
void AppModel::setFilesTotal(int v) {
    assignChanged(this, m_filesTotal, v, &AppModel::filesTotalChanged);
}
void AppModel::setFilesDone(int v) {
    assignChanged(this, m_filesDone, v, &AppModel::filesDoneChanged);
}
void AppModel::setCurrentFile(const QString& v) {
    assignChanged(this, m_currentFile, v, &AppModel::currentFileChanged);
}
void AppModel::setTransferRate(const QString& v) {
    assignChanged(this, m_transferRate, v, &AppModel::transferRateChanged);
}
void AppModel::setLastSyncedDescription(const QString& v) {
    assignChanged(this, m_lastSyncedDescription, v, &AppModel::lastSyncedDescriptionChanged);
}
void AppModel::setRecentFiles(const QList<RecentFile>& v) {
    assignChanged(this, m_recentFiles, v, &AppModel::recentFilesChanged);
}
void AppModel::setAccount(const std::optional<AccountInfo>& v) {
    assignChanged(this, m_account, v, &AppModel::accountChanged);
}
void AppModel::setLastDebugError(const std::optional<QString>& v) {
    assignChanged(this, m_lastDebugError, v, &AppModel::lastDebugErrorChanged);
}

// --- settings ---

void AppModel::setFolderPath(const QString& value) {
    if (assignChanged(this, m_folderPath, value, &AppModel::folderPathChanged))
        m_settings.setString(SettingsKeys::folderPath, value);
}

void AppModel::setLaunchAtLogin(bool value) {
    if (!assignChanged(this, m_launchAtLogin, value, &AppModel::launchAtLoginChanged))
        return;
    m_settings.setBool(SettingsKeys::launchAtLogin, value);
    applyLaunchAtLogin(value);
}

void AppModel::setNotifyOnChanges(bool value) {
    if (assignChanged(this, m_notifyOnChanges, value, &AppModel::notifyOnChangesChanged))
        m_settings.setBool(SettingsKeys::notifyOnChanges, value);
}

void AppModel::setSchedule(const SyncSchedule& value) {
    // Stored on every assignment: this is also what replaces undecodable bytes.
    m_settings.setData(SettingsKeys::schedule, value.encode());
    assignChanged(this, m_schedule, value, &AppModel::scheduleChanged);
}

void AppModel::setUploadLimitMBps(double value) {
    if (!assignChanged(this, m_uploadLimitMBps, value, &AppModel::uploadLimitMBpsChanged))
        return;
    m_settings.setDouble(SettingsKeys::uploadLimitMBps, value);
    applyBandwidthLimit();
}

void AppModel::adoptStoredSettings(const QStringList& keys) {
    if (keys.contains(SettingsKeys::folderPath))
        assignChanged(this, m_folderPath,
                      m_settings.stringValue(SettingsKeys::folderPath).value_or(QStringLiteral("~/Norvela")),
                      &AppModel::folderPathChanged);
    // The preference only, as at start-up: the login item follows an assignment made here,
    // never a value read back from the file.
    if (keys.contains(SettingsKeys::launchAtLogin))
        assignChanged(this, m_launchAtLogin, m_settings.boolValue(SettingsKeys::launchAtLogin).value_or(true),
                      &AppModel::launchAtLoginChanged);
    if (keys.contains(SettingsKeys::notifyOnChanges))
        assignChanged(this, m_notifyOnChanges,
                      m_settings.boolValue(SettingsKeys::notifyOnChanges).value_or(true),
                      &AppModel::notifyOnChangesChanged);
    if (keys.contains(SettingsKeys::schedule)) {
        const auto bytes = m_settings.dataValue(SettingsKeys::schedule);
        assignChanged(this, m_schedule,
                      bytes ? SyncSchedule::decode(*bytes).value_or(SyncSchedule{}) : SyncSchedule{},
                      &AppModel::scheduleChanged);
    }
    if (keys.contains(SettingsKeys::uploadLimitMBps) &&
        assignChanged(this, m_uploadLimitMBps,
                      m_settings.doubleValue(SettingsKeys::uploadLimitMBps).value_or(0),
                      &AppModel::uploadLimitMBpsChanged))
        applyBandwidthLimit();
    for (AccountModel* account : m_accounts)
        account->adoptStoredSettings(keys, defaultFolder(*account->provider()));
}

void AppModel::setScheduleEnabled(bool value) {
    SyncSchedule changed = m_schedule;
    changed.enabled = value;
    if (changed != m_schedule)
        setSchedule(changed);
}

void AppModel::setScheduleStartHour(int hour) {
    SyncSchedule changed = m_schedule;
    changed.startHour = std::clamp(hour, 0, 23);
    if (changed != m_schedule)
        setSchedule(changed);
}

void AppModel::setScheduleEndHour(int hour) {
    SyncSchedule changed = m_schedule;
    changed.endHour = std::clamp(hour, 0, 23);
    if (changed != m_schedule)
        setSchedule(changed);
}

void AppModel::setPauseOnBattery(bool value) {
    SyncSchedule changed = m_schedule;
    changed.pauseOnBattery = value;
    if (changed != m_schedule)
        setSchedule(changed);
}

void AppModel::setFolder(const QString& folderPath) {
    const QString path = Paths::standardized(folderPath);
    if (const auto bookmark = FolderBookmark::create(path))
        m_settings.setData(SettingsKeys::appFolderBookmark, *bookmark);
    setFolderPath(Paths::abbreviateHome(path));
}

QVariantList AppModel::selectiveSyncFolderList() const {
    QVariantList list;
    for (const SelectiveSyncFolder& folder : m_selectiveSyncFolders)
        list.append(QVariant::fromValue(folder));
    return list;
}

void AppModel::applyBandwidthLimit() {
    m_limiter.configure(m_uploadLimitMBps > 0 ? m_uploadLimitMBps * 1'000'000.0 : 0.0);
}

void AppModel::applyLaunchAtLogin(bool enabled) {
    const auto error = enabled ? LoginItem::registerApp(QCoreApplication::applicationFilePath())
                               : LoginItem::unregisterApp();
    if (error)
        systemLog(QStringLiteral("Launch-at-login update failed: ") + *error);
}

// --- accounts ---

void AppModel::setAccounts(const QList<AccountModel*>& value) {
    if (m_accounts == value)
        return;
    m_accounts = value;
    Q_EMIT accountsChanged();
}

void AppModel::setEngine(std::unique_ptr<SyncEngine> engine) {
    if (!engine && !m_engine)
        return;
    m_engine = std::move(engine);
    Q_EMIT engineChanged();
}

void AppModel::activateSync() {
    const QList<AccountModel*> old = m_accounts;
    for (AccountModel* account : old)
        account->stop();
    setAccounts({});
    for (AccountModel* account : old)
        account->deleteLater(); // tasks of the old models may still be unwinding

    if (m_engine) {
        m_engine->pause();
        setEngine(nullptr);
    }

    QList<std::shared_ptr<CloudProvider>> providers;
    for (ProviderKind kind : ProviderKinds::all)
        providers += ProviderKinds::linkedProviders(kind, m_endpoints, m_limiter);

    if (providers.isEmpty()) {
        setRecentFiles({});
        setProgress(0);
        setCurrentFile(QString());
        setTransferRate(QString());
        setSyncState(SyncState::idle);
        if (m_engines.makeApplicationEngine) {
            setEngine(m_engines.makeApplicationEngine(m_clock));
            if (m_engine)
                m_engine->start(this);
        }
        return;
    }

    QList<AccountModel*> created;
    for (const auto& provider : providers) {
        auto* account = new AccountModel(provider, this, defaultFolder(*provider), m_settings, this);
        connect(account, &AccountModel::statusChanged, this, &AppModel::displayChanged);
        created.append(account);
    }
    setAccounts(created);
    for (AccountModel* account : created)
        account->start();
}

QString AppModel::defaultFolder(const CloudProvider& provider, const QString& appFolderPath) {
    if (provider.accountKey() == QLatin1String("dropbox"))
        return appFolderPath;
    if (provider.accountKey() != provider.id() && provider.accountEmail())
        return QStringLiteral("~/Norvela (") + *provider.accountEmail() + QLatin1Char(')');
    return QStringLiteral("~/Norvela (") + provider.displayName() + QLatin1Char(')');
}

// --- display rules ---

SyncState AppModel::displaySyncState() const {
    if (m_accounts.isEmpty())
        return m_syncState;
    auto any = [this](SyncState s) {
        return std::any_of(m_accounts.cbegin(), m_accounts.cend(),
                           [s](auto* a) { return a->syncState() == s; });
    };
    if (any(SyncState::syncing))
        return SyncState::syncing;
    if (any(SyncState::paused))
        return SyncState::paused;
    return SyncState::idle;
}

double AppModel::displayProgress() const {
    if (m_accounts.isEmpty())
        return m_progress;
    qint64 done = 0, total = 0;
    for (const AccountModel* a : m_accounts) {
        done += a->filesDone();
        total += a->filesTotal();
    }
    return total < 1 ? 0.0 : double(done) / double(total);
}

namespace {

const AccountModel* firstIn(const QList<AccountModel*>& accounts, SyncState state) {
    const auto it = std::find_if(accounts.cbegin(), accounts.cend(),
                                 [state](auto* a) { return a->syncState() == state; });
    return it == accounts.cend() ? nullptr : *it;
}

} // namespace

QString AppModel::displayCurrentFile() const {
    if (m_accounts.isEmpty())
        return m_currentFile;
    const AccountModel* syncing = firstIn(m_accounts, SyncState::syncing);
    return syncing ? syncing->currentFile() : QString();
}

QString AppModel::displayTransferRate() const {
    if (m_accounts.isEmpty())
        return m_transferRate;
    const AccountModel* syncing = firstIn(m_accounts, SyncState::syncing);
    return syncing ? syncing->transferRate() : QString();
}

QString AppModel::displayLastSynced() const {
    if (m_accounts.isEmpty())
        return m_lastSyncedDescription;
    if (const AccountModel* syncing = firstIn(m_accounts, SyncState::syncing))
        return syncing->lastSyncedDescription();
    if (const AccountModel* paused = firstIn(m_accounts, SyncState::paused))
        return paused->lastSyncedDescription();
    return m_accounts.first()->lastSyncedDescription();
}

QList<RecentFile> AppModel::displayRecentFiles() const {
    if (m_accounts.isEmpty())
        return m_recentFiles;
    QList<RecentFile> all;
    for (const AccountModel* a : m_accounts)
        all += a->recentFiles();
    std::stable_sort(all.begin(), all.end(),
                     [](const RecentFile& l, const RecentFile& r) { return l.syncedAt > r.syncedAt; });
    return all;
}

int AppModel::displayFilesDone() const {
    if (m_accounts.isEmpty())
        return m_filesDone;
    int done = 0;
    for (const AccountModel* a : m_accounts)
        done += a->filesDone();
    return done;
}

int AppModel::displayFilesTotal() const {
    if (m_accounts.isEmpty())
        return m_filesTotal;
    int total = 0;
    for (const AccountModel* a : m_accounts)
        total += a->filesTotal();
    return total;
}

const AccountModel* AppModel::firstPausedAccount() const {
    if (firstIn(m_accounts, SyncState::syncing))
        return nullptr;
    return firstIn(m_accounts, SyncState::paused);
}

QString AppModel::displayPausedTitle() const {
    const AccountModel* paused = firstPausedAccount();
    return paused && StatusText::pauseReason(paused->status()) ? QStringLiteral("Sync paused")
                                                               : QStringLiteral("Syncing paused");
}

QString AppModel::displayPausedSubtitle() const {
    const AccountModel* paused = firstPausedAccount();
    const auto reason = paused ? StatusText::pauseReason(paused->status()) : std::nullopt;
    if (!reason)
        return QStringLiteral("Click resume to continue");
    QString text = *reason;
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

namespace {

QVariantList variantList(const QList<RecentFile>& files) {
    QVariantList list;
    list.reserve(files.size());
    for (const RecentFile& file : files)
        list.append(QVariant::fromValue(file));
    return list;
}

} // namespace

QVariantList AppModel::recentFileList() const {
    return variantList(m_recentFiles);
}

QVariantList AppModel::displayRecentFileList() const {
    return variantList(displayRecentFiles());
}

QString AppModel::displayFooterLine() const {
    if (m_accounts.isEmpty())
        return m_account ? m_account->email + QString::fromUtf8(" \u00b7 ") + m_account->usageSummary()
                         : QStringLiteral("Not linked");
    if (m_accounts.size() == 1) {
        const AccountModel* only = m_accounts.first();
        if (only->account())
            return only->account()->email + QString::fromUtf8(" \u00b7 ") + only->account()->usageSummary();
        return QStringLiteral("Reconnecting to ") + only->displayName() + QString::fromUtf8("\u2026");
    }
    return QString::number(m_accounts.size()) + QStringLiteral(" accounts linked");
}

// --- action status ---

void AppModel::setActionStatus(const std::optional<QString>& value) {
    assignChanged(this, m_actionStatus, value, &AppModel::actionStatusChanged);
}

void AppModel::setStatus(const QString& text) {
    setActionStatus(text);
    clearStatusLater(text);
}

QCoro::Task<> AppModel::clearStatusLater(QString text) {
    QPointer<AppModel> self(this);
    co_await m_clock.sleep(5s, this);
    if (self && m_actionStatus == text)
        setActionStatus(std::nullopt);
}

// --- linking ---

void AppModel::setIsLinking(bool v) {
    assignChanged(this, m_isLinking, v, &AppModel::isLinkingChanged);
}
void AppModel::setLinkError(const std::optional<QString>& v) {
    assignChanged(this, m_linkError, v, &AppModel::linkErrorChanged);
}

void AppModel::startLink(const QString& kind) {
    if (kind == QLatin1String("dropbox"))
        link(ProviderKind::dropbox, true);
    else if (kind == QLatin1String("googleDrive") && googleDriveConfigured())
        link(ProviderKind::googleDrive, true);
}

QCoro::Task<> AppModel::link(ProviderKind kind, bool openBrowser) {
    if (m_isLinking)
        co_return;
    QPointer<AppModel> self(this);
    // With an account of this kind already stored, the sign-in page must offer another one.
    const bool forceAccountSelection = !ProviderKinds::tokenStore(kind).load().isEmpty();
    setIsLinking(true);
    setLinkError(std::nullopt);
    const std::shared_ptr<CloudProvider> provider =
        ProviderKinds::makeProvider(kind, std::nullopt, m_endpoints, m_limiter);
    m_linkingProvider = provider;
    std::optional<QString> failure;
    try {
        co_await provider->link(openBrowser, forceAccountSelection);
    } catch (...) {
        failure = describe(std::current_exception());
    }
    if (!self)
        co_return;
    if (!failure) {
        activateSync();
        Q_EMIT linked();
        logLinkResult(QStringLiteral("LINKED[") + provider->accountKey() + QLatin1Char(']'), !openBrowser);
    } else {
        setLinkError(failure);
        logLinkResult(QStringLiteral("FAILED[") + ProviderKinds::id(kind) + QStringLiteral("]: ") + *failure,
                      !openBrowser);
    }
    setIsLinking(false);
}

void AppModel::logLinkResult(const QString& text, bool devHook) {
    systemLog(QString::fromUtf8("Norvela link result \u2014 ") + text);
    if (devHook)
        AppSupport::writeDiagnosticFile(QStringLiteral("link-result.txt"), text);
}

void AppModel::unlink(AccountModel* account) {
    if (account)
        unlinkTask(account->provider());
}

QCoro::Task<> AppModel::unlinkTask(std::shared_ptr<CloudProvider> provider) {
    QPointer<AppModel> self(this);
    co_await provider->unlink();
    if (self)
        activateSync();
}

bool AppModel::maybeShowOnboarding() {
    if (!m_accounts.isEmpty())
        return false;
    Q_EMIT onboardingRequested();
    return true;
}

// --- pause and resume ---

void AppModel::togglePauseResume() {
    // Paused only when nothing syncs: a click while one account syncs pauses that one.
    setPaused(displaySyncState() != SyncState::paused, std::nullopt);
}

bool AppModel::pause(const std::optional<QString>& key) {
    return setPaused(true, key);
}

bool AppModel::resume(const std::optional<QString>& key) {
    return setPaused(false, key);
}

bool AppModel::setPaused(bool paused, const std::optional<QString>& key) {
    if (m_accounts.isEmpty() && !key) {
        if (m_engine)
            paused ? m_engine->pause() : m_engine->resume();
        return true;
    }
    bool found = false;
    for (AccountModel* a : m_accounts) {
        if (key && a->id() != *key)
            continue;
        found = true;
        if (!a->engine())
            continue;
        // An account the schedule holds is paused by the user too, so the end of the hold
        // does not undo the pause; resuming it merely starts a new pass.
        if (paused && !a->status().userPaused)
            a->engine()->pause();
        else if (!paused && a->syncState() == SyncState::paused)
            a->engine()->resume();
    }
    return found || !key;
}

// --- files ---

void AppModel::openLocalFolder(AccountModel* account) {
    if (!account && !m_accounts.isEmpty())
        account = m_accounts.first();
    m_desktop.openPath(account ? account->rootPath() : Paths::expandTilde(m_folderPath));
}

void AppModel::openFile(const RecentFile& file) {
    if (file.url)
        m_desktop.revealFile(file.url->toLocalFile());
}

void AppModel::openFile(const QVariant& file) {
    if (file.canConvert<RecentFile>())
        openFile(file.value<RecentFile>());
}

void AppModel::openPath(const QString& path) {
    m_desktop.openPath(path);
}

void AppModel::shareFile(const QVariant& file) {
    if (file.canConvert<RecentFile>())
        createSharedLink(file.value<RecentFile>());
}

AccountModel* AppModel::accountOf(const RecentFile& file) const {
    return file.providerID ? account(*file.providerID) : nullptr;
}

AccountModel* AppModel::account(const QString& key) const {
    const auto it =
        std::find_if(m_accounts.cbegin(), m_accounts.cend(), [&key](auto* a) { return a->id() == key; });
    return it == m_accounts.cend() ? nullptr : *it;
}

std::optional<RecentFile> AppModel::syncedFile(const QString& localPath) const {
    for (AccountModel* a : m_accounts) {
        const auto relative = a->relativePathOf(localPath);
        if (!relative)
            continue;
        RecentFile file;
        file.name = relative->section(QLatin1Char('/'), -1);
        file.url = QUrl::fromLocalFile(a->rootPath() + QLatin1Char('/') + *relative);
        if (const auto entry = a->indexEntry(*relative)) {
            file.syncedAt = entry->syncedAt;
            file.providerID = a->id();
            file.relativePath = *relative;
            file.ref = entry->rev;
            file.sizeBytes = entry->size;
        }
        return file;
    }
    return std::nullopt;
}

QCoro::Task<std::optional<QUrl>> AppModel::createSharedLink(RecentFile file) {
    AccountModel* account = accountOf(file);
    if (!account || !file.relativePath) {
        setStatus(QString::fromUtf8("Can't share this file yet \u2014 wait for it to finish syncing"));
        co_return std::nullopt;
    }
    setStatus(QStringLiteral("Creating shared link for ") + file.name + QString::fromUtf8("\u2026"));
    QPointer<AppModel> self(this);
    const std::shared_ptr<CloudProvider> provider = account->provider();
    std::optional<QUrl> link;
    QString failure;
    try {
        link = co_await provider->createSharedLink(*file.relativePath, file.ref);
    } catch (...) {
        failure = describe(std::current_exception());
    }
    if (!self)
        co_return link;
    if (!link) {
        setStatus(QStringLiteral("Couldn't create link: ") + failure);
        co_return std::nullopt;
    }
    m_desktop.copyText(link->toString(QUrl::FullyEncoded));
    setStatus(QString::fromUtf8("Link copied to clipboard \u00b7 ") + file.name);
    co_return link;
}

QCoro::Task<QList<FileRevision>> AppModel::revisions(RecentFile file) {
    AccountModel* account = accountOf(file);
    if (!account || !file.relativePath)
        co_return {};
    const std::shared_ptr<CloudProvider> provider = account->provider();
    co_return co_await provider->listRevisions(*file.relativePath, file.ref);
}

QCoro::Task<bool> AppModel::restore(FileRevision revision, RecentFile file) {
    AccountModel* found = accountOf(file);
    if (!found || !file.relativePath)
        co_return false;
    QPointer<AppModel> self(this);
    QPointer<AccountModel> account(found);
    const std::shared_ptr<CloudProvider> provider = found->provider();
    const QString relativePath = *file.relativePath;
    const QString providerName = provider->displayName();
    QString failure;
    auto failed = [&] {
        if (self)
            setStatus(QStringLiteral("Restore failed: ") + failure);
        return false;
    };

    std::optional<CloudUploadResult> result;
    try {
        result = co_await provider->restore(relativePath, file.ref, revision);
    } catch (...) {
        failure = describe(std::current_exception());
    }
    if (!result)
        co_return failed();
    if (!file.url) {
        if (self)
            setStatus(QStringLiteral("Restored ") + file.name + QStringLiteral(" in ") + providerName);
        co_return true;
    }

    const QString localPath = file.url->toLocalFile();
    std::optional<QByteArray> content;
    try {
        content = co_await provider->downloadCurrent(relativePath, result->ref, result->size);
    } catch (...) {
        failure = describe(std::current_exception());
    }
    if (!content)
        co_return failed();
    // Written off the main thread: a version may be large. The file keeps its permissions.
    QFuture<QString> writing = QtConcurrent::run([localPath, data = *content] {
        struct stat existing {};
        const bool exists = ::stat(QFile::encodeName(localPath).constData(), &existing) == 0;
        QDir().mkpath(QFileInfo(localPath).absolutePath());
        QString error;
        return AtomicFile::write(localPath, data, exists ? int(existing.st_mode & 07777) : 0644,
                                 AtomicFile::Durability::Synced, &error)
                   ? QString()
                   : error;
    });
    failure = co_await writing;
    if (!failure.isEmpty())
        co_return failed();
    if (account)
        account->noteRestored(relativePath, *result, localPath);
    if (self)
        setStatus(QStringLiteral("Restored ") + file.name + QString::fromUtf8(" \u2014 ") +
                  PlatformWords::thisComputer() + QStringLiteral(" and ") + providerName +
                  QStringLiteral(" now have the ") + Formatting::abbreviatedDateTime(revision.modified) +
                  QStringLiteral(" version"));
    co_return true;
}

// --- the command-line tool ---

void AppModel::installCLI() {
    installCLI(QCoreApplication::applicationDirPath() + QStringLiteral("/norvela"),
               QStringLiteral(NORVELA_CLI_INSTALL_PATH));
}

void AppModel::installCLI(const QString& tool, const QString& destination) {
    if (!QFileInfo(tool).isFile()) {
        setStatus(QStringLiteral("CLI binary is missing from the app bundle"));
        return;
    }
    const QString folder = QFileInfo(destination).absolutePath();
    // Copied beside the destination and renamed over it, so a running copy is never torn.
    const QString staging = destination + QStringLiteral(".norvela-new");
    QFile::remove(staging);
    const bool ok =
        QDir().mkpath(folder) && QFile::copy(tool, staging) &&
        QFile::setPermissions(staging, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                           QFile::ExeOther) &&
        ::rename(QFile::encodeName(staging).constData(), QFile::encodeName(destination).constData()) == 0;
    if (!ok) {
        QFile::remove(staging);
        setStatus(QStringLiteral("Couldn't write ") + folder + QStringLiteral(". Copy it manually: ") + tool);
        return;
    }
    setStatus(QString::fromUtf8("CLI installed \u2014 run `norvela status` in ") + PlatformWords::terminal());
}

void AppModel::composeFeedback() {
    Support::composeFeedback(m_desktop);
}

QString AppModel::supportAddress() const {
    return Support::address();
}

void AppModel::setUpdater(UpdaterService* updater) {
    if (m_updater == updater)
        return;
    m_updater = updater;
    Q_EMIT updaterChanged();
}

void AppModel::checkForUpdates() {
    checkForUpdatesTask();
}

QCoro::Task<> AppModel::checkForUpdatesTask() {
    if (!m_updater)
        co_return;
    QPointer<AppModel> self(this);
    const UpdaterService::CheckResult result = co_await m_updater->checkNow();
    if (!self)
        co_return;
    if (result.outcome == UpdaterService::Outcome::upToDate)
        setStatus(QStringLiteral("You're up to date"));
    else if (result.outcome == UpdaterService::Outcome::updateAvailable && result.update)
        setStatus(QStringLiteral("Norvela ") + result.update->version + QStringLiteral(" is available"));
}

void AppModel::openUpdatePage() {
    if (m_updater && m_updater->availableUpdate())
        m_desktop.openUrl(m_updater->availableUpdate()->page);
}

// --- state dump ---

QString AppModel::stateDumpText() const {
    QStringList ids;
    for (const AccountModel* a : m_accounts)
        ids.append(a->id());
    QString debugError = QStringLiteral("none");
    if (!m_accounts.isEmpty() && m_accounts.first()->lastDebugError())
        debugError = *m_accounts.first()->lastDebugError();
    else if (m_lastDebugError)
        debugError = *m_lastDebugError;

    QStringList lines{
        QStringLiteral("account: ") + displayFooterLine(),
        QStringLiteral("state: ") + caseName(displaySyncState()) + QStringLiteral("  sub: ") +
            displayLastSynced(),
        QStringLiteral("accounts: ") + ids.join(QLatin1Char(',')),
        QStringLiteral("debugError: ") + debugError,
    };
    const QDateTime now = m_clock.now();
    for (const RecentFile& file : displayRecentFiles())
        lines.append(QStringLiteral("recent: ") + file.name + QStringLiteral("  (") + file.relativeTime(now) +
                     QLatin1Char(')'));
    return lines.join(QLatin1Char('\n'));
}

void AppModel::scheduleStateDump() {
    writeStateDumpLater();
}

QCoro::Task<> AppModel::writeStateDumpLater() {
    QPointer<AppModel> self(this);
    if (!co_await m_clock.sleep(8s, this) || !self)
        co_return;
    AppSupport::writeDiagnosticFile(QStringLiteral("state-dump.txt"), stateDumpText());
}

} // namespace norvela
