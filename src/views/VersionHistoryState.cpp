#include "VersionHistoryState.h"

#include "common/Formatting.h"
#include "common/NorvelaError.h"
#include "common/PlatformWords.h"
#include "models/Assign.h"

#include <QVariantMap>

namespace norvela {

VersionHistoryState::VersionHistoryState(QObject* parent) : QObject(parent) {}

void VersionHistoryState::setApp(AppModel* app) {
    assignChanged(this, m_app, app, &VersionHistoryState::appChanged);
}

void VersionHistoryState::setFile(const QVariant& file) {
    m_file = file.canConvert<RecentFile>() ? file.value<RecentFile>() : RecentFile{};
    Q_EMIT fileChanged();
}

QString VersionHistoryState::caption() const {
    return QStringLiteral("Restoring makes that version current in the cloud and on ") +
           PlatformWords::thisComputer() + QStringLiteral(". The version it replaces stays in history.");
}

QVariantList VersionHistoryState::revisionList() const {
    QVariantList list;
    for (qsizetype i = 0; i < m_revisions.size(); ++i) {
        const FileRevision& r = m_revisions[i];
        const bool current = i == 0;
        list.append(QVariantMap{
            {QStringLiteral("id"), r.id},
            {QStringLiteral("date"), Formatting::abbreviatedDateTime(r.modified)},
            {QStringLiteral("detail"),
             Formatting::byteCount(r.size) +
                 (current ? QString::fromUtf8(" \u00b7 current version") : QString())},
            {QStringLiteral("current"), current},
        });
    }
    return list;
}

void VersionHistoryState::load() {
    loadTask();
}

QCoro::Task<> VersionHistoryState::loadTask() {
    const quint64 load = ++m_loads;
    QPointer<VersionHistoryState> self(this);
    QPointer<AppModel> app = m_app;
    setLoading(true);
    setErrorText({});
    QList<FileRevision> found;
    std::optional<QString> failure;
    if (app) {
        try {
            QCoro::Task<QList<FileRevision>> listing = app->revisions(m_file);
            found = co_await std::move(listing);
        } catch (...) {
            failure = describe(std::current_exception());
        }
    }
    if (!self || load != m_loads)
        co_return;
    if (failure) {
        setErrorText(QStringLiteral("Couldn't load versions: ") + *failure);
    } else if (found != m_revisions) {
        m_revisions = found;
        Q_EMIT revisionsChanged();
    }
    setLoading(false);
}

void VersionHistoryState::restore(const QString& revisionID) {
    const auto it = std::find_if(m_revisions.cbegin(), m_revisions.cend(),
                                 [&](const FileRevision& r) { return r.id == revisionID; });
    if (it != m_revisions.cend())
        restoreTask(*it);
}

QCoro::Task<> VersionHistoryState::restoreTask(FileRevision revision) {
    QPointer<VersionHistoryState> self(this);
    QPointer<AppModel> app = m_app;
    setRestoringID(revision.id);
    // The model reports the outcome through its actionStatus.
    if (app) {
        QCoro::Task<bool> restoring = app->restore(revision, m_file);
        co_await std::move(restoring);
    }
    if (!self)
        co_return;
    co_await loadTask();
    if (self)
        setRestoringID({});
}

void VersionHistoryState::setLoading(bool value) {
    assignChanged(this, m_loading, value, &VersionHistoryState::loadingChanged);
}

void VersionHistoryState::setErrorText(const QString& value) {
    assignChanged(this, m_errorText, value, &VersionHistoryState::errorTextChanged);
}

void VersionHistoryState::setRestoringID(const QString& value) {
    assignChanged(this, m_restoringID, value, &VersionHistoryState::restoringIDChanged);
}

} // namespace norvela
