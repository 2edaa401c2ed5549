#include "sync/MignoreRules.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

using namespace norvela;

namespace {

// The query as a walk from the top asks it: directory by directory, then the entry itself.
bool ignoredOnTheWay(const MignoreRules& rules, const QString& path, bool isDirectory) {
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return false; // a walk never asks about its top
    QBitArray matched;
    QString prefix;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        prefix += (prefix.isEmpty() ? QString() : QStringLiteral("/")) + parts[i];
        matched = rules.directoryMatches(matched, prefix);
    }
    const QString full = parts.join(u'/');
    if (isDirectory)
        return rules.ignores(rules.directoryMatches(matched, full));
    return rules.isFileIgnored(matched, full);
}

// The query exactly as written for the rules: every rule, every candidate, through its expression.
bool referenceIgnored(const MignoreRules& rules, const QString& path, bool isDirectory) {
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    bool ignored = false;
    for (const MignoreRules::Rule& rule : rules.rules()) {
        const qsizetype limit = parts.size() - (rule.dirOnly && !isDirectory ? 1 : 0);
        for (qsizetype k = 0; k < limit; ++k) {
            const QString subject = rule.anchored ? parts.first(k + 1).join(u'/') : parts[k];
            if (rule.regex.match(subject).hasMatch()) {
                ignored = !rule.negated;
                break;
            }
        }
    }
    return ignored;
}

} // namespace

TEST(MignoreRules, DecidesPathsByTheLastMatchingRule) {
    struct Case {
        QStringList patterns;
        QStringList ignored, kept; // a path ending in "/" is asked about as a directory
    };
    const Case cases[] = {
        {{"node_modules/"}, {"node_modules/", "a/node_modules/x.js"}, {"node_modules", "a/node_modules"}},
        {{"*.tmp"}, {"x.tmp", "a/b/x.tmp", "cache.tmp/", "cache.tmp/inner.txt"}, {"x.tmp.txt"}},
        {{"/build"}, {"build", "build/out.o"}, {"src/build/out.o"}},
        {{"**/*.log"}, {"a.log", "x/y/a.log"}, {"x/y/a.txt"}},
        {{"docs/*.md"}, {"docs/a.md"}, {"docs/sub/a.md", "x/docs/a.md"}},
        {{"a/**/z"}, {"a/z", "a/b/c/z"}, {"az"}},
        {{"*.log", "!keep.log"}, {"other.log"}, {"keep.log", "a/keep.log"}},
        {{"!keep.log", "*.log"}, {"keep.log"}, {}},
        // The answer for build/keep.txt alone; a scan never gets there, as build/ is not entered.
        {{"build/", "!build/keep.txt"}, {"build/other.txt"}, {"build/keep.txt"}},
        {{"a?c"}, {"abc", QString::fromUtf8("a😀c")}, {"a/c"}},
        {{"file[1].txt", "a+b(c)|d$^{2}\\"}, {"file[1].txt", "a+b(c)|d$^{2}\\"}, {"file1.txt"}},
        {{"Photos"}, {"Photos/x.jpg"}, {"photos/x.jpg"}},
        {{"  *.bak\t", "#*.txt"}, {"x.bak"}, {"#x.txt"}},
        {{"*", "!#x"}, {"y"}, {"#x"}},
        {{"foo//"}, {}, {"foo/"}}, // the second "/" stays, and no single name holds one
        {{"*.txt"}, {"/a//b.txt"}, {"/"}},
    };
    for (const Case& c : cases) {
        const MignoreRules rules(c.patterns);
        for (const QStringList* paths : {&c.ignored, &c.kept}) {
            for (QString path : *paths) {
                SCOPED_TRACE(c.patterns.join(" | ").toStdString() + " on " + path.toStdString());
                const bool isDirectory = path.endsWith(u'/');
                if (isDirectory)
                    path.chop(1);
                EXPECT_EQ(rules.isIgnored(path, isDirectory), paths == &c.ignored);
                EXPECT_EQ(ignoredOnTheWay(rules, path, isDirectory), paths == &c.ignored);
            }
        }
    }
}

