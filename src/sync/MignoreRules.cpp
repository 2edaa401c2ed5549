#include "MignoreRules.h"

#include <QFile>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QVarLengthArray>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvela {

namespace {

// Spaces (every space separator) and tabs; line breaks never reach here.
bool isBlank(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

bool isLineBreak(char16_t c) {
    return c == u'\n' || c == u'\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Whether the fast matchers agree with the expressions on `s`: "." and "$" treat line breaks
// specially, and a string with a lone surrogate is no text to the expression engine at all.
bool isPlain(QStringView s) {
    const char16_t* p = s.utf16();
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c >= 0x20 && c < 0x85)
            continue;
        if (isLineBreak(c))
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 == n || !QChar::isLowSurrogate(p[i + 1]))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

enum class GlobPart : quint8 { Literal, One, Star, Any, AnyDirs };

struct GlobToken {
    GlobPart part;
    char32_t literal = 0;
};

// A run of "*" and "**" is one wildcard: "**" if the run has one, else "*". Long runs cost
// the expression engine time exponential in their length, and the automaton a state each.
std::vector<GlobToken> tokenize(QStringView glob) {
    std::vector<GlobToken> tokens;
    tokens.reserve(size_t(glob.size()));
    const auto pushWildcard = [&tokens](GlobPart part) {
        if (!tokens.empty() &&
            (tokens.back().part == GlobPart::Star || tokens.back().part == GlobPart::Any)) {
            if (part == GlobPart::Any)
                tokens.back().part = GlobPart::Any;
            return;
        }
        tokens.push_back({part});
    };
    for (qsizetype i = 0; i < glob.size();) {
        const QChar c = glob[i];
        if (c == u'*' && i + 1 < glob.size() && glob[i + 1] == u'*') {
            const bool dirs = i + 2 < glob.size() && glob[i + 2] == u'/';
            if (dirs)
                tokens.push_back({GlobPart::AnyDirs});
            else
                pushWildcard(GlobPart::Any);
            i += dirs ? 3 : 2;
        } else if (c == u'*') {
            pushWildcard(GlobPart::Star);
            ++i;
        } else if (c == u'?') {
            tokens.push_back({GlobPart::One});
            ++i;
        } else if (c.isHighSurrogate() && i + 1 < glob.size() && glob[i + 1].isLowSurrogate()) {
            tokens.push_back({GlobPart::Literal, QChar::surrogateToUcs4(c, glob[i + 1])});
            i += 2;
        } else {
            tokens.push_back({GlobPart::Literal, c.unicode()});
            ++i;
        }
    }
    return tokens;
}

QString literalText(const std::vector<GlobToken>& tokens, size_t from, size_t to) {
    QString text;
    for (size_t i = from; i < to; ++i)
        text += QStringView(QChar::fromUcs4(tokens[i].literal));
    return text;
}

} // namespace

// A rule's expression, answered without backtracking: the literal text before the first and
// after the last wildcard is compared directly, and what lies between runs on an automaton
// with a bit per state (one 64-bit word of them for all but unusually long patterns).
struct MignoreRules::Matcher {
    enum class Middle : quint8 { Empty, Star, Any, Automaton };
    enum class Kind : quint8 { Literal, One, Star, Any, Split };
    struct State {
        Kind kind;
        char32_t literal = 0;
    };

    QString prefix, suffix;
    Middle middle = Middle::Empty;
    std::vector<State> states;     // the accepting state is states.size()
    size_t words = 1;              // per state set
    std::vector<quint64> closures; // per state, those reachable without reading a character

