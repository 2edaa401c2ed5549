#pragma once

#include "TestSupport.h"

#include <QProcess>
#include <QString>

namespace norvela::test {

// A private session bus: no service files, so nothing is activated behind the test's back.
class PrivateBus {
public:
    bool start(const QString& dir) {
        const QString config = dir + QStringLiteral("/bus.conf");
        writeFile(config,
                  "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig><type>session</type><listen>unix:dir=" +
                      dir.toUtf8() +
                      "</listen><auth>EXTERNAL</auth>"
                      "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                      "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        m_daemon.setProgram(QStringLiteral("dbus-daemon"));
        m_daemon.setArguments({QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                               QStringLiteral("--print-address=1")});
        m_daemon.start();
        if (!m_daemon.waitForStarted())
            return false;
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {
        }
        address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        return !address.isEmpty();
    }
    ~PrivateBus() {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    QString address;

private:
    QProcess m_daemon;
};

} // namespace norvela::test
