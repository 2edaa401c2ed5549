// bench_dropdown [--opens N]
// The app's models, tray icon and window presenter with no account linked (so the
// demonstration engine runs), offscreen with the software renderer. In one run:
//  1. from the tray's panelRequested to the dropdown's first frame, the median of N opens
//     (default 20; the first, which makes the panel, is also shown alone), against a bare
//     Qt Quick window of one rectangle shown and drawn the same way (ratio);
//  2. the resident memory of a separate process before the panel was ever shown, and after
//     it was shown once and closed.
#include "app/TrayIcon.h"
#include "app/WindowPresenter.h"
#include "common/SettingsStore.h"
#include "engines/StandardEngines.h"
#include "models/AppModel.h"
#include "platform/DesktopServices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QQmlComponent>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtQml/QQmlExtensionPlugin>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

Q_IMPORT_QML_PLUGIN(NorvelaPlugin)

using namespace norvela;

namespace {

void spinFor(qint64 ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool spinUntil(const std::function<bool()>& done, qint64 timeoutMs = 10'000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double residentMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Notes the first frame any Qt Quick window draws after `arm()`. Windows are caught as they
// are exposed, so a window made by the open being timed is caught too.
class FrameWatch : public QObject {
public:
    FrameWatch() { qApp->installEventFilter(this); }
    void arm() {
        m_swapped = false;
        m_clock.start();
    }
    bool swapped() const { return m_swapped; }
    double elapsedMs() const { return m_elapsedMs; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose || event->type() == QEvent::Show)
            if (auto* window = qobject_cast<QQuickWindow*>(watched))
                connect(window, &QQuickWindow::frameSwapped, this, &FrameWatch::frame, Qt::UniqueConnection);
        return false;
    }

private:
    void frame() {
        if (m_swapped)
            return;
        m_elapsedMs = m_clock.nsecsElapsed() / 1e6;
        m_swapped = true;
    }

    QElapsedTimer m_clock;
    bool m_swapped = false;
    double m_elapsedMs = 0;
};

// The app as main.cpp wires it, in a private support folder.
struct Rig {
    Rig() : settings(dir.filePath(QStringLiteral("settings.json"))) {
        QObject::connect(&tray, &TrayIcon::panelRequested, &windows, &WindowPresenter::togglePanel);
    }
    static QTemporaryDir& supportDir() {
        static QTemporaryDir dir;
        qputenv("NORVELA_APP_SUPPORT_DIR", dir.path().toUtf8());
        return dir;
    }
    QTemporaryDir& dir = supportDir();
    SettingsStore settings;
    AppModel model{settings, standardEngines(), DesktopServices::system()};
    TrayIcon tray{model};
    WindowPresenter windows{model};
};

// Times `open` up to the first frame, `opens` times, closing with `close` in between.
std::vector<double> timeOpens(int opens, FrameWatch& watch, const std::function<void()>& open,
                              const std::function<void()>& close) {
    std::vector<double> ms;
    for (int i = 0; i < opens; ++i) {
        watch.arm();
        open();
        if (!spinUntil([&] { return watch.swapped(); })) {
            std::fprintf(stderr, "no frame was drawn\n");
            std::exit(1);
        }
        ms.push_back(watch.elapsedMs());
        close();
        spinFor(50);
    }
    return ms;
}

int memoryChild() {
    Rig rig;
    FrameWatch watch;
    spinFor(1500); // the engine's start and the first status
    const double before = residentMb();
    timeOpens(
        1, watch, [&] { Q_EMIT rig.tray.panelRequested(QRect(), QPoint()); },
        [&] { rig.windows.hidePanel(); });
    spinFor(1500);
    std::printf("%.1f %.1f\n", before, residentMb());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--memory-child")))
        return memoryChild();
    int opens = 20;
    if (const int i = int(args.indexOf(QStringLiteral("--opens"))); i > 0 && i + 1 < args.size())
        opens = std::max(1, args[i + 1].toInt());

    FrameWatch watch;
    std::vector<double> panelMs, bareMs;
    {
        Rig rig;
        spinFor(1000);
        panelMs = timeOpens(
            opens, watch, [&] { Q_EMIT rig.tray.panelRequested(QRect(), QPoint()); },
            [&] { rig.windows.hidePanel(); });

        // The same steps for a window of one rectangle, made in the same engine.
        std::unique_ptr<QQuickWindow> bare;
        bareMs = timeOpens(
            opens, watch,
            [&] {
                if (!bare) {
                    QQmlComponent component(&rig.windows.engine());
                    component.setData("import QtQuick\nWindow { width: 340; height: 400\n"
                                      "Rectangle { anchors.fill: parent; color: \"white\" } }",
                                      QUrl(QStringLiteral("qrc:/bench/Bare.qml")));
                    bare.reset(qobject_cast<QQuickWindow*>(component.create()));
                }
                bare->show();
            },
            [&] { bare->hide(); });
    }
    const double panel = median(panelMs), bareWindow = median(bareMs);
    std::printf("tray request to the panel's first frame, median of %d opens: %.1f ms (target <= 150: %s)\n",
                opens, panel, panel <= 150 ? "met" : "MISSED");
    std::printf("  first open, making the panel: %.1f ms; a bare one-rectangle window: first %.1f ms, median "
                "%.1f ms; ratio panel/bare: first %.2f, median %.2f\n",
                panelMs.front(), bareMs.front(), bareWindow, panelMs.front() / bareMs.front(),
                panel / bareWindow);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--memory-child")});
    child.waitForFinished(60'000);
    const QList<QByteArray> mb = child.readAllStandardOutput().trimmed().split(' ');
    if (mb.size() != 2) {
        std::fprintf(stderr, "the memory child failed: %s\n", child.readAllStandardError().constData());
        return 1;
    }
    const double before = mb[0].toDouble(), after = mb[1].toDouble();
    std::printf(
        "resident memory: %.1f MB before the panel, %.1f MB after showing and closing it once: +%.1f MB "
        "(target <= 40: %s)\n",
        before, after, after - before, after - before <= 40 ? "met" : "MISSED");
    return 0;
}
