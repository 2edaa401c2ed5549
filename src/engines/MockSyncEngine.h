#pragma once

#include "models/SyncEngine.h"

#include <QPointer>

#include <chrono>
#include <memory>

namespace norvela {

class AppModel;
class Clock;
class ClockTimer;

// Uploads nothing: animates a made-up upload of 87 files so the views have something to
// show while no account is linked and no external client is installed. A cycle runs once
// and then stays idle.
class MockSyncEngine : public SyncEngine {
    Q_OBJECT
public:
    static constexpr int filesInBatch = 87;
    static constexpr std::chrono::milliseconds tickInterval{150};
    static constexpr double progressStep = 0.005;

    MockSyncEngine(Clock& clock, double startProgress, QObject* parent = nullptr);
    ~MockSyncEngine() override;

    void start(AppModel* model) override;
    void pause() override;
    void resume() override;

    double progress() const { return m_progress; }

private:
    void beginSyncingSession();
    void showSyncing();
    void tick();
    void advance();
    void startTimer();

    Clock& m_clock;
    QPointer<AppModel> m_model;
    std::unique_ptr<ClockTimer> m_timer;
    double m_progress;
};

} // namespace norvela
