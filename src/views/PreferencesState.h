#pragma once

#include "MignoreFolder.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantList>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

namespace norvela {

// What the preferences window works out from the models: the folders that carry their own
// ignore rules, with their owners and rule counts (read off the main thread, again on
// recountRules()), and where a folder chooser starts and what its choice changes.
class PreferencesState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(norvela::AppModel* app READ app WRITE setApp NOTIFY appChanged)
    // MignoreFolder values, in the order the accounts first name them.
    Q_PROPERTY(QVariantList ignoreFolders READ ignoreFolderList NOTIFY ignoreFoldersChanged)

public:
    explicit PreferencesState(QObject* parent = nullptr);

    AppModel* app() const { return m_app; }
    void setApp(AppModel* app);
    const QList<MignoreFolder>& ignoreFolders() const { return m_folders; }

    // The accounts' distinct folders with the names of the accounts using each (named only
    // when there are several folders), or the app's folder when no account is linked.
    // Rule counts are left unknown.
    static QList<MignoreFolder> foldersOf(const AppModel& app);

    // Reads every listed folder's `.mignore` again (after the editor saved one).
    Q_INVOKABLE void recountRules();
    // Where a chooser for `path` opens: the folder, "~" expanded, or its nearest existing parent.
    static QString chooserStart(const QString& path);
    // The folder the user chose: the account's new folder, or the app's without an account.
    Q_INVOKABLE void adoptFolder(const QUrl& folder, norvela::AccountModel* account);
    // The desktop's folder chooser over `window`, starting at `path`; its choice is adopted.
    // Where the desktop has none, ownChooserNeeded asks the window for the toolkit's own.
    Q_INVOKABLE void chooseFolder(norvela::AccountModel* account, const QString& path, QWindow* window);

Q_SIGNALS:
    void appChanged();
    void ignoreFoldersChanged();
    void ownChooserNeeded(norvela::AccountModel* account, const QUrl& start);

private:
    QVariantList ignoreFolderList() const;
    void rebuild();
    void setFolders(QList<MignoreFolder> folders);
    QCoro::Task<> countRules();
    QCoro::Task<> askDesktop(QPointer<AccountModel> account, QString path, QString parentWindow);

    QPointer<AppModel> m_app;
    QList<QPointer<AccountModel>> m_watched;
    QList<MignoreFolder> m_folders;
    // Rule counts by folder path with "~" expanded.
    QHash<QString, int> m_counts;
    // Only the newest count lands.
    quint64 m_reads = 0;
    // One chooser at a time: a second click while the desktop's is open does nothing.
    bool m_choosing = false;
};

} // namespace norvela
