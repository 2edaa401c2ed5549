#pragma once

#include <QString>

#include <optional>
#include <sys/types.h>
#include <variant>

namespace norvela {

// At most one Norvela per user uploads: the tray app and `norvela sync` take this lock before
// any engine starts and keep it for the life of the process. It is an flock on
// "<runtime directory>/instance.lock", so it dies with its holder, however that ends.
class InstanceLock {
public:
    // Someone else holds the lock; pid is 0 when the file did not say who.
    struct Held {
        pid_t pid = 0;
    };

    // The lock, who holds it, or why neither could be found out.
    static std::variant<InstanceLock, Held, QString> acquire();

    // Who holds the lock now, without taking it; nullopt when nobody does.
    static std::optional<pid_t> holder();

    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock(); // releases the lock

private:
    explicit InstanceLock(int fd) : m_fd(fd) {}

    int m_fd = -1;
};

} // namespace norvela
