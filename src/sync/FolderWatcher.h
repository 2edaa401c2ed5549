#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

namespace norvela {

// Watches one folder tree and reports changed paths. Runs on a thread of its own; the
// callbacks are called on that thread, so callers hop to their own thread. A burst of events
// is coalesced: the first after a quiet spell is reported at once, the rest within the next
// 0.5 s in one later call. When the platform drops events or loses the root, the callback
// fires with the root, so the caller reconciles in full. Destroying the watcher stops it;
// no callback is called after the destructor returns.
class FolderWatcher {
public:
    using OnChange = std::function<void(const QStringList& paths)>;

    // What the owner must act on beyond reconciling, each said once per watcher.
    enum class Alert {
        stopped,    // the root was deleted, moved or unmounted (or events stopped coming): a new
                    // watcher is needed to hear anything more
        watchLimit, // some folders go unwatched: `message` names the system limit and how to raise it
    };
    using OnAlert = std::function<void(Alert alert, const QString& message)>;

    struct Options {
        // Most directory watches this watcher may hold; 0 leaves it to the system. Lets tests
        // act out a low fs.inotify.max_user_watches without touching the real limit.
        int watchLimit = 0;
        OnAlert onAlert;
    };

    FolderWatcher(QString path, OnChange onChange);
    FolderWatcher(QString path, OnChange onChange, Options options);
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    // Starts watching; a watcher that cannot start stays inert and reports nothing.
    void start();
    bool isRunning() const;
    // Acts as if the system had dropped events, as a full event queue does: the root is
    // reported and new directories are looked for. For tests; a real overflow needs the
    // watcher's thread held up while the queue fills.
    void simulateOverflow();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace norvela
