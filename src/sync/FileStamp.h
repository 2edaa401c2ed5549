#pragma once

#include <QtGlobal>

#include <sys/stat.h>

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

    bool operator==(const FileStamp&) const = default;
};

} // namespace norvela
