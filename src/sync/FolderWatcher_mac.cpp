#include "FolderWatcher.h"

#include <QFile>

#include <CoreServices/CoreServices.h>
#include <dispatch/dispatch.h>

namespace norvela {

namespace {
// Marks the watcher's own queue, so a watcher destroyed from its callback does not wait on itself.
char queueKey;
} // namespace

class FolderWatcher::Impl {
public:
    Impl(QString path, OnChange onChange)
        : m_path(std::move(path)), m_onChange(std::make_shared<const OnChange>(std::move(onChange))),
          m_queue(dispatch_queue_create("app.norvela.folderwatcher", DISPATCH_QUEUE_SERIAL)) {
        dispatch_queue_set_specific(m_queue, &queueKey, this, nullptr);
    }

    ~Impl() {
        if (m_stream) {
            // The stream holds a pointer to this object without retaining it: it must go first.
            FSEventStreamStop(m_stream);
            FSEventStreamInvalidate(m_stream);
            FSEventStreamRelease(m_stream);
            // A callback may be under way on the queue; let it finish so none runs after this returns.
            if (dispatch_get_specific(&queueKey) != this)
                dispatch_sync_f(m_queue, nullptr, [](void*) {});
        }
        dispatch_release(m_queue);
    }

    void start() {
        if (m_stream)
            return;
        CFStringRef path = CFStringCreateWithFileSystemRepresentation(kCFAllocatorDefault,
                                                                      QFile::encodeName(m_path).constData());
        if (!path)
            return;
        const void* values[] = {path};
        CFArrayRef paths = CFArrayCreate(kCFAllocatorDefault, values, 1, &kCFTypeArrayCallBacks);
        CFRelease(path);
        if (!paths)
            return;
        FSEventStreamContext context{};
        context.info = this;
        FSEventStreamRef stream = FSEventStreamCreate(
            kCFAllocatorDefault, &Impl::deliver, &context, paths, kFSEventStreamEventIdSinceNow, 0.5,
            kFSEventStreamCreateFlagNoDefer | kFSEventStreamCreateFlagFileEvents);
        CFRelease(paths);
        if (!stream)
            return;
        FSEventStreamSetDispatchQueue(stream, m_queue);
        if (!FSEventStreamStart(stream)) {
            FSEventStreamInvalidate(stream);
            FSEventStreamRelease(stream);
            return;
        }
        m_stream = stream;
    }

    bool isRunning() const { return m_stream != nullptr; }

    void simulateOverflow() {
        if (!m_stream)
            return;
        struct Call {
            std::shared_ptr<const OnChange> onChange;
            QString root;
        };
        // Queued behind any delivery under way; the destructor's drain of the queue covers it.
        dispatch_async_f(m_queue, new Call{m_onChange, m_path}, [](void* context) {
            const std::unique_ptr<Call> call(static_cast<Call*>(context));
            (*call->onChange)(QStringList{call->root});
        });
    }

private:
    static void deliver(ConstFSEventStreamRef, void* info, size_t count, void* eventPaths,
                        const FSEventStreamEventFlags*, const FSEventStreamEventId*) {
        const auto* self = static_cast<const Impl*>(info);
        if (!self)
            return;
        const auto* const* cPaths = static_cast<const char* const*>(eventPaths);
        QStringList paths;
        paths.reserve(static_cast<qsizetype>(count));
        for (size_t i = 0; i < count; ++i)
            paths.append(QFile::decodeName(cPaths[i]));
        // Held for the call: the callback may destroy the watcher that owns it.
        const auto onChange = self->m_onChange;
        (*onChange)(paths);
    }

    const QString m_path;
    const std::shared_ptr<const OnChange> m_onChange;
    dispatch_queue_t m_queue;
    FSEventStreamRef m_stream = nullptr;
};

FolderWatcher::FolderWatcher(QString path, OnChange onChange)
    : m_impl(std::make_unique<Impl>(std::move(path), std::move(onChange))) {}

// FSEvents needs no watch per directory, so there is no limit to act out and nothing to alert.
FolderWatcher::FolderWatcher(QString path, OnChange onChange, Options)
    : FolderWatcher(std::move(path), std::move(onChange)) {}

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
