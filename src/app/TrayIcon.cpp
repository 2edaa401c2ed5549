#include "TrayIcon.h"

#include "models/AccountModel.h"
#include "models/AppModel.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>

namespace norvela {

namespace {

// Files of the current batches, counted as the progress bar counts them.
std::pair<qint64, qint64> fileCounts(const AppModel& model) {
    if (model.accounts().isEmpty())
        return {model.filesDone(), model.filesTotal()};
    qint64 done = 0, total = 0;
    for (const AccountModel* account : model.accounts()) {
        done += account->filesDone();
        total += account->filesTotal();
    }
    return {done, total};
}

} // namespace

TrayIcon::TrayIcon(AppModel& model, const Clock& clock, QObject* parent)
    : QObject(parent), m_model(model), m_reopenGuard(clock) {
    // GNOME's indicator host opens this menu on a single click, so opening comes first.
    m_menu.addAction(QStringLiteral("Open Norvela"), this, &TrayIcon::requestPanel);
    m_menu.addAction(QString::fromUtf8("Preferences\u2026"), this, &TrayIcon::preferencesRequested);
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("Quit Norvela"), qApp, &QCoreApplication::quit);
    m_icon.setContextMenu(&m_menu);
    connect(&m_icon, &QSystemTrayIcon::activated, this, &TrayIcon::activated);
    connect(&m_model, &AppModel::displayChanged, this, &TrayIcon::refresh);
    qApp->installEventFilter(this);
    refresh();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_icon.show();
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        refresh();
    return false;
}

void TrayIcon::activated(QSystemTrayIcon::ActivationReason reason) {
    // GNOME's indicator host reports only a double click as Trigger; elsewhere a double click
    // follows a Trigger, and the guard drops it once the panel has hidden itself.
    if ((reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) &&
        m_reopenGuard.mayOpen())
        requestPanel();
}

void TrayIcon::requestPanel() {
    Q_EMIT panelRequested(m_icon.geometry(), QCursor::pos());
}

void TrayIcon::refresh() {
    const std::pair art{trayStateOf(m_model), TrayIconArt::variantFor(QGuiApplication::palette())};
    // Setting an icon sends every pixmap to the tray host: only when it changes.
    if (art != m_shownArt) {
        m_icon.setIcon(TrayIconArt::icon(art.first, art.second));
        m_shownArt = art;
    }
    const QString tip = toolTip(art.first);
    if (tip != m_icon.toolTip())
        m_icon.setToolTip(tip);
}

QString TrayIcon::toolTip(TrayState state) const {
    QString line = m_model.displayLastSynced();
    if (const AccountModel* failing = failingAccount(m_model)) {
        line = failing->lastSyncedDescription();
    } else if (const auto [done, total] = fileCounts(m_model); state == TrayState::syncing && total > 0) {
        line = QStringLiteral("Uploading %1 of %2 %3")
                   .arg(done)
                   .arg(total)
                   .arg(total == 1 ? QStringLiteral("file") : QStringLiteral("files"));
        if (const QString rate = m_model.displayTransferRate(); !rate.isEmpty())
            line += QString::fromUtf8(" \u00b7 ") + rate;
    }
    return QString::fromUtf8("Norvela \u2014 ") + line + QLatin1Char('\n') + m_model.displayFooterLine();
}

} // namespace norvela
