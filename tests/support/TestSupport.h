#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>

#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace norvela::test {

// Spins the event loop until `condition` holds or `timeout` passes; returns the condition.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Lets queued events (deferred deletes, queued wake-ups) run.
void processEvents();

void writeFile(const QString& path, const QByteArray& data);
QByteArray readFile(const QString& path);
// The permission bits of `path` itself (a link is not followed); -1 when it is missing.
int fileMode(const QString& path);

// While it lives, no file of this process may grow beyond `bytes` (writes past it fail with
// EFBIG): a write failure that even root meets, unlike permissions.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    qint64 m_previous;
    void (*m_previousHandler)(int);
};

// Drives a coroutine to completion from a plain test body; rethrows what it threw.
template <typename T>
T await(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    std::optional<T> result;
    std::exception_ptr error;
    bool done = false;
    auto runner = [&]() -> QCoro::Task<> {
        try {
            result.emplace(co_await std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    };
    auto running = runner();
    if (!waitFor([&] { return done; }, timeout))
        qFatal("coroutine did not finish in time"); // its frame still points into this one
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

void await(QCoro::Task<> task, std::chrono::milliseconds timeout = std::chrono::seconds(30));

} // namespace norvela::test
