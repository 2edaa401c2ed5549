#pragma once

#include "common/AccountInfo.h"
#include "common/RecentFile.h"
#include "common/SyncState.h"
#include "common/SyncStatus.h"
#include "sync/SyncIndex.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>

namespace norvela {

class AccountSyncEngine;
class AppModel;
class CloudProvider;
struct CloudUploadResult;
class SettingsStore;

// One linked cloud account: its provider, local folder, folder access, large-folder
// approval and the live status its engine reports. Main thread only.
class AccountModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString id READ id CONSTANT)
    Q_PROPERTY(QString displayName READ displayName NOTIFY displayNameChanged)
    Q_PROPERTY(QString folderPath READ folderPath WRITE setFolderPath NOTIFY folderPathChanged)
    Q_PROPERTY(norvela::SyncState syncState READ syncState NOTIFY syncStateChanged)
    Q_PROPERTY(bool pausedForLargeFolder READ pausedForLargeFolder NOTIFY pausedForLargeFolderChanged)
    Q_PROPERTY(bool isLargeFolderApproved READ isLargeFolderApproved NOTIFY approvedLargeFolderChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(int filesTotal READ filesTotal NOTIFY filesTotalChanged)
    Q_PROPERTY(int filesDone READ filesDone NOTIFY filesDoneChanged)
    Q_PROPERTY(QString currentFile READ currentFile NOTIFY currentFileChanged)
    Q_PROPERTY(QString transferRate READ transferRate NOTIFY transferRateChanged)
    Q_PROPERTY(QString lastSyncedDescription READ lastSyncedDescription NOTIFY lastSyncedDescriptionChanged)
    // Newest first, as the views list them.
    Q_PROPERTY(QVariantList recentFiles READ recentFileList NOTIFY recentFilesChanged)
    // The provider's account details, empty until they are fetched (hasAccountInfo).
    Q_PROPERTY(bool hasAccountInfo READ hasAccountInfo NOTIFY accountChanged)
    Q_PROPERTY(QString email READ email NOTIFY accountChanged)
    Q_PROPERTY(QString planName READ planName NOTIFY accountChanged)
    Q_PROPERTY(QString usageSummary READ usageSummary NOTIFY accountChanged)
    // Used over allotted storage, 0…1; 0 when the allotment is unknown.
    Q_PROPERTY(double usedFraction READ usedFraction NOTIFY accountChanged)

public:
    AccountModel(std::shared_ptr<CloudProvider> provider, AppModel* app, const QString& defaultFolder,
                 SettingsStore& settings, QObject* parent = nullptr);
    ~AccountModel() override;

    const QString& id() const { return m_id; }
    const std::shared_ptr<CloudProvider>& provider() const { return m_provider; }
    AppModel* app() const { return m_app.data(); }

    const QString& folderPath() const { return m_folderPath; }
    // Stores the path, mirrors it to the app's "folderPath" for the "dropbox" account and
    // restarts a running engine. Assigning the same string does nothing.
    void setFolderPath(const QString& value);

    // What the engine last reported; the fields below are read from it.
    const SyncStatus& status() const { return m_status; }
    // Written by the engine; notifies each derived field that really changed.
    void setStatus(const SyncStatus& value);

    SyncState syncState() const { return m_status.state; }
    bool pausedForLargeFolder() const { return m_status.note == SyncStatus::Note::largeFolder; }
    const std::optional<QString>& approvedLargeFolder() const { return m_approvedLargeFolder; }
    double progress() const { return progressOf(m_status); }
    int filesTotal() const { return m_status.filesTotal; }
    int filesDone() const { return m_status.filesDone; }
    const QString& currentFile() const { return m_status.currentFile; }
    QString transferRate() const;
    QString lastSyncedDescription() const;
    const std::optional<QString>& lastDebugError() const { return m_status.lastError; }
    const QList<RecentFile>& recentFiles() const { return m_recentFiles; }
    const std::optional<AccountInfo>& account() const { return m_account; }
    const std::optional<QString>& accessedFolderURL() const { return m_accessedFolderURL; }
    AccountSyncEngine* engine() const { return m_engine.get(); }

    void setRecentFiles(const QList<RecentFile>& value);
    void setAccount(const std::optional<AccountInfo>& value);
    bool hasAccountInfo() const { return m_account.has_value(); }
    QString email() const { return m_account ? m_account->email : QString(); }
    QString planName() const { return m_account ? m_account->planName : QString(); }
    QString usageSummary() const { return m_account ? m_account->usageSummary() : QString(); }
    double usedFraction() const;

    // Opens folder access, creates and starts the upload engine, fetches account information.
    void start();
    // Ends folder access (and drops the engine).
    void stop();
    // Adopts a folder the user picked: bookmark, "~"-abbreviated path, restart.
    Q_INVOKABLE void setFolder(const QString& folderPath);
    // Lets sync start in a folder the size guard refused, and restarts it.
    Q_INVOKABLE void approveLargeFolder();
    bool isLargeFolderApproved() const;
    // Takes up the folder (the stored one, else `defaultFolder`) and the large-folder
    // approval that another process stored under `keys`, restarting a running engine as a
    // change made here does. Writes nothing back.
    void adoptStoredSettings(const QStringList& keys, const QString& defaultFolder);
    void beginFolderAccess();
    void saveBookmark(const QString& folderPath, const QString& key);

    // The provider's name, with the e-mail in parentheses when another account of the
    // same kind is linked.
    QString displayName() const;

    // Everything the account's index records, newest first.
    QList<RecentFile> syncedFiles() const { return syncedFiles(m_id, rootPath()); }
    // The same for the account `id` with its folder at `root`: reads the index file, so it
    // may run on a worker thread.
    static QList<RecentFile> syncedFiles(const QString& id, const QString& root);
    // The index record of one file, and how many files the index holds: the running
    // engine's when it has loaded it, the file's otherwise.
    std::optional<SyncIndexEntry> indexEntry(const QString& relativePath) const;
    int indexedFileCount() const;
    // A restore made `result` current for `relativePath`: the index records it, so the
    // restored local file is not sent back up.
    void noteRestored(const QString& relativePath, const CloudUploadResult& result, const QString& filePath);

    // The account's folder with "~" expanded.
    QString rootPath() const;
    // `path` below the account's folder ("a/b.txt"), or none when it lies elsewhere.
    std::optional<QString> relativePathOf(const QString& path) const;

Q_SIGNALS:
    void folderPathChanged();
    void syncStateChanged();
    void pausedForLargeFolderChanged();
    void approvedLargeFolderChanged();
    void progressChanged();
    void filesTotalChanged();
    void filesDoneChanged();
    void currentFileChanged();
    void transferRateChanged();
    void lastSyncedDescriptionChanged();
    void recentFilesChanged();
    void accountChanged();
    void lastDebugErrorChanged();
    void displayNameChanged();
    // Any field the application model aggregates changed.
    void statusChanged();

private:
    QVariantList recentFileList() const;
    static double progressOf(const SyncStatus& status);
    void restart();
    bool storeFolderPath(const QString& value);
    void endFolderAccess();
    QCoro::Task<> fetchAccountInfo();

    QString m_id;
    std::shared_ptr<CloudProvider> m_provider;
    QPointer<AppModel> m_app;
    SettingsStore& m_settings;
    QString m_folderPath;
    SyncStatus m_status;
    std::optional<QString> m_approvedLargeFolder;
    QList<RecentFile> m_recentFiles;
    std::optional<AccountInfo> m_account;
    std::optional<QString> m_accessedFolderURL;
    std::unique_ptr<AccountSyncEngine> m_engine;
};

} // namespace norvela
