#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>

namespace norvela {

class Clock;
class ClockTimer;
class SettingsStore;
class UpdateCheckWaiter;

// Checks an appcast feed for a newer Norvela: when the user asks, shortly after start-up
// and once a day. A failed check is logged and reported as "unreachable", never thrown.
//
// One instance per application: main creates it and hands it to the models that show it.
// Deliberately no global accessor, so each test makes its own against its own feed.
class UpdaterService : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString lastCheckDescription READ lastCheckDescription NOTIFY lastCheckChanged)
    Q_PROPERTY(bool checking READ checking NOTIFY checkingChanged)
public:
    struct Update {
        QString version;
        QUrl page;
        QString title;
    };
    enum class Outcome { upToDate, updateAvailable, unreachable };
    struct CheckResult {
        Outcome outcome = Outcome::unreachable;
        std::optional<Update> update;
        QString detail; // one line for people: the version found, or why the check failed
    };

    // Settings key of the last successful check, in seconds since the epoch.
    static constexpr const char* lastCheckKey = "lastUpdateCheck";

    UpdaterService(QUrl feed, SettingsStore& settings, Clock& clock, QString currentVersion,
                   QObject* parent = nullptr);
    ~UpdaterService() override;

    // Asks the feed now. A call while a check runs shares that check's answer.
    QCoro::Task<CheckResult> checkNow();
    // A check a minute from now, then one every 24 hours, on the clock given at construction.
    void startAutomaticChecks();

    // "Last checked 2 hours ago", or "Updates are checked automatically" before the first
    // check. Follows the clock: views re-read it as time passes.
    QString lastCheckDescription() const;
    std::optional<QDateTime> lastCheck() const { return m_lastCheck; }
    bool checking() const { return m_waiter != nullptr; }
    // The newest update the last successful check found, or none.
    const std::optional<Update>& availableUpdate() const { return m_available; }

Q_SIGNALS:
    void lastCheckChanged();
    void checkingChanged();
    // availableUpdate() now names a newer version than before.
    void updateAvailable();

private:
    void record(const CheckResult& result);

    QUrl m_feed;
    SettingsStore& m_settings;
    Clock& m_clock;
    QString m_currentVersion;
    std::optional<QDateTime> m_lastCheck;
    std::optional<Update> m_available;
    std::shared_ptr<UpdateCheckWaiter> m_waiter; // set while a check runs
    std::unique_ptr<ClockTimer> m_timer;
};

} // namespace norvela
