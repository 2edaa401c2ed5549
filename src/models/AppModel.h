#pragma once

#include "EngineFactory.h"
#include "SyncEngine.h"
#include "auth/ServiceEndpoints.h"
#include "cloud/FileRevision.h"
#include "cloud/ProviderKind.h"
#include "common/AccountInfo.h"
#include "common/Clock.h"
#include "common/RecentFile.h"
#include "common/SelectiveSyncFolder.h"
#include "common/SyncSchedule.h"
#include "common/SyncState.h"
#include "update/UpdaterService.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>

namespace norvela {

class AccountModel;
class BandwidthLimiter;
class CloudProvider;
class DesktopServices;
class SettingsStore;

// Everything the user interface shows: the linked accounts, the settings, the aggregated
// status, the one-line action status and the linking state. One per process, on the main
// thread. While no account is linked an application-wide engine writes the status fields.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(norvela::SyncState syncState READ syncState NOTIFY syncStateChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(int filesTotal READ filesTotal NOTIFY filesTotalChanged)
    Q_PROPERTY(int filesDone READ filesDone NOTIFY filesDoneChanged)
    Q_PROPERTY(QString currentFile READ currentFile NOTIFY currentFileChanged)
    Q_PROPERTY(QString transferRate READ transferRate NOTIFY transferRateChanged)
    Q_PROPERTY(QString lastSyncedDescription READ lastSyncedDescription NOTIFY lastSyncedDescriptionChanged)
    Q_PROPERTY(QList<norvela::AccountModel*> accounts READ accounts NOTIFY accountsChanged)
    Q_PROPERTY(bool isLinking READ isLinking NOTIFY isLinkingChanged)
    Q_PROPERTY(QString folderPath READ folderPath WRITE setFolderPath NOTIFY folderPathChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(
        bool notifyOnChanges READ notifyOnChanges WRITE setNotifyOnChanges NOTIFY notifyOnChangesChanged)
    Q_PROPERTY(
        double uploadLimitMBps READ uploadLimitMBps WRITE setUploadLimitMBps NOTIFY uploadLimitMBpsChanged)
    Q_PROPERTY(QVariant actionStatus READ actionStatusVariant NOTIFY actionStatusChanged)
    Q_PROPERTY(norvela::SyncState displaySyncState READ displaySyncState NOTIFY displayChanged)
    Q_PROPERTY(double displayProgress READ displayProgress NOTIFY displayChanged)
    Q_PROPERTY(QString displayCurrentFile READ displayCurrentFile NOTIFY displayChanged)
    Q_PROPERTY(QString displayTransferRate READ displayTransferRate NOTIFY displayChanged)
    Q_PROPERTY(QString displayLastSynced READ displayLastSynced NOTIFY displayChanged)
    Q_PROPERTY(QString displayFooterLine READ displayFooterLine NOTIFY displayChanged)
    Q_PROPERTY(QVariantList recentFiles READ recentFileList NOTIFY recentFilesChanged)
    Q_PROPERTY(QVariantList displayRecentFiles READ displayRecentFileList NOTIFY displayChanged)
    // The case name of displaySyncState ("idle", "syncing", "paused"), for the views.
    Q_PROPERTY(QString displayStateName READ displayStateName NOTIFY displayChanged)
    Q_PROPERTY(int displayFilesDone READ displayFilesDone NOTIFY displayChanged)
    Q_PROPERTY(int displayFilesTotal READ displayFilesTotal NOTIFY displayChanged)
    Q_PROPERTY(QString displayPausedTitle READ displayPausedTitle NOTIFY displayChanged)
    Q_PROPERTY(QString displayPausedSubtitle READ displayPausedSubtitle NOTIFY displayChanged)
    Q_PROPERTY(QVariant linkError READ linkErrorVariant NOTIFY linkErrorChanged)
    Q_PROPERTY(bool googleDriveConfigured READ googleDriveConfigured CONSTANT)
    // The preferences' controls: the schedule's fields, each assignment storing a new schedule.
    Q_PROPERTY(bool scheduleEnabled READ scheduleEnabled WRITE setScheduleEnabled NOTIFY scheduleChanged)
    Q_PROPERTY(int scheduleStartHour READ scheduleStartHour WRITE setScheduleStartHour NOTIFY scheduleChanged)
    Q_PROPERTY(int scheduleEndHour READ scheduleEndHour WRITE setScheduleEndHour NOTIFY scheduleChanged)
    Q_PROPERTY(bool pauseOnBattery READ pauseOnBattery WRITE setPauseOnBattery NOTIFY scheduleChanged)
    Q_PROPERTY(QVariantList selectiveSyncFolders READ selectiveSyncFolderList CONSTANT)
    Q_PROPERTY(norvela::UpdaterService* updater READ updater NOTIFY updaterChanged)
    Q_PROPERTY(QString supportAddress READ supportAddress CONSTANT)

public:
    // Runs the start-up sequence: settings, bandwidth limit, accounts or the
    // application-wide engine. The development switches are applied by the caller.
    // `desktop` opens folders and files and holds the clipboard.
    AppModel(SettingsStore& settings, EngineFactory engines, DesktopServices& desktop,
             ServiceEndpoints endpoints = ServiceEndpoints::configured(), Clock& clock = Clock::system(),
             BandwidthLimiter* limiter = nullptr, QObject* parent = nullptr);
    ~AppModel() override;

    // Application-level status, written by the application-wide engine.
    SyncState syncState() const { return m_syncState; }
    double progress() const { return m_progress; }
    int filesTotal() const { return m_filesTotal; }
    int filesDone() const { return m_filesDone; }
    const QString& currentFile() const { return m_currentFile; }
    const QString& transferRate() const { return m_transferRate; }
    const QString& lastSyncedDescription() const { return m_lastSyncedDescription; }
    const QList<RecentFile>& recentFiles() const { return m_recentFiles; }
    const std::optional<AccountInfo>& account() const { return m_account; }
    const std::optional<QString>& lastDebugError() const { return m_lastDebugError; }
    void setSyncState(SyncState value);
    void setProgress(double value);
    void setFilesTotal(int value);
    void setFilesDone(int value);
    void setCurrentFile(const QString& value);
    void setTransferRate(const QString& value);
    void setLastSyncedDescription(const QString& value);
    void setRecentFiles(const QList<RecentFile>& value);
    void setAccount(const std::optional<AccountInfo>& value);
    void setLastDebugError(const std::optional<QString>& value);

    const QList<AccountModel*>& accounts() const { return m_accounts; }
    SyncEngine* engine() const { return m_engine.get(); }
    bool isLinking() const { return m_isLinking; }
    const std::optional<QString>& linkError() const { return m_linkError; }
    const QList<SelectiveSyncFolder>& selectiveSyncFolders() const { return m_selectiveSyncFolders; }

    // Persisted settings: every assignment is stored at once.
    const QString& folderPath() const { return m_folderPath; }
    bool launchAtLogin() const { return m_launchAtLogin; }
    bool notifyOnChanges() const { return m_notifyOnChanges; }
    const SyncSchedule& schedule() const { return m_schedule; }
    double uploadLimitMBps() const { return m_uploadLimitMBps; }
    void setFolderPath(const QString& value);
    void setLaunchAtLogin(bool value); // also registers or removes the login item
    void setNotifyOnChanges(bool value);
    void setSchedule(const SyncSchedule& value);
    void setUploadLimitMBps(double value); // also re-applies the limit
    bool scheduleEnabled() const { return m_schedule.enabled; }
    int scheduleStartHour() const { return m_schedule.startHour; }
    int scheduleEndHour() const { return m_schedule.endHour; }
    bool pauseOnBattery() const { return m_schedule.pauseOnBattery; }
    void setScheduleEnabled(bool value);
    void setScheduleStartHour(int hour); // clamped to 0…23
    void setScheduleEndHour(int hour);
    void setPauseOnBattery(bool value);
    // The folder picked while no account is linked: bookmarked under "folderBookmark.app",
    // then folderPath ("~"-abbreviated) when it differs.
    Q_INVOKABLE void setFolder(const QString& folderPath);

    // Rebuilds the accounts (or the application-wide engine) from the stored credentials.
    void activateSync();
    QString defaultFolder(const CloudProvider& provider) const {
        return defaultFolder(provider, m_folderPath);
    }
    // The folder an account syncs until one is chosen; "dropbox" shares the app's folder.
    static QString defaultFolder(const CloudProvider& provider, const QString& appFolderPath);
    void applyBandwidthLimit();
    void applyLaunchAtLogin(bool enabled);

    // Aggregated over the accounts, or the application-level fields when none is linked.
    SyncState displaySyncState() const;
    double displayProgress() const;
    QString displayCurrentFile() const;
    QString displayTransferRate() const;
    QString displayLastSynced() const;
    QList<RecentFile> displayRecentFiles() const;
    QString displayFooterLine() const;
    // Files done and queued in the current batch: summed over the accounts, or the
    // application-level counts when none is linked.
    int displayFilesDone() const;
    int displayFilesTotal() const;
    // The paused header: "Sync paused" over the reason when something holds the uploads
    // (battery, schedule, a full account, …), "Syncing paused" over "Click resume to
    // continue" when only the user's pause does. Read from the first paused account's status.
    QString displayPausedTitle() const;
    QString displayPausedSubtitle() const;
    // Whether the build has a Google client identifier, so Google Drive can be linked.
    bool googleDriveConfigured() const { return !m_endpoints.google.clientId.isEmpty(); }

    // A one-line status for 5 seconds; a newer one is never cut short by an older timer.
    Q_INVOKABLE void setStatus(const QString& text);
    const std::optional<QString>& actionStatus() const { return m_actionStatus; }

    // Links a new account of `kind` in the browser (one linking flow at a time), then
    // rebuilds the accounts. Failures end up in linkError.
    QCoro::Task<> link(ProviderKind kind, bool openBrowser);
    // The views' way to link: "dropbox" or "googleDrive", in the browser.
    Q_INVOKABLE void startLink(const QString& kind);
    // Forgets the account's credential (revoking it where possible), then rebuilds.
    Q_INVOKABLE void unlink(norvela::AccountModel* account);
    // System log line, and with `devHook` also "link-result.txt" for headless links.
    void logLinkResult(const QString& text, bool devHook);

    // Pauses every account that is not paused, or resumes every paused one when the
    // aggregated state is paused; without accounts, the application-wide engine.
    Q_INVOKABLE void togglePauseResume();
    // Pauses (resumes) every account, or only the one whose key is `key`. False when no
    // linked account has that key.
    bool pause(const std::optional<QString>& key = std::nullopt);
    bool resume(const std::optional<QString>& key = std::nullopt);

    // The account's folder (the first account's, or the app's own without accounts) in the
    // file manager.
    // The desktop the models ask for files, folders and choosers.
    DesktopServices& desktop() const { return m_desktop; }
    Q_INVOKABLE void openLocalFolder(norvela::AccountModel* account = nullptr);
    // The file selected in a file-manager window.
    void openFile(const RecentFile& file);
    Q_INVOKABLE void openFile(const QVariant& file);
    // A file in the desktop's default application for it.
    void openPath(const QString& path);
    // Starts createSharedLink for a file a view holds; the outcome shows in actionStatus.
    Q_INVOKABLE void shareFile(const QVariant& file);

    // The account a file belongs to, or null.
    AccountModel* accountOf(const RecentFile& file) const;
    AccountModel* account(const QString& key) const;
    // The file at `localPath` as the index knows it (account, relative path, cloud
    // reference), or a record without them when it has not been uploaded. None when the
    // path lies in no account's folder.
    std::optional<RecentFile> syncedFile(const QString& localPath) const;

    // Each action reports its outcome with setStatus and returns it for callers that print.
    // The link goes on the clipboard.
    QCoro::Task<std::optional<QUrl>> createSharedLink(RecentFile file);
    // Throws the provider's error; empty for a file that belongs to no account.
    QCoro::Task<QList<FileRevision>> revisions(RecentFile file);
    // Restores `revision` in the cloud, then writes it over the local file.
    QCoro::Task<bool> restore(FileRevision revision, RecentFile file);

    // Copies the `norvela` tool beside this executable to the build's install location.
    Q_INVOKABLE void installCLI();
    void installCLI(const QString& tool, const QString& destination);

    // A feedback mail in the user's mail program.
    Q_INVOKABLE void composeFeedback();
    QString supportAddress() const;

    // The app's update checker; the command-line tool has none.
    void setUpdater(UpdaterService* updater);
    UpdaterService* updater() const { return m_updater; }
    // Asks the feed now: "You're up to date", or names the newer version, whose page
    // openUpdatePage() shows. A feed that cannot be reached only leaves a log line.
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void openUpdatePage();

    // Asks for the onboarding window unless accounts exist.
    // Returns whether it asked.
    bool maybeShowOnboarding();

    // The four lines (and recent files) of "state-dump.txt".
    QString stateDumpText() const;
    // Writes "state-dump.txt" into the diagnostic folder 8 seconds from now.
    void scheduleStateDump();

    SettingsStore& settings() const { return m_settings; }
    Clock& clock() const { return m_clock; }
    const EngineFactory& engineFactory() const { return m_engines; }
    const ServiceEndpoints& endpoints() const { return m_endpoints; }

Q_SIGNALS:
    void syncStateChanged();
    void progressChanged();
    void filesTotalChanged();
    void filesDoneChanged();
    void currentFileChanged();
    void transferRateChanged();
    void lastSyncedDescriptionChanged();
    void recentFilesChanged();
    void accountChanged();
    void lastDebugErrorChanged();
    void accountsChanged();
    void engineChanged();
    void isLinkingChanged();
    void linkErrorChanged();
    void folderPathChanged();
    void launchAtLoginChanged();
    void notifyOnChangesChanged();
    void scheduleChanged();
    void uploadLimitMBpsChanged();
    void updaterChanged();
    void actionStatusChanged();
    // Any input of the display values changed.
    void displayChanged();
    void onboardingRequested();
    // A link succeeded: the onboarding window closes.
    void linked();

private:
    QVariantList recentFileList() const;
    QVariantList displayRecentFileList() const;
    QVariantList selectiveSyncFolderList() const;
    QString displayStateName() const { return caseName(displaySyncState()); }
    QVariant linkErrorVariant() const { return m_linkError ? QVariant(*m_linkError) : QVariant(); }
    // The account whose status the paused header speaks of, or null.
    const AccountModel* firstPausedAccount() const;
    QVariant actionStatusVariant() const { return m_actionStatus ? QVariant(*m_actionStatus) : QVariant(); }
    void setActionStatus(const std::optional<QString>& value);
    // Takes up what another process stored under `keys` as the setters would, but writes
    // nothing back.
    void adoptStoredSettings(const QStringList& keys);
    void setAccounts(const QList<AccountModel*>& value);
    void setEngine(std::unique_ptr<SyncEngine> engine);
    void setIsLinking(bool value);
    bool setPaused(bool paused, const std::optional<QString>& key);
    void setLinkError(const std::optional<QString>& value);
    QCoro::Task<> unlinkTask(std::shared_ptr<CloudProvider> provider);
    QCoro::Task<> clearStatusLater(QString text);
    QCoro::Task<> checkForUpdatesTask();
    QCoro::Task<> writeStateDumpLater();

    SettingsStore& m_settings;
    EngineFactory m_engines;
    DesktopServices& m_desktop;
    QPointer<UpdaterService> m_updater;
    ServiceEndpoints m_endpoints;
    Clock& m_clock;
    BandwidthLimiter& m_limiter;

    SyncState m_syncState = SyncState::idle;
    double m_progress = 0;
    int m_filesTotal = 0;
    int m_filesDone = 0;
    QString m_currentFile;
    QString m_transferRate;
    QString m_lastSyncedDescription = QStringLiteral("Last synced just now");
    QList<RecentFile> m_recentFiles;
    std::optional<AccountInfo> m_account;
    QList<AccountModel*> m_accounts;
    bool m_isLinking = false;
    std::weak_ptr<CloudProvider> m_linkingProvider;
    std::optional<QString> m_linkError;
    QString m_folderPath;
    bool m_launchAtLogin = true;
    bool m_notifyOnChanges = true;
    SyncSchedule m_schedule;
    double m_uploadLimitMBps = 0;
    QList<SelectiveSyncFolder> m_selectiveSyncFolders = SelectiveSyncFolder::initialRows();
    std::unique_ptr<SyncEngine> m_engine;
    std::optional<QString> m_lastDebugError;
    std::optional<QString> m_actionStatus;
};

} // namespace norvela
