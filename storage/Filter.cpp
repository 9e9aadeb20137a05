#include "storage/Filter.h"

#include "common/Error.h"
#include "storage/FileNames.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>

namespace talvira::storage {

namespace {

enum class Op { Eq, Ne, Lt, Le, Gt, Ge };

bool isNumber(const Value& v) {
    return v.kind() == Value::Kind::Integer || v.kind() == Value::Kind::Float;
}

}  // namespace

int compareValues(const Value& a, const Value& b) {
    if (a.isEmpty() || b.isEmpty()) return 2;
    if (isNumber(a) && isNumber(b)) {
        if (a.kind() == Value::Kind::Integer && b.kind() == Value::Kind::Integer) {
            const int64_t x = a.asInteger(), y = b.asInteger();
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        const double x = a.asFloat(), y = b.asFloat();
        if (std::isnan(x) || std::isnan(y)) return 2;
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const std::string* ta = a.text();
    const std::string* tb = b.text();
    if (ta && tb) {
        const int c = ta->compare(*tb);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    const DateTime* da = a.asDateTime();
    const DateTime* db = b.asDateTime();
    if (da && db) {
        if (da->days != db->days) return da->days < db->days ? -1 : 1;
        if (da->msOfDay != db->msOfDay) return da->msOfDay < db->msOfDay ? -1 : 1;
        return 0;
    }
    return 2;
}

// ---------------------------------------------------------------------------------------
// Expression tree
// ---------------------------------------------------------------------------------------

struct Filter::Node {
    enum class Kind { Or, And, Not, Compare } kind = Kind::Compare;
    std::shared_ptr<Node> left, right;  // Or/And: both; Not: left
    // Compare:
    std::string field;
    int column = -1;
    Op op = Op::Eq;
    bool againstNull = false;
    Value literal;

    bool eval(const std::function<Value(int)>& col) const {
        switch (kind) {
        case Kind::Or: return left->eval(col) || right->eval(col);
        case Kind::And: return left->eval(col) && right->eval(col);
        case Kind::Not: return !left->eval(col);
        case Kind::Compare: break;
        }
        const Value v = col(column);
        if (againstNull) return (op == Op::Eq) == v.isEmpty();
        const int c = compareValues(v, literal);
        if (c == 2) return op == Op::Ne;  // an empty field, or a text against a number, equals nothing
        switch (op) {
        case Op::Eq: return c == 0;
        case Op::Ne: return c != 0;
        case Op::Lt: return c < 0;
        case Op::Le: return c <= 0;
        case Op::Gt: return c > 0;
        case Op::Ge: return c >= 0;
        }
        return false;
    }
};

namespace {

class Parser {
public:
    Parser(std::string_view text, const std::string& table) : s_(text), table_(table) {}

    std::shared_ptr<Filter::Node> parseAll();

private:
    using NodeP = std::shared_ptr<Filter::Node>;

    [[noreturn]] void fail(const std::string& what) const {
        throw Error("Таблица «" + table_ + "»: не удаётся прочитать фильтр «" + std::string(s_) + "»: " +
                    what + ".");
    }
    void skipBlanks() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    bool atEnd() { skipBlanks(); return pos_ >= s_.size(); }
    static bool identStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
    static bool identChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
    // Reads a keyword (AND, OR, NOT, NULL) if it stands next as a whole word.
    bool keyword(std::string_view kw) {
        skipBlanks();
        if (s_.size() - pos_ < kw.size()) return false;
        if (!sameName(s_.substr(pos_, kw.size()), kw)) return false;
        if (pos_ + kw.size() < s_.size() && identChar(s_[pos_ + kw.size()])) return false;
        pos_ += kw.size();
        return true;
    }
    NodeP parseOr();
    NodeP parseAnd();
    NodeP parseNot();
    NodeP parseCompare();
    std::string parseField();
    Op parseOp();
    void parseLiteral(Filter::Node& n);

    std::string_view s_;
    const std::string& table_;
    size_t pos_ = 0;
    int depth_ = 0;
};

std::shared_ptr<Filter::Node> Parser::parseAll() {
    if (atEnd()) return nullptr;
    NodeP n = parseOr();
    if (!atEnd()) fail("лишний текст с позиции " + std::to_string(pos_ + 1));
    return n;
}

std::shared_ptr<Filter::Node> Parser::parseOr() {
    NodeP l = parseAnd();
    while (keyword("or")) {
        auto n = std::make_shared<Filter::Node>();
        n->kind = Filter::Node::Kind::Or;
        n->left = l;
        n->right = parseAnd();
        l = n;
    }
    return l;
}

std::shared_ptr<Filter::Node> Parser::parseAnd() {
    NodeP l = parseNot();
    while (keyword("and")) {
        auto n = std::make_shared<Filter::Node>();
        n->kind = Filter::Node::Kind::And;
        n->left = l;
        n->right = parseNot();
        l = n;
    }
    return l;
}

std::shared_ptr<Filter::Node> Parser::parseNot() {
    if (++depth_ > 200) fail("слишком глубокая вложенность");
    NodeP r;
    if (keyword("not")) {
        r = std::make_shared<Filter::Node>();
        r->kind = Filter::Node::Kind::Not;
        r->left = parseNot();
    } else if (!atEnd() && s_[pos_] == '(') {
        ++pos_;
        r = parseOr();
        if (atEnd() || s_[pos_] != ')') fail("не хватает закрывающей скобки");
        ++pos_;
    } else {
        r = parseCompare();
    }
    --depth_;
    return r;
}

std::string Parser::parseField() {
    skipBlanks();
    if (pos_ < s_.size() && s_[pos_] == '[') {
        const size_t close = s_.find(']', pos_ + 1);
        if (close == std::string_view::npos || close == pos_ + 1) fail("неверное имя поля");
        std::string name(s_.substr(pos_ + 1, close - pos_ - 1));
        pos_ = close + 1;
        return name;
    }
    if (pos_ >= s_.size() || !identStart(s_[pos_])) fail("ожидается имя поля с позиции " + std::to_string(pos_ + 1));
    const size_t b = pos_;
    while (pos_ < s_.size() && identChar(s_[pos_])) ++pos_;
    return std::string(s_.substr(b, pos_ - b));
}

Op Parser::parseOp() {
    skipBlanks();
    auto rest = s_.substr(pos_);
    auto take = [&](std::string_view t, Op o) -> std::optional<Op> {
        if (rest.substr(0, t.size()) == t) { pos_ += t.size(); return o; }
        return std::nullopt;
    };
    for (auto [t, o] : {std::pair<std::string_view, Op>{"<>", Op::Ne}, {"!=", Op::Ne}, {"<=", Op::Le},
                        {">=", Op::Ge}, {"=", Op::Eq}, {"<", Op::Lt}, {">", Op::Gt}})
        if (auto r = take(t, o)) return *r;
    fail("ожидается знак сравнения с позиции " + std::to_string(pos_ + 1));
}

void Parser::parseLiteral(Filter::Node& n) {
    skipBlanks();
    if (pos_ >= s_.size()) fail("ожидается значение после знака сравнения");
    const char c = s_[pos_];
    if (c == '\'' || c == '"') {
        std::string text;
        ++pos_;
        for (;;) {
            if (pos_ >= s_.size()) fail("не закрыты кавычки");
            if (s_[pos_] == c) {
                if (pos_ + 1 < s_.size() && s_[pos_ + 1] == c) { text += c; pos_ += 2; continue; }
                ++pos_;
                break;
            }
            text += s_[pos_++];
        }
        n.literal = Value::string(std::move(text));
        return;
    }
    if (keyword("null")) {
        if (n.op != Op::Eq && n.op != Op::Ne) fail("с NULL сравнивают только знаками = и <>");
        n.againstNull = true;
        return;
    }
    const size_t b = pos_;
    if (pos_ < s_.size() && (s_[pos_] == '-' || s_[pos_] == '+')) ++pos_;
    while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.' ||
                                ((s_[pos_] == '-' || s_[pos_] == '+') && (s_[pos_ - 1] == 'e' || s_[pos_ - 1] == 'E'))))
        ++pos_;
    std::string num(s_.substr(b, pos_ - b));
    if (!num.empty() && num[0] == '+') num.erase(0, 1);
    int64_t i = 0;
    auto [pi, ei] = std::from_chars(num.data(), num.data() + num.size(), i);
    if (!num.empty() && ei == std::errc() && pi == num.data() + num.size()) {
        n.literal = Value::integer(i);
        return;
    }
    double d = 0;
    auto [pd, ed] = std::from_chars(num.data(), num.data() + num.size(), d);
    if (num.empty() || ed != std::errc() || pd != num.data() + num.size())
        fail("значение «" + num + "» не является ни числом, ни текстом в кавычках");
    n.literal = Value::real(d);
}

std::shared_ptr<Filter::Node> Parser::parseCompare() {
    auto n = std::make_shared<Filter::Node>();
    n->kind = Filter::Node::Kind::Compare;
    n->field = parseField();
    if (keyword("is")) {
        const bool neg = keyword("not");
        if (!keyword("null")) fail("после IS ожидается NULL");
        n->op = neg ? Op::Ne : Op::Eq;
        n->againstNull = true;
        return n;
    }
    n->op = parseOp();
    parseLiteral(*n);
    return n;
}

void collectFields(const std::shared_ptr<Filter::Node>& n, std::vector<std::string>& out) {
    if (!n) return;
    if (n->kind == Filter::Node::Kind::Compare) { out.push_back(n->field); return; }
    collectFields(n->left, out);
    collectFields(n->right, out);
}

// Copies the tree so that binding one copy leaves the other untouched.
std::shared_ptr<Filter::Node> cloneTree(const std::shared_ptr<Filter::Node>& n) {
    if (!n) return nullptr;
    auto c = std::make_shared<Filter::Node>(*n);
    c->left = cloneTree(n->left);
    c->right = cloneTree(n->right);
    return c;
}

}  // namespace

Filter::Filter() = default;
Filter::~Filter() = default;
Filter::Filter(const Filter& o) : root_(cloneTree(o.root_)), text_(o.text_) {}
Filter& Filter::operator=(const Filter& o) {
    if (this != &o) { root_ = cloneTree(o.root_); text_ = o.text_; }
    return *this;
}
Filter::Filter(Filter&&) noexcept = default;
Filter& Filter::operator=(Filter&&) noexcept = default;

Filter Filter::parse(std::string_view expr, const std::string& tableName) {
    Filter f;
    f.text_ = std::string(expr);
    Parser p(expr, tableName);
    f.root_ = p.parseAll();
    return f;
}

bool Filter::empty() const { return !root_; }

const std::string& Filter::text() const { return text_; }

std::vector<std::string> Filter::fieldNames() const {
    std::vector<std::string> out;
    collectFields(root_, out);
    return out;
}

void Filter::bind(const std::vector<FieldDef>& fields, const std::string& tableName) {
    std::function<void(Node*)> walk = [&](Node* n) {
        if (!n) return;
        if (n->kind == Node::Kind::Compare) {
            n->column = -1;
            for (size_t i = 0; i < fields.size(); ++i)
                if (sameName(fields[i].name, n->field)) { n->column = static_cast<int>(i); break; }
            if (n->column < 0)
                throw Error("Таблица «" + tableName + "»: в фильтре «" + text_ + "» указано поле «" + n->field +
                            "», которого нет в таблице.");
            return;
        }
        walk(n->left.get());
        walk(n->right.get());
    };
    walk(root_.get());
}

bool Filter::matches(const std::function<Value(int)>& column) const {
    return !root_ || root_->eval(column);
}

}  // namespace talvira::storage
