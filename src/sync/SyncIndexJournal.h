#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace norvela {

// The changes made to a sync index since its file was last written whole: one line per
// change in "<index file>.journal", each appended with a single write and no fsync, so that
// recording a change costs the same however large the index. While the whole file is being
// written on another thread, the journal that write covers waits as
// "<index file>.journal.folding" and new changes start a new journal.
class SyncIndexJournal {
public:
    explicit SyncIndexJournal(QString indexFile) : m_indexFile(std::move(indexFile)) {}
    // A copy opens the file for itself when it first appends.
    SyncIndexJournal(const SyncIndexJournal& other) : m_indexFile(other.m_indexFile) {}
    SyncIndexJournal& operator=(const SyncIndexJournal& other);
    ~SyncIndexJournal() { close(); }

    QString currentPath() const { return m_indexFile + QStringLiteral(".journal"); }
    QString foldingPath() const { return m_indexFile + QStringLiteral(".journal.folding"); }
    // Both, in the order their changes were made.
    QStringList paths() const { return {foldingPath(), currentPath()}; }

    // The complete lines of the journal at `path`: a last one without its newline (cut
    // short by a crash, or still being written by another process) is left out.
    static QList<QByteArray> readLines(const QString& path);

    // Appends `line` (one without a newline) in one write, creating the file (owner-only)
    // if need be. False when not all of it reached the file.
    bool append(QByteArray line);
    void close();
    // Renames the current journal to the folding one, unless an earlier write of the whole
    // file failed and left one there (which then covers both).
    void rotate();

private:
    QString m_indexFile;
    int m_fd = -1;
    // The file may end in a partial line: the next append starts on a line of its own.
    bool m_cut = false;
};

} // namespace norvela
