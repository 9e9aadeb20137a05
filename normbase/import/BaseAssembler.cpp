#include "normbase/import/BaseAssembler.h"

#include "common/Error.h"
#include "common/Utf8.h"
#include "normbase/NormBaseFields.h"
#include "normbase/NormBaseFormat.h"
#include "storage/CodePage.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>

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
Value money(Money m) { return Value::real(m.toDouble()); }
Value quantity(Dec7 q) { return Value::real(q.toDouble()); }

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
std::string brief(std::string_view s) { return utf8::length(s) <= 80 ? std::string(s) : std::string(utf8::cut(s, 80)) + "…"; }

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

/** `s` as a field of at most `max` characters (0: any length) in code page 1251 holds it:
 *  characters the code page lacks replaced, a longer text cut with "…"; both counted with
 *  `where` (the start of it) as the example. */
Value fit(std::string s, size_t max, std::string_view where, Notices& notices) {
    if (s.empty()) return Value();
    if (!plainCyrillic(s) && !storage::fromUtf8(s, 1251)) {
        std::string out;
        for (size_t i = 0; i < s.size();) {
            const size_t n = utf8::next(s, i).size;
            const std::string_view ch(s.data() + i, n);
            if (storage::fromUtf8(ch, 1251)) out += ch;
            else out += nearText(ch);
            i += n;
        }
        notices.add(Notice::ReplacedCharacter, brief(where));
        s = std::move(out);
    }
    if (max == 0 || utf8::length(s) <= max) return Value::string(std::move(s));
    notices.add(Notice::ShortenedText, brief(where));
    return Value::string(std::string(utf8::cut(s, max - 1)) + "…");
}

/** References (one per line) joined by "; " within `max` characters, whole ones only: when
 *  they do not all fit, those that do and "…". */
Value fitReferences(std::string_view refs, size_t max, std::string_view where, Notices& notices) {
    std::vector<std::string_view> all;
    for (size_t at = 0; at < refs.size();) {
        const size_t end = std::min(refs.find('\n', at), refs.size());
        all.push_back(refs.substr(at, end - at));
        at = end + 1;
    }
    std::string joined;
    for (std::string_view r : all) (joined += joined.empty() ? "" : "; ") += r;
    if (utf8::length(joined) <= max) return fit(std::move(joined), max, where, notices);
    std::string kept;
    for (std::string_view r : all) {
        std::string next = kept.empty() ? std::string(r) : kept + "; " + std::string(r);
        if (utf8::length(next) + 3 > max) break;
        kept = std::move(next);
    }
    if (kept.empty()) return fit(std::string(all.front()), max, where, notices);  // one reference longer than the field
    notices.add(Notice::ShortenedText, where);
    return fit(kept + "; …", max, where, notices);
}

/** Runs `a` here and `b` on a second thread; the first failure of either is rethrown once both
 *  have ended. */
