#include "FolderWatcher.h"

#include "platform/SystemLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <future>
#include <map>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvela {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kCoalesceWindow = std::chrono::milliseconds(500);

// Everything that changes what a later scan would see. IN_EXCL_UNLINK keeps events for files
// that are already unlinked but still open from flooding the queue.
constexpr uint32_t kDirectoryEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                      IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                      IN_EXCL_UNLINK;

// Hidden entries never sync, so their changes need no reconcile; only the root's ignore file
// matters (editing it can lift a large-folder hold).
bool isHidden(const char* name) {
    return name[0] == '.';
}
bool isRootIgnoreFile(const char* name) {
    return std::strcmp(name, ".mignore") == 0;
}

// The value of an inotify sysctl ("max_user_watches"), or 0 when it cannot be read.
int systemLimit(const char* name) {
    QFile file(QStringLiteral("/proc/sys/fs/inotify/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}

// State shared by start() (which sets it up before the thread exists) and the watcher thread
// (which owns it from then on). Kept alive by the thread itself, so a watcher destroyed from
// inside its own callback can let the thread wind down on its own.
class WatchSession {
public:
    WatchSession(QString root, FolderWatcher::OnChange onChange, FolderWatcher::Options options)
        : m_root(std::move(root)), m_onChange(std::move(onChange)), m_options(options) {}

    ~WatchSession() {
        if (m_inotifyFd >= 0)
            ::close(m_inotifyFd);
        if (m_wakeFd >= 0)
            ::close(m_wakeFd);
    }

    // Adds the watches for the whole tree; false leaves the watcher inert.
    bool open() {
        struct stat info {};
        if (::stat(QFile::encodeName(m_root).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
            return false;
        m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_wakeFd < 0)
            return false;
        m_inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotifyFd < 0) {
            // Out of inotify instances: nothing can be watched; the owner's full checks still work.
            noteLimited("max_user_instances", 0);
            return true;
        }
        m_rootWatch = addWatch(m_root, true);
        if (m_rootWatch < 0)
            return m_limited; // unreadable root: inert; out of watches: periodic reconciles
        walk(m_root, false);
        return true;
    }

    void requestStop() {
        m_stopping = true;
        wake();
    }

    void requestOverflow() {
        m_overflowRequested = true;
        wake();
    }

    void run() {
        while (!m_stopping) {
            flushAlerts();
            pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_inotifyFd, POLLIN, 0}};
            const nfds_t count = m_inotifyFd >= 0 ? 2 : 1;
            const int ready = ::poll(fds, count, pollTimeout());
            if (m_stopping)
                break;
            if (ready < 0 && errno != EINTR)
                break; // a broken poll would only spin
            if (fds[0].revents & POLLIN) {
                uint64_t wakes = 0;
                [[maybe_unused]] const auto read = ::read(m_wakeFd, &wakes, sizeof wakes);
            }
            if (count == 2 && (fds[1].revents & POLLIN))
                drain();
            if (m_overflowRequested.exchange(false))
                overflowed();
            deliverIfDue(Clock::now());
        }
    }

private:
    void wake() {
        const uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
    }

    int addWatch(const QString& dir, bool isRoot) {
        const bool known = m_watchByDir.count(dir) != 0;
        if (!known && m_options.watchLimit > 0 &&
            static_cast<int>(m_dirByWatch.size()) >= m_options.watchLimit) {
            noteLimited("max_user_watches", m_options.watchLimit);
            return -1;
        }
        // The root itself may be a symbolic link to the synced folder; links below it are not followed.
        const uint32_t mask = kDirectoryEvents | (isRoot ? 0u : uint32_t(IN_DONT_FOLLOW));
        const int wd = ::inotify_add_watch(m_inotifyFd, QFile::encodeName(dir).constData(), mask);
        if (wd < 0) {
            if (errno == ENOSPC || errno == EMFILE || errno == ENOMEM)
                noteLimited("max_user_watches", 0);
            return -1;
        }
        // The kernel hands back the existing watch for a directory seen before under another
        // name (moved while events were lost): follow it to its new path.
        if (const auto old = m_dirByWatch.find(wd); old != m_dirByWatch.end() && old->second != dir)
            forgetPath(old->second, wd);
        m_dirByWatch[wd] = dir;
        m_watchByDir[dir] = wd;
        return wd;
    }

    void forgetPath(const QString& dir, int wd) {
        if (const auto it = m_watchByDir.find(dir); it != m_watchByDir.end() && it->second == wd)
            m_watchByDir.erase(it);
    }

    void forgetWatch(int wd) {
        if (const auto it = m_dirByWatch.find(wd); it != m_dirByWatch.end()) {
            forgetPath(it->second, wd);
            m_dirByWatch.erase(it);
        }
    }

    // A directory left the tree (or is about to reappear under another name): its watches and
    // those of everything below it now describe the wrong paths.
    void dropTree(const QString& dir) {
        std::vector<int> gone;
        if (const auto it = m_watchByDir.find(dir); it != m_watchByDir.end())
            gone.push_back(it->second);
        const QString prefix = dir + QLatin1Char('/');
        for (auto it = m_watchByDir.lower_bound(prefix);
             it != m_watchByDir.end() && it->first.startsWith(prefix); ++it)
            gone.push_back(it->second);
        for (const int wd : gone) {
            ::inotify_rm_watch(m_inotifyFd, wd);
            forgetWatch(wd);
        }
    }

    // Watches every visible directory below `top` (already watched itself) and, for a directory
    // that just appeared, reports what it holds: it may have filled before its watch existed.
    void walk(const QString& top, bool reportContents) {
        std::vector<QString> pendingDirs{top};
        while (!pendingDirs.empty()) {
            const QString dir = std::move(pendingDirs.back());
            pendingDirs.pop_back();
            const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (dir == m_root ? 0 : O_NOFOLLOW);
            const int fd = ::open(QFile::encodeName(dir).constData(), flags);
            if (fd < 0)
                continue;
            DIR* stream = ::fdopendir(fd);
            if (!stream) {
                ::close(fd);
                continue;
            }
            while (const dirent* entry = ::readdir(stream)) {
                if (isHidden(entry->d_name))
                    continue; // also skips "." and ".."
                bool isDirectory = entry->d_type == DT_DIR;
                if (entry->d_type == DT_UNKNOWN) {
                    struct stat info {};
                    isDirectory = ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                                  S_ISDIR(info.st_mode);
                }
                const QString path = dir + QLatin1Char('/') + QFile::decodeName(entry->d_name);
                if (reportContents)
                    report(path);
                if (isDirectory && addWatch(path, false) >= 0)
                    pendingDirs.push_back(path);
            }
            ::closedir(stream);
        }
    }

    void drain() {
        alignas(inotify_event) char buffer[64 * 1024];
        // Bounded, so a steady flood still lets due batches go out and a stop request through.
        for (int round = 0; round < 16 && !m_stopping; ++round) {
            const ssize_t length = ::read(m_inotifyFd, buffer, sizeof buffer);
            if (length < 0 && errno == EINTR)
                continue;
            if (length < 0 && errno == EAGAIN)
                return;
            if (length <= 0) {
                // The queue is unusable; stop listening to it rather than wake on it forever.
                ::close(m_inotifyFd);
                m_inotifyFd = -1;
                m_dirByWatch.clear();
                m_watchByDir.clear();
                rootLost(); // as good as lost: nothing more will be heard
                return;
            }
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                handle(*event);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    void handle(const inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            overflowed();
            return;
        }
        const auto known = m_dirByWatch.find(event.wd);
        if (known == m_dirByWatch.end())
            return; // a watch already dropped; its remaining events describe stale paths
        const QString dir = known->second;
        const bool onRoot = event.wd == m_rootWatch;
        if (event.mask & IN_IGNORED) {
            forgetWatch(event.wd);
            if (onRoot)
                rootLost();
            return;
        }
        if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
            if (onRoot)
                rootLost();
            return; // below the root, the parent's watch reports it by name
        }
        if (event.len == 0 || event.name[0] == '\0')
            return; // about the directory itself; its parent reports that by name too
        if (isHidden(event.name)) {
            if (onRoot && isRootIgnoreFile(event.name))
                report(dir + QLatin1Char('/') + QFile::decodeName(event.name));
            return;
        }
        const QString path = dir + QLatin1Char('/') + QFile::decodeName(event.name);
        report(path);
        if (!(event.mask & IN_ISDIR))
            return;
        if (event.mask & IN_MOVED_FROM)
            dropTree(path);
        if ((event.mask & (IN_CREATE | IN_MOVED_TO)) && addWatch(path, false) >= 0)
            walk(path, true);
    }

    void overflowed() {
        report(m_root);
        if (!m_overflowLogged) {
            m_overflowLogged = true;
            systemLog(QStringLiteral("Folder watching missed changes in \"%1\" (too many at once); "
                                     "checking the whole folder instead.")
                          .arg(m_root));
        }
        // Directories that appeared while events were lost have no watch yet.
        if (m_rootWatch >= 0 && !m_rootGone)
            walk(m_root, false);
    }

    void rootLost() {
        if (m_rootGone)
            return;
        m_rootGone = true;
        // Whatever is still watched now lies elsewhere or is going away; nothing more to hear.
        for (const auto& [wd, dir] : m_dirByWatch)
            ::inotify_rm_watch(m_inotifyFd, wd);
        m_dirByWatch.clear();
        m_watchByDir.clear();
        report(m_root);
        alert(FolderWatcher::Alert::stopped, QString());
    }

    // `limit` is the one in force when known (a test's), else the system's is read.
    void noteLimited(const char* name, int limit) {
        if (m_limited)
            return;
        m_limited = true;
        const QString sysctl = QStringLiteral("fs.inotify.") + QLatin1String(name);
        if (limit <= 0)
            limit = systemLimit(name);
        const int suggested = std::max(limit * 2, std::strcmp(name, "max_user_watches") == 0 ? 524288 : 1024);
        const QString message =
            QStringLiteral("Folder watching limited: %1 is %2, too few to watch every folder in \"%3\"; "
                           "changes in the folders left out are found only by the periodic full check. "
                           "To watch them all, raise the limit, for example: sudo sysctl %1=%4")
                .arg(sysctl, limit > 0 ? QString::number(limit) : QStringLiteral("unknown"), m_root)
                .arg(suggested);
        systemLog(message);
        alert(FolderWatcher::Alert::watchLimit, message);
    }

    // Raised while starting too, on the caller's thread: held for the watcher's own thread.
    void alert(FolderWatcher::Alert which, const QString& message) {
        if (m_options.onAlert)
            m_alerts.emplace_back(which, message);
    }

    void flushAlerts() {
        for (auto& [which, message] : std::exchange(m_alerts, {})) {
            if (!m_stopping)
                m_options.onAlert(which, message);
        }
    }

    void report(const QString& path) {
        if (!m_pendingSet.contains(path)) {
            m_pendingSet.insert(path);
            m_pending.append(path);
        }
    }

    // The first change after a quiet spell goes out at once; later ones wait for the end of
    // the window that the last delivery opened.
    void deliverIfDue(Clock::time_point now) {
        if (m_pending.isEmpty())
            return;
        if (!m_flushAt) {
            if (!m_lastDelivery || now - *m_lastDelivery >= kCoalesceWindow) {
                deliver(now);
                return;
            }
            m_flushAt = *m_lastDelivery + kCoalesceWindow;
        }
        if (now >= *m_flushAt)
            deliver(now);
    }

    void deliver(Clock::time_point now) {
        const QStringList paths = std::move(m_pending);
        m_pending.clear();
        m_pendingSet.clear();
        m_flushAt.reset();
        m_lastDelivery = now;
        if (!m_stopping)
            m_onChange(paths);
    }

    int pollTimeout() const {
        if (!m_flushAt)
            return -1;
        // Round up: waking a fraction early would find nothing due and go round again.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*m_flushAt - Clock::now()).count();
        return static_cast<int>(std::clamp<decltype(wait)>(wait, 0, INT_MAX));
    }

    const QString m_root;
    const FolderWatcher::OnChange m_onChange;
    const FolderWatcher::Options m_options;
    int m_inotifyFd = -1;
    int m_wakeFd = -1;
    std::atomic<bool> m_stopping{false};

    int m_rootWatch = -1;
    bool m_rootGone = false;
    bool m_limited = false;
    bool m_overflowLogged = false;
    std::atomic<bool> m_overflowRequested{false};
    std::vector<std::pair<FolderWatcher::Alert, QString>> m_alerts;
    std::unordered_map<int, QString> m_dirByWatch;
    std::map<QString, int> m_watchByDir;

    QStringList m_pending;
    QSet<QString> m_pendingSet;
    std::optional<Clock::time_point> m_lastDelivery;
    std::optional<Clock::time_point> m_flushAt;
};

} // namespace

