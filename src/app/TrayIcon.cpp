#include "TrayIcon.h"

#include "IconTable.h"
#include "models/AppModel.h"

#include <QApplication>
#include <QPalette>

namespace norvela {

TrayIcon::TrayIcon(AppModel& model, QObject* parent) : QObject(parent), m_model(model) {
    m_icon.setIcon(
        IconTable::icon(QStringLiteral("wind"), QApplication::palette().color(QPalette::WindowText)));
    m_menu.addAction(QStringLiteral("Quit Norvela"), qApp, &QCoreApplication::quit);
    m_icon.setContextMenu(&m_menu);
    connect(&m_model, &AppModel::displayChanged, this, &TrayIcon::refreshTooltip);
    refreshTooltip();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_icon.show();
}

void TrayIcon::present() {
    if (m_model.maybeShowOnboarding())
        return;
    if (m_icon.isVisible())
        m_icon.showMessage(QStringLiteral("Norvela is running"), m_model.displayLastSynced());
}

void TrayIcon::refreshTooltip() {
    m_icon.setToolTip(QStringLiteral("Norvela \u2014 ") + m_model.displayLastSynced() + QLatin1Char('\n') +
                      m_model.displayFooterLine());
}

} // namespace norvela
