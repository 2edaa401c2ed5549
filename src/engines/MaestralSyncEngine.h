#pragma once

#include "models/SyncEngine.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

namespace norvela {

class AppModel;
class Clock;

// Mirrors an installed external Dropbox client into the application model: polls its
// "status" and "history" commands every 2 seconds and forwards pause and resume to it.
// It syncs nothing itself.
class MaestralSyncEngine : public SyncEngine {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds pollInterval{2};
    // A client that has not finished by then is killed and the run yields nothing.
    static constexpr std::chrono::seconds runTimeout{30};

    // Where the client is looked for, in order; computed once per process.
    static const QStringList& candidatePaths();
    // The engine for the first candidate that is an executable file, or nullptr.
    static std::unique_ptr<MaestralSyncEngine> create(Clock& clock,
                                                      const QStringList& candidates = candidatePaths());
    ~MaestralSyncEngine() override;

    // Replaces any earlier polling loop; the first refresh starts at once.
    void start(AppModel* model) override;
    void pause() override;
    void resume() override;

    const QString& binaryPath() const { return m_binaryPath; }
    // Status and history runs under way; zero means the polling loop is asleep.
    int runsInFlight() const { return m_runsInFlight; }

    QCoro::Task<> refresh();
    QCoro::Task<> refreshHistory();
    // The client's standard output for `arguments`, or nothing when it could not be launched,
    // timed out or printed something that is not UTF-8.
    QCoro::Task<std::optional<QString>> run(QStringList arguments);

private:
    MaestralSyncEngine(Clock& clock, QString binaryPath);
    QCoro::Task<> pollLoop(QPointer<QObject> context);
    void runDetached(const QString& command);
    void applyStatus(const QString& output);

    Clock& m_clock;
    QString m_binaryPath;
    QPointer<AppModel> m_model;
    // Owns the current loop: destroying it ends that loop at its next sleep.
    std::unique_ptr<QObject> m_pollContext;
    int m_runsInFlight = 0;
};

} // namespace norvela