    static Matcher build(QStringView glob);
    bool match(QStringView subject, bool plain, const QRegularExpression& expression) const;
    bool run(QStringView text) const;
    const quint64* closure(size_t state) const { return closures.data() + state * words; }
};

MignoreRules::Matcher MignoreRules::Matcher::build(QStringView glob) {
    const std::vector<GlobToken> tokens = tokenize(glob);
    size_t first = 0;
    while (first < tokens.size() && tokens[first].part == GlobPart::Literal)
        ++first;
    size_t last = tokens.size();
    while (last > first && tokens[last - 1].part == GlobPart::Literal)
        --last;

    Matcher m;
    m.prefix = literalText(tokens, 0, first);
    m.suffix = literalText(tokens, last, tokens.size());
    if (first == last)
        return m;
    if (last - first == 1 && tokens[first].part == GlobPart::Star) {
        m.middle = Middle::Star;
        return m;
    }
    if (last - first == 1 && tokens[first].part == GlobPart::Any) {
        m.middle = Middle::Any;
        return m;
    }
    for (size_t i = first; i < last; ++i) {
        switch (tokens[i].part) {
        case GlobPart::Literal:
            m.states.push_back({Kind::Literal, tokens[i].literal});
            break;
        case GlobPart::One:
            m.states.push_back({Kind::One});
            break;
        case GlobPart::Star:
            m.states.push_back({Kind::Star});
            break;
        case GlobPart::Any:
            m.states.push_back({Kind::Any});
            break;
        case GlobPart::AnyDirs: // (?:.*/)? : skip all three, or any run then "/"
            m.states.push_back({Kind::Split});
            m.states.push_back({Kind::Any});
            m.states.push_back({Kind::Literal, U'/'});
            break;
        }
    }
    const size_t n = m.states.size();
    m.words = n / 64 + 1;
    m.closures.assign((n + 1) * m.words, 0);
    const auto include = [&m](size_t state, size_t from) {
        for (size_t w = 0; w < m.words; ++w)
            m.closures[state * m.words + w] |= m.closures[from * m.words + w];
    };
    for (size_t i = n + 1; i-- > 0;) {
        m.closures[i * m.words + i / 64] |= quint64(1) << (i % 64);
        const Kind kind = i < n ? m.states[i].kind : Kind::Literal;
        if (kind == Kind::Star || kind == Kind::Any || kind == Kind::Split)
            include(i, i + 1);
        if (kind == Kind::Split)
            include(i, i + 3);
    }
    m.middle = Middle::Automaton;
    return m;
}

bool MignoreRules::Matcher::match(QStringView subject, bool plain,
                                  const QRegularExpression& expression) const {
    if (!plain)
        return expression.match(subject).hasMatch();
    const qsizetype fixed = prefix.size() + suffix.size();
    if (subject.size() < fixed || !subject.startsWith(prefix) || !subject.endsWith(suffix))
        return false;
    const QStringView between = subject.sliced(prefix.size(), subject.size() - fixed);
    switch (middle) {
    case Middle::Empty:
        return between.isEmpty();
    case Middle::Star:
        return !between.contains(u'/');
    case Middle::Any:
        return true;
    case Middle::Automaton:
        return run(between);
    }
    return false;
}

bool MignoreRules::Matcher::run(QStringView text) const {
    const size_t acceptWord = states.size() / 64;
    const quint64 acceptBit = quint64(1) << (states.size() % 64);
    QVarLengthArray<quint64, 4> current(closure(0), closure(0) + words);
    QVarLengthArray<quint64, 4> next;
    next.resize(qsizetype(words));
    const char16_t* p = text.utf16();
    for (qsizetype i = 0, n = text.size(); i < n;) {
        char32_t c = p[i++];
        if (QChar::isHighSurrogate(c) && i < n) // `text` is plain: pairs are whole
            c = QChar::surrogateToUcs4(char16_t(c), p[i++]);
        std::fill(next.begin(), next.end(), 0);
        for (size_t w = 0; w < words; ++w) {
            for (quint64 live = current[w] & (w == acceptWord ? ~acceptBit : ~quint64(0)); live;
                 live &= live - 1) {
                const size_t s = w * 64 + size_t(std::countr_zero(live));
                const State& state = states[s];
                const quint64* reach = nullptr;
                switch (state.kind) {
                case Kind::Literal:
                    reach = c == state.literal ? closure(s + 1) : nullptr;
                    break;
                case Kind::One:
                    reach = c != U'/' ? closure(s + 1) : nullptr;
                    break;
                case Kind::Star:
                    reach = c != U'/' ? closure(s) : nullptr;
                    break;
                case Kind::Any:
                    reach = closure(s);
                    break;
                case Kind::Split:
                    break;
                }
                for (size_t v = 0; reach && v < words; ++v)
                    next[v] |= reach[v];
            }
        }
        if (std::all_of(next.begin(), next.end(), [](quint64 word) { return word == 0; }))
            return false;
        std::copy(next.begin(), next.end(), current.begin());
    }
    return current[acceptWord] & acceptBit;
}

MignoreRules::MignoreRules(const QStringList& patterns) {
    auto matchers = std::make_shared<std::vector<Matcher>>();
    for (const QString& line : patterns) {
        if (std::optional<Rule> rule = parse(line)) {
            matchers->push_back(Matcher::build(rule->glob));
            m_rules.append(std::move(*rule));
        }
    }
    m_matchers = std::move(matchers);
}

// Unreadable means "don't know what to keep out": the caller holds the folder rather than
// upload with no rules at all, and one bad byte costs only its own line, never the others.
std::variant<MignoreRules, QString> MignoreRules::fromRoot(const QString& rootPath) {
    auto read = readFile(rootPath);
    if (const QString* error = std::get_if<QString>(&read))
        return *error;
    const std::optional<QString>& text = std::get<std::optional<QString>>(read);
    return text ? MignoreRules(splitLines(*text)) : MignoreRules();
}

std::variant<std::optional<QString>, QString> MignoreRules::readFile(const QString& rootPath) {
    const QByteArray path = QFile::encodeName(rootPath + QStringLiteral("/.mignore"));
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::optional<QString>();
        return errno == ELOOP ? QStringLiteral("is a symbolic link")
                              : QString::fromLocal8Bit(std::strerror(errno));
    }
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("is not a regular file");
    const QString tooLarge = QStringLiteral("is larger than 1 MiB");
    if (info.st_size > maxFileSize)
        return tooLarge;
    QByteArray data(qsizetype(maxFileSize) + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < data.size()) {
        const ssize_t got = ::read(fd, data.data() + filled, size_t(data.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return QString::fromLocal8Bit(std::strerror(errno));
        if (got == 0)
            break;
        filled += got;
    }
    if (filled > maxFileSize) // grew while being read
        return tooLarge;
    data.truncate(filled);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    return std::optional<QString>(decoder.decode(data));
}

std::optional<MignoreRules::Rule> MignoreRules::parse(const QString& line) {
    qsizetype begin = 0, end = line.size();
    while (begin < end && isBlank(line[begin]))
        ++begin;
    while (end > begin && isBlank(line[end - 1]))
        --end;
    QStringView text = QStringView(line).sliced(begin, end - begin);
    if (text.isEmpty() || text.front() == u'#')
        return std::nullopt;

    Rule rule;
    if (text.front() == u'!') {
        rule.negated = true;
        text = text.sliced(1);
    }
    if (text.endsWith(u'/')) {
        rule.dirOnly = true;
        text.chop(1);
    }
    // A "/" counts unless it is the first character or a second trailing one.
    const qsizetype innerEnd = text.endsWith(u'/') ? text.size() - 1 : text.size();
    rule.anchored = text.startsWith(u'/') || (innerEnd > 1 && text.sliced(1, innerEnd - 1).contains(u'/'));
    if (text.startsWith(u'/'))
        text = text.sliced(1);
    if (text.isEmpty())
        return std::nullopt;

    rule.glob = text.toString();
    rule.regex = QRegularExpression(QStringLiteral("^(?:") + globToRegex(rule.glob) + QStringLiteral(")$"));
    if (!rule.regex.isValid())
        return std::nullopt;
    rule.regex.optimize();
    return rule;
}

QString MignoreRules::globToRegex(const QString& glob) {
    static const QString special = QStringLiteral(".()|+^${}[]\\");
    QString out;
    out.reserve(glob.size() * 2);
    for (const GlobToken& token : tokenize(glob)) {
        switch (token.part) {
        case GlobPart::Literal:
            if (token.literal < 0x80 && special.contains(QChar(char16_t(token.literal))))
                out += u'\\';
            out += QStringView(QChar::fromUcs4(token.literal));
            break;
        case GlobPart::One:
            out += QStringLiteral("[^/]");
            break;
        case GlobPart::Star:
            out += QStringLiteral("[^/]*");
            break;
        case GlobPart::Any:
            out += QStringLiteral(".*");
            break;
        case GlobPart::AnyDirs:
            out += QStringLiteral("(?:.*/)?");
            break;
        }
    }
    return out;
}

QStringList MignoreRules::splitLines(const QString& text) {
    static const QRegularExpression newline(
        QStringLiteral("[\\n\\r\\x{0B}\\x{0C}\\x{85}\\x{2028}\\x{2029}]"));
    return text.split(newline);
}

const QString& MignoreRules::starterText() {
    static const QString text =
        QStringLiteral("# Norvela ignore patterns (gitignore-style). Matching files won't sync.\n"
                       "# Examples:\n"
                       "#   node_modules/      exclude a folder anywhere\n"
                       "#   *.tmp              exclude by extension\n"
                       "#   /build             exclude only at the top level\n"
                       "#   **/*.log           exclude nested files by glob\n"
                       "#   !keep.log          re-include an otherwise-excluded file");
    return text;
}

bool MignoreRules::matches(qsizetype rule, QStringView subject, bool plain) const {
    return (*m_matchers)[size_t(rule)].match(subject, plain, m_rules[rule].regex);
}

bool MignoreRules::isIgnored(const QString& relativePath, bool isDirectory) const {
    if (m_rules.isEmpty())
        return false;
    QStringView path = relativePath;
    QString joined; // only for paths with empty components
    if (path.startsWith(u'/') || path.endsWith(u'/') || path.contains(u"//")) {
        joined = relativePath.split(u'/', Qt::SkipEmptyParts).join(u'/');
        path = joined;
    }
    if (path.isEmpty())
        return false;
    const bool plain = isPlain(path);
    const qsizetype lastStart = path.lastIndexOf(u'/') + 1;

    // From the last rule backwards: the first that matches is the one that decides.
    for (qsizetype r = m_rules.size() - 1; r >= 0; --r) {
        const Rule& rule = m_rules[r];
        bool hit = false;
        qsizetype start = 0;
        for (qsizetype slash = path.indexOf(u'/'); slash >= 0 && !hit; slash = path.indexOf(u'/', start)) {
            hit = matches(r, rule.anchored ? path.first(slash) : path.sliced(start, slash - start), plain);
            start = slash + 1;
        }
        if (!hit && (isDirectory || !rule.dirOnly))
            hit = matches(r, rule.anchored ? path : path.sliced(lastStart), plain);
        if (hit)
            return !rule.negated;
    }
    return false;
}

QBitArray MignoreRules::directoryMatches(const QBitArray& parentMatches, QStringView directoryPath) const {
    if (m_rules.isEmpty())
        return {};
    QBitArray result = parentMatches.size() == m_rules.size() ? parentMatches : QBitArray(m_rules.size());
    const bool plain = isPlain(directoryPath);
    const QStringView name = directoryPath.sliced(directoryPath.lastIndexOf(u'/') + 1);
    for (qsizetype r = 0; r < m_rules.size(); ++r) {
        if (!result.testBit(r) && matches(r, m_rules[r].anchored ? directoryPath : name, plain))
            result.setBit(r);
    }
    return result;
}

bool MignoreRules::ignores(const QBitArray& matched) const {
    const qsizetype r = decidingRule(matched);
    return r >= 0 && !m_rules[r].negated;
}

qsizetype MignoreRules::decidingRule(const QBitArray& matched) const {
    for (qsizetype r = qMin(matched.size(), m_rules.size()) - 1; r >= 0; --r) {
        if (matched.testBit(r))
            return r;
    }
    return -1;
}

bool MignoreRules::isFileIgnored(const QBitArray& parentMatches, QStringView filePath) const {
    const qsizetype r = decidingFileRule(parentMatches, filePath);
    return r >= 0 && !m_rules[r].negated;
}

qsizetype MignoreRules::decidingFileRule(const QBitArray& parentMatches, QStringView filePath) const {
    if (m_rules.isEmpty())
        return -1;
    const bool inherited = parentMatches.size() == m_rules.size();
    const bool plain = isPlain(filePath);
    const QStringView name = filePath.sliced(filePath.lastIndexOf(u'/') + 1);
    for (qsizetype r = m_rules.size() - 1; r >= 0; --r) {
        const Rule& rule = m_rules[r];
        if ((inherited && parentMatches.testBit(r)) ||
            (!rule.dirOnly && matches(r, rule.anchored ? filePath : name, plain)))
            return r;
    }
    return -1;
}

} // namespace norvela
