#include "export/XlsFormula.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "common/TextFold.h"
#include "export/XlsRecords.h"

#include <cctype>
#include <cmath>
#include <optional>

namespace talvira::xls {

using namespace biff;

/* ------------------------------------------------------------------------------------- */
/*  Tokens                                                                               */
/* ------------------------------------------------------------------------------------- */

namespace {

constexpr uint8_t ptgAdd = 0x03, ptgSub = 0x04, ptgMul = 0x05, ptgDiv = 0x06, ptgPower = 0x07;
constexpr uint8_t ptgUplus = 0x12, ptgUminus = 0x13, ptgParen = 0x15;
constexpr uint8_t ptgInt = 0x1E, ptgNum = 0x1F;
constexpr uint8_t ptgFuncVarV = 0x42;
constexpr uint8_t ptgRefR = 0x24, ptgRefV = 0x44, ptgAreaR = 0x25, ptgAreaV = 0x45;
constexpr uint16_t kFtabSum = 0x0004;
constexpr uint16_t kColRelative = 0x4000, kRowRelative = 0x8000;

}  // namespace

/* ------------------------------------------------------------------------------------- */
/*  References                                                                           */
/* ------------------------------------------------------------------------------------- */

namespace {

/** Reads [$]letters[$]digits at `pos`; advances pos and fills flags on success. */
bool readRef(std::string_view s, size_t& pos, CellRef& ref, bool& colAbs, bool& rowAbs) {
    size_t p = pos;
    colAbs = rowAbs = false;
    if (p < s.size() && s[p] == '$') { colAbs = true; ++p; }
    int col = 0, letters = 0;
    while (p < s.size() && ((s[p] >= 'A' && s[p] <= 'Z') || (s[p] >= 'a' && s[p] <= 'z'))) {
        col = col * 26 + ((s[p] & ~0x20) - 'A' + 1);
        if (++letters > 3) return false;
        ++p;
    }
    if (letters == 0) return false;
    if (p < s.size() && s[p] == '$') { rowAbs = true; ++p; }
    long row = 0;
    int digits = 0;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
        row = row * 10 + (s[p] - '0');
        if (++digits > 6) return false;
        ++p;
    }
    if (digits == 0 || row < 1 || row > kMaxRows || col < 1 || col > kMaxCols) return false;
    ref.row = static_cast<int>(row - 1);
    ref.col = col - 1;
    pos = p;
    return true;
}

}  // namespace

bool parseCellRef(std::string_view text, CellRef& out) {
    size_t pos = 0;
    bool ca, ra;
    CellRef r;
    if (!readRef(text, pos, r, ca, ra) || pos != text.size()) return false;
    out = r;
    return true;
}

/* ------------------------------------------------------------------------------------- */
/*  Compiler: recursive descent straight into reverse Polish tokens                      */
/* ------------------------------------------------------------------------------------- */

namespace {

class Compiler {
public:
    Compiler(std::string_view text, char sep) : s_(text), sep_(sep) {}

    std::vector<uint8_t> run() {
        if (pos_ < s_.size() && s_[pos_] == '=') ++pos_;
        skipBlanks();
        if (pos_ >= s_.size()) fail("пустая формула");
        expression(false);
        skipBlanks();
        if (pos_ != s_.size()) fail("лишние знаки в позиции " + std::to_string(pos_ + 1));
        return std::move(out_);
    }

private:
    [[noreturn]] void fail(const std::string& why) const {
        throw Error("Формула «" + std::string(s_) + "» не распознана: " + why);
    }

    void skipBlanks() {
        while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
    }
    bool eat(char c) {
        skipBlanks();
        if (pos_ < s_.size() && s_[pos_] == c) { ++pos_; return true; }
        return false;
    }
    bool argSeparator() {
        skipBlanks();
        if (pos_ < s_.size() && (s_[pos_] == ';' || (s_[pos_] == ',' && sep_ != ','))) {
            ++pos_;
            return true;
        }
        return false;
    }