TEST(MignoreRules, ParsesMarkersOfOneLine) {
    for (const QString line : {"", " \t ", "!", "/", "!/", "  # note", "#*.bak"})
        EXPECT_FALSE(MignoreRules::parse(line)) << line.toStdString();
    struct Case {
        QString line, glob;
        bool negated = false, dirOnly = false, anchored = false;
    };
    const Case cases[] = {{"*.tmp", "*.tmp"},
                          {QString::fromUtf8("\u00a0x\u3000"), "x"},
                          {"!#x", "#x", true},
                          {"node_modules/", "node_modules", false, true, false},
                          {"/build", "build", false, false, true},
                          {"docs/*.md", "docs/*.md", false, false, true},
                          {"!/a/b/", "a/b", true, true, true},
                          {"foo//", "foo/", false, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        const auto rule = MignoreRules::parse(c.line);
        ASSERT_TRUE(rule);
        EXPECT_EQ(rule->glob, c.glob);
        EXPECT_EQ(std::tuple(rule->negated, rule->dirOnly, rule->anchored),
                  std::tuple(c.negated, c.dirOnly, c.anchored));
    }
}

TEST(MignoreRules, TranslatesGlobs) {
    const std::pair<QString, QString> cases[] = {{"**/", "(?:.*/)?"},
                                                 {"a**", "a.*"},
                                                 {"***", ".*"},
                                                 {"a*****/*?*", "a.*/[^/]*[^/][^/]*"},
                                                 {"*?", "[^/]*[^/]"},
                                                 {"file[1].txt", "file\\[1\\]\\.txt"},
                                                 {".()|+^${}[]\\", "\\.\\(\\)\\|\\+\\^\\$\\{\\}\\[\\]\\\\"},
                                                 {"a-b,c d#", "a-b,c d#"}};
    for (const auto& [glob, regex] : cases)
        EXPECT_EQ(MignoreRules::globToRegex(glob), regex) << glob.toStdString();
}

TEST(MignoreRules, SplitsAtEveryLineBreakAndStartsEmpty) {
    EXPECT_EQ(MignoreRules::splitLines("a\r\nb"), QStringList({"a", "", "b"}));
    const char16_t breaks[] = {u'\n', u'\r', 0x0B, 0x0C, 0x85, 0x2028, 0x2029};
    for (char16_t c : breaks)
        EXPECT_EQ(MignoreRules::splitLines(QStringLiteral("x") + QChar(c) + "y"), QStringList({"x", "y"}));

    // The text a new folder starts with explains the format and keeps nothing out.
    EXPECT_TRUE(MignoreRules(MignoreRules::splitLines(MignoreRules::starterText())).rules().isEmpty());
}

// Every glob escapes to a valid expression; only text that is not UTF-16 fails to compile.
TEST(MignoreRules, DropsALineWhoseExpressionDoesNotCompile) {
    const MignoreRules rules({"*.tmp", QStringLiteral("bad") + QChar(0xD800), "!keep.tmp"});
    ASSERT_EQ(rules.rules().size(), 2);
    EXPECT_TRUE(rules.isIgnored("x.tmp", false));
    EXPECT_FALSE(rules.isIgnored("keep.tmp", false));
}

// An unreadable .mignore is an answer of its own, never "no rules": the caller holds the
// folder rather than upload what the file may have kept out.
TEST(MignoreRules, ReadsTheTopFileAndSaysWhyWhenItCannot) {
    QTemporaryDir root, outside;
    const QString file = root.filePath(".mignore");
    auto rulesOf = [&] { return std::get<MignoreRules>(MignoreRules::fromRoot(root.path())); };
    auto problem = [&] {
        const auto read = MignoreRules::fromRoot(root.path());
        return std::holds_alternative<QString>(read) ? std::get<QString>(read) : QStringLiteral("<read>");
    };
    EXPECT_TRUE(rulesOf().rules().isEmpty()); // none there: nothing to keep out

    test::writeFile(file, "*.tmp\r\n  /build  \xe2\x80\xa8# note\xc2\x85node_modules/");
    ASSERT_EQ(rulesOf().rules().size(), 3);
    EXPECT_TRUE(rulesOf().isIgnored("a/node_modules/x.js", false));

    // A byte that is not UTF-8 spoils its own line only.
    test::writeFile(file, "private/\n\xff\n*.tmp\n\xc3");
    const MignoreRules decoded = rulesOf();
    EXPECT_TRUE(decoded.isIgnored("private/plan.txt", false));
    EXPECT_TRUE(decoded.isIgnored("x.tmp", false));
    EXPECT_FALSE(decoded.isIgnored("plan.txt", false));

    test::writeFile(file, QByteArray(MignoreRules::maxFileSize, '#'));
    EXPECT_TRUE(rulesOf().rules().isEmpty());
    test::writeFile(file, QByteArray(MignoreRules::maxFileSize + 1, '#'));
    EXPECT_EQ(problem(), "is larger than 1 MiB");

    // A link is refused wherever it leads; a FIFO is refused without waiting for a writer.
    QFile::remove(file);
    test::writeFile(outside.filePath("rules"), "*.tmp\n");
    ASSERT_TRUE(QFile::link(outside.filePath("rules"), file));
    EXPECT_EQ(problem(), "is a symbolic link");
    QFile::remove(file);
    ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0644), 0);
    EXPECT_EQ(problem(), "is not a regular file");
    QFile::remove(file);
    ASSERT_TRUE(QDir(root.path()).mkdir(".mignore"));
    EXPECT_EQ(problem(), "is not a regular file");
    QDir(root.path()).rmdir(".mignore");

    if (::geteuid() != 0) { // permissions do not stop root
        test::writeFile(file, "*.tmp\n");
        QFile(file).setPermissions(QFileDevice::WriteOwner);
        EXPECT_EQ(problem(), QString::fromLocal8Bit(std::strerror(EACCES)));
    }
}

