#include "ModelFixture.h"

#include "app/TrayIcon.h"
#include "models/AccountModel.h"

#include <QApplication>
#include <QSignalSpy>

using namespace norvela;
using namespace norvela::test;
using namespace std::chrono_literals;

TEST(PanelReopenGuard, DropsOpeningOnlyJustAfterThePanelHid) {
    ManualClock clock;
    PanelReopenGuard guard(clock);
    EXPECT_TRUE(guard.mayOpen()); // never shown
    guard.panelHidden();
    EXPECT_FALSE(guard.mayOpen());
    clock.advance(PanelReopenGuard::quietPeriod - 1ms);
    EXPECT_FALSE(guard.mayOpen());
    clock.advance(1ms);
    EXPECT_TRUE(guard.mayOpen());
    guard.panelHidden(); // every hiding starts the period again
    EXPECT_FALSE(guard.mayOpen());
}

using TrayIconTest = ModelFixture;

TEST_F(TrayIconTest, ClicksAndTheMenuRequestThePanelUnlessTheClickHidIt) {
    TrayIcon tray(makeModel(), clock);
    QSignalSpy requests(&tray, &TrayIcon::panelRequested);
    auto* icon = tray.findChild<QSystemTrayIcon*>();
    ASSERT_TRUE(icon);
    const struct {
        QSystemTrayIcon::ActivationReason reason;
        bool justHidden;
        bool opens;
    } rows[] = {
        {QSystemTrayIcon::Trigger, false, true},  {QSystemTrayIcon::DoubleClick, false, true},
        {QSystemTrayIcon::Context, false, false}, {QSystemTrayIcon::MiddleClick, false, false},
        {QSystemTrayIcon::Trigger, true, false},  {QSystemTrayIcon::DoubleClick, true, false},
    };
    for (const auto& row : rows) {
        clock.advance(1s);
        if (row.justHidden)
            tray.panelHidden();
        requests.clear();
        Q_EMIT icon->activated(row.reason);
        EXPECT_EQ(requests.size(), row.opens ? 1 : 0) << row.reason << " just hidden: " << row.justHidden;
    }
    // The menu's first entry opens the panel; a menu is never the click that hid it.
    requests.clear();
    icon->contextMenu()->actions().first()->trigger();
    EXPECT_EQ(requests.size(), 1);
    QSignalSpy preferences(&tray, &TrayIcon::preferencesRequested);
    QAction* second = icon->contextMenu()->actions().at(1);
    EXPECT_EQ(second->text(), QString::fromUtf8("Preferences\u2026"));
    second->trigger();
    EXPECT_EQ(preferences.size(), 1);
}

TEST_F(TrayIconTest, IconAndTooltipFollowTheModelAndThePalette) {
    link(CloudTokenStore::dropbox(), QStringLiteral("dbid:1"), QStringLiteral("d@example.com"));
    link(CloudTokenStore::googleDrive(), QStringLiteral("g@example.com"), QStringLiteral("g@example.com"));
    AppModel& appModel = makeModel();
    ASSERT_EQ(appModel.accounts().size(), 2);
    const QPalette original = QApplication::palette();
    QPalette light = original, dark = original;
    light.setColor(QPalette::Window, Qt::white);
    light.setColor(QPalette::WindowText, Qt::black);
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, Qt::white);
    QApplication::setPalette(light);
    TrayIcon tray(appModel, clock);
    const auto* icon = tray.findChild<QSystemTrayIcon*>();
    // At both ratios: the icon holds a pixmap drawn for each.
    auto shows = [icon](TrayState state, TrayIconArt::Variant variant) {
        return icon->icon().pixmap(QSize(22, 22), 1).toImage() ==
                   TrayIconArt::render(state, variant, 22, 1).toImage() &&
               icon->icon().pixmap(QSize(22, 22), 2).toImage() ==
                   TrayIconArt::render(state, variant, 22, 2).toImage();
    };
    EXPECT_TRUE(shows(TrayState::idle, TrayIconArt::Variant::forLightPanel));

    const SyncStatus syncing{
        .state = SyncState::syncing, .filesDone = 5, .filesTotal = 12, .bytesPerSecond = 3'100'000};
    appModel.accounts()[0]->setStatus(syncing);
    EXPECT_TRUE(shows(TrayState::syncing, TrayIconArt::Variant::forLightPanel));
    EXPECT_TRUE(icon->toolTip().contains(QString::fromUtf8("Uploading 5 of 12 files \u00b7 3.1 MB/s")))
        << qPrintable(icon->toolTip());

    SyncStatus failing = syncing;
    failing.note = SyncStatus::Note::unreachable;
    appModel.accounts()[1]->setStatus(failing);
    EXPECT_TRUE(shows(TrayState::error, TrayIconArt::Variant::forLightPanel));
    EXPECT_TRUE(icon->toolTip().contains("Can't reach Google Drive")) << qPrintable(icon->toolTip());

    QApplication::setPalette(dark);
    EXPECT_TRUE(shows(TrayState::error, TrayIconArt::Variant::forDarkPanel));

    SyncStatus paused = failing; // a paused account's retries are not failures
    paused.state = SyncState::paused;
    paused.userPaused = true;
    for (AccountModel* account : appModel.accounts())
        account->setStatus(paused);
    EXPECT_TRUE(shows(TrayState::paused, TrayIconArt::Variant::forDarkPanel));
    QApplication::setPalette(original);
}