    void expression(bool ref) {
        term(ref);
        for (;;) {
            if (eat('+')) { term(ref); out_.push_back(ptgAdd); }
            else if (eat('-')) { term(ref); out_.push_back(ptgSub); }
            else return;
        }
    }
    void term(bool ref) {
        power(ref);
        for (;;) {
            if (eat('*')) { power(ref); out_.push_back(ptgMul); }
            else if (eat('/')) { power(ref); out_.push_back(ptgDiv); }
            else return;
        }
    }
    void power(bool ref) {
        unary(ref);
        while (eat('^')) { unary(ref); out_.push_back(ptgPower); }
    }
    void unary(bool ref) {
        if (eat('-')) { unary(ref); out_.push_back(ptgUminus); return; }
        if (eat('+')) { unary(ref); out_.push_back(ptgUplus); return; }
        primary(ref);
    }

    void primary(bool ref) {
        if (++depth_ > 200) fail("слишком глубокая вложенность");
        skipBlanks();
        if (pos_ >= s_.size()) fail("формула оборвана");
        const char c = s_[pos_];
        if (c == '(') {
            ++pos_;
            expression(false);
            if (!eat(')')) fail("нет закрывающей скобки");
            out_.push_back(ptgParen);
        } else if ((c >= '0' && c <= '9') || c == sep_) {
            number();
        } else {
            // a reference, a range, or a function name followed by "("
            size_t save = pos_;
            CellRef a;
            bool ca, ra;
            if (readRef(s_, pos_, a, ca, ra) && !nameGoesOn()) {
                size_t afterFirst = pos_;
                skipBlanks();
                CellRef b;
                bool cb, rb;
                if (pos_ < s_.size() && s_[pos_] == ':') {
                    ++pos_;
                    skipBlanks();
                    if (!readRef(s_, pos_, b, cb, rb)) fail("неверный диапазон");
                    area(a, ca, ra, b, cb, rb, ref);
                } else {
                    pos_ = afterFirst;
                    out_.push_back(ref ? ptgRefR : ptgRefV);
                    add16(out_, static_cast<uint16_t>(a.row));
                    add16(out_, colField(a.col, ca, ra));
                }
            } else {
                pos_ = save;
                function();
            }
        }
        --depth_;
    }

    /** A letter or digit right after a reference means it was a name, not a reference. */
    bool nameGoesOn() const {
        if (pos_ >= s_.size()) return false;
        unsigned char c = static_cast<unsigned char>(s_[pos_]);
        return std::isalnum(c) || c == '_' || c >= 0x80 || c == '(';
    }

    static uint16_t colField(int col, bool colAbs, bool rowAbs) {
        uint16_t v = static_cast<uint16_t>(col);
        if (!colAbs) v |= kColRelative;
        if (!rowAbs) v |= kRowRelative;
        return v;
    }

    void area(CellRef a, bool ca, bool ra, CellRef b, bool cb, bool rb, bool ref) {
        if (b.row < a.row) { std::swap(a.row, b.row); std::swap(ra, rb); }
        if (b.col < a.col) { std::swap(a.col, b.col); std::swap(ca, cb); }
        out_.push_back(ref ? ptgAreaR : ptgAreaV);
        add16(out_, static_cast<uint16_t>(a.row));
        add16(out_, static_cast<uint16_t>(b.row));
        add16(out_, colField(a.col, ca, ra));
        add16(out_, colField(b.col, cb, rb));
    }

