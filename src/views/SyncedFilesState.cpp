#include "SyncedFilesState.h"

#include "common/Formatting.h"
#include "common/PlatformWords.h"
#include "models/Assign.h"

#include <QLocale>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

namespace norvela {

SyncedFilesState::SyncedFilesState(QObject* parent) : QObject(parent) {
    // Everything the subtitle and the list derive from funnels into these two.
    connect(this, &SyncedFilesState::selectedAccountChanged, this, &SyncedFilesState::subtitleChanged);
    connect(this, &SyncedFilesState::accountsChanged, this, &SyncedFilesState::subtitleChanged);
    connect(this, &SyncedFilesState::queryChanged, this, &SyncedFilesState::visibleFilesChanged);
}

bool SyncedFilesState::staticRenderRequested() {
    static const bool requested = qgetenv("NORVELA_STATIC_RENDER") == "1";
    return requested;
}

void SyncedFilesState::setApp(AppModel* app) {
    if (m_app == app)
        return;
    if (m_app)
        disconnect(m_app, nullptr, this, nullptr);
    m_app = app;
    if (m_app)
        connect(m_app, &AppModel::accountsChanged, this, &SyncedFilesState::accountsUpdated);
    Q_EMIT appChanged();
    accountsUpdated();
}

void SyncedFilesState::setSelectedAccountID(const QString& id) {
    if (m_selectedAccountID == id)
        return;
    m_selectedAccountID = id;
    Q_EMIT selectedAccountIDChanged();
    m_shownAccount = selectedAccount();
    Q_EMIT selectedAccountChanged();
    reloadFiles();
}

void SyncedFilesState::setQuery(const QString& query) {
    assignChanged(this, m_query, query, &SyncedFilesState::queryChanged);
}

void SyncedFilesState::setStaticFiles(const QVariantList& files) {
    m_staticFiles.clear();
    for (const QVariant& file : files)
        if (file.canConvert<RecentFile>())
            m_staticFiles.append(file.value<RecentFile>());
    Q_EMIT staticFilesChanged();
    if (m_staticRender)
        setFiles(m_staticFiles);
}

void SyncedFilesState::setStaticRender(bool value) {
    if (m_staticRender == value)
        return;
    m_staticRender = value;
    Q_EMIT staticRenderChanged();
    if (m_staticRender)
        setFiles(m_staticFiles);
}

QVariantList SyncedFilesState::staticFileList() const {
    QVariantList list;
    for (const RecentFile& file : m_staticFiles)
        list.append(QVariant::fromValue(file));
    return list;
}

AccountModel* SyncedFilesState::selectedAccount() const {
    if (!m_app || m_app->accounts().isEmpty())
        return nullptr;
    if (AccountModel* chosen = m_app->account(m_selectedAccountID))
        return chosen;
    return m_app->accounts().first();
}

void SyncedFilesState::accountsUpdated() {
    Q_EMIT accountsChanged();
    AccountModel* now = selectedAccount();
    if (now == m_shownAccount)
        return;
    m_shownAccount = now;
    Q_EMIT selectedAccountChanged();
    // The shown account was unlinked (or the accounts rebuilt): show what is there now.
    if (m_reads > 0)
        reloadFiles();
}

void SyncedFilesState::load() {
    if (m_staticRender) {
        setFiles(m_staticFiles);
        return;
    }
    if (m_selectedAccountID.isEmpty() && m_app && !m_app->accounts().isEmpty()) {
        // Assigning reloads.
        setSelectedAccountID(m_app->accounts().first()->id());
        return;
    }
    reloadFiles();
}

void SyncedFilesState::reloadFiles() {
    if (!m_staticRender)
        readFiles(selectedAccount());
}

QCoro::Task<> SyncedFilesState::readFiles(AccountModel* account) {
    const quint64 read = ++m_reads;
    if (!account) {
        setLoading(false);
        setFiles({});
        co_return;
    }
    QPointer<SyncedFilesState> self(this);
    setLoading(true);
    // An index can hold many thousands of entries: read off the main thread. The future is
    // made before the co_await: temporaries inside a co_await expression are destroyed twice
    // by this compiler.
    QFuture<QList<RecentFile>> reading = QtConcurrent::run(
        [id = account->id(), root = account->rootPath()] { return AccountModel::syncedFiles(id, root); });
    const QList<RecentFile> files = co_await reading;
    if (!self || read != m_reads)
        co_return;
    setFiles(files);
    setLoading(false);
}

void SyncedFilesState::setLoading(bool value) {
    assignChanged(this, m_loading, value, &SyncedFilesState::loadingChanged);
}

void SyncedFilesState::setFiles(const QList<RecentFile>& files) {
    m_files = files;
    Q_EMIT visibleFilesChanged();
    Q_EMIT subtitleChanged();
}

QList<RecentFile> SyncedFilesState::visibleFiles() const {
    if (m_query.isEmpty())
        return m_files;
    const QLocale locale;
    const QString needle = locale.toLower(m_query);
    QList<RecentFile> found;
    for (const RecentFile& file : m_files)
        if (locale.toLower(file.name).contains(needle) ||
            locale.toLower(file.relativePath.value_or(QString())).contains(needle))
            found.append(file);
    return found;
}

QVariantList SyncedFilesState::visibleFileList() const {
    QVariantList list;
    for (const RecentFile& file : visibleFiles())
        list.append(QVariant::fromValue(file));
    return list;
}

QString SyncedFilesState::countText(qsizetype count) {
    // Numbers read as the rest of the app writes them.
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(qlonglong(count)) +
           (count == 1 ? QStringLiteral(" file uploaded") : QStringLiteral(" files uploaded"));
}

QString SyncedFilesState::subtitle() const {
    const QString count = countText(m_files.size());
    const AccountModel* account = selectedAccount();
    return showsAccountPicker() && account ? account->displayName() + QString::fromUtf8(" \u00b7 ") + count
                                           : count;
}

QString SyncedFilesState::emptyText() const {
    return m_query.isEmpty()
               ? QString::fromUtf8("Nothing synced yet \u2014 files appear here after their first upload.")
               : QString::fromUtf8("No files match \u201c") + m_query + QString::fromUtf8("\u201d");
}

QString SyncedFilesState::revealHelpText() const {
    return QStringLiteral("Reveal in ") + PlatformWords::fileManager();
}

QString SyncedFilesState::rowSubtitle(const QVariant& file) const {
    return file.canConvert<RecentFile>() ? rowSubtitle(file.value<RecentFile>()) : QString();
}

QString SyncedFilesState::rowSubtitle(const RecentFile& file) {
    QStringList parts;
    if (file.relativePath && *file.relativePath != file.name)
        parts.append(*file.relativePath);
    if (file.sizeBytes)
        parts.append(Formatting::byteCount(*file.sizeBytes));
    parts.append(file.relativeTime());
    return parts.join(QString::fromUtf8(" \u00b7 "));
}

} // namespace norvela
