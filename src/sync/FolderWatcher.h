#pragma once

#include <QString>
#include <QStringList>

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

    FolderWatcher(QString path, OnChange onChange);
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
