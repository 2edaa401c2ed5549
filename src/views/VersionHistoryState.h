#pragma once

#include "cloud/FileRevision.h"
#include "common/RecentFile.h"
#include "models/AppModel.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

namespace norvela {

// The stored versions of one file, loaded from its account, and restoring one of them.
// A restore reloads the list when it ends; the outcome itself shows in the app's actionStatus.
class VersionHistoryState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(norvela::AppModel* app READ app WRITE setApp NOTIFY appChanged)
    // A RecentFile.
    Q_PROPERTY(QVariant file READ fileVariant WRITE setFile NOTIFY fileChanged)
    // One map per version, newest (the current one) first: id, date, detail, current.
    Q_PROPERTY(QVariantList revisions READ revisionList NOTIFY revisionsChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    // Empty unless the last load failed.
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorTextChanged)
    // The id of the version being restored; empty when none is.
    Q_PROPERTY(QString restoringID READ restoringID NOTIFY restoringIDChanged)
    Q_PROPERTY(QString caption READ caption CONSTANT)

public:
    explicit VersionHistoryState(QObject* parent = nullptr);

    AppModel* app() const { return m_app; }
    void setApp(AppModel* app);
    const RecentFile& file() const { return m_file; }
    void setFile(const QVariant& file);
    const QList<FileRevision>& revisions() const { return m_revisions; }
    bool loading() const { return m_loading; }
    const QString& errorText() const { return m_errorText; }
    const QString& restoringID() const { return m_restoringID; }
    QString caption() const;

    // Reads the versions again (the window calls it when shown).
    Q_INVOKABLE void load();
    // Makes the version with this id current, then reloads.
    Q_INVOKABLE void restore(const QString& revisionID);

Q_SIGNALS:
    void appChanged();
    void fileChanged();
    void revisionsChanged();
    void loadingChanged();
    void errorTextChanged();
    void restoringIDChanged();

private:
    QVariant fileVariant() const { return QVariant::fromValue(m_file); }
    QVariantList revisionList() const;
    QCoro::Task<> loadTask();
    QCoro::Task<> restoreTask(FileRevision revision);
    void setLoading(bool value);
    void setErrorText(const QString& value);
    void setRestoringID(const QString& value);

    QPointer<AppModel> m_app;
    RecentFile m_file;
    QList<FileRevision> m_revisions;
    bool m_loading = false;
    QString m_errorText;
    QString m_restoringID;
    // Only the newest load lands.
    quint64 m_loads = 0;
};

} // namespace norvela