    void number() {
        size_t start = pos_;
        while (pos_ < s_.size() && ((s_[pos_] >= '0' && s_[pos_] <= '9') || s_[pos_] == sep_)) ++pos_;
        if (pos_ < s_.size() && (s_[pos_] == 'E' || s_[pos_] == 'e')) {
            size_t p = pos_ + 1;
            if (p < s_.size() && (s_[p] == '+' || s_[p] == '-')) ++p;
            if (p < s_.size() && s_[p] >= '0' && s_[p] <= '9') {
                pos_ = p;
                while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
            }
        }
        auto v = parseFloat(s_.substr(start, pos_ - start), sep_);
        if (!v || !std::isfinite(static_cast<double>(*v)))
            fail("неверное число «" + std::string(s_.substr(start, pos_ - start)) + "»");
        const double d = static_cast<double>(*v);
        if (d >= 0 && d <= 65535 && d == std::floor(d)) {
            out_.push_back(ptgInt);
            add16(out_, static_cast<uint16_t>(d));
        } else {
            out_.push_back(ptgNum);
            addF64(out_, d);
        }
    }

    void function() {
        size_t start = pos_;
        while (pos_ < s_.size()) {
            unsigned char c = static_cast<unsigned char>(s_[pos_]);
            if (std::isalnum(c) || c == '_' || c == '.' || c >= 0x80) ++pos_;
            else break;
        }
        const std::string name(s_.substr(start, pos_ - start));
        if (name.empty()) fail("непонятный знак в позиции " + std::to_string(start + 1));
        if (!eat('(')) fail("неизвестное имя «" + name + "»");
        if (!equalFolded(name, "СУММ") && !equalFolded(name, "SUM")) fail("неизвестная функция «" + name + "»");
        int count = 0;
        skipBlanks();
        if (!eat(')')) {
            do {
                expression(true);
                ++count;
            } while (argSeparator());
            if (!eat(')')) fail("нет закрывающей скобки");
        }
        if (count < 1 || count > 255) fail("неверное число аргументов функции «" + name + "»");
        out_.push_back(ptgFuncVarV);
        out_.push_back(static_cast<uint8_t>(count));
        add16(out_, kFtabSum);
    }

    std::string_view s_;
    char sep_;
    size_t pos_ = 0;
    int depth_ = 0;
    std::vector<uint8_t> out_;
};

}  // namespace

std::vector<uint8_t> compileFormula(std::string_view text, char decimalSep) {
    return Compiler(text, decimalSep).run();
}

/* ------------------------------------------------------------------------------------- */
/*  Evaluation                                                                           */
/* ------------------------------------------------------------------------------------- */

namespace {

struct Item {
    enum class Kind { Number, Error, Ref, Area } kind = Kind::Number;
    double number = 0;
    CellError error = CellError::Value;
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
};

Item errorItem(CellError e) {
    Item i;
    i.kind = Item::Kind::Error;
    i.error = e;
    return i;
}
Item numberItem(double d) {
    Item i;
    i.number = d;
    return i;
}

/** The value of an operand used as a number. */
Item scalar(const Item& it, const CellLookup& lookup, char sep) {
    switch (it.kind) {
    case Item::Kind::Number:
    case Item::Kind::Error:
        return it;
    case Item::Kind::Area:
        return errorItem(CellError::Value);
    case Item::Kind::Ref: {
        CellValue v = lookup(it.r1, it.c1);
        switch (v.kind) {
        case CellValue::Kind::Empty: return numberItem(0);
        case CellValue::Kind::Number:
        case CellValue::Kind::Bool: return numberItem(v.number);
        case CellValue::Kind::Error: return errorItem(v.error);
        case CellValue::Kind::Text: {
            auto d = parseFloat(v.text, sep);
            if (d && std::isfinite(static_cast<double>(*d))) return numberItem(static_cast<double>(*d));
            return errorItem(CellError::Value);
        }
        }
    }
    }
    return errorItem(CellError::Value);
}

Item finite(double d) { return std::isfinite(d) ? numberItem(d) : errorItem(CellError::Num); }

}  // namespace

