#pragma once

#include <QJsonObject>
#include <QObject>

#include <QCoro/QCoroTask>

namespace norvela {

class AccountModel;
class AppModel;
class SettingsStore;

// What the command-line tool may ask of a running Norvela, as JSON requests and replies:
// "status", "pause" and "resume" (optional "key"), "share" ("path"), "versions" ("path"),
// "restore" ("path", "version") and "show". The tool runs the same requests on a model of
// its own when nothing is running, so both answer alike. Failures throw NorvelaError with
// the text a person reads.
class AppControl : public QObject {
    Q_OBJECT
public:
    explicit AppControl(AppModel& model, QObject* parent = nullptr);

    QCoro::Task<QJsonObject> handle(QJsonObject request);

    // {"running": true, "accounts": [...]} from the live models.
    QJsonObject status() const;
    // What the files say while nothing runs: accounts, folders and indexed counts, with
    // "running" false and no live state.
    static QJsonObject offlineStatus(SettingsStore& settings);
    // One account of those lists; `live` adds what its running engine reports.
    static QJsonObject accountJson(const AccountModel& account, bool live);

Q_SIGNALS:
    // Another start of the app asked this one to show itself.
    void showRequested();

private:
    QCoro::Task<QJsonObject> share(QString path);
    QCoro::Task<QJsonObject> versions(QString path);
    QCoro::Task<QJsonObject> restore(QString path, QString versionId);

    AppModel& m_model;
};

} // namespace norvela
