#include "SyncIndexJournal.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvela {

SyncIndexJournal& SyncIndexJournal::operator=(const SyncIndexJournal& other) {
    if (this != &other) {
        close();
        m_indexFile = other.m_indexFile;
    }
    return *this;
}

QList<QByteArray> SyncIndexJournal::readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    bytes.truncate(bytes.lastIndexOf('\n') + 1);
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast(); // what follows the last newline: nothing, or a line cut short
    return lines;
}

bool SyncIndexJournal::append(QByteArray line) {
    if (m_fd < 0) {
        m_fd = ::open(QFile::encodeName(currentPath()).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC,
                      0600);
        if (m_fd < 0)
            return false;
        struct stat info {};
        char last = '\n';
        m_cut = ::fstat(m_fd, &info) == 0 && info.st_size > 0 &&
                ::pread(m_fd, &last, 1, info.st_size - 1) == 1 && last != '\n';
    }
    if (m_cut)
        line.prepend('\n');
    line.append('\n');
    ssize_t written;
    do
        written = ::write(m_fd, line.constData(), size_t(line.size()));
    while (written < 0 && errno == EINTR);
    m_cut = written != line.size();
    return !m_cut;
}

void SyncIndexJournal::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void SyncIndexJournal::rotate() {
    close();
    const QByteArray current = QFile::encodeName(currentPath());
    const QByteArray folding = QFile::encodeName(foldingPath());
    struct stat info {};
    if (::stat(folding.constData(), &info) != 0 && ::stat(current.constData(), &info) == 0)
        std::rename(current.constData(), folding.constData());
}

} // namespace norvela
