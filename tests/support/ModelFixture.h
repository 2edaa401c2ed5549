#pragma once

#include "ManualClock.h"
#include "RecordingDesktop.h"
#include "TestSupport.h"
#include "auth/CloudTokenStore.h"
#include "common/SettingsStore.h"
#include "common/SyncStatus.h"
#include "models/AppModel.h"
#include "models/SyncEngine.h"
#include "net/BandwidthLimiter.h"
#include "net/Http.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace norvela::test {

// An application-wide engine that only records what it was asked.
class RecordingEngine : public SyncEngine {
public:
    inline static int started = 0;
    inline static int paused = 0;
    void start(AppModel*) override { ++started; }
    void pause() override { ++paused; }
    void resume() override {}
};

// A status as an account's engine reports it.
inline SyncStatus syncStatus(SyncState state, SyncStatus::Note note = SyncStatus::Note::upToDate) {
    return SyncStatus{.state = state, .note = note};
}

// A private app-support directory for credentials, a settings file, a manual clock and a
// limiter of its own; the model is made on demand so a test can prepare files first.
class ModelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("NORVELA_APP_SUPPORT_DIR", m_support.path().toUtf8());
        settings = std::make_unique<SettingsStore>(m_support.path() + QStringLiteral("/settings.json"));
        RecordingEngine::started = RecordingEngine::paused = 0;
    }
    void TearDown() override {
        model.reset();
        // Providers may still be failing their first request against the closed port;
        // let those finish so no suspended request outlives the test.
        waitFor([] { return Http::inFlight() == 0; });
        processEvents();
        for (const char* name : {"NORVELA_APP_SUPPORT_DIR", "NORVELA_DUMP_STATE", "NORVELA_AUTOLINK"})
            qunsetenv(name);
    }

    AppModel& makeModel() {
        model = std::make_unique<AppModel>(*settings, engines, desktop, endpoints, clock, &limiter);
        return *model;
    }

    static void link(const CloudTokenStore& store, const QString& uid, const QString& email) {
        store.upsert(uid, email, QStringLiteral("refresh-") + uid);
    }

    QString supportPath() const { return m_support.path(); }

    // Tests may add an account engine before makeModel().
    EngineFactory engines{[](Clock&) { return std::make_unique<RecordingEngine>(); }, {}};
    // Nothing listens there: a provider that tries the network fails at once.
    ServiceEndpoints endpoints = ServiceEndpoints::sandbox(QUrl(QStringLiteral("http://127.0.0.1:9")));
    ManualClock clock;
    RecordingDesktop desktop;
    BandwidthLimiter limiter{clock};
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<AppModel> model;

private:
    QTemporaryDir m_support;
};

} // namespace norvela::test