template <class A, class B>
void bothAtOnce(A&& a, B&& b) {
    std::exception_ptr failedB;
    std::thread other([&] {
        try {
            b();
        } catch (...) {
            failedB = std::current_exception();
        }
    });
    std::exception_ptr failedA;
    try {
        a();
    } catch (...) {
        failedA = std::current_exception();
    }
    other.join();
    if (failedA) std::rethrow_exception(failedA);
    if (failedB) std::rethrow_exception(failedB);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Notices
// ---------------------------------------------------------------------------------------------

void Notices::add(Notice n, std::string_view example) {
    Count& c = counts_[static_cast<size_t>(n)];
    ++c.n;
    if (c.examples.size() < kExamples && !example.empty()) c.examples.emplace_back(example);
}

void Notices::merge(const Notices& o) {
    for (size_t i = 0; i < static_cast<size_t>(Notice::Count_); ++i) {
        counts_[i].n += o.counts_[i].n;
        for (const std::string& e : o.counts_[i].examples)
            if (counts_[i].examples.size() < kExamples) counts_[i].examples.push_back(e);
    }
}

void Notices::fill(ImportReport& report) const {
    for (size_t i = 0; i < static_cast<size_t>(Notice::Count_); ++i) {
        const Count& c = counts_[i];
        if (c.n) report.attention.push_back({noticeTitle(static_cast<Notice>(i)), c.n, c.examples});
    }
}

// ---------------------------------------------------------------------------------------------
// The tables of texts (collections, contents entries, names), written while the files are read
// ---------------------------------------------------------------------------------------------

/** The reading hands the texts over in batches; a thread of their own fits them to the code
 *  page and stores them, so that the longest texts of the base cost the reading nothing. */
class BaseAssembler::TextTables {
public:
    enum Table { Collections, Entries, Names, kTables };

    explicit TextTables(const std::string& dir) : dir_(dir), thread_([this] { run(); }) {}
    /** Not finished (the reading failed or was cancelled): the texts not yet stored are dropped. */
    ~TextTables() {
        {
            const std::lock_guard lock(mutex_);
            dropped_ = true;
        }
        close();
        if (thread_.joinable()) thread_.join();
    }
    /** The text of record `id` of `table` (ids rise in each); `owner`: a contents entry's collection. */
    void add(Table table, int64_t id, std::string_view text, int32_t owner = 0) {
        gathering_.text += text;
        gathering_.ends.push_back({table, owner, id, gathering_.text.size()});
        if (gathering_.ends.size() >= kBatch) handOver();
    }
    /** No more texts: the thread stores the rest and writes the tables' indexes. */
    void close() {
        if (closed_) return;
        handOver();
        {
            const std::lock_guard lock(mutex_);
            closed_ = true;
        }
        wake_.notify_one();
    }
    /** Waits for the tables. A failure of the thread (a full disk) is rethrown here. */
    void finish() {
        close();
        thread_.join();
        if (failure_) std::rethrow_exception(failure_);
    }
    /** After finish(): the records of a table and the notices of its texts. */
    uint64_t count(Table t) const { return counts_[t]; }
    const Notices& notices(Table t) const { return notices_[t]; }

private:
    /** Texts one after another in one string, each with its table, record and end. */
    struct Batch {
        struct End {
            Table table;
            int32_t owner;
            int64_t id;
            size_t end;
        };
        std::string text;
        std::vector<End> ends;
    };
    static constexpr size_t kBatch = 4096;

    void handOver() {
        {
            const std::lock_guard lock(mutex_);
            if (!failed_) queue_.push_back(std::move(gathering_));  // after a failure nobody stores them
            // A batch stored already is filled again: its memory is at hand, no new pages.
            gathering_ = spare_.empty() ? Batch{} : std::move(spare_.back());
            if (!spare_.empty()) spare_.pop_back();
        }
        gathering_.text.clear();
        gathering_.ends.clear();
        gathering_.ends.reserve(kBatch);
        wake_.notify_one();
    }
    void run() {
        try {
            // The tables are made here, off the reading, and not at all for a reading that
            // fails before its first batch.
            static constexpr NormTable kTable[kTables] = {NormTable::Reestr, NormTable::Ogl, NormTable::Name};
            static constexpr size_t kMaxChars[kTables] = {255, 255, 0};
            struct Out {
                std::optional<NormTableWriter> writer;
                size_t id = 0, name = 0, owner = 0;  // places of the fields
            } outs[kTables];
            auto out = [&](Table t) -> Out& {
                Out& o = outs[t];
                if (!o.writer) {
                    const normbase::NormRecord& r = o.writer.emplace(dir_, kTable[t]).record();
                    o.id = r.place(fld::ID);
                    o.name = r.place(fld::NAME);
                    if (t == Entries) o.owner = r.place(fld::IDREESTR);
                }
                return o;
            };
            bool dropped = false;
            while (Batch* b = next(dropped)) {
                size_t at = 0;
                for (const Batch::End& e : b->ends) {
                    const std::string_view text = std::string_view(b->text).substr(at, e.end - at);
                    at = e.end;
                    Out& o = out(e.table);
                    normbase::NormRecord& r = o.writer->next();
                    r.set(o.id, Value::integer(e.id)).set(o.name, fit(std::string(text), kMaxChars[e.table], text, notices_[e.table]));
                    if (e.table == Entries) r.set(o.owner, Value::integer(e.owner));
                    o.writer->append();
                }
                const std::lock_guard lock(mutex_);
                if (spare_.size() < 2) spare_.push_back(std::move(*b));
                queue_.pop_front();
            }
            if (dropped) return;
            for (int t = 0; t < kTables; ++t) counts_[t] = out(Table(t)).writer->finish();
        } catch (...) {
            failure_ = std::current_exception();
            const std::lock_guard lock(mutex_);
            queue_.clear();
            failed_ = true;
        }
    }
    /** The batch at the head of the queue, waited for; nullptr once closed and empty, or
     *  dropped (`dropped` then set). */
    Batch* next(bool& dropped) {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return !queue_.empty() || closed_; });
        dropped = dropped_;
        return queue_.empty() || dropped ? nullptr : &queue_.front();
    }

    std::string dir_;
    Notices notices_[kTables];
    uint64_t counts_[kTables] = {};
    Batch gathering_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Batch> queue_;  // stays put while it grows: the head is read unlocked
    std::vector<Batch> spare_;
    bool closed_ = false, failed_ = false, dropped_ = false;
    std::exception_ptr failure_;
    std::thread thread_;  // last: it starts when everything it uses is made
};

