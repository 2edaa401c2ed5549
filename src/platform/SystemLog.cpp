#include "SystemLog.h"

#include <QDebug>

#include <mutex>
#include <syslog.h>

namespace norvela {

void systemLog(const QString& line) {
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog("Norvela", LOG_PID, LOG_USER); });
    const QByteArray utf8 = line.toUtf8();
    ::syslog(LOG_NOTICE, "%s", utf8.constData());
    qInfo().noquote() << line;
}

} // namespace norvela
