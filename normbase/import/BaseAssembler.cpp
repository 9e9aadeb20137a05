#include "normbase/import/BaseAssembler.h"

#include "common/Error.h"
#include "normbase/NormBaseFields.h"
#include "normbase/NormBaseFormat.h"
#include "storage/CodePage.h"

#include <malloc.h>

#include <cctype>
#include <cmath>

namespace talvira::normimport {

using normbase::NormTable;
using normbase::NormTableWriter;
using storage::Value;
namespace fld = normbase::fld;

namespace {

constexpr size_t kExamples = 5;

// What a RABMAT record is, kept in its field RABMAT (the program does not read it).
constexpr int kKindRate = 1, kKindMaterial = 2, kKindMachine = 3, kKindLabour = 4;

/** Labour codes: "1", "2" and the grades "1-100-34", "3-200-01" ... (no classifier dots). */
bool isLabour(std::string_view code) {
    return !code.empty() && std::isdigit(static_cast<unsigned char>(code[0])) && code.find('.') == std::string_view::npos;
}
bool isMachine(std::string_view code) { return code.starts_with("91."); }

double money(double v) { return std::round(v * 100.0) / 100.0; }

Value integer(int64_t v) { return Value::integer(v); }
Value real(double v) { return Value::real(v); }

const char* noticeTitle(Notice n) {
    switch (n) {
    case Notice::RateWithoutPrice: return "Расценки без цены (ни одного ресурса с ценой)";
    case Notice::UnpricedCode: return "Коды ресурсов, не найденные ни в одном файле цен";
    case Notice::NonNumericQuantity: return "Строки с количеством не числом (отмечены неучтёнными, количество пусто)";
    case Notice::UnusualNumber: return "Числа в необычной записи («1,5», «1.5e3»), прочитаны как числа";
    case Notice::DuplicateCode: return "Повторяющиеся шифры (записаны все; по шифру ресурса берётся первый)";
    case Notice::MissingCode: return "Элементы без шифра";
    case Notice::PriceWithoutPrice: return "Ресурсы файлов цен без цены";
    case Notice::UnknownElement: return "Неизвестные элементы (пропущены)";
    case Notice::SkippedMember: return "Файлы архивов, не являющиеся нормами или ценами (пропущены)";
    case Notice::ShortenedText: return "Тексты длиннее поля таблицы (сокращены, в конце «…»)";
    case Notice::ReplacedCharacter: return "Знаки, которых нет в кодировке базы (заменены похожими)";
    case Notice::Count_: break;
    }
    return "";
}

/** A near text for a character code page 1251 lacks. */
const char* nearText(std::string_view ch) {
    static const std::pair<const char*, const char*> near[] = {
        {"²", "2"}, {"³", "3"}, {"≤", "<="}, {"≥", ">="}, {"×", "x"}, {"÷", "/"}, {"−", "-"}, {"‐", "-"},
        {"ø", "диам."}, {"Ø", "диам."}, {"⌀", "диам."}, {"∙", "·"}, {"⋅", "·"}, {"½", "1/2"}, {"¼", "1/4"}, {"¾", "3/4"}};
    for (const auto& [from, to] : near)
        if (ch == from) return to;
    return "?";
}

/** The start of a long text for an example in the report. */
std::string brief(const std::string& s) {
    if (s.size() <= 80) return s;
    size_t cut = 80;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return s.substr(0, cut) + "…";
}

/** Only ASCII and the basic Cyrillic letters: the code page certainly holds it. */
bool plainCyrillic(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) continue;
        if ((c == 0xD0 || c == 0xD1) && i + 1 < s.size()) {
            ++i;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

Value BaseAssembler::fit(const std::string& s, size_t max, const std::string& where) {
    if (s.empty()) return Value();
    std::string out;
    const std::string* t = &s;
    if (!plainCyrillic(s) && !storage::fromUtf8(s, 1251)) {
        for (size_t i = 0; i < s.size();) {
            const auto c = static_cast<unsigned char>(s[i]);
            const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
            const std::string_view ch(s.data() + i, std::min(n, s.size() - i));
            if (storage::fromUtf8(ch, 1251)) out += ch;
            else out += nearText(ch);
            i += n;
        }
        notice(Notice::ReplacedCharacter, where);
        t = &out;
    }
    if (max == 0) return Value::string(*t);
    size_t chars = 0, cut = std::string::npos;
    for (size_t i = 0; i < t->size(); ++i) {
        if ((static_cast<unsigned char>((*t)[i]) & 0xC0) == 0x80) continue;
        if (++chars == max) cut = i;  // where the last character that fits with "…" ends
    }
    if (chars <= max) return Value::string(*t);
    notice(Notice::ShortenedText, where);
    return Value::string(t->substr(0, cut) + "…");
}

int32_t BaseAssembler::addCollection(std::string name) {
    collections_.push_back(std::move(name));
    return static_cast<int32_t>(collections_.size());
}

int32_t BaseAssembler::addEntry(std::string name) {
    if (collections_.empty()) throw Error("Раздел вне сборника");
    entries_.emplace_back(static_cast<int32_t>(collections_.size()), std::move(name));
    return static_cast<int32_t>(entries_.size());
}

uint32_t BaseAssembler::internCode(const std::string& code) {
    auto [it, fresh] = codeIds_.try_emplace(code, static_cast<uint32_t>(codes_.size()));
    if (fresh) codes_.push_back({code, {}, 0, -1, 0});
    return it->second;
}

uint32_t BaseAssembler::internUnit(std::string_view unit) {
    if (unit.empty()) return 0;
    auto [it, fresh] = unitIds_.try_emplace(std::string(unit), static_cast<uint32_t>(units_.size() + 1));
    if (fresh) units_.emplace_back(unit);
    return it->second;
}

BaseAssembler::Item BaseAssembler::newItem(int32_t entry, const std::string& code, std::string name, std::string_view unit,
                                           std::string_view shownPrefix) {
    Item it;
    it.entry = entry;
    it.collection = entries_.at(size_t(entry - 1)).first;
    it.code = code;
    it.name = std::move(name);
    it.unit = internUnit(unit);
    it.alt = code.empty() ? std::string() : std::string(shownPrefix) + " " + code;
    it.firstLine = static_cast<uint32_t>(lines_.size());
    return it;
}

void BaseAssembler::beginRate(int32_t entry, const std::string& code, std::string name, std::string_view unit,
                              std::string_view shownPrefix) {
    Item it = newItem(entry, code, std::move(name), unit, shownPrefix);
    if (!code.empty() && !rateCodes_.try_emplace(code, uint32_t(items_.size())).second) notice(Notice::DuplicateCode, code);
    items_.push_back(std::move(it));
    ++rates_;
}

void BaseAssembler::addLine(const std::string& code, std::string_view name, std::string_view unit,
                            std::optional<double> quantity, bool abstract) {
    if (items_.empty() || items_.back().price) throw Error("Ресурс вне расценки");
    const uint32_t c = internCode(code);
    Code& k = codes_[c];
    if (k.name.empty() && !name.empty()) k.name = name;
    if (k.unit == 0 && !unit.empty()) k.unit = internUnit(unit);
    lines_.push_back({c, quantity.value_or(0), quantity.has_value(), abstract});
    ++items_.back().lines;
}

void BaseAssembler::setReasons(std::string_view overhead, std::string_view profit) {
    Item& it = items_.back();
    auto add = [](std::string& to, std::string_view v) {
        if (v.empty()) return;
        if (!to.empty()) to += "; ";
        to += v;
    };
    add(it.overhead, overhead);
    add(it.profit, profit);
}

void BaseAssembler::setDirectPrices(const DirectPrices& p) {
    items_.back().direct = true;
    items_.back().prices = p;
}

void BaseAssembler::addPriceRecord(int32_t entry, const std::string& code, std::string name, std::string_view unit,
                                   std::optional<double> price, std::optional<double> machineWages) {
    Item it = newItem(entry, code, std::move(name), unit, "ФСБЦ");
    it.price = true;
    it.machine = machineWages.has_value() || isMachine(code);
    it.priced = price.has_value();
    it.value = machineWages ? money(price.value_or(0)) : price.value_or(0);  // a machine's price is a sum
    it.machineWages = machineWages.value_or(0);
    if (!it.priced) notice(Notice::PriceWithoutPrice, code);
    ++priceRecords_;
    if (!code.empty()) {
        Code& k = codes_[internCode(code)];
        if (k.priceItem >= 0)
            notice(Notice::DuplicateCode, code);
        else
            k.priceItem = static_cast<int64_t>(items_.size());
    }
    items_.push_back(std::move(it));
}

void BaseAssembler::notice(Notice n, const std::string& example) {
    Count& c = notices_[static_cast<size_t>(n)];
    ++c.n;
    if (c.examples.size() < kExamples && !example.empty()) c.examples.push_back(example);
}

void BaseAssembler::write(const std::string& dir, ImportReport& report, const ProgressFn& progress) {
    auto stage = [&](const char* what) {
        if (progress && !progress({what, 0, 0})) throw ImportCancelled();
    };
    stage("Запись таблиц нормативной базы");

    // Own rates of the codes no price file has: numbered after every listed record, in the
    // order their lines were met.
    int32_t nextId = static_cast<int32_t>(items_.size()) + 1;
    std::vector<uint32_t> placeholders;
    for (const Line& l : lines_) {
        Code& k = codes_[l.code];
        if (k.priceItem >= 0 || k.placeholder) continue;
        k.placeholder = nextId++;
        placeholders.push_back(l.code);
        if (k.unit == 0) k.unit = internUnit(isLabour(k.text) ? "чел.-ч" : isMachine(k.text) ? "маш.-ч" : "");
        if (k.name.empty()) k.name = k.text == "1" ? "Затраты труда рабочих" : k.text == "2" ? "Затраты труда машинистов" : "";
        if (!isLabour(k.text)) notice(Notice::UnpricedCode, k.text);
    }

    {
        NormTableWriter w(dir, NormTable::Edizm);
        for (size_t i = 0; i < units_.size(); ++i) {
            w.next().set(fld::ID, integer(int64_t(i + 1))).set(fld::NAME, fit(units_[i], 50, units_[i]));
            w.append();
        }
        w.finish();
    }
    {
        NormTableWriter w(dir, NormTable::Reestr);
        for (size_t i = 0; i < collections_.size(); ++i) {
            w.next().set(fld::ID, integer(int64_t(i + 1))).set(fld::NAME, fit(collections_[i], 255, brief(collections_[i])));
            w.append();
        }
        report.collections = w.finish();
    }
    {
        NormTableWriter w(dir, NormTable::Ogl);
        for (size_t i = 0; i < entries_.size(); ++i) {
            w.next().set(fld::ID, integer(int64_t(i + 1))).set(fld::IDREESTR, integer(entries_[i].first)).set(fld::NAME, fit(entries_[i].second, 255, brief(entries_[i].second)));
            w.append();
        }
        report.contentsEntries = w.finish();
    }
    stage("Запись расценок и ресурсов");

    NormTableWriter rabmat(dir, NormTable::Rabmat);
    NormTableWriter names(dir, NormTable::Name);
    const normbase::NormRecord& r = rabmat.record();
    const size_t pId = r.place(fld::ID), pReestr = r.place(fld::IDREESTR), pName = r.place(fld::IDNAME),
                 pTab = r.place(fld::TAB), pKind = r.place("RABMAT"), pOgl = r.place(fld::IDOGL),
                 pAlt = r.place(fld::ALTTAB), pUnit = r.place(fld::IDEDIZM), pBA = r.place(fld::BA),
                 pBB = r.place(fld::BB), pBC = r.place(fld::BC), pBD = r.place(fld::BD), pBE = r.place(fld::BE),
                 pBG = r.place(fld::BG),
                 // The overhead and profit references of a norm, kept for later in two text
                 // fields the program does not read.
                 pOverhead = r.place("PREISK"), pProfit = r.place("POSPREISK");
    auto unitValue = [](uint32_t u) { return u ? integer(u) : Value(); };
    auto nameRecord = [&](int32_t id, const std::string& name) {
        names.next().set(fld::ID, integer(id)).set(fld::NAME, fit(name, 0, brief(name)));
        names.append();
    };
    const double wage = options_.wagePerHour.value_or(0);
    uint64_t rates = 0;
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& it = items_[i];
        const int32_t id = static_cast<int32_t>(i + 1);
        normbase::NormRecord& rec = rabmat.next();
        rec.set(pId, integer(id)).set(pReestr, integer(it.collection)).set(pName, integer(id)).set(pTab, fit(it.code, 50, it.code))
            .set(pOgl, integer(it.entry)).set(pAlt, fit(it.alt, 255, it.code)).set(pUnit, unitValue(it.unit));
        if (it.price) {
            rec.set(pKind, integer(it.machine ? kKindMachine : kKindMaterial));
            if (it.priced) {
                rec.set(pBA, real(it.value)).set(pBB, real(it.value));
                if (it.machine) rec.set(pBC, real(it.value)).set(pBD, real(it.machineWages));
            }
        } else {
            ++rates;
            double one = 0, grades = 0, bb = 0, bc = 0, bd = 0;
            bool hasOne = false;
            for (uint32_t k = it.firstLine; k < it.firstLine + it.lines; ++k) {
                const Line& l = lines_[k];
                if (!l.numeric) continue;
                const Code& c = codes_[l.code];
                if (c.text == "1") {
                    hasOne = true;
                    one += l.quantity;
                } else if (c.text.starts_with("1-")) {
                    grades += l.quantity;
                }
                if (c.priceItem < 0) continue;
                const Item& p = items_[size_t(c.priceItem)];
                if (p.machine) {
                    bc += l.quantity * p.value;
                    bd += l.quantity * p.machineWages;
                } else if (!l.abstract) {
                    bb += l.quantity * p.value;
                }
            }
            const double bg = hasOne ? one : grades;
            double ba;
            if (it.direct) {
                ba = it.prices.total;
                rec.set(pBB, real(it.prices.materials)).set(pBC, real(it.prices.machines)).set(pBD, real(it.prices.machineWages))
                    .set(pBE, real(it.prices.wages));
            } else {
                bb = money(bb), bc = money(bc), bd = money(bd);
                const double be = money(bg * wage);
                ba = money(bb + bc + be);
                rec.set(pBB, real(bb)).set(pBC, real(bc)).set(pBD, real(bd)).set(pBE, real(be));
            }
            rec.set(pBA, real(ba)).set(pBG, real(bg)).set(pKind, integer(kKindRate))
                .set(pOverhead, fit(it.overhead, 50, it.code)).set(pProfit, fit(it.profit, 50, it.code));
            if (ba == 0) notice(Notice::RateWithoutPrice, it.code);
        }
        rabmat.append();
        nameRecord(id, it.name);
    }
    for (uint32_t c : placeholders) {
        const Code& k = codes_[c];
        normbase::NormRecord& rec = rabmat.next();
        rec.set(pId, integer(k.placeholder)).set(pName, integer(k.placeholder)).set(pTab, fit(k.text, 50, k.text))
            .set(pOgl, integer(0)).set(pUnit, unitValue(k.unit))
            .set(pKind, integer(isLabour(k.text) ? kKindLabour : isMachine(k.text) ? kKindMachine : kKindMaterial));
        rabmat.append();
        nameRecord(k.placeholder, k.name);
    }
    names.finish();
    stage("Запись ресурсных строк");
    {
        NormTableWriter w(dir, NormTable::Resurs);
        const normbase::NormRecord& l = w.record();
        const size_t qId = l.place(fld::ID), qRab = l.place(fld::IDRAB), qRes = l.place(fld::IDRES_RABMAT),
                     qKoll = l.place(fld::KOLL), qVid = l.place(fld::VIDNR), qKind = l.place("RABMAT"),
                     qReestr = l.place(fld::IDREESTR), qResReestr = l.place("IDRES_REESTR");
        int64_t id = 0;
        for (size_t i = 0; i < items_.size(); ++i) {
            const Item& it = items_[i];
            for (uint32_t k = it.firstLine; k < it.firstLine + it.lines; ++k) {
                const Line& ln = lines_[k];
                const Code& c = codes_[ln.code];
                normbase::NormRecord& rec = w.next();
                const bool own = c.priceItem >= 0;
                const Item* p = own ? &items_[size_t(c.priceItem)] : nullptr;
                rec.set(qId, integer(++id)).set(qRab, integer(int64_t(i + 1)))
                    .set(qRes, integer(own ? c.priceItem + 1 : c.placeholder))
                    .set(qVid, integer(ln.abstract || !ln.numeric ? 1 : 0))
                    .set(qKind, integer(p ? (p->machine ? kKindMachine : kKindMaterial)
                                          : isLabour(c.text) ? kKindLabour : isMachine(c.text) ? kKindMachine : kKindMaterial))
                    .set(qReestr, integer(it.collection));
                if (ln.numeric) rec.set(qKoll, real(ln.quantity));
                if (p) rec.set(qResReestr, integer(p->collection));
                w.append();
            }
        }
        stage("Запись индексов");
        report.resourceLines = w.finish();
    }
    // The rates' indexes read the whole table back: the base held in memory goes first, so that
    // the two never take memory at the same time.
    std::deque<Item>().swap(items_);
    std::vector<Line>().swap(lines_);
    std::vector<Code>().swap(codes_);
    codeIds_ = {};
    rateCodes_ = {};
    ::malloc_trim(0);
    rabmat.finish();
    report.rates = rates;
    report.priceRecords = priceRecords_;
    for (size_t i = 0; i < static_cast<size_t>(Notice::Count_); ++i) {
        const Count& c = notices_[i];
        if (c.n) report.attention.push_back({noticeTitle(static_cast<Notice>(i)), c.n, c.examples});
    }
}

}  // namespace talvira::normimport
