#pragma once

#include <QBitArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>
#include <variant>

namespace norvela {

// The compiled `.mignore` of a synced folder: gitignore-style patterns, the last matching
// rule deciding. A plain value, built afresh for every scan.
class MignoreRules {
public:
    struct Rule {
        QRegularExpression regex; // "^(?:" + glob + ")$", case-sensitive
        bool negated = false;     // "!pattern": a match un-ignores
        bool dirOnly = false;     // "pattern/": matches directories only
        bool anchored = false;    // matched against paths from the top, not single names
        QString glob;             // the pattern once its markers are removed
    };

    MignoreRules() = default;
    explicit MignoreRules(const QStringList& patterns);
    // Largest `.mignore` read; a bigger one is refused rather than cut short.
    static constexpr qint64 maxFileSize = 1024 * 1024;

    // The rules of `rootPath`/.mignore (none when there is no such file), or why the file is
    // there but cannot be read: a symbolic link, not a regular file, over maxFileSize, or the
    // system's reason. Bytes that are not UTF-8 read as U+FFFD; every other line still counts.
    static std::variant<MignoreRules, QString> fromRoot(const QString& rootPath);
    // The text fromRoot reads: none when there is no such file, or why it cannot be read.
    static std::variant<std::optional<QString>, QString> readFile(const QString& rootPath);

    static std::optional<Rule> parse(const QString& line);
    static QString globToRegex(const QString& glob);
    // Splits at every newline character (LF, CR, U+0085, U+2028, U+2029, VT, FF).
    static QStringList splitLines(const QString& text);
    // The seven comment lines the editor starts from.
    static const QString& starterText();

    bool isIgnored(const QString& relativePath, bool isDirectory) const;
    const QList<Rule>& rules() const { return m_rules; }

    // For walks from the top, which test every directory on the way down: the rules that
    // match the directory `directoryPath` or one above it, given that set for its parent
    // (empty for the top). Each entry is then tested by its own name (or path) only.
    QBitArray directoryMatches(const QBitArray& parentMatches, QStringView directoryPath) const;
    // Whether a directory whose `directoryMatches` are `matches` is ignored.
    bool ignores(const QBitArray& matched) const;
    // isIgnored(filePath, false) for a file in the directory whose matches are `parentMatches`.
    bool isFileIgnored(const QBitArray& parentMatches, QStringView filePath) const;
    // The index of the rule that decides ignores() or isFileIgnored() (a negated one when
    // it brings the path back), or -1 when no rule matches.
    qsizetype decidingRule(const QBitArray& matched) const;
    qsizetype decidingFileRule(const QBitArray& parentMatches, QStringView filePath) const;

private:
    struct Matcher;
    bool matches(qsizetype rule, QStringView subject, bool plain) const;

    QList<Rule> m_rules;
    // Backtracking-free equivalents of the rules' expressions, index for index; the expressions
    // still judge names with line breaks or lone surrogates, where they differ.
    std::shared_ptr<const std::vector<Matcher>> m_matchers;
};

} // namespace norvela
