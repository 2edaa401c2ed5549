#pragma once

#include "PanelReopenGuard.h"
#include "TrayIconArt.h"
#include "TrayState.h"
#include "common/Clock.h"

#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSystemTrayIcon>

#include <optional>
#include <utility>

namespace norvela {

class AppModel;

// The "wind" icon in the system tray, showing the aggregated state (with an emblem) and, in
// its tooltip, the status and upload progress. Where the desktop has no tray the app runs on
// without it.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(AppModel& model, const Clock& clock = Clock::system(), QObject* parent = nullptr);
    bool isShown() const { return m_icon.isVisible(); }
    // The panel reports hiding itself, so that the click which hid it does not reopen it.
    void panelHidden() { m_reopenGuard.panelHidden(); }

Q_SIGNALS:
    // The user asked for the dropdown panel, from the icon or its menu. `iconGeometry` is
    // empty where the tray does not report it (StatusNotifierItem hosts).
    void panelRequested(QRect iconGeometry, QPoint cursor);
    // "Preferences…" in the icon's menu.
    void preferencesRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    void requestPanel();
    void refresh();
    QString toolTip(TrayState state) const;

    AppModel& m_model;
    PanelReopenGuard m_reopenGuard;
    QSystemTrayIcon m_icon{this};
    QMenu m_menu;
    std::optional<std::pair<TrayState, TrayIconArt::Variant>> m_shownArt;
};

} // namespace norvela
