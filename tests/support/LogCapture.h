#pragma once

#include <QStringList>
#include <QtGlobal>

#include <mutex>

namespace norvela::test {

// Collects the lines logged through Qt's message handler (systemLog echoes there), from any
// thread, while it lives.
class LogCapture {
public:
    LogCapture() {
        std::lock_guard lock(s_mutex);
        s_lines.clear();
        m_previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& line) {
            std::lock_guard guard(s_mutex);
            s_lines.append(line);
        });
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    int count(const QString& part) const {
        std::lock_guard lock(s_mutex);
        return int(s_lines.filter(part).size());
    }

private:
    inline static std::mutex s_mutex;
    inline static QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace norvela::test
