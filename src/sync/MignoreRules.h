#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

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
    };

    MignoreRules() = default;
    explicit MignoreRules(const QStringList& patterns);
    // Reads `rootPath`/.mignore as UTF-8; missing, unreadable or not UTF-8 gives no rules.
    static MignoreRules fromRoot(const QString& rootPath);

    static std::optional<Rule> parse(const QString& line);
    static QString globToRegex(const QString& glob);
    // Splits at every newline character (LF, CR, U+0085, U+2028, U+2029, VT, FF).
    static QStringList splitLines(const QString& text);
    // The seven comment lines the editor starts from.
    static const QString& starterText();

    bool isIgnored(const QString& relativePath, bool isDirectory) const;
    const QList<Rule>& rules() const { return m_rules; }

private:
    QList<Rule> m_rules;
};

} // namespace norvela
