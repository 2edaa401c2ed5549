#pragma once

#include <QtGlobal>

#include <sys/stat.h>
#include <time.h>

namespace norvela {

// What tells one version of a file's content from the next, to the nanosecond the file
// system keeps: its size, its modification time and its inode change time (which moves
// even when a writer puts the old modification time back).
struct FileStamp {
    qint64 size = 0;
    qint64 mtimeNs = 0; // since the Unix epoch
    qint64 ctimeNs = 0;

    static FileStamp of(const struct stat& st) {
        return {qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
    }

    // The wall clock the file system stamps writes from, in nanoseconds since the Unix epoch.
    static qint64 wallClockNs() {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }

    // Whether any write after `takenAtNs` (the wall clock just before this stamp was taken)
    // is bound to change the stamp. File systems stamp writes from a coarse clock (a tick of
    // a few milliseconds, or whole seconds on some), so a write just after a file was last
    // changed may leave all three values as they were: such a stamp proves nothing yet.
    bool isSettledAt(qint64 takenAtNs) const {
        constexpr qint64 second = 1'000'000'000;
        const bool wholeSeconds = mtimeNs % second == 0 && ctimeNs % second == 0;
        return ctimeNs < takenAtNs - (wholeSeconds ? 2 * second : second);
    }

    bool operator==(const FileStamp&) const = default;
};

} // namespace norvela
