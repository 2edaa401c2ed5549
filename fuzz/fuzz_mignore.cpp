// A .mignore text, then optionally a NUL byte and the paths to judge, one per line (after a
// second NUL: UTF-16LE, so lone surrogates can occur). Every path is judged three ways that
// must agree: isIgnored() on the allocation-free matchers, the same rules decided with their
// regular expressions alone, and the walk from the top that folder scans use.
#include "FuzzSupport.h"
#include "sync/MignoreRules.h"

#include <QBitArray>

#include <cstring>

using namespace norvela;

namespace {

const QStringList samplePaths{QStringLiteral("a"),
                              QStringLiteral("a/b"),
                              QStringLiteral("build/out.o"),
                              QStringLiteral("src/build/x"),
                              QStringLiteral("notes.tmp"),
                              QStringLiteral("logs/2024/app.log"),
                              QStringLiteral("keep.log"),
                              QStringLiteral(".hidden/file"),
                              QStringLiteral("node_modules/p/i.js"),
                              QString::fromUtf8("caf\u00e9/\u2603 snow.txt")};

// The regular expressions do backtrack: keep the subjects and wildcard runs where a
// comparison finishes quickly.
bool cheapToCompare(const MignoreRules& rules, const QString& path) {
    if (path.size() > 64)
        return false;
    for (const MignoreRules::Rule& rule : rules.rules())
        if (rule.glob.count(QLatin1Char('*')) + rule.glob.count(QLatin1Char('?')) > 6)
            return false;
    return true;
}

bool decidedByExpressions(const MignoreRules& rules, const QStringList& parts, bool isDirectory) {
    for (qsizetype r = rules.rules().size() - 1; r >= 0; --r) {
        const MignoreRules::Rule& rule = rules.rules()[r];
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i == parts.size() - 1 && rule.dirOnly && !isDirectory)
                continue;
            const QString subject = rule.anchored ? parts.first(i + 1).join(QLatin1Char('/')) : parts[i];
            if (rule.regex.match(subject).hasMatch())
                return !rule.negated;
        }
    }
    return false;
}

void judge(const MignoreRules& rules, const QString& path) {
    const QStringList all = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QStringList parts = all.mid(0, 12);
    if (parts.isEmpty())
        return;
    const QString normalized = parts.join(QLatin1Char('/'));
    const bool asFile = rules.isIgnored(normalized, false);
    const bool asDirectory = rules.isIgnored(normalized, true);
    if (all.size() == parts.size() && rules.isIgnored(path, false) != asFile)
        fuzz::broken("empty path components changed the verdict");
    if (cheapToCompare(rules, normalized) && (decidedByExpressions(rules, parts, false) != asFile ||
                                              decidedByExpressions(rules, parts, true) != asDirectory))
        fuzz::broken("the fast matchers and the expressions disagree");

    QBitArray matches;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i)
        matches = rules.directoryMatches(matches, parts.first(i + 1).join(QLatin1Char('/')));
    if (rules.isFileIgnored(matches, normalized) != asFile)
        fuzz::broken("the walk and isIgnored disagree on a file");
    if (rules.ignores(rules.directoryMatches(matches, normalized)) != asDirectory)
        fuzz::broken("the walk and isIgnored disagree on a directory");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzz::bytes(data, size);
    const qsizetype split = input.indexOf('\0');
    const QString text = QString::fromUtf8(split < 0 ? input : input.left(split));
    const MignoreRules rules(MignoreRules::splitLines(text));

    QStringList paths = samplePaths;
    if (split >= 0) {
        const QByteArray rest = input.mid(split + 1);
        const qsizetype wide = rest.indexOf('\0');
        paths = QString::fromUtf8(wide < 0 ? rest : rest.left(wide)).split(QLatin1Char('\n'));
        if (wide >= 0) {
            const QByteArray units = rest.mid(wide + 1);
            QString wideText(units.size() / 2, Qt::Uninitialized);
            std::memcpy(wideText.data(), units.constData(), size_t(wideText.size()) * 2);
            paths += wideText.split(QLatin1Char('\n'));
        }
    }
    for (const QString& path : std::as_const(paths).mid(0, 32))
        judge(rules, path);
    return 0;
}
