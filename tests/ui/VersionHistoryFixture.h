#pragma once

#include "RecordingDesktop.h"
#include "ViewHarness.h"
#include "common/SettingsStore.h"
#include "integration/SimFixture.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"
#include "views/VersionHistoryState.h"

#include <QDir>

#include <memory>

namespace norvela::test {

// A Dropbox account linked against the emulator, a file in its folder uploaded once per
// version, and the window showing that file's versions.
class VersionHistoryFixture : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        DropboxAuthService dropbox(std::nullopt, endpoints.dropbox);
        ASSERT_EQ(linkThroughBrowser(dropbox), std::nullopt);
        settings = std::make_unique<SettingsStore>(supportPath(QStringLiteral("settings.json")));
        model = std::make_unique<AppModel>(*settings, EngineFactory{}, desktop, endpoints);
        ASSERT_EQ(model->accounts().size(), 1);
    }
    void TearDown() override {
        harness.reset();
        waitFor([] { return Http::inFlight() == 0; });
        model.reset();
        SimFixture::TearDown();
    }

    // Uploads each content in turn as a new version of `name`; the file as the index knows it.
    RecentFile uploadVersions(const QString& name, const QList<QByteArray>& contents) {
        AccountModel& account = *model->accounts().first();
        QDir().mkpath(account.rootPath());
        RecentFile file;
        file.name = file.relativePath.emplace(name);
        file.providerID = account.id();
        file.url = QUrl::fromLocalFile(account.rootPath() + QLatin1Char('/') + name);
        file.syncedAt = QDateTime::currentDateTimeUtc();
        for (const QByteArray& content : contents) {
            writeFile(file.url->toLocalFile(), content);
            const auto opened =
                std::get<std::shared_ptr<const LocalFile>>(LocalFile::open(account.rootPath(), name));
            file.ref = await(account.provider()->upload(opened, name, file.ref, false, {})).ref;
            file.sizeBytes = content.size();
        }
        return file;
    }
    QQuickWindow* open(const RecentFile& file) {
        return harness->show(
            QStringLiteral("VersionHistoryWindow"),
            {{"app", QVariant::fromValue(model.get())}, {"file", QVariant::fromValue(file)}});
    }
    VersionHistoryState* state() const { return harness->window()->findChild<VersionHistoryState*>(); }
    bool settled() const { return state() && !state()->loading() && state()->restoringID().isEmpty(); }

    RecordingDesktop desktop;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<ViewHarness> harness = std::make_unique<ViewHarness>();
};

} // namespace norvela::test
