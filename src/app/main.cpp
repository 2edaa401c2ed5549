// Norvela: the tray application.
#include "DevelopmentHooks.h"
#include "TrayIcon.h"
#include "WindowPresenter.h"
#include "common/SettingsStore.h"
#include "control/ControlClient.h"
#include "control/ControlServer.h"
#include "control/InstanceLock.h"
#include "engines/StandardEngines.h"
#include "models/AppControl.h"
#include "models/AppModel.h"
#include "platform/AppearanceWatcher.h"
#include "platform/DesktopServices.h"
#include "update/UpdaterService.h"
#include "views/Theme.h"

#include <QApplication>
#include <QTimer>
#include <QtQml/QQmlExtensionPlugin>

#include <cstdio>

// QML loaded by the app can `import Norvela` (the module is linked in statically).
Q_IMPORT_QML_PLUGIN(NorvelaPlugin)

namespace {

using namespace std::chrono_literals;

// Another Norvela holds the lock: ask it to show itself, then leave it the stage.
int showRunningInstance(QApplication& app, pid_t pid) {
    std::fprintf(stderr, "Norvela is already running (pid %d); showing it\n", int(pid));
    auto ask = [&app]() -> QCoro::Task<> {
        const QJsonObject show{{QStringLiteral("cmd"), QStringLiteral("show")}};
        const auto result = co_await norvela::ControlClient::request(show, 5s);
        if (!result.ok())
            std::fprintf(stderr, "Norvela: the running instance did not answer: %s\n",
                         qPrintable(result.error));
        QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
    };
    auto task = ask();
    return QApplication::exec();
}

} // namespace

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
    QGuiApplication::setDesktopFileName(QStringLiteral("app.norvela.Norvela"));
    QApplication::setQuitOnLastWindowClosed(false); // a tray app lives on without windows

    // One Norvela per user, taken before any engine starts.
    auto lock = norvela::InstanceLock::acquire();
    if (const auto* held = std::get_if<norvela::InstanceLock::Held>(&lock))
        return showRunningInstance(app, held->pid);
    if (const auto* error = std::get_if<QString>(&lock)) {
        std::fprintf(stderr, "Norvela: %s\n", qPrintable(*error));
        return 1;
    }

    // Every window's colours follow the desktop; NORVELA_APPEARANCE=dark|light overrides it.
    const QByteArray forcedAppearance = qgetenv("NORVELA_APPEARANCE");
    norvela::AppearanceWatcher appearance({.forcedDark = forcedAppearance == "dark"    ? std::optional(true)
                                                         : forcedAppearance == "light" ? std::optional(false)
                                                                                       : std::nullopt});
    norvela::Theme& theme = norvela::Theme::instance();
    theme.setDark(appearance.isDark());
    QObject::connect(&appearance, &norvela::AppearanceWatcher::darkChanged, &theme, &norvela::Theme::setDark);

    norvela::SettingsStore settings;
    norvela::AppModel model(settings, norvela::standardEngines(), norvela::DesktopServices::system());
    norvela::UpdaterService updater(norvela::ServiceEndpoints::configured().updateFeed, settings,
                                    norvela::Clock::system(), QStringLiteral(NORVELA_VERSION));
    updater.startAutomaticChecks();
    model.setUpdater(&updater);
    norvela::TrayIcon tray(model);
    norvela::WindowPresenter windows(model);
    QObject::connect(&tray, &norvela::TrayIcon::panelRequested, &windows,
                     &norvela::WindowPresenter::togglePanel);
    QObject::connect(&windows, &norvela::WindowPresenter::panelHidden, &tray,
                     &norvela::TrayIcon::panelHidden);
    QObject::connect(&tray, &norvela::TrayIcon::preferencesRequested, &windows,
                     &norvela::WindowPresenter::showSettings);
    norvela::AppControl control(model);
    QObject::connect(&control, &norvela::AppControl::showRequested, &windows,
                     &norvela::WindowPresenter::presentPanel);
    norvela::ControlServer server(
        [&control](QJsonObject request) { return control.handle(std::move(request)); });
    if (QString error; !server.listen(&error))
        std::fprintf(stderr, "Norvela: the command-line tool cannot reach this instance: %s\n",
                     qPrintable(error));
    if (!norvela::DevelopmentHooks::fromEnvironment().apply(model))
        model.maybeShowOnboarding();
    return QApplication::exec();
}
