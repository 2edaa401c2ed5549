#pragma once

#include <QEventLoop>
#include <QProcess>
#include <QString>

#include <QCoro/QCoroTask>

#include <exception>
#include <optional>
#include <vector>

namespace norvela {
class CloudProvider;
}

namespace norvela::bench {

// Runs `task` to its end on a nested event loop and hands back its value, or rethrows.
template <typename T> T runTask(QCoro::Task<T> task) {
    QEventLoop loop;
    std::optional<T> value;
    std::exception_ptr failure;
    bool done = false;
    auto wait = [&]() -> QCoro::Task<> {
        try {
            T result = co_await std::move(task);
            value.emplace(std::move(result));
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    QCoro::Task<> waiting = wait();
    if (!done)
        loop.exec();
    if (failure)
        std::rethrow_exception(failure);
    return std::move(*value);
}

void runTask(QCoro::Task<> task);

// The emulator in a process of its own, so that serving never shares a thread (or a core's
// scheduling quantum) with the client being measured. Stopped when this goes.
class EmulatorProcess {
public:
    EmulatorProcess() = default;
    ~EmulatorProcess();
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    // Starts it on a free loopback port, keeping what it stores in `stateDir`; false with
    // `error` set when it did not come up.
    bool start(const QString& stateDir, QString* error);
    QString baseUrl() const { return m_baseUrl; }
    // Peak resident memory of the emulator so far (or since the last reset), in KiB.
    qint64 peakResidentKb() const;
    // Starts the peak over from the memory it holds now; false where the kernel won't.
    bool resetPeakResident() const;
    // CPU seconds (user and system) the emulator has used so far.
    double cpuSeconds() const;

private:
    QProcess m_process;
    QString m_baseUrl;
};

// Links `provider` against the emulator its endpoints point at, answering the authorisation
// page the way a browser would. Throws what the link threw.
void linkThroughEmulator(CloudProvider& provider);

// VmHWM of this process (or of `pid`), in KiB; -1 when unreadable.
qint64 peakResidentKb(qint64 pid = 0);

// Writes `size` pseudo-random bytes; different seeds give different contents.
void writeRandomFile(const QString& path, qint64 size, quint64 seed);
// Reads the file once so that every timed run starts from the page cache.
void warmPageCache(const QString& path);

double median(std::vector<double> values);

} // namespace norvela::bench
