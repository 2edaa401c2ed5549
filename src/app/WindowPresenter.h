#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QRect>
#include <QVariant>

#include <array>
#include <optional>

namespace norvela {

class AppModel;

// Every window the tray app shows, from one QML engine: the dropdown panel, made once and
// toggled from the tray icon, and the windows it opens, at most one of each kind, centred on
// the screen and brought to the front.
class WindowPresenter : public QObject {
    Q_OBJECT
public:
    enum class Kind { syncedFiles, versionHistory, onboarding, settings };

    explicit WindowPresenter(AppModel& model, QObject* parent = nullptr);
    ~WindowPresenter() override;

    QQmlEngine& engine() { return m_engine; }
    // The dropdown once it has been asked for, else null.
    QQuickWindow* panel() const { return m_panel; }
    // The window of that kind while one exists (shown or not), else null.
    QQuickWindow* window(Kind kind) const { return m_windows[size_t(kind)]; }

public Q_SLOTS:
    // The tray icon's click: hides the open panel, else shows it hanging from the icon, or
    // from the cursor where the tray does not say where its icon is.
    void togglePanel(QRect iconGeometry, QPoint cursor);
    // Opening without a click (a second start of the app): the onboarding while it is
    // wanted, else the panel centred on the screen.
    void presentPanel();
    void hidePanel();
    // A new synced-files or version-history window replaces the open one.
    void showSyncedFiles();
    void showVersionHistory(const QVariant& file);
    // The one onboarding window, shown again as often as it is asked for.
    void showOnboarding();
    void showSettings();

Q_SIGNALS:
    void panelHidden();

protected:
    // A window of the Norvela module's `type` with `app` set; null, with a log line, when this
    // build has no such window.
    virtual QQuickWindow* create(const QString& type, QVariantMap properties = {});

private:
    struct Anchor {
        QRect iconGeometry;
        std::optional<QPoint> cursor;
    };

    QQuickWindow* ensurePanel();
    void openPanel(const Anchor& anchor);
    void placePanel();
    // Shows a window of `kind`, made by `make` when there is none or `replace` is set.
    void showWindow(Kind kind, bool replace, const std::function<QQuickWindow*()>& make);
    void present(QQuickWindow* window);

    AppModel& m_model;
    QQmlEngine m_engine;
    QPointer<QQuickWindow> m_panel;
    Anchor m_anchor;
    std::array<QPointer<QQuickWindow>, 4> m_windows;
};

} // namespace norvela