// ---------------------------------------------------------------------------------------------
// Taking the files' records
// ---------------------------------------------------------------------------------------------

BaseAssembler::BaseAssembler(const ImportOptions& options, const std::string& dir)
    : options_(options), dir_(dir), texts_(std::make_unique<TextTables>(dir)) {}

BaseAssembler::~BaseAssembler() {
    if (prefault_.joinable()) prefault_.join();
}

void BaseAssembler::expect(uint64_t xmlBytes) {
    // A national norm file takes some 275 bytes a resource line and 1 100 a norm.
    lines_.reserve(lines_.size() + xmlBytes / 200);
    items_.reserve(items_.size() + xmlBytes / 800);
    // The pages of that room are made ready on the other core while the reading starts: the
    // reading then fills them without a page fault each. Asking for them changes no byte, so it
    // may run beside the reading; a system without the request simply refuses it.
#ifdef MADV_POPULATE_WRITE
    if (prefault_.joinable()) prefault_.join();
    auto range = [](const auto& v) { return std::pair{reinterpret_cast<uintptr_t>(v.data()), v.capacity() * sizeof(v[0])}; };
    prefault_ = std::thread([ranges = std::array{range(lines_), range(items_)}] {
        const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
        for (const auto& [at, size] : ranges) {
            const uintptr_t from = (at + page - 1) / page * page, to = (at + size) / page * page;
            if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
        }
    });
#endif
}

int32_t BaseAssembler::addCollection(std::string_view name) {
    texts_->add(TextTables::Collections, ++collections_, name);
    return collections_;
}

int32_t BaseAssembler::addEntry(std::string_view name) {
    if (collections_ == 0) throw Error("Раздел вне сборника");
    entries_.push_back(collections_);
    texts_->add(TextTables::Entries, int64_t(entries_.size()), name, collections_);
    return static_cast<int32_t>(entries_.size());
}

uint32_t BaseAssembler::internCode(std::string_view code) {
    if (auto it = codeIds_.find(code); it != codeIds_.end()) return it->second;
    const auto id = static_cast<uint32_t>(codes_.size());
    codeIds_.emplace(std::string(code), id);
    codes_.push_back({std::string(code), {}, 0, -1, 0});
    return id;
}

uint32_t BaseAssembler::intern(std::vector<std::string>& texts, TextMap& ids, std::string_view text) {
    if (text.empty()) return 0;
    if (auto it = ids.find(text); it != ids.end()) return it->second;
    texts.emplace_back(text);
    ids.emplace(std::string(text), static_cast<uint32_t>(texts.size()));
    return static_cast<uint32_t>(texts.size());
}

uint32_t BaseAssembler::internUnit(std::string_view unit) { return intern(units_, unitIds_, unit); }

uint16_t BaseAssembler::internPrefix(std::string_view prefix) {
    for (size_t i = 0; i < prefixes_.size(); ++i)
        if (prefixes_[i] == prefix) return static_cast<uint16_t>(i);
    if (prefixes_.size() >= 0xFFFF) throw Error("Слишком много разных сборников в одном импорте");
    prefixes_.emplace_back(prefix);
    return static_cast<uint16_t>(prefixes_.size() - 1);
}

BaseAssembler::Item BaseAssembler::newItem(int32_t entry, std::string_view code, std::string_view unit, std::string_view prefix) {
    if (entry < 1 || size_t(entry) > entries_.size()) throw Error("Запись вне раздела");
    Item it;
    it.entry = entry;
    it.collection = entries_[size_t(entry - 1)];
    it.code = code;
    it.unit = internUnit(unit);
    it.prefix = internPrefix(prefix);
    it.firstLine = static_cast<uint32_t>(lines_.size());
    return it;
}