// Long patterns never run on the expression engine, which backtracks: a line of many stars
// made a single name take minutes (found by fuzzing).
TEST(MignoreRules, LongPatternsAreMatchedWithoutBacktracking) {
    const QString stars(140, u'*');
    const MignoreRules rules({stars + "/*.s/", "*.tmp"});
    ASSERT_EQ(rules.rules().size(), 2);
    const QString longName = QString(200, u'n') + ".js"; // has the ".", the "s" and no ".s"
    for (const QString& prefix : {QString(), longName + "/"}) {
        SCOPED_TRACE(prefix.size());
        EXPECT_TRUE(rules.isIgnored(prefix + "x/y.s/file", false)); // below a folder ending in ".s"
        EXPECT_TRUE(rules.isIgnored(prefix + "y.s", true));
        EXPECT_FALSE(rules.isIgnored(prefix + "y.s", false)); // a file: the rule names folders
        EXPECT_FALSE(rules.isIgnored(prefix + longName + "/" + longName, false));
        EXPECT_TRUE(rules.isIgnored(prefix + longName + ".tmp", false));
        EXPECT_EQ(ignoredOnTheWay(rules, prefix + "x/y.s/file", false), true);
        EXPECT_EQ(ignoredOnTheWay(rules, prefix + longName + "/" + longName, false), false);
    }

    // Where backtracking gives up early (its step limit) an expression finds no match at all.
    const MignoreRules spread({QString("*a").repeated(40) + "*b"});
    EXPECT_TRUE(spread.isIgnored(QString(300, u'a') + "b", false));
    EXPECT_FALSE(spread.isIgnored(QString(300, u'a'), false));

    // Long patterns without runs of stars, where the expression answers quickly, agree with it.
    QString letters;
    for (char c = 'a'; c <= 'z'; ++c)
        letters += QString(QChar(c)) + "?";
    letters += letters; // more than 63 states between the first and the last wildcard
    const MignoreRules spelled({letters + "*", "!" + letters + "keep"});
    const QString filled = QString(letters).replace(u'?', u'_');
    for (const QString& path :
         {filled, filled + "keep", "x/" + filled + "z9", filled.left(60), letters + "x"}) {
        SCOPED_TRACE(path.toStdString());
        const bool expected = referenceIgnored(spelled, path, false);
        EXPECT_EQ(spelled.isIgnored(path, false), expected);
        EXPECT_EQ(ignoredOnTheWay(spelled, path, false), expected);
    }
    EXPECT_TRUE(spelled.isIgnored(filled, false));
    EXPECT_FALSE(spelled.isIgnored(filled + "keep", false));
}

// The fast matchers and the walk's shortcut must answer as the expressions do.
TEST(MignoreRules, AgreesWithTheExpressionsOnRandomRulesAndPaths) {
    std::mt19937 random(20240611);
    const auto pick = [&](const QStringList& from) { return from[int(random() % from.size())]; };
    const QStringList globParts{"a", "b", ".", "*", "**", "?", "/", "**/", "[", "😀"};
    const QStringList nameParts{"a", "b", ".", "ab", "b.a", "😀", "\n", "é"};
    for (int round = 0; round < 400; ++round) {
        QStringList patterns;
        for (int p = int(random() % 4) + 1; p > 0; --p) {
            QString glob = random() % 4 == 0 ? QStringLiteral("!") : QString();
            for (int n = int(random() % 6) + 1; n > 0; --n)
                glob += pick(globParts);
            patterns << glob;
        }
        const MignoreRules rules(patterns);
        for (int q = 0; q < 12; ++q) {
            QStringList names;
            for (int depth = int(random() % 4) + 1; depth > 0; --depth) {
                QString name;
                for (int n = int(random() % 3) + 1; n > 0; --n)
                    name += pick(nameParts);
                names << name;
            }
            const QString path = names.join(u'/');
            const bool isDirectory = random() % 2;
            SCOPED_TRACE(patterns.join(" | ").toStdString() + " on " + path.toStdString());
            const bool expected = referenceIgnored(rules, path, isDirectory);
            ASSERT_EQ(rules.isIgnored(path, isDirectory), expected);
            ASSERT_EQ(ignoredOnTheWay(rules, path, isDirectory), expected);
        }
    }
}
