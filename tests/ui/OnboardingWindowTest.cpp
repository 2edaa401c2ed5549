#include "ModelFixture.h"
#include "ViewHarness.h"
#include "auth/DropboxAuthService.h"

#include <QTcpServer>

#include <memory>

using namespace norvela;
using namespace norvela::test;

namespace {

class OnboardingWindowTest : public ModelFixture {
protected:
    void TearDown() override {
        harness.reset();
        ModelFixture::TearDown();
    }

    QQuickWindow* open() {
        return harness->show(QStringLiteral("OnboardingWindow"), {{"app", QVariant::fromValue(model.get())}});
    }

    std::unique_ptr<ViewHarness> harness = std::make_unique<ViewHarness>();
};

} // namespace

TEST_F(OnboardingWindowTest, WithoutAGoogleClientTheGoogleRowIsFadedAndInert) {
    endpoints.google.clientId.clear();
    makeModel();
    QPointer<QQuickWindow> window = open();
    ASSERT_TRUE(window);
    EXPECT_EQ(harness->text("googleDriveRowSubtitle"), "Coming soon — client not configured");
    QQuickItem* google = harness->find("googleDriveRow");
    ASSERT_TRUE(google);
    EXPECT_FALSE(google->isEnabled());
    EXPECT_LT(google->opacity(), harness->find("dropboxRow")->opacity());
    harness->click(google);
    EXPECT_FALSE(model->isLinking());
    EXPECT_EQ(model->linkError(), std::nullopt);
    // Nothing under the rows until something happens.
    EXPECT_EQ(harness->find("linkWaiting"), nullptr);
    EXPECT_EQ(harness->find("linkError"), nullptr);

    // Keyboard: the disabled row is skipped; Return on "Skip for Now" hides the window, and
    // so does Escape once it is shown again: hidden, never destroyed.
    harness->key(Qt::Key_Tab);
    EXPECT_EQ(window->activeFocusItem(), harness->find("dropboxRow"));
    harness->key(Qt::Key_Tab);
    EXPECT_EQ(window->activeFocusItem(), harness->find("skipButton"));
    harness->key(Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
    window->show();
    harness->settle();
    harness->key(Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    processEvents();
    ASSERT_TRUE(window);
    EXPECT_TRUE(harness->takeWarnings().isEmpty());
}

TEST_F(OnboardingWindowTest, LinkingWaitsForTheBrowserAndAFailedLinkShowsWhy) {
    makeModel();
    ASSERT_TRUE(open());
    EXPECT_EQ(harness->text("googleDriveRowSubtitle"), "Sync with your Google account");
    EXPECT_TRUE(harness->find("googleDriveRow")->isEnabled());

    // The sign-in callback's port is taken: the link fails at once and says so in red.
    {
        QTcpServer squatter;
        ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, DropboxAuthService::port));
        ASSERT_TRUE(harness->click("dropboxRow"));
        ASSERT_TRUE(waitFor([&] { return model->linkError() && !model->isLinking(); }));
    }
    harness->settle();
    EXPECT_EQ(harness->text("linkError"), *model->linkError());
    EXPECT_FALSE(model->linkError()->isEmpty());
    const QColor red = harness->find("linkError")->property("color").value<QColor>();
    EXPECT_GT(red.red(), 2 * std::max(red.green(), red.blue()));
    EXPECT_EQ(harness->find("linkWaiting"), nullptr);
    EXPECT_TRUE(harness->window()->isVisible());

    // Now the port is free: the browser flow starts and the footer waits for it.
    ASSERT_TRUE(harness->click("dropboxRow"));
    ASSERT_TRUE(waitFor([&] { return model->isLinking(); }));
    harness->settle();
    EXPECT_EQ(harness->text("linkWaiting"), "Waiting for your browser…");
    EXPECT_EQ(harness->find("linkError"), nullptr);
    // The model logs the failed link, and the offscreen platform cannot open the sign-in page
    // and says so; nothing else may warn.
    QStringList warnings = harness->takeWarnings();
    EXPECT_EQ(warnings.removeIf([](const QString& w) { return w.startsWith("Norvela link result"); }), 1);
    warnings.removeIf([](const QString& w) { return w.contains("openUrl"); });
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}
