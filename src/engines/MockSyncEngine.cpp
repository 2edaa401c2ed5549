#include "MockSyncEngine.h"

#include "common/AccountInfo.h"
#include "common/Clock.h"
#include "common/RecentFile.h"
#include "models/AppModel.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace norvela {

namespace {

const QStringList fileNames{QStringLiteral("Roadmap-v3.sketch"), QStringLiteral("Q3-contract-signed.pdf"),
                            QStringLiteral("burn-rate-2026.xlsx"), QStringLiteral("onboarding-flows.fig")};
constexpr int filesPerName = 22;

const QString transferRate = QStringLiteral("2.4 MB/s");

// Sums of 0.005 steps drift either way; a cycle must still end on its last tick.
constexpr double completionSlack = 1e-9;

AccountInfo demoAccount() {
    AccountInfo info;
    info.displayName = QStringLiteral("Sam Rivera");
    info.email = QStringLiteral("sam.rivera@example.com");
    info.planName = QStringLiteral("Dropbox Plus");
    info.usedBytes = 4'200'000'000;
    info.quotaBytes = 2'000'000'000'000;
    return info;
}

QList<RecentFile> demoRecentFiles(const QDateTime& now) {
    const std::pair<int, int> entries[] = {{0, 120}, {1, 1'080}, {2, 3'600}};
    QList<RecentFile> files;
    for (const auto& [index, secondsAgo] : entries) {
        RecentFile file;
        file.name = fileNames[index];
        file.syncedAt = now.addSecs(-secondsAgo);
        files.append(file);
    }
    return files;
}

} // namespace

MockSyncEngine::MockSyncEngine(Clock& clock, double startProgress, QObject* parent)
    : SyncEngine(parent), m_clock(clock), m_progress(startProgress) {}

MockSyncEngine::~MockSyncEngine() = default;

void MockSyncEngine::start(AppModel* model) {
    m_model = model;
    if (!m_model)
        return;
    if (m_model->accounts().isEmpty())
        m_model->setAccount(demoAccount());
    m_model->setRecentFiles(demoRecentFiles(m_clock.now()));
    beginSyncingSession();
}

void MockSyncEngine::pause() {
    // The timer keeps running; advance() freezes while the model is not syncing.
    if (m_model)
        m_model->setSyncState(SyncState::paused);
}

void MockSyncEngine::resume() {
    if (!m_model)
        return;
    if (m_progress > 0) {
        showSyncing();
        startTimer();
    } else {
        m_model->setSyncState(SyncState::idle);
    }
}

void MockSyncEngine::beginSyncingSession() {
    if (!m_model)
        return;
    showSyncing();
    startTimer();
}

void MockSyncEngine::showSyncing() {
    m_model->setSyncState(SyncState::syncing);
    m_model->setFilesTotal(filesInBatch);
    m_model->setTransferRate(transferRate);
    tick();
}

void MockSyncEngine::startTimer() {
    m_timer = m_clock.schedule(tickInterval, true, [self = QPointer<MockSyncEngine>(this)] {
        if (self)
            self->advance();
    });
}

void MockSyncEngine::tick() {
    if (!m_model)
        return;
    const int filesDone = std::max(1, static_cast<int>(std::lround(m_progress * filesInBatch)));
    m_model->setProgress(m_progress);
    m_model->setFilesDone(filesDone);
    m_model->setCurrentFile(fileNames[(filesDone / filesPerName) % fileNames.size()]);
}

void MockSyncEngine::advance() {
    if (!m_model) {
        m_timer.reset(); // nobody left to animate for
        return;
    }
    if (m_model->syncState() == SyncState::syncing)
        m_progress += progressStep;
    if (m_progress >= 1.0 - completionSlack) {
        m_progress = 0;
        m_timer.reset();
        m_model->setSyncState(SyncState::idle);
        m_model->setProgress(0);
        m_model->setLastSyncedDescription(QStringLiteral("Last synced just now"));
        return;
    }
    tick();
}

} // namespace norvela
