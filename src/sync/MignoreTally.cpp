#include "MignoreTally.h"

#include "FolderScanner.h"
#include "MignoreRules.h"

#include <QBitArray>
#include <QHash>

#include <optional>

namespace norvela {

namespace {

struct Folder {
    QBitArray matches;       // MignoreRules::directoryMatches of the folder
    qsizetype prunedBy = -1; // the rule that ignores this folder or one above it
};

// Folders met on the way down, each judged once as the scanner judges it.
class Folders {
public:
    explicit Folders(const MignoreRules& rules) : m_rules(rules) {}

    Folder of(const QString& path) {
        if (path.isEmpty())
            return {};
        if (const auto it = m_known.constFind(path); it != m_known.constEnd())
            return *it;
        const qsizetype slash = path.lastIndexOf(u'/');
        const Folder parent = of(slash < 0 ? QString() : path.first(slash));
        Folder folder;
        folder.matches = m_rules.directoryMatches(parent.matches, path);
        folder.prunedBy = parent.prunedBy >= 0              ? parent.prunedBy
                          : m_rules.ignores(folder.matches) ? m_rules.decidingRule(folder.matches)
                                                            : -1;
        m_known.insert(path, folder);
        return folder;
    }

private:
    const MignoreRules& m_rules;
    QHash<QString, Folder> m_known;
};

} // namespace

MignoreTally MignoreTally::count(const QString& root, const QStringList& lines) {
    MignoreTally tally;
    tally.keptOut.fill(-1, lines.size());
    QList<qsizetype> lineOfRule;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (const auto rule = MignoreRules::parse(lines[i])) {
            lineOfRule.append(i);
            if (!rule->negated)
                tally.keptOut[i] = 0;
        }
    }
    const MignoreRules rules(lines);
    Folders folders(rules);

    // Without rules the walk enters ignored folders too, so their files can be counted.
    std::optional<QString> lastFolderPath;
    Folder lastFolder;
    for (const ScannedFile& file : FolderScanner::scan(root, nullptr)) {
        const qsizetype slash = file.relativePath.lastIndexOf(u'/');
        const QString folderPath = slash < 0 ? QString() : file.relativePath.first(slash);
        if (folderPath != lastFolderPath) {
            lastFolder = folders.of(folderPath);
            lastFolderPath = folderPath;
        }
        qsizetype rule = lastFolder.prunedBy;
        if (rule < 0) {
            rule = rules.decidingFileRule(lastFolder.matches, file.relativePath);
            if (rule >= 0 && rules.rules()[rule].negated)
                rule = -1;
        }
        if (rule < 0)
            ++tally.syncing;
        else
            ++tally.keptOut[lineOfRule[rule]];
    }
    return tally;
}

} // namespace norvela
