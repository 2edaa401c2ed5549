#include "DriveQuery.h"

#include <vector>

namespace cloudsim {

struct DriveQuery::Node {
    enum class Kind { all, any, negate, term };
    enum class Field { name, mimeType, trashed, parents };
    enum class Op { equal, notEqual, contains, in };

    Kind kind = Kind::term;
    std::vector<std::shared_ptr<const Node>> children;
    Field field = Field::name;
    Op op = Op::equal;
    QString text;
    bool flag = false;
};

namespace {

struct Token {
    enum class Kind { word, string, op, open, close, end, bad };
    Kind kind = Kind::end;
    QString text;
};

std::vector<Token> tokenize(const QString& s) {
    std::vector<Token> tokens;
    qsizetype i = 0;
    auto bad = [&] {
        tokens.push_back({Token::Kind::bad, {}});
        return tokens;
    };
    while (i < s.size()) {
        const QChar c = s.at(i);
        if (c.isSpace()) {
            ++i;
        } else if (c == QLatin1Char('(') || c == QLatin1Char(')')) {
            tokens.push_back({c == QLatin1Char('(') ? Token::Kind::open : Token::Kind::close, {}});
            ++i;
        } else if (c == QLatin1Char('\'')) {
            QString value;
            ++i;
            for (;;) {
                if (i >= s.size())
                    return bad(); // unterminated
                const QChar d = s.at(i++);
                if (d == QLatin1Char('\'')) {
                    break;
                } else if (d == QLatin1Char('\\')) {
                    if (i >= s.size() || (s.at(i) != QLatin1Char('\'') && s.at(i) != QLatin1Char('\\')))
                        return bad();
                    value += s.at(i++);
                } else {
                    value += d;
                }
            }
            tokens.push_back({Token::Kind::string, value});
        } else if (c == QLatin1Char('=') || c == QLatin1Char('<') || c == QLatin1Char('>') ||
                   c == QLatin1Char('!')) {
            QString op(c);
            ++i;
            if (i < s.size() && s.at(i) == QLatin1Char('=')) {
                op += QLatin1Char('=');
                ++i;
            }
            if (op == QLatin1String("!"))
                return bad();
            tokens.push_back({Token::Kind::op, op});
        } else if (c.isLetterOrNumber() || c == QLatin1Char('_')) {
            const qsizetype start = i;
            while (i < s.size() && (s.at(i).isLetterOrNumber() || s.at(i) == QLatin1Char('_')))
                ++i;
            tokens.push_back({Token::Kind::word, s.mid(start, i - start)});
        } else {
            return bad();
        }
    }
    tokens.push_back({Token::Kind::end, {}});
    return tokens;
}

} // namespace

// Recursive descent: or binds loosest, then and, then not.
class DriveQueryParser {
public:
    using Node = DriveQuery::Node;
    using Ptr = std::shared_ptr<const Node>;