void BaseAssembler::beginRate(int32_t entry, std::string_view code, std::string_view name, std::string_view unit,
                              std::string_view prefix) {
    items_.push_back(newItem(entry, code, unit, prefix));
    texts_->add(TextTables::Names, int64_t(items_.size()), name);
    ++rates_;
}

void BaseAssembler::addLine(std::string_view code, std::string_view name, std::string_view unit,
                            std::optional<Dec7> quantity, bool abstract) {
    if (items_.empty() || items_.back().price) throw Error("Ресурс вне расценки");
    const uint32_t c = internCode(code);
    Code& k = codes_[c];
    if (k.name.empty() && !name.empty()) k.name = name;
    if (k.unit == 0 && !unit.empty()) k.unit = internUnit(unit);
    lines_.push_back({c, quantity.value_or(Dec7()), quantity.has_value(), abstract});
    ++items_.back().lines;
}

void BaseAssembler::addReasons(std::string_view overhead, std::string_view profit) {
    if (items_.empty() || items_.back().price) throw Error("Ссылка на нормативы вне расценки");
    Item& it = items_.back();
    // One reference a line (a collapsed attribute holds no line break); a repeated one once.
    // The norms of a book share a few texts: each is kept once.
    auto add = [&](uint32_t& to, std::string_view v) {
        if (v.empty()) return;
        if (to == 0) {
            to = intern(references_, referenceIds_, v);
            return;
        }
        const std::string& had = references_[to - 1];
        for (size_t at = 0; at <= had.size();) {
            const size_t end = std::min(had.find('\n', at), had.size());
            if (std::string_view(had).substr(at, end - at) == v) return;
            at = end + 1;
        }
        to = intern(references_, referenceIds_, had + '\n' + std::string(v));
    };
    add(it.overhead, overhead);
    add(it.profit, profit);
}

void BaseAssembler::setDirectPrices(const DirectPrices& p) {
    if (items_.empty() || items_.back().price) throw Error("Цена расценки вне расценки");
    Item& it = items_.back();
    if (!it.direct) {
        it.direct = true;
        it.directPrices = static_cast<uint32_t>(directs_.size());
        directs_.push_back(p);
    } else {
        directs_[it.directPrices] = p;
    }
}

void BaseAssembler::addPriceRecord(int32_t entry, std::string_view code, std::string_view name, std::string_view unit,
                                   std::optional<ResourcePrice> price) {
    Item it = newItem(entry, code, unit, "ФСБЦ");
    it.price = true;
    it.priced = price.has_value();
    ResourcePrice& resource = resources_.emplace_back(price.value_or(ResourcePrice{}));
    resource.machine = resource.machine || isMachine(code);
    it.resource = static_cast<uint32_t>(resources_.size() - 1);
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
    texts_->add(TextTables::Names, int64_t(items_.size()), name);
}

// ---------------------------------------------------------------------------------------------
// Reading the assembled base
// ---------------------------------------------------------------------------------------------

std::string BaseAssembler::shownCode(const Item& it) const {
    return it.price || it.code.empty() ? it.code : prefixes_[it.prefix] + it.code;
}

int32_t BaseAssembler::resourceKind(const Code& c) const {
    const RecordKind k = c.priceItem >= 0 ? (resources_[items_[size_t(c.priceItem)].resource].machine ? RecordKind::Machine : RecordKind::Material)
                         : isLabour(c.text) ? RecordKind::Labour
                         : isMachine(c.text) ? RecordKind::Machine
                                             : RecordKind::Material;
    return static_cast<int32_t>(k);
}

RateComponents BaseAssembler::priceOf(const Item& rate, std::vector<RateLine>& buffer) const {
    buffer.clear();
    for (uint32_t k = rate.firstLine; k < rate.firstLine + rate.lines; ++k) {
        const Line& l = lines_[k];
        const Code& c = codes_[l.code];
        const Item* p = c.priceItem >= 0 ? &items_[size_t(c.priceItem)] : nullptr;
        buffer.push_back({c.text, l.numeric ? std::optional(l.quantity) : std::nullopt, l.abstract,
                          p && p->priced ? &resources_[p->resource] : nullptr});
    }
    return priceRate(buffer, options_.wagePerHour, rate.direct ? &directs_[rate.directPrices] : nullptr);
}

