#include "AppModel.h"

#include "AccountModel.h"
#include "Assign.h"
#include "SettingsKeys.h"
#include "auth/AuthService.h"
#include "cloud/CloudProvider.h"
#include "cloud/ProviderKind.h"
#include "common/AppSupport.h"
#include "common/NorvelaError.h"
#include "common/SettingsStore.h"
#include "platform/LoginItem.h"
#include "platform/SystemLog.h"
#include "sync/BandwidthLimiter.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>

namespace norvela {

using namespace std::chrono_literals;

AppModel::AppModel(SettingsStore& settings, EngineFactory engines, ServiceEndpoints endpoints, Clock& clock,
                   BandwidthLimiter* limiter, QObject* parent)
    : QObject(parent), m_settings(settings), m_engines(std::move(engines)), m_endpoints(std::move(endpoints)),
      m_clock(clock), m_limiter(limiter ? *limiter : BandwidthLimiter::shared()) {
    // Settings: a missing value or one of the wrong type takes its default. Reading
    // "launchAtLogin" never touches the login item; only an assignment does.
    m_folderPath = m_settings.stringValue(SettingsKeys::folderPath).value_or(QStringLiteral("~/Norvela"));
    m_launchAtLogin = m_settings.boolValue(SettingsKeys::launchAtLogin).value_or(true);
    m_notifyOnChanges = m_settings.boolValue(SettingsKeys::notifyOnChanges).value_or(true);
    if (const auto bytes = m_settings.dataValue(SettingsKeys::schedule))
        m_schedule = SyncSchedule::decode(*bytes).value_or(SyncSchedule{});
    m_uploadLimitMBps = m_settings.doubleValue(SettingsKeys::uploadLimitMBps).value_or(0);

    for (auto signal : {&AppModel::syncStateChanged, &AppModel::progressChanged, &AppModel::filesTotalChanged,
                        &AppModel::filesDoneChanged, &AppModel::currentFileChanged,
                        &AppModel::transferRateChanged, &AppModel::lastSyncedDescriptionChanged,
                        &AppModel::recentFilesChanged, &AppModel::accountChanged, &AppModel::accountsChanged})
        connect(this, signal, this, &AppModel::displayChanged);

    applyBandwidthLimit();
    activateSync();

    if (qEnvironmentVariableIsSet("NORVELA_AUTOLINK") && m_accounts.isEmpty()) {
        const bool google = qEnvironmentVariable("NORVELA_AUTOLINK") == QLatin1String("google");
        link(google ? ProviderKind::googleDrive : ProviderKind::dropbox, false);
    }
    if (qEnvironmentVariable("NORVELA_DUMP_STATE") == QLatin1String("1"))
        writeStateDumpLater();
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
    if (!m_accounts.isEmpty() || qEnvironmentVariableIsSet("NORVELA_AUTOLINK"))
        return false;
    Q_EMIT onboardingRequested();
    return true;
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

QCoro::Task<> AppModel::writeStateDumpLater() {
    QPointer<AppModel> self(this);
    if (!co_await m_clock.sleep(8s, this) || !self)
        co_return;
    AppSupport::writeDiagnosticFile(QStringLiteral("state-dump.txt"), stateDumpText());
}

} // namespace norvela