FormulaValue evaluateFormula(const uint8_t* p, size_t n, const CellLookup& lookup, char sep) {
    std::vector<Item> st;
    auto bad = [] { FormulaValue v; v.isError = true; v.error = CellError::Value; return v; };
    size_t i = 0;
    while (i < n) {
        const uint8_t t = p[i++];
        switch (t) {
        case ptgAdd: case ptgSub: case ptgMul: case ptgDiv: case ptgPower: {
            if (st.size() < 2) return bad();
            Item b = scalar(st.back(), lookup, sep); st.pop_back();
            Item a = scalar(st.back(), lookup, sep); st.pop_back();
            if (a.kind == Item::Kind::Error) { st.push_back(a); break; }
            if (b.kind == Item::Kind::Error) { st.push_back(b); break; }
            if (t == ptgAdd) st.push_back(finite(a.number + b.number));
            else if (t == ptgSub) st.push_back(finite(a.number - b.number));
            else if (t == ptgMul) st.push_back(finite(a.number * b.number));
            else if (t == ptgDiv)
                st.push_back(b.number == 0 ? errorItem(CellError::Div0) : finite(a.number / b.number));
            else st.push_back(finite(std::pow(a.number, b.number)));
            break;
        }
        case ptgUplus: case ptgUminus: {
            if (st.empty()) return bad();
            Item a = scalar(st.back(), lookup, sep); st.pop_back();
            if (a.kind == Item::Kind::Number && t == ptgUminus) a.number = -a.number;
            st.push_back(a);
            break;
        }
        case ptgParen:
            break;
        case ptgInt:
            if (i + 2 > n) return bad();
            st.push_back(numberItem(u16(p + i)));
            i += 2;
            break;
        case ptgNum:
            if (i + 8 > n) return bad();
            st.push_back(numberItem(f64(p + i)));
            i += 8;
            break;
        case ptgRefR: case ptgRefV: case 0x64: {
            if (i + 4 > n) return bad();
            Item it;
            it.kind = Item::Kind::Ref;
            it.r1 = it.r2 = u16(p + i);
            it.c1 = it.c2 = u16(p + i + 2) & 0x3FFF;
            st.push_back(it);
            i += 4;
            break;
        }
        case ptgAreaR: case ptgAreaV: case 0x65: {
            if (i + 8 > n) return bad();
            Item it;
            it.kind = Item::Kind::Area;
            it.r1 = u16(p + i);
            it.r2 = u16(p + i + 2);
            it.c1 = u16(p + i + 4) & 0x3FFF;
            it.c2 = u16(p + i + 6) & 0x3FFF;
            st.push_back(it);
            i += 8;
            break;
        }
        case 0x22: case ptgFuncVarV: case 0x62: {
            if (i + 3 > n) return bad();
            const int count = p[i];
            const uint16_t fn = u16(p + i + 1) & 0x7FFF;
            i += 3;
            if (fn != kFtabSum || st.size() < static_cast<size_t>(count)) return bad();
            double sum = 0;
            std::optional<CellError> err;
            for (size_t k = st.size() - static_cast<size_t>(count); k < st.size(); ++k) {
                const Item& a = st[k];
                if (err) break;
                if (a.kind == Item::Kind::Number) sum += a.number;
                else if (a.kind == Item::Kind::Error) err = a.error;
                else {
                    for (int r = a.r1; r <= a.r2 && !err; ++r)
                        for (int c = a.c1; c <= a.c2 && !err; ++c) {
                            CellValue v = lookup(r, c);
                            if (v.kind == CellValue::Kind::Number) sum += v.number;
                            else if (v.kind == CellValue::Kind::Error) err = v.error;
                        }
                }
            }
            st.resize(st.size() - static_cast<size_t>(count));
            st.push_back(err ? errorItem(*err) : finite(sum));
            break;
        }
        default:
            return bad();
        }
    }
    if (st.size() != 1) return bad();
    Item r = scalar(st.back(), lookup, sep);
    FormulaValue v;
    if (r.kind == Item::Kind::Error) {
        v.isError = true;
        v.error = r.error;
    } else {
        v.number = r.number;
    }
    return v;
}

}  // namespace talvira::xls