// ---------------------------------------------------------------------------------------------
// Writing the tables
// ---------------------------------------------------------------------------------------------

void BaseAssembler::write(ImportReport& report, const ProgressFn& progress) {
    if (prefault_.joinable()) prefault_.join();
    auto stage = [&](const char* what) {
        if (progress && !progress({what, 0, 0})) throw ImportCancelled();
    };
    stage("Запись таблиц нормативной базы");
    numberPlaceholders();
    for (uint32_t c : placeholders_) texts_->add(TextTables::Names, codes_[c].placeholder, codes_[c].name);
    texts_->close();
    // The rates on this thread, the rest on a second one, each table with its indexes; the
    // texts are being stored meanwhile. Each keeps notices of its own, told in a fixed order.
    Notices rateNotices, otherNotices;
    bothAtOnce([&] { writeRates(rateNotices, [&] { stage("Запись индексов"); }); },
               [&] {
                   countDuplicateCodes(otherNotices);
                   writeUnits(otherNotices);
                   report.resourceLines = writeLines();
               });
    texts_->finish();
    report.collections = texts_->count(TextTables::Collections);
    report.contentsEntries = texts_->count(TextTables::Entries);
    report.rates = rates_;
    report.ratesWithOwnPrice = directs_.size();
    report.priceRecords = priceRecords_;
    notices_.merge(rateNotices);
    notices_.merge(otherNotices);
    for (auto t : {TextTables::Collections, TextTables::Entries, TextTables::Names}) notices_.merge(texts_->notices(t));
    notices_.fill(report);
}

void BaseAssembler::countDuplicateCodes(Notices& n) const {
    // Norms of one book with one code: sorted once here rather than a lookup per norm.
    std::vector<std::tuple<uint16_t, std::string_view, size_t>> codes;
    codes.reserve(rates_);
    for (size_t i = 0; i < items_.size(); ++i)
        if (!items_[i].price && !items_[i].code.empty()) codes.emplace_back(items_[i].prefix, items_[i].code, i);
    std::sort(codes.begin(), codes.end());
    for (size_t i = 1; i < codes.size(); ++i)
        if (std::get<0>(codes[i]) == std::get<0>(codes[i - 1]) && std::get<1>(codes[i]) == std::get<1>(codes[i - 1]))
            n.add(Notice::DuplicateCode, shownCode(items_[std::get<2>(codes[i])]));
}

bool BaseAssembler::inRatePrice(const Item& rate, const Line& l) { return rate.direct && l.numeric && !l.abstract; }

void BaseAssembler::numberPlaceholders() {
    // Own rates of the codes no price file has: numbered after every listed record, in the
    // order their lines were met (the rates' lines lie in lines_ in the order of the rates).
    int32_t nextId = static_cast<int32_t>(items_.size()) + 1;
    std::vector<bool> told(codes_.size());
    for (const Item& it : items_) {
        for (uint32_t n = it.firstLine; n < it.firstLine + it.lines; ++n) {
            const Line& l = lines_[n];
            Code& k = codes_[l.code];
            if (k.priceItem >= 0) continue;
            if (!k.placeholder) {
                k.placeholder = nextId++;
                placeholders_.push_back(l.code);
                if (k.unit == 0) k.unit = internUnit(isLabour(k.text) ? "чел.-ч" : isMachine(k.text) ? "маш.-ч" : "");
                if (k.name.empty()) k.name = k.text == "1" ? "Затраты труда рабочих" : k.text == "2" ? "Затраты труда машинистов" : "";
            }
            // A resource whose cost a rate's own price holds lacks nothing there: told only
            // where a line of it is priced by the base.
            if (!told[l.code] && !isLabour(k.text) && !inRatePrice(it, l)) {
                told[l.code] = true;
                notice(Notice::UnpricedCode, k.text);
            }
        }
    }
}

void BaseAssembler::writeUnits(Notices& n) const {
    NormTableWriter w(dir_, NormTable::Edizm);
    for (size_t i = 0; i < units_.size(); ++i) {
        w.next().set(fld::ID, integer(int64_t(i + 1))).set(fld::NAME, fit(units_[i], 50, units_[i], n));
        w.append();
    }
    w.finish();
}

