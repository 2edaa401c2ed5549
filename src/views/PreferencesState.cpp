#include "PreferencesState.h"

#include "models/Paths.h"
#include "platform/DesktopServices.h"
#include "sync/MignoreRules.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

#include <variant>

namespace norvela {

namespace {

QString rootOf(const QString& path) {
    return Paths::standardized(Paths::expandTilde(path));
}

} // namespace

PreferencesState::PreferencesState(QObject* parent) : QObject(parent) {}

void PreferencesState::setApp(AppModel* app) {
    if (m_app == app)
        return;
    if (m_app)
        disconnect(m_app, nullptr, this, nullptr);
    m_app = app;
    if (m_app) {
        connect(m_app, &AppModel::accountsChanged, this, &PreferencesState::rebuild);
        connect(m_app, &AppModel::folderPathChanged, this, &PreferencesState::rebuild);
    }
    Q_EMIT appChanged();
    rebuild();
}

QList<MignoreFolder> PreferencesState::foldersOf(const AppModel& app) {
    if (app.accounts().isEmpty())
        return {MignoreFolder{.path = app.folderPath()}};
    QList<MignoreFolder> folders;
    QStringList roots;
    QList<QStringList> owners;
    for (const AccountModel* account : app.accounts()) {
        const QString root = rootOf(account->folderPath());
        qsizetype at = roots.indexOf(root);
        if (at < 0) {
            at = roots.size();
            roots.append(root);
            folders.append(MignoreFolder{.path = account->folderPath()});
            owners.append(QStringList());
        }
        owners[at].append(account->displayName());
    }
    if (folders.size() >= 2)
        for (qsizetype i = 0; i < folders.size(); ++i)
            folders[i].owners = owners[i].join(QStringLiteral(", "));
    return folders;
}

void PreferencesState::rebuild() {
    for (const QPointer<AccountModel>& account : std::as_const(m_watched))
        if (account)
            disconnect(account, nullptr, this, nullptr);
    m_watched.clear();
    if (!m_app) {
        setFolders({});
        return;
    }
    // A folder change or a name arriving with the account's details changes the list.
    for (AccountModel* account : m_app->accounts()) {
        m_watched.append(account);
        connect(account, &AccountModel::folderPathChanged, this, &PreferencesState::rebuild);
        connect(account, &AccountModel::displayNameChanged, this, &PreferencesState::rebuild);
    }
    QList<MignoreFolder> folders = foldersOf(*m_app);
    bool unknown = false;
    for (MignoreFolder& folder : folders) {
        const auto known = m_counts.constFind(rootOf(folder.path));
        unknown |= known == m_counts.cend();
        folder.ruleCount = known == m_counts.cend() ? -1 : *known;
    }
    setFolders(folders);
    if (unknown)
        countRules();
}

void PreferencesState::setFolders(QList<MignoreFolder> folders) {
    if (m_folders == folders)
        return;
    m_folders = std::move(folders);
    Q_EMIT ignoreFoldersChanged();
}

void PreferencesState::recountRules() {
    countRules();
}

QCoro::Task<> PreferencesState::countRules() {
    const quint64 read = ++m_reads;
    QStringList roots;
    for (const MignoreFolder& folder : std::as_const(m_folders))
        roots.append(rootOf(folder.path));
    QPointer<PreferencesState> self(this);
    // The future is made before the co_await (see SyncedFilesState::readFiles).
    QFuture<QHash<QString, int>> counting = QtConcurrent::run([roots] {
        QHash<QString, int> counts;
        for (const QString& root : roots) {
            const auto rules = MignoreRules::fromRoot(root);
            const auto* parsed = std::get_if<MignoreRules>(&rules);
            counts.insert(root, parsed ? int(parsed->rules().size()) : -1);
        }
        return counts;
    });
    const QHash<QString, int> counts = co_await counting;
    if (!self || read != m_reads)
        co_return;
    m_counts = counts;
    QList<MignoreFolder> folders = m_folders;
    for (MignoreFolder& folder : folders)
        folder.ruleCount = m_counts.value(rootOf(folder.path), -1);
    setFolders(folders);
}

QVariantList PreferencesState::ignoreFolderList() const {
    QVariantList list;
    for (const MignoreFolder& folder : m_folders)
        list.append(QVariant::fromValue(folder));
    return list;
}

QString PreferencesState::chooserStart(const QString& path) {
    // A folder not made yet (the default before the first sync) would open the chooser in
    // the working directory; its parent is where the user expects to be.
    QString folder = rootOf(path);
    for (QString parent; !QFileInfo(folder).isDir() && (parent = QFileInfo(folder).path()) != folder;)
        folder = parent;
    return folder;
}

void PreferencesState::adoptFolder(const QUrl& folder, AccountModel* account) {
    const QString path = folder.toLocalFile();
    if (path.isEmpty() || !m_app)
        return;
    if (account)
        account->setFolder(path);
    else
        m_app->setFolder(path);
}

void PreferencesState::chooseFolder(AccountModel* account, const QString& path, QWindow* window) {
    if (!m_app || m_choosing)
        return;
    // The portal keeps its dialog above ours given the X11 window; elsewhere it opens unparented.
    QString parent;
    if (window && QGuiApplication::platformName() == QLatin1String("xcb"))
        parent = QStringLiteral("x11:") + QString::number(window->winId(), 16);
    askDesktop(account, path, parent);
}

QCoro::Task<> PreferencesState::askDesktop(QPointer<AccountModel> account, QString path,
                                           QString parentWindow) {
    QPointer<PreferencesState> self(this);
    const bool forAccount = account;
    m_choosing = true;
    const FolderChoice choice = co_await m_app->desktop().chooseFolder(
        QStringLiteral("Choose the folder to sync"), chooserStart(path), parentWindow);
    if (!self)
        co_return;
    m_choosing = false;
    if (forAccount && !account) // unlinked meanwhile: the choice has no owner left
        co_return;
    if (choice.outcome == FolderChoice::Outcome::chosen)
        adoptFolder(QUrl::fromLocalFile(choice.path), account);
    else if (choice.outcome == FolderChoice::Outcome::unavailable)
        Q_EMIT ownChooserNeeded(account, QUrl::fromLocalFile(chooserStart(path)));
}

} // namespace norvela
