#include "DriveQuery.h"

namespace cloudsim {

namespace {

// Reads the expression a token at a time; any error leaves it failed.
class Reader {
public:
    explicit Reader(const QString& text) : m_s(text) {}

    bool atEnd() {
        skipSpace();
        return m_at >= m_s.size();
    }
    bool failed() const { return m_failed; }

    // A bare word: letters, digits and underscores.
    QString word() {
        skipSpace();
        const qsizetype start = m_at;
        while (m_at < m_s.size() && (m_s.at(m_at).isLetterOrNumber() || m_s.at(m_at) == QLatin1Char('_')))
            ++m_at;
        if (m_at == start)
            m_failed = true;
        return m_s.mid(start, m_at - start);
    }
    bool expect(QLatin1String text) {
        skipSpace();
        if (!m_s.mid(m_at).startsWith(text))
            return fail();
        m_at += text.size();
        return true;
    }
    bool nextIsString() {
        skipSpace();
        return m_at < m_s.size() && m_s.at(m_at) == QLatin1Char('\'');
    }
    QString string() {
        QString value;
        if (!expect(QLatin1String("'")))
            return value;
        for (;;) {
            if (m_at >= m_s.size()) {
                fail(); // unterminated
                return value;
            }
            const QChar c = m_s.at(m_at++);
            if (c == QLatin1Char('\''))
                return value;
            if (c == QLatin1Char('\\')) {
                if (m_at >= m_s.size() ||
                    (m_s.at(m_at) != QLatin1Char('\'') && m_s.at(m_at) != QLatin1Char('\\'))) {
                    fail();
                    return value;
                }
                value += m_s.at(m_at++);
            } else {
                value += c;
            }
        }
    }
    bool fail() {
        m_failed = true;
        return false;
    }

private:
    void skipSpace() {
        while (m_at < m_s.size() && m_s.at(m_at).isSpace())
            ++m_at;
    }

    const QString& m_s;
    qsizetype m_at = 0;
    bool m_failed = false;
};

} // namespace

std::optional<DriveQuery> DriveQuery::parse(const QString& text) {
    DriveQuery query;
    Reader in(text);
    if (in.atEnd())
        return query;
    for (;;) {
        Term term;
        if (in.nextIsString()) { // '<id>' in parents
            term.field = Term::Field::parents;
            term.text = in.string();
            if (in.word() != QLatin1String("in") || in.word() != QLatin1String("parents"))
                return std::nullopt;
        } else {
            const QString field = in.word();
            in.expect(QLatin1String("="));
            if (field == QLatin1String("trashed")) {
                term.field = Term::Field::trashed;
                const QString value = in.word();
                if (value != QLatin1String("true") && value != QLatin1String("false"))
                    return std::nullopt;
                term.flag = value == QLatin1String("true");
            } else if (field == QLatin1String("name") || field == QLatin1String("mimeType")) {
                term.field = field == QLatin1String("name") ? Term::Field::name : Term::Field::mimeType;
                term.text = in.string();
            } else {
                return std::nullopt;
            }
        }
        if (in.failed())
            return std::nullopt;
        query.m_terms.append(term);
        if (in.atEnd())
            return query;
        if (in.word() != QLatin1String("and"))
            return std::nullopt;
    }
}

bool DriveQuery::matches(const DriveFile& file, bool trashed, const QString& rootId) const {
    for (const Term& term : m_terms) {
        switch (term.field) {
        case Term::Field::name:
            if (file.name != term.text)
                return false;
            break;
        case Term::Field::mimeType:
            if (file.mimeType != term.text)
                return false;
            break;
        case Term::Field::parents:
            if (!file.parents.contains(term.text == QLatin1String("root") ? rootId : term.text))
                return false;
            break;
        case Term::Field::trashed:
            if (trashed != term.flag)
                return false;
            break;
        }
    }
    return true;
}

} // namespace cloudsim