void BaseAssembler::writeRates(Notices& n, const std::function<void()>& tableWritten) const {
    NormTableWriter w(dir_, NormTable::Rabmat);
    const normbase::NormRecord& r = w.record();
    const size_t pId = r.place(fld::ID), pReestr = r.place(fld::IDREESTR), pName = r.place(fld::IDNAME),
                 pTab = r.place(fld::TAB), pKind = r.place(fld::RABMAT), pOgl = r.place(fld::IDOGL),
                 pAlt = r.place(fld::ALTTAB), pUnit = r.place(fld::IDEDIZM), pBA = r.place(fld::BA),
                 pBB = r.place(fld::BB), pBC = r.place(fld::BC), pBD = r.place(fld::BD), pBE = r.place(fld::BE),
                 pBG = r.place(fld::BG), pBH = r.place(fld::BH), pOverhead = r.place(fld::PREISK),
                 pProfit = r.place(fld::POSPREISK);
    auto unitValue = [](uint32_t u) { return u ? integer(u) : Value(); };
    std::vector<RateLine> buffer;
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& it = items_[i];
        const int32_t id = static_cast<int32_t>(i + 1);
        const std::string code = shownCode(it);
        normbase::NormRecord& rec = w.next();
        rec.set(pId, integer(id)).set(pReestr, integer(it.collection)).set(pName, integer(id)).set(pTab, fit(code, 50, code, n))
            .set(pOgl, integer(it.entry)).set(pUnit, unitValue(it.unit));
        if (!it.code.empty()) rec.set(pAlt, fit(prefixes_[it.prefix] + " " + it.code, 255, code, n));
        if (it.price) {
            const ResourcePrice& p = resources_[it.resource];
            rec.set(pKind, kind(p.machine ? RecordKind::Machine : RecordKind::Material));
            if (it.priced) rec.set(pBA, money(p.price)).set(pBB, money(p.price));
            if (it.priced && p.machine) rec.set(pBC, money(p.price)).set(pBD, money(p.machineWages));
        } else {
            const RateComponents c = priceOf(it, buffer);
            rec.set(pKind, kind(RecordKind::Rate)).set(pBA, money(c.total)).set(pBB, money(c.materials))
                .set(pBC, money(c.machines)).set(pBD, money(c.machineWages)).set(pBE, money(c.wages))
                .set(pBG, quantity(c.labour)).set(pBH, quantity(c.machinistLabour));
            if (it.overhead) rec.set(pOverhead, fitReferences(references_[it.overhead - 1], kReferenceChars, code, n));
            if (it.profit) rec.set(pProfit, fitReferences(references_[it.profit - 1], kReferenceChars, code, n));
            if (c.total.isZero()) n.add(Notice::RateWithoutPrice, code);
        }
        w.append();
    }
    for (uint32_t c : placeholders_) {
        const Code& k = codes_[c];
        w.next().set(pId, integer(k.placeholder)).set(pName, integer(k.placeholder)).set(pTab, fit(k.text, 50, k.text, n))
            .set(pOgl, integer(0)).set(pUnit, unitValue(k.unit)).set(pKind, integer(resourceKind(k)));
        w.append();
    }
    tableWritten();
    w.finish();
}

uint64_t BaseAssembler::writeLines() const {
    NormTableWriter w(dir_, NormTable::Resurs);
    const normbase::NormRecord& l = w.record();
    const size_t qId = l.place(fld::ID), qRab = l.place(fld::IDRAB), qRes = l.place(fld::IDRES_RABMAT),
                 qKoll = l.place(fld::KOLL), qVid = l.place(fld::VIDNR), qIn = l.place(fld::UCH), qKind = l.place(fld::RABMAT),
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
                .set(qVid, integer(ln.abstract || !ln.numeric ? 1 : 0)).set(qIn, integer(inRatePrice(it, ln) ? 1 : 0))
                .set(qKind, integer(resourceKind(c)))
                .set(qReestr, integer(it.collection));
            if (ln.numeric) rec.set(qKoll, quantity(ln.quantity));
            if (c.priceItem >= 0) rec.set(qResReestr, integer(items_[size_t(c.priceItem)].collection));
            w.append();
        }
    }
    return w.finish();
}

}  // namespace talvira::normimport
