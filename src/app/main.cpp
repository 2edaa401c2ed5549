// Norvela: the tray application.
#include "TrayIcon.h"
#include "common/SettingsStore.h"
#include "engines/StandardEngines.h"
#include "models/AppModel.h"
#include "platform/DesktopServices.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    // Without any display there is nothing to draw on; run headless rather than abort.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("Norvela: no display found, running offscreen\n", stderr);
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Norvela"));
    QApplication::setApplicationVersion(QStringLiteral(NORVELA_VERSION));
    QApplication::setQuitOnLastWindowClosed(false); // a tray app lives on without windows

    norvela::SettingsStore settings;
    norvela::AppModel model(settings, norvela::standardEngines(), norvela::DesktopServices::system());
    norvela::TrayIcon tray(model);
    model.maybeShowOnboarding();
    return QApplication::exec();
}
