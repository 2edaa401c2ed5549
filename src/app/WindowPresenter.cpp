#include "WindowPresenter.h"

#include "PanelPlacement.h"
#include "models/AppModel.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQuickStyle>
#include <QScreen>

namespace norvela {

WindowPresenter::WindowPresenter(AppModel& model, QObject* parent) : QObject(parent), m_model(model) {
    // The views style their own controls; what they borrow from Qt Quick Controls must look
    // the same on every desktop.
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    // The panel's rounded corners need a window that can be transparent.
    QQuickWindow::setDefaultAlphaBuffer(true);
    connect(&model, &AppModel::onboardingRequested, this, &WindowPresenter::showOnboarding);
    connect(&model, &AppModel::linked, this, [this] {
        if (QQuickWindow* onboarding = window(Kind::onboarding))
            onboarding->hide();
    });
}

WindowPresenter::~WindowPresenter() {
    // Before the engine that made them.
    delete m_panel.data();
    for (const QPointer<QQuickWindow>& window : m_windows)
        delete window.data();
}

QQuickWindow* WindowPresenter::create(const QString& type, QVariantMap properties) {
    QQmlComponent component(&m_engine);
    component.setData(QStringLiteral("import Norvela\n%1 {}\n").arg(type).toUtf8(),
                      QUrl(QStringLiteral("qrc:/presenter/%1.qml").arg(type)));
    // Qt 6.4 crashes creating from a component that failed to compile: ask first.
    QQuickWindow* window = nullptr;
    if (!component.isError()) {
        properties.insert(QStringLiteral("app"), QVariant::fromValue(&m_model));
        QObject* object = component.createWithInitialProperties(properties);
        window = qobject_cast<QQuickWindow*>(object);
        if (!window)
            delete object;
    }
    if (!window)
        qWarning("Norvela: the %s window is missing from this build: %s", qPrintable(type),
                 qPrintable(component.errorString().trimmed()));
    return window;
}

QQuickWindow* WindowPresenter::ensurePanel() {
    if (m_panel)
        return m_panel;
    m_panel = create(QStringLiteral("DropdownPanel"));
    if (!m_panel)
        return nullptr;
    connect(m_panel, SIGNAL(sharedLinksRequested()), this, SLOT(showSyncedFiles()));
    connect(m_panel, SIGNAL(versionHistoryRequested(QVariant)), this, SLOT(showVersionHistory(QVariant)));
    connect(m_panel, SIGNAL(preferencesRequested()), this, SLOT(showSettings()));
    connect(m_panel, SIGNAL(quitRequested()), qApp, SLOT(quit()));
    connect(m_panel, &QWindow::visibleChanged, this, [this](bool visible) {
        if (!visible)
            Q_EMIT panelHidden();
    });
    // A banner coming or going changes the height: the panel stays hanging from its anchor.
    connect(m_panel, &QWindow::heightChanged, this, [this] {
        if (m_panel->isVisible())
            placePanel();
    });
    return m_panel;
}

void WindowPresenter::togglePanel(QRect iconGeometry, QPoint cursor) {
    if (m_panel && m_panel->isVisible())
        hidePanel();
    else
        openPanel({iconGeometry, cursor});
}

void WindowPresenter::presentPanel() {
    if (!m_model.maybeShowOnboarding())
        openPanel({});
}

void WindowPresenter::hidePanel() {
    if (m_panel)
        m_panel->hide();
}

void WindowPresenter::openPanel(const Anchor& anchor) {
    if (!ensurePanel())
        return;
    m_anchor = anchor;
    placePanel();
    m_panel->show();
    m_panel->raise();
    m_panel->requestActivate();
}

void WindowPresenter::placePanel() {
    const QList<ScreenArea> screens = desktopScreens();
    if (screens.isEmpty())
        return;
    // The panel may take 80 % of the height of the screen it opens on.
    const QPoint at = m_anchor.iconGeometry.isValid()
                          ? m_anchor.iconGeometry.center()
                          : m_anchor.cursor.value_or(screens.first().geometry.center());
    const auto screen = std::find_if(screens.cbegin(), screens.cend(),
                                     [at](const ScreenArea& s) { return s.geometry.contains(at); });
    const ScreenArea& area = screen == screens.cend() ? screens.first() : *screen;
    m_panel->setProperty("availableHeight", area.available.height());
    m_panel->setGeometry(
        norvela::placePanel(m_anchor.iconGeometry, m_anchor.cursor, screens, m_panel->size()));
}

void WindowPresenter::showSyncedFiles() {
    showWindow(Kind::syncedFiles, true, [this] {
        QQuickWindow* window = create(QStringLiteral("SyncedFilesWindow"));
        if (window)
            connect(window, SIGNAL(versionHistoryRequested(QVariant)), this,
                    SLOT(showVersionHistory(QVariant)));
        return window;
    });
}

void WindowPresenter::showVersionHistory(const QVariant& file) {
    showWindow(Kind::versionHistory, true, [this, file] {
        return create(QStringLiteral("VersionHistoryWindow"), {{"file", file}});
    });
}

void WindowPresenter::showOnboarding() {
    showWindow(Kind::onboarding, false, [this] { return create(QStringLiteral("OnboardingWindow")); });
}

void WindowPresenter::showSettings() {
    showWindow(Kind::settings, false, [this] {
        QQuickWindow* window = create(QStringLiteral("SettingsWindow"));
        if (window)
            connect(window, SIGNAL(onboardingRequested()), this, SLOT(showOnboarding()));
        return window;
    });
}

void WindowPresenter::showWindow(Kind kind, bool replace, const std::function<QQuickWindow*()>& make) {
    hidePanel();
    QPointer<QQuickWindow>& slot = m_windows[size_t(kind)];
    if (slot && replace) {
        slot->close();
        slot->deleteLater();
        slot = nullptr;
    }
    if (!slot)
        slot = make();
    if (slot)
        present(slot);
}

void WindowPresenter::present(QQuickWindow* window) {
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        window->setPosition(area.center() - QPoint(window->width() / 2, window->height() / 2));
    }
    window->show();
    window->raise();
    window->requestActivate();
}

} // namespace norvela
