#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

namespace norvela {

class AppModel;

// The "wind" icon in the system tray, with the aggregated status as its tooltip. Where the
// desktop has no tray the app runs on without it.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(AppModel& model, QObject* parent = nullptr);
    bool isShown() const { return m_icon.isVisible(); }
    // Brings Norvela to the user's attention, as a second start of the app asks.
    void present();

private:
    void refreshTooltip();

    AppModel& m_model;
    QSystemTrayIcon m_icon;
    QMenu m_menu;
};

} // namespace norvela
