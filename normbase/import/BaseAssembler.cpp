#include "normbase/import/BaseAssembler.h"

#include "common/Error.h"
#include "normbase/NormBaseFields.h"
#include "normbase/NormBaseFormat.h"
#include "normbase/import/ExactNumber.h"
#include "storage/CodePage.h"

#include <malloc.h>

#include <algorithm>
#include <cctype>

namespace talvira::normimport {

using normbase::NormTable;
using normbase::NormTableWriter;
using normbase::RecordKind;
using storage::Value;
namespace fld = normbase::fld;

namespace {

constexpr size_t kExamples = 5;
// The text fields of the overhead and profit references.
constexpr size_t kReferenceChars = 50;

/** Labour codes: "1", "2" and the grades "1-100-34", "3-200-01" ... (no classifier dots). */
bool isLabour(std::string_view code) {
    return !code.empty() && std::isdigit(static_cast<unsigned char>(code[0])) && code.find('.') == std::string_view::npos;
}
bool isMachine(std::string_view code) { return code.starts_with("91."); }

Value integer(int64_t v) { return Value::integer(v); }
Value kind(RecordKind k) { return Value::integer(static_cast<int32_t>(k)); }
Value money(int64_t kopecks) { return Value::real(toDouble(kopecks, kMoneyPlaces)); }
Value quantity(int64_t units) { return Value::real(toDouble(units, kQuantityPlaces)); }

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

/** Bytes of the UTF-8 sequence that starts with `c`. */
size_t sequenceLength(unsigned char c) { return c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4; }

/** Characters of a UTF-8 text. */
size_t characters(std::string_view s) {
    size_t n = 0;
    for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

/** The first `n` characters of a UTF-8 text. */
std::string firstCharacters(const std::string& s, size_t n) {
    size_t at = 0;
    for (size_t k = 0; k < n && at < s.size(); ++k) at += sequenceLength(static_cast<unsigned char>(s[at]));
    return s.substr(0, std::min(at, s.size()));
}

/** The start of a long text for an example in the report. */
std::string brief(const std::string& s) { return characters(s) <= 80 ? s : firstCharacters(s, 80) + "…"; }

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

// ---------------------------------------------------------------------------------------------
// Taking the files' records
// ---------------------------------------------------------------------------------------------

BaseAssembler::BaseAssembler(const ImportOptions& options) : options_(options) {
    if (options.wagePerHour) {
        const auto w = DecimalText::fromDouble(*options.wagePerHour);
        wage_ = w ? w->scaled(kMoneyPlaces) : std::nullopt;
        if (!wage_) throw Error("Часовая ставка слишком велика");
    }
}

BaseAssembler::~BaseAssembler() = default;

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
                                           std::string_view prefix) {
    if (entry < 1 || size_t(entry) > entries_.size()) throw Error("Запись вне раздела");
    Item it;
    it.entry = entry;
    it.collection = entries_[size_t(entry - 1)].first;
    it.code = code;
    it.name = std::move(name);
    it.unit = internUnit(unit);
    it.alt = code.empty() ? std::string() : std::string(prefix) + " " + code;
    it.firstLine = static_cast<uint32_t>(lines_.size());
    return it;
}

void BaseAssembler::beginRate(int32_t entry, const std::string& code, std::string name, std::string_view unit,
                              std::string_view prefix) {
    Item it = newItem(entry, code, std::move(name), unit, prefix);
    if (!code.empty()) {
        it.code = std::string(prefix) + code;
        if (!rateCodes_.try_emplace(it.code, uint32_t(items_.size())).second) notice(Notice::DuplicateCode, it.code);
    }
    items_.push_back(std::move(it));
    ++rates_;
}

void BaseAssembler::addLine(const std::string& code, std::string_view name, std::string_view unit,
                            std::optional<int64_t> quantity, bool abstract) {
    if (items_.empty() || items_.back().price) throw Error("Ресурс вне расценки");
    const uint32_t c = internCode(code);
    Code& k = codes_[c];
    if (k.name.empty() && !name.empty()) k.name = name;
    if (k.unit == 0 && !unit.empty()) k.unit = internUnit(unit);
    lines_.push_back({c, quantity.value_or(0), quantity.has_value(), abstract});
    ++items_.back().lines;
}

void BaseAssembler::addReasons(std::string_view overhead, std::string_view profit) {
    if (items_.empty() || items_.back().price) throw Error("Ссылка на нормативы вне расценки");
    Item& it = items_.back();
    auto add = [](std::vector<std::string>& to, std::string_view v) {
        if (!v.empty() && std::find(to.begin(), to.end(), v) == to.end()) to.emplace_back(v);
    };
    add(it.overhead, overhead);
    add(it.profit, profit);
}

void BaseAssembler::setDirectPrices(const DirectPrices& p) {
    if (items_.empty() || items_.back().price) throw Error("Цена расценки вне расценки");
    items_.back().direct = true;
    items_.back().prices = p;
}

void BaseAssembler::addPriceRecord(int32_t entry, const std::string& code, std::string name, std::string_view unit,
                                   std::optional<ResourcePrice> price) {
    Item it = newItem(entry, code, std::move(name), unit, "ФСБЦ");
    it.price = true;
    it.priced = price.has_value();
    it.resource = price.value_or(ResourcePrice{});
    it.resource.machine = it.resource.machine || isMachine(code);
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

// ---------------------------------------------------------------------------------------------
// Fields
// ---------------------------------------------------------------------------------------------

Value BaseAssembler::fit(const std::string& s, size_t max, const std::string& where) {
    if (s.empty()) return Value();
    std::string out;
    const std::string* t = &s;
    if (!plainCyrillic(s) && !storage::fromUtf8(s, 1251)) {
        for (size_t i = 0; i < s.size();) {
            const size_t n = sequenceLength(static_cast<unsigned char>(s[i]));
            const std::string_view ch(s.data() + i, std::min(n, s.size() - i));
            if (storage::fromUtf8(ch, 1251)) out += ch;
            else out += nearText(ch);
            i += n;
        }
        notice(Notice::ReplacedCharacter, where);
        t = &out;
    }
    if (max == 0 || characters(*t) <= max) return Value::string(*t);
    notice(Notice::ShortenedText, where);
    return Value::string(firstCharacters(*t, max - 1) + "…");
}

Value BaseAssembler::fitReferences(const std::vector<std::string>& refs, size_t max, const std::string& where) {
    std::string all;
    for (const std::string& r : refs) all += (all.empty() ? "" : "; ") + r;
    if (characters(all) <= max) return fit(all, max, where);
    // Whole references while they and the closing "; …" fit; a reference is never cut.
    std::string kept;
    for (const std::string& r : refs) {
        std::string next = kept.empty() ? r : kept + "; " + r;
        if (characters(next) + 3 > max) break;
        kept = std::move(next);
    }
    if (kept.empty()) return fit(refs.front(), max, where);  // one reference longer than the field
    notice(Notice::ShortenedText, where);
    return fit(kept + "; …", max, where);
}

int32_t BaseAssembler::resourceKind(const Code& c) const {
    const RecordKind k = c.priceItem >= 0 ? (items_[size_t(c.priceItem)].resource.machine ? RecordKind::Machine : RecordKind::Material)
                         : isLabour(c.text) ? RecordKind::Labour
                         : isMachine(c.text) ? RecordKind::Machine
                                             : RecordKind::Material;
    return static_cast<int32_t>(k);
}

RateComponents BaseAssembler::priceOf(const Item& rate) {
    pricing_.clear();
    for (uint32_t k = rate.firstLine; k < rate.firstLine + rate.lines; ++k) {
        const Line& l = lines_[k];
        const Code& c = codes_[l.code];
        const Item* p = c.priceItem >= 0 ? &items_[size_t(c.priceItem)] : nullptr;
        pricing_.push_back({c.text, l.numeric ? std::optional<int64_t>(l.quantity) : std::nullopt, l.abstract,
                            p && p->priced ? &p->resource : nullptr});
    }
    return priceRate(pricing_, wage_, rate.direct ? &rate.prices : nullptr);
}

// ---------------------------------------------------------------------------------------------
// Writing the tables
// ---------------------------------------------------------------------------------------------

void BaseAssembler::write(const std::string& dir, ImportReport& report, const ProgressFn& progress) {
    auto stage = [&](const char* what) {
        if (progress && !progress({what, 0, 0})) throw ImportCancelled();
    };
    stage("Запись таблиц нормативной базы");
    numberPlaceholders();
    writeUnits(dir);
    report.collections = writeCollections(dir);
    report.contentsEntries = writeEntries(dir);
    stage("Запись расценок и ресурсов");
    writeNames(dir);
    std::unique_ptr<NormTableWriter> rabmat = writeRates(dir);
    stage("Запись ресурсных строк");
    report.resourceLines = writeLines(dir);
    stage("Запись индексов");
    // The rates' indexes read the whole table back: the base held in memory goes first, so that
    // the two never take memory at the same time.
    releaseMemory();
    rabmat->finish();
    report.rates = rates_;
    report.priceRecords = priceRecords_;
    fillAttention(report);
}

void BaseAssembler::numberPlaceholders() {
    // Own rates of the codes no price file has: numbered after every listed record, in the
    // order their lines were met.
    int32_t nextId = static_cast<int32_t>(items_.size()) + 1;
    for (const Line& l : lines_) {
        Code& k = codes_[l.code];
        if (k.priceItem >= 0 || k.placeholder) continue;
        k.placeholder = nextId++;
        placeholders_.push_back(l.code);
        if (k.unit == 0) k.unit = internUnit(isLabour(k.text) ? "чел.-ч" : isMachine(k.text) ? "маш.-ч" : "");
        if (k.name.empty()) k.name = k.text == "1" ? "Затраты труда рабочих" : k.text == "2" ? "Затраты труда машинистов" : "";
        if (!isLabour(k.text)) notice(Notice::UnpricedCode, k.text);
    }
}

void BaseAssembler::writeUnits(const std::string& dir) {
    NormTableWriter w(dir, NormTable::Edizm);
    for (size_t i = 0; i < units_.size(); ++i) {
        w.next().set(fld::ID, integer(int64_t(i + 1))).set(fld::NAME, fit(units_[i], 50, units_[i]));
        w.append();
    }
    w.finish();
}

uint64_t BaseAssembler::writeCollections(const std::string& dir) {
    NormTableWriter w(dir, NormTable::Reestr);
    for (size_t i = 0; i < collections_.size(); ++i) {
        w.next().set(fld::ID, integer(int64_t(i + 1))).set(fld::NAME, fit(collections_[i], 255, brief(collections_[i])));
        w.append();
    }
    return w.finish();
}

uint64_t BaseAssembler::writeEntries(const std::string& dir) {
    NormTableWriter w(dir, NormTable::Ogl);
    for (size_t i = 0; i < entries_.size(); ++i) {
        const auto& [collection, name] = entries_[i];
        w.next().set(fld::ID, integer(int64_t(i + 1))).set(fld::IDREESTR, integer(collection)).set(fld::NAME, fit(name, 255, brief(name)));
        w.append();
    }
    return w.finish();
}

void BaseAssembler::writeNames(const std::string& dir) {
    NormTableWriter w(dir, NormTable::Name);
    const size_t pId = w.record().place(fld::ID), pName = w.record().place(fld::NAME);
    auto put = [&](int64_t id, std::string& name) {
        w.next().set(pId, integer(id)).set(pName, fit(name, 0, brief(name)));
        w.append();
        std::string().swap(name);  // written: its memory is free for the next tables
    };
    for (size_t i = 0; i < items_.size(); ++i) put(int64_t(i + 1), items_[i].name);
    for (uint32_t c : placeholders_) put(codes_[c].placeholder, codes_[c].name);
    w.finish();
}

std::unique_ptr<NormTableWriter> BaseAssembler::writeRates(const std::string& dir) {
    auto w = std::make_unique<NormTableWriter>(dir, NormTable::Rabmat);
    const normbase::NormRecord& r = w->record();
    const size_t pId = r.place(fld::ID), pReestr = r.place(fld::IDREESTR), pName = r.place(fld::IDNAME),
                 pTab = r.place(fld::TAB), pKind = r.place(fld::RABMAT), pOgl = r.place(fld::IDOGL),
                 pAlt = r.place(fld::ALTTAB), pUnit = r.place(fld::IDEDIZM), pBA = r.place(fld::BA),
                 pBB = r.place(fld::BB), pBC = r.place(fld::BC), pBD = r.place(fld::BD), pBE = r.place(fld::BE),
                 pBG = r.place(fld::BG), pBH = r.place(fld::BH), pOverhead = r.place(fld::PREISK),
                 pProfit = r.place(fld::POSPREISK);
    auto unitValue = [](uint32_t u) { return u ? integer(u) : Value(); };
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& it = items_[i];
        const int32_t id = static_cast<int32_t>(i + 1);
        normbase::NormRecord& rec = w->next();
        rec.set(pId, integer(id)).set(pReestr, integer(it.collection)).set(pName, integer(id)).set(pTab, fit(it.code, 50, it.code))
            .set(pOgl, integer(it.entry)).set(pAlt, fit(it.alt, 255, it.code)).set(pUnit, unitValue(it.unit));
        if (it.price) {
            rec.set(pKind, kind(it.resource.machine ? RecordKind::Machine : RecordKind::Material));
            if (it.priced) rec.set(pBA, money(it.resource.price)).set(pBB, money(it.resource.price));
            if (it.priced && it.resource.machine) rec.set(pBC, money(it.resource.price)).set(pBD, money(it.resource.machineWages));
        } else {
            const RateComponents c = priceOf(it);
            rec.set(pKind, kind(RecordKind::Rate)).set(pBA, money(c.total)).set(pBB, money(c.materials))
                .set(pBC, money(c.machines)).set(pBD, money(c.machineWages)).set(pBE, money(c.wages))
                .set(pBG, quantity(c.labour)).set(pBH, quantity(c.machinistLabour))
                .set(pOverhead, fitReferences(it.overhead, kReferenceChars, it.code))
                .set(pProfit, fitReferences(it.profit, kReferenceChars, it.code));
            if (c.total == 0) notice(Notice::RateWithoutPrice, it.code);
        }
        w->append();
    }
    for (uint32_t c : placeholders_) {
        const Code& k = codes_[c];
        w->next().set(pId, integer(k.placeholder)).set(pName, integer(k.placeholder)).set(pTab, fit(k.text, 50, k.text))
            .set(pOgl, integer(0)).set(pUnit, unitValue(k.unit)).set(pKind, integer(resourceKind(k)));
        w->append();
    }
    return w;
}

uint64_t BaseAssembler::writeLines(const std::string& dir) {
    NormTableWriter w(dir, NormTable::Resurs);
    const normbase::NormRecord& l = w.record();
    const size_t qId = l.place(fld::ID), qRab = l.place(fld::IDRAB), qRes = l.place(fld::IDRES_RABMAT),
                 qKoll = l.place(fld::KOLL), qVid = l.place(fld::VIDNR), qKind = l.place(fld::RABMAT),
                 qReestr = l.place(fld::IDREESTR), qResReestr = l.place(fld::IDRES_REESTR);
    int64_t id = 0;
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& it = items_[i];
        for (uint32_t k = it.firstLine; k < it.firstLine + it.lines; ++k) {
            const Line& ln = lines_[k];
            const Code& c = codes_[ln.code];
            normbase::NormRecord& rec = w.next();
            rec.set(qId, integer(++id)).set(qRab, integer(int64_t(i + 1)))
                .set(qRes, integer(c.priceItem >= 0 ? c.priceItem + 1 : c.placeholder))
                .set(qVid, integer(ln.abstract || !ln.numeric ? 1 : 0)).set(qKind, integer(resourceKind(c)))
                .set(qReestr, integer(it.collection));
            if (ln.numeric) rec.set(qKoll, quantity(ln.quantity));
            if (c.priceItem >= 0) rec.set(qResReestr, integer(items_[size_t(c.priceItem)].collection));
            w.append();
        }
    }
    return w.finish();
}

void BaseAssembler::releaseMemory() {
    std::deque<Item>().swap(items_);
    std::vector<Line>().swap(lines_);
    std::vector<Code>().swap(codes_);
    codeIds_ = {};
    rateCodes_ = {};
    ::malloc_trim(0);
}

void BaseAssembler::fillAttention(ImportReport& report) const {
    for (size_t i = 0; i < static_cast<size_t>(Notice::Count_); ++i) {
        const Count& c = notices_[i];
        if (c.n) report.attention.push_back({noticeTitle(static_cast<Notice>(i)), c.n, c.examples});
    }
}

}  // namespace talvira::normimport
