#pragma once

#include "common/RecentFile.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

namespace norvela {

// What the synced-files window shows: the chosen account, its files as the index recorded
// them when loaded, and the search over them. Loads on load() and whenever the chosen account
// changes; when rendering statically it shows the files it was given and loads nothing.
class SyncedFilesState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(norvela::AppModel* app READ app WRITE setApp NOTIFY appChanged)
    // Empty: none chosen, so the first account is shown.
    Q_PROPERTY(QString selectedAccountID READ selectedAccountID WRITE setSelectedAccountID NOTIFY
                   selectedAccountIDChanged)
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(QVariantList staticFiles READ staticFileList WRITE setStaticFiles NOTIFY staticFilesChanged)
    Q_PROPERTY(bool staticRender READ staticRender WRITE setStaticRender NOTIFY staticRenderChanged)
    Q_PROPERTY(norvela::AccountModel* selectedAccount READ selectedAccount NOTIFY selectedAccountChanged)
    Q_PROPERTY(bool showsAccountPicker READ showsAccountPicker NOTIFY accountsChanged)
    Q_PROPERTY(QVariantList visibleFiles READ visibleFileList NOTIFY visibleFilesChanged)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY subtitleChanged)
    Q_PROPERTY(QString emptyText READ emptyText NOTIFY queryChanged)
    // The chosen account's files are being read.
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(QString revealHelpText READ revealHelpText CONSTANT)

public:
    explicit SyncedFilesState(QObject* parent = nullptr);

    AppModel* app() const { return m_app; }
    void setApp(AppModel* app);
    const QString& selectedAccountID() const { return m_selectedAccountID; }
    void setSelectedAccountID(const QString& id);
    const QString& query() const { return m_query; }
    void setQuery(const QString& query);
    void setStaticFiles(const QVariantList& files);
    bool staticRender() const { return m_staticRender; }
    // Starts as NORVELA_STATIC_RENDER says.
    void setStaticRender(bool value);

    // The account whose id is selectedAccountID, else the first account, else none.
    AccountModel* selectedAccount() const;
    bool showsAccountPicker() const { return m_app && m_app->accounts().size() >= 2; }
    const QList<RecentFile>& files() const { return m_files; }
    bool loading() const { return m_loading; }
    // The files whose name or folder path contains the query, in the user's locale's case rules.
    QList<RecentFile> visibleFiles() const;
    // "1,204 files uploaded", after the account's name when several accounts are linked.
    QString subtitle() const;
    QString emptyText() const;
    QString revealHelpText() const;

    // The window was shown: choose the first account unless one is chosen, and read its files.
    Q_INVOKABLE void load();
    // A row's second line: the folder path when it says more than the name, size, age.
    Q_INVOKABLE QString rowSubtitle(const QVariant& file) const;
    static QString rowSubtitle(const RecentFile& file);
    static QString countText(qsizetype count);
    // Whether NORVELA_STATIC_RENDER is "1", read once.
    static bool staticRenderRequested();

Q_SIGNALS:
    void appChanged();
    void selectedAccountIDChanged();
    void queryChanged();
    void staticFilesChanged();
    void staticRenderChanged();
    void selectedAccountChanged();
    void accountsChanged();
    void visibleFilesChanged();
    void subtitleChanged();
    void loadingChanged();

private:
    QVariantList staticFileList() const;
    QVariantList visibleFileList() const;
    void reloadFiles();
    QCoro::Task<> readFiles(AccountModel* account);
    void setLoading(bool value);
    void setFiles(const QList<RecentFile>& files);
    void accountsUpdated();

    QPointer<AppModel> m_app;
    QString m_selectedAccountID;
    QString m_query;
    QList<RecentFile> m_files;
    QList<RecentFile> m_staticFiles;
    QPointer<AccountModel> m_shownAccount;
    bool m_staticRender = staticRenderRequested();
    bool m_loading = false;
    // Only the newest read lands.
    quint64 m_reads = 0;
};

} // namespace norvela
