#pragma once

#include "FileStamp.h"

#include <QString>

#include <memory>
#include <optional>
#include <variant>

namespace norvela {

// A regular file below a sync root, opened without following a symbolic link at any
// component below the root, and without blocking on FIFOs or devices. Uploads read from
// this descriptor, so what goes up is the file that was checked, even if the path is
// swapped for a link afterwards. The status is taken before the first byte is read.
class LocalFile {
public:
    // The opened file, or why it cannot be uploaded ("is a symbolic link", "is not a regular
    // file", or the system's reason such as "No such file or directory").
    static std::variant<std::shared_ptr<const LocalFile>, QString> open(const QString& root,
                                                                        const QString& relativePath);

    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    ~LocalFile();

    int descriptor() const { return m_fd; }
    const QString& path() const { return m_path; } // for messages only; never reopened
    // The status when the file was opened.
    const FileStamp& stamp() const { return m_stamp; }
    qint64 size() const { return m_stamp.size; }

    // Up to `length` bytes from `offset` (a short count only at the end of the file); -1 on
    // a read error, with errno set.
    qint64 read(qint64 offset, char* into, qint64 length) const;
    // The status now, through the same descriptor; none when it cannot be read.
    std::optional<FileStamp> stampNow() const;
    // Whether the file was written to (or truncated) since it was opened.
    bool changedSinceOpen() const { return stampNow() != std::optional(m_stamp); }

private:
    LocalFile(int fd, QString path, FileStamp stamp);

    int m_fd;
    QString m_path;
    FileStamp m_stamp;
};

} // namespace norvela
