#include "app/WindowPresenter.h"
#include "ModelFixture.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QScreen>
#include <QSignalSpy>

using namespace norvela;
using namespace norvela::test;

namespace {

// Stands in for the windows another part of the app provides while this build lacks them, so
// that the bookkeeping is tested either way.
class Presenter : public WindowPresenter {
public:
    using WindowPresenter::WindowPresenter;

protected:
    QQuickWindow* create(const QString& type, QVariantMap properties) override {
        if (QQuickWindow* window = WindowPresenter::create(type, properties))
            return window;
        QQmlComponent component(&engine());
        component.setData(
            "import QtQuick\nWindow { property var app; property var file; width: 200; height: 100\n"
            "signal versionHistoryRequested(var file) }",
            QUrl(QStringLiteral("qrc:/test/%1.qml").arg(type)));
        return qobject_cast<QQuickWindow*>(component.createWithInitialProperties(properties));
    }
};

} // namespace

class WindowPresenterTest : public ModelFixture {
protected:
    WindowPresenter& presenter(AppModel& app) {
        windows = std::make_unique<Presenter>(app);
        return *windows;
    }
    void TearDown() override {
        windows.reset();
        ModelFixture::TearDown();
    }

    std::unique_ptr<WindowPresenter> windows;
};

TEST_F(WindowPresenterTest, TheTrayTogglesOneReusedPanelAtItsPlace) {
    link(ProviderKinds::tokenStore(ProviderKind::dropbox), "dbid:1", "d@example.com");
    WindowPresenter& p = presenter(makeModel());
    QSignalSpy hidden(&p, &WindowPresenter::panelHidden);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect icon(screen.right() - 30, screen.top(), 22, 22); // a tray along the top edge

    p.togglePanel(icon, icon.center());
    QQuickWindow* panel = p.panel();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(waitFor([&] { return panel->isExposed(); }));
    EXPECT_EQ(panel->title(), "Norvela");
    EXPECT_EQ(panel->width(), 340);
    EXPECT_TRUE(screen.contains(panel->geometry())) << panel->geometry().x() << "," << panel->geometry().y();
    EXPECT_LE(panel->geometry().top() - icon.bottom(), 8); // hangs from the icon
    EXPECT_LE(panel->height(), screen.height() * 0.8 + 1);

    p.togglePanel(icon, icon.center());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(hidden.size(), 1);

    // A second start of the app: the same panel, centred.
    p.presentPanel();
    EXPECT_EQ(p.panel(), panel);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_LE((panel->geometry().center() - screen.center()).manhattanLength(), 2);
}

TEST_F(WindowPresenterTest, OneWindowOfEachKindCentredAndTheNewestReplacesTheOld) {
    link(ProviderKinds::tokenStore(ProviderKind::dropbox), "dbid:1", "d@example.com");
    WindowPresenter& p = presenter(makeModel());
    p.presentPanel();
    QQuickWindow* panel = p.panel();
    ASSERT_TRUE(panel);

    // Asked from the panel: the panel gives way to the window.
    QMetaObject::invokeMethod(panel, "sharedLinksRequested");
    QPointer<QQuickWindow> synced = p.window(WindowPresenter::Kind::syncedFiles);
    ASSERT_TRUE(synced);
    EXPECT_TRUE(synced->isVisible());
    EXPECT_FALSE(panel->isVisible());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((synced->geometry().center() - screen.center()).manhattanLength(), 2);
    p.showSyncedFiles();
    EXPECT_NE(p.window(WindowPresenter::Kind::syncedFiles), synced.data());
    EXPECT_TRUE(waitFor([&] { return synced.isNull(); })); // the replaced one is gone

    RecentFile first, second;
    first.name = QStringLiteral("first.txt");
    second.name = QStringLiteral("second.txt");
    // Version history, from the synced-files window and from the panel.
    QMetaObject::invokeMethod(p.window(WindowPresenter::Kind::syncedFiles), "versionHistoryRequested",
                              Q_ARG(QVariant, QVariant::fromValue(first)));
    QPointer<QQuickWindow> history = p.window(WindowPresenter::Kind::versionHistory);
    ASSERT_TRUE(history);
    EXPECT_EQ(history->property("file").value<RecentFile>().name, "first.txt");
    QMetaObject::invokeMethod(panel, "versionHistoryRequested", Q_ARG(QVariant, QVariant::fromValue(second)));
    ASSERT_TRUE(p.window(WindowPresenter::Kind::versionHistory));
    EXPECT_EQ(p.window(WindowPresenter::Kind::versionHistory)->property("file").value<RecentFile>().name,
              "second.txt");
    EXPECT_TRUE(waitFor([&] { return history.isNull(); }));

    QMetaObject::invokeMethod(panel, "preferencesRequested");
    QQuickWindow* settings = p.window(WindowPresenter::Kind::settings);
    ASSERT_TRUE(settings);
    EXPECT_TRUE(settings->isVisible());
    settings->close();
    p.showSettings();
    EXPECT_EQ(p.window(WindowPresenter::Kind::settings), settings);
    EXPECT_TRUE(settings->isVisible());
}

TEST_F(WindowPresenterTest, OnboardingComesBackUntilAnAccountIsLinked) {
    AppModel& app = makeModel();
    WindowPresenter& p = presenter(app);
    // Without accounts, opening Norvela means onboarding.
    p.presentPanel();
    QQuickWindow* onboarding = p.window(WindowPresenter::Kind::onboarding);
    ASSERT_TRUE(onboarding);
    EXPECT_TRUE(onboarding->isVisible());
    EXPECT_FALSE(p.panel());

    onboarding->close();
    EXPECT_TRUE(app.maybeShowOnboarding());
    EXPECT_EQ(p.window(WindowPresenter::Kind::onboarding), onboarding);
    EXPECT_TRUE(onboarding->isVisible());
    Q_EMIT app.linked();
    EXPECT_FALSE(onboarding->isVisible());

    // "Add account" in the preferences brings it back too.
    p.showSettings();
    QMetaObject::invokeMethod(p.window(WindowPresenter::Kind::settings), "onboardingRequested");
    ASSERT_TRUE(p.window(WindowPresenter::Kind::onboarding));
    EXPECT_TRUE(p.window(WindowPresenter::Kind::onboarding)->isVisible());
}