    explicit DriveQueryParser(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

    Ptr parse() {
        Ptr root = disjunction();
        return root && peek().kind == Token::Kind::end ? root : nullptr;
    }

private:
    const Token& peek() const { return m_tokens[m_at]; }
    Token take() { return m_tokens[m_at < m_tokens.size() - 1 ? m_at++ : m_at]; }
    bool keyword(const char* word) const {
        return peek().kind == Token::Kind::word &&
               peek().text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }

    Ptr joined(Node::Kind kind, const char* word, Ptr (DriveQueryParser::*operand)()) {
        Ptr first = (this->*operand)();
        if (!first || !keyword(word))
            return first;
        auto node = std::make_shared<Node>();
        node->kind = kind;
        node->children.push_back(first);
        while (keyword(word)) {
            take();
            Ptr next = (this->*operand)();
            if (!next)
                return nullptr;
            node->children.push_back(next);
        }
        return node;
    }

    Ptr disjunction() { return joined(Node::Kind::any, "or", &DriveQueryParser::conjunction); }
    Ptr conjunction() { return joined(Node::Kind::all, "and", &DriveQueryParser::unary); }

    Ptr unary() {
        if (keyword("not")) {
            take();
            Ptr inner = unary();
            if (!inner)
                return nullptr;
            auto node = std::make_shared<Node>();
            node->kind = Node::Kind::negate;
            node->children.push_back(inner);
            return node;
        }
        if (peek().kind == Token::Kind::open) {
            take();
            Ptr inner = disjunction();
            if (!inner || take().kind != Token::Kind::close)
                return nullptr;
            return inner;
        }
        return term();
    }

    Ptr term() {
        auto node = std::make_shared<Node>();
        const Token first = take();
        if (first.kind == Token::Kind::string) { // '<id>' in parents
            if (!keyword("in"))
                return nullptr;
            take();
            const Token field = take();
            if (field.kind != Token::Kind::word || field.text != QLatin1String("parents"))
                return nullptr;
            node->field = Node::Field::parents;
            node->op = Node::Op::in;
            node->text = first.text;
            return node;
        }
        if (first.kind != Token::Kind::word)
            return nullptr;
        if (first.text == QLatin1String("name"))
            node->field = Node::Field::name;
        else if (first.text == QLatin1String("mimeType"))
            node->field = Node::Field::mimeType;
        else if (first.text == QLatin1String("trashed"))
            node->field = Node::Field::trashed;
        else
            return nullptr;

        const bool isText = node->field != Node::Field::trashed;
        if (keyword("contains") && isText) {
            take();
            node->op = Node::Op::contains;
        } else if (peek().kind == Token::Kind::op &&
                   (peek().text == QLatin1String("=") || peek().text == QLatin1String("!="))) {
            node->op = take().text == QLatin1String("=") ? Node::Op::equal : Node::Op::notEqual;
        } else {
            return nullptr;
        }

        const Token value = take();
        if (isText) {
            if (value.kind != Token::Kind::string)
                return nullptr;
            node->text = value.text;
        } else {
            if (value.kind != Token::Kind::word)
                return nullptr;
            if (value.text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
                node->flag = true;
            else if (value.text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
                node->flag = false;
            else
                return nullptr;
        }
        return node;
    }

    std::vector<Token> m_tokens;
    size_t m_at = 0;
};

std::optional<DriveQuery> DriveQuery::parse(const QString& text) {
    DriveQuery query;
    if (text.trimmed().isEmpty())
        return query;
    std::vector<Token> tokens = tokenize(text);
    if (tokens.back().kind == Token::Kind::bad)
        return std::nullopt;
    query.m_root = DriveQueryParser(std::move(tokens)).parse();
    if (!query.m_root)
        return std::nullopt;
    return query;
}

namespace {

bool evaluate(const DriveQuery::Node& node, const DriveFile& file, bool trashed, const QString& rootId) {
    using N = DriveQuery::Node;
    switch (node.kind) {
    case N::Kind::all:
        for (const auto& child : node.children)
            if (!evaluate(*child, file, trashed, rootId))
                return false;
        return true;
    case N::Kind::any:
        for (const auto& child : node.children)
            if (evaluate(*child, file, trashed, rootId))
                return true;
        return false;
    case N::Kind::negate:
        return !evaluate(*node.children.front(), file, trashed, rootId);
    case N::Kind::term:
        break;
    }
    switch (node.field) {
    case N::Field::parents:
        return file.parents.contains(node.text == QLatin1String("root") ? rootId : node.text);
    case N::Field::trashed:
        return (trashed == node.flag) == (node.op == N::Op::equal);
    case N::Field::name:
    case N::Field::mimeType:
        break;
    }
    const QString& value = node.field == N::Field::name ? file.name : file.mimeType;
    switch (node.op) {
    case N::Op::equal:
        return value == node.text;
    case N::Op::notEqual:
        return value != node.text;
    case N::Op::contains:
        return value.contains(node.text, Qt::CaseInsensitive);
    case N::Op::in:
        break;
    }
    return false;
}

} // namespace

bool DriveQuery::matches(const DriveFile& file, bool trashed, const QString& rootId) const {
    return !m_root || evaluate(*m_root, file, trashed, rootId);
}

} // namespace cloudsim