class FolderWatcher::Impl {
public:
    Impl(QString path, OnChange onChange, Options options)
        : m_session(std::make_shared<WatchSession>(QDir::cleanPath(QFileInfo(path).absoluteFilePath()),
                                                   std::move(onChange), options)) {}

    ~Impl() {
        if (!m_thread.joinable())
            return;
        m_session->requestStop();
        // Destroyed from inside its own callback: joining would wait for itself. The thread
        // holds the session and leaves as soon as the callback returns.
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }

    void start() {
        if (m_started)
            return;
        m_started = true;
        if (!m_session->open())
            return;
        // The callback may destroy this watcher, so it must not run before m_thread holds
        // the thread: the new thread waits for the assignment below.
        std::promise<void> assigned;
        std::shared_future<void> go = assigned.get_future().share();
        m_thread = std::thread([session = m_session, go] {
            go.wait();
            session->run();
        });
        assigned.set_value();
    }

    bool isRunning() const { return m_thread.joinable(); }

    void simulateOverflow() {
        if (isRunning())
            m_session->requestOverflow();
    }

private:
    std::shared_ptr<WatchSession> m_session;
    std::thread m_thread;
    bool m_started = false;
};

FolderWatcher::FolderWatcher(QString path, OnChange onChange)
    : FolderWatcher(std::move(path), std::move(onChange), Options{}) {}

FolderWatcher::FolderWatcher(QString path, OnChange onChange, Options options)
    : m_impl(std::make_unique<Impl>(std::move(path), std::move(onChange), options)) {}

FolderWatcher::~FolderWatcher() = default;

void FolderWatcher::start() {
    m_impl->start();
}

bool FolderWatcher::isRunning() const {
    return m_impl->isRunning();
}

void FolderWatcher::simulateOverflow() {
    m_impl->simulateOverflow();
}

} // namespace norvela
