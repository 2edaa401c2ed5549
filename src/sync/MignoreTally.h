#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace norvela {

// What a set of `.mignore` lines would do to a folder: how many of its files would sync, and
// how many each line keeps out. A file counts for the one rule that decides its exclusion —
// the rule that prunes its topmost ignored folder, else the last rule matching the file — so
// the lines' counts add up to the files that don't sync.
struct MignoreTally {
    qsizetype syncing = 0;
    // Per line; -1 for lines that can keep nothing out: comments, blanks, "!" lines and lines
    // that yield no rule.
    QList<qsizetype> keptOut;

    // Walks `root` once (as FolderScanner does, every folder entered); synchronous.
    static MignoreTally count(const QString& root, const QStringList& lines);
};

} // namespace norvela
