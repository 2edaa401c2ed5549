#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

namespace norvela {

// Watches one folder tree and reports changed paths. Runs on a thread of its own; the
// callback is called on that thread, so callers hop to their own thread. A burst of events
// is coalesced: the first after a quiet spell is reported at once, the rest within the next
// 0.5 s in one later call. When the platform drops events or cannot watch everything, the
// callback still fires (with the root) so the caller reconciles in full. Destroying the
// watcher stops it; the callback is never called after the destructor returns.
class FolderWatcher {
public:
    using OnChange = std::function<void(const QStringList& paths)>;

    struct Options {
        // Most directory watches this watcher may hold; 0 leaves it to the system. Lets tests
        // act out a low fs.inotify.max_user_watches without touching the real limit.
        int watchLimit = 0;
        // While some directories go unwatched, the root is reported this often so the caller
        // still reconciles everything.
        std::chrono::milliseconds limitedReconcileInterval = std::chrono::seconds(30);
    };

    FolderWatcher(QString path, OnChange onChange);
    FolderWatcher(QString path, OnChange onChange, Options options);
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    // Starts watching; a watcher that cannot start stays inert and reports nothing.
    void start();
    bool isRunning() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace norvela
