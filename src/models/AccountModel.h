#pragma once

#include "common/AccountInfo.h"
#include "common/RecentFile.h"
#include "common/SyncState.h"

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

    SyncState syncState() const { return m_syncState; }
    bool pausedForLargeFolder() const { return m_pausedForLargeFolder; }
    const std::optional<QString>& approvedLargeFolder() const { return m_approvedLargeFolder; }
    double progress() const { return m_progress; }
    int filesTotal() const { return m_filesTotal; }
    int filesDone() const { return m_filesDone; }
    const QString& currentFile() const { return m_currentFile; }
    const QString& transferRate() const { return m_transferRate; }
    const QString& lastSyncedDescription() const { return m_lastSyncedDescription; }
    const QList<RecentFile>& recentFiles() const { return m_recentFiles; }
    const std::optional<AccountInfo>& account() const { return m_account; }
    const std::optional<QString>& lastDebugError() const { return m_lastDebugError; }
    const std::optional<QString>& accessedFolderURL() const { return m_accessedFolderURL; }
    AccountSyncEngine* engine() const { return m_engine.get(); }

    // Written by the engine (and by pause/resume); each notifies only on a real change.
    void setSyncState(SyncState value);
    void setPausedForLargeFolder(bool value);
    void setProgress(double value);
    void setFilesTotal(int value);
    void setFilesDone(int value);
    void setCurrentFile(const QString& value);
    void setTransferRate(const QString& value);
    void setLastSyncedDescription(const QString& value);
    void setRecentFiles(const QList<RecentFile>& value);
    void setAccount(const std::optional<AccountInfo>& value);
    void setLastDebugError(const std::optional<QString>& value);

    // Opens folder access, creates and starts the upload engine, fetches account information.
    void start();
    // Ends folder access (and drops the engine).
    void stop();
    // Adopts a folder the user picked: bookmark, "~"-abbreviated path, restart.
    void setFolder(const QString& folderPath);
    void approveLargeFolder();
    bool isLargeFolderApproved() const;
    void beginFolderAccess();
    void saveBookmark(const QString& folderPath, const QString& key);

    // The provider's name, with the e-mail in parentheses when another account of the
    // same kind is linked.
    QString displayName() const;

    // Everything the account's index records, newest first.
    QList<RecentFile> syncedFiles() const;

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
    void restart();
    bool storeFolderPath(const QString& value);
    void endFolderAccess();
    QCoro::Task<> fetchAccountInfo();

    QString m_id;
    std::shared_ptr<CloudProvider> m_provider;
    QPointer<AppModel> m_app;
    SettingsStore& m_settings;
    QString m_folderPath;
    SyncState m_syncState = SyncState::idle;
    bool m_pausedForLargeFolder = false;
    std::optional<QString> m_approvedLargeFolder;
    double m_progress = 0;
    int m_filesTotal = 0;
    int m_filesDone = 0;
    QString m_currentFile;
    QString m_transferRate;
    QString m_lastSyncedDescription = QString::fromUtf8("Connecting\u2026");
    QList<RecentFile> m_recentFiles;
    std::optional<AccountInfo> m_account;
    std::optional<QString> m_lastDebugError;
    std::optional<QString> m_accessedFolderURL;
    std::unique_ptr<AccountSyncEngine> m_engine;
};

} // namespace norvela
